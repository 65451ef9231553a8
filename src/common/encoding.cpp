#include "common/encoding.h"

#include <windows.h>

#include <climits>
#include <limits>

namespace {

int hexDigitValue(wchar_t digit) {
    if (digit >= L'0' && digit <= L'9') {
        return digit - L'0';
    }
    if (digit >= L'a' && digit <= L'f') {
        return digit - L'a' + 10;
    }
    if (digit >= L'A' && digit <= L'F') {
        return digit - L'A' + 10;
    }
    return -1;
}

}  // namespace

std::wstring decodeUtf8(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) {
        return {};
    }
    const int byteCount = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, text.data(), length);
    return text;
}

std::string encodeUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::optional<Sha256Digest> parseSha256(const std::wstring& hex) {
    Sha256Digest digest{};
    if (hex.size() != digest.size() * 2) {
        return std::nullopt;
    }
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = hexDigitValue(hex[2 * i]);
        const int low = hexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return digest;
}

std::wstring digestText(const std::optional<Sha256Digest>& digest) {
    if (!digest) {
        return {};
    }
    const std::string text = lowercaseHex(*digest);
    return {text.begin(), text.end()};
}

std::string lowercaseHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

std::optional<std::uint64_t> parseDecimal(const std::wstring& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9') {
            return std::nullopt;
        }
        const auto digitValue = static_cast<std::uint64_t>(digit - L'0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digitValue) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digitValue;
    }
    return value;
}

std::optional<std::uint64_t> parseJsonWholeNumber(const std::wstring& text) {
    if (text.size() > 1 && text[0] == L'0') {
        return std::nullopt;
    }
    return parseDecimal(text);
}
