#include "net/manifest.h"

#include <cwchar>

namespace {

bool startsWithAt(const std::wstring& text, size_t position, const wchar_t* word) {
    return text.compare(position, std::wcslen(word), word) == 0;
}

constexpr wchar_t kDigits[] = L"0123456789";

// Where the quoted key occurs first.
std::optional<size_t> keyPosition(const std::wstring& text, const wchar_t* key) {
    const size_t position = text.find(L"\"" + std::wstring(key) + L"\"");
    return position == std::wstring::npos ? std::nullopt : std::optional(position);
}

// The first value character after the colon that follows the key; npos when
// the key has no colon or no value after it.
size_t valueStart(const std::wstring& text, size_t keyPosition) {
    const size_t colon = text.find(L':', keyPosition);
    return colon == std::wstring::npos ? colon : text.find_first_of(kValueStartChars, colon);
}

std::wstring valueAt(const std::wstring& text, size_t valueStart) {
    if (valueStart == std::wstring::npos) {
        return {};
    }
    if (text[valueStart] == L'"') {
        const size_t contentStart = valueStart + 1;
        const size_t closingQuote = text.find(L'"', contentStart);
        if (closingQuote == std::wstring::npos) {
            return text.substr(contentStart);
        }
        return text.substr(contentStart, closingQuote - contentStart);
    }
    if (startsWithAt(text, valueStart, L"true")) {
        return L"true";
    }
    if (startsWithAt(text, valueStart, L"false")) {
        return L"false";
    }
    return {};
}

}  // namespace

std::wstring manifestValue(const std::wstring& text, const wchar_t* key) {
    const std::optional<size_t> position = keyPosition(text, key);
    return position ? valueAt(text, valueStart(text, *position)) : std::wstring();
}

std::optional<std::wstring> manifestNumberValue(const std::wstring& text, const wchar_t* key) {
    const std::optional<size_t> position = keyPosition(text, key);
    if (!position) {
        return std::nullopt;
    }
    const size_t start = valueStart(text, *position);
    if (start != std::wstring::npos && text[start] >= L'0' && text[start] <= L'9') {
        const size_t end = text.find_first_not_of(kDigits, start);
        return text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    return valueAt(text, start);
}

ManifestRecord readManifest(const std::wstring& text) {
    ManifestRecord record;
    record.version = manifestValue(text, L"version");
    record.url = manifestValue(text, L"url");
    record.sha256 = manifestValue(text, L"sha256");
    record.notes = manifestValue(text, L"notes");
    record.uploadDate = manifestValue(text, L"uploadDate");
    record.releaseDate = manifestValue(text, L"releaseDate");
    record.mandatory = manifestValue(text, L"mandatory") == L"true";
    record.signature = manifestValue(text, L"signature");
    record.size = manifestNumberValue(text, L"size");
    record.rollout = manifestNumberValue(text, L"rollout");
    return record;
}
