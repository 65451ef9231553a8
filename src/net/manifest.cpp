#include "net/manifest.h"

#include <cwchar>

namespace {

bool startsWithAt(const std::wstring& text, size_t position, const wchar_t* word) {
    return text.compare(position, std::wcslen(word), word) == 0;
}

}  // namespace

std::wstring manifestValue(const std::wstring& text, const wchar_t* key) {
    const std::wstring needle = L"\"" + std::wstring(key) + L"\"";
    const size_t keyPosition = text.find(needle);
    if (keyPosition == std::wstring::npos) {
        return {};
    }
    const size_t colon = text.find(L':', keyPosition);
    if (colon == std::wstring::npos) {
        return {};
    }
    const size_t valueStart = text.find_first_of(kValueStartChars, colon);
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
    return record;
}
