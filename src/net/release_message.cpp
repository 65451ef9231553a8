#include "net/release_message.h"

#include "common/encoding.h"

namespace {

constexpr char kMessageLabel[] = "NIRVA release manifest v2";
// A manifest without "rollout" is offered to every office, so it signs as this.
constexpr wchar_t kAbsentRollout[] = L"100";
constexpr char kValueSeparator = '\xFF';

int base64Value(wchar_t character) {
    if (character >= L'A' && character <= L'Z') {
        return character - L'A';
    }
    if (character >= L'a' && character <= L'z') {
        return character - L'a' + 26;
    }
    if (character >= L'0' && character <= L'9') {
        return character - L'0' + 52;
    }
    if (character == L'+') {
        return 62;
    }
    return character == L'/' ? 63 : -1;
}

}  // namespace

std::string releaseMessage(const ManifestRecord& manifest) {
    const std::wstring size = manifest.size.value_or(std::wstring());
    const std::wstring rollout = manifest.rollout.value_or(kAbsentRollout);
    std::string message = kMessageLabel;
    for (const std::wstring* value : {&manifest.version, &manifest.url, &manifest.sha256, &size, &rollout}) {
        message += kValueSeparator + encodeUtf8(*value);
    }
    message += kValueSeparator;
    message += manifest.mandatory ? "true" : "false";
    for (const std::wstring* value : {&manifest.releaseDate, &manifest.uploadDate, &manifest.notes}) {
        message += kValueSeparator + encodeUtf8(*value);
    }
    return message;
}

std::optional<ReleaseSignature> decodeReleaseSignature(const std::wstring& text) {
    // 64 bytes are 88 characters, the last two of them padding.
    if (text.size() != 88 || text.compare(86, 2, L"==") != 0) {
        return std::nullopt;
    }
    ReleaseSignature signature{};
    unsigned int bits = 0;
    int bitCount = 0;
    size_t written = 0;
    for (size_t i = 0; i < 86; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<unsigned int>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            signature[written++] = static_cast<unsigned char>(bits >> bitCount);
        }
    }
    // The last character's unused bits must be zero: one signature, one text.
    if ((bits & ((1u << bitCount) - 1)) != 0) {
        return std::nullopt;
    }
    return signature;
}
