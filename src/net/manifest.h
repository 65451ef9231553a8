#pragma once

#include <string>

// The update manifest as the reader finds it. The reader is a quoted-key
// search, not a JSON parser: servers and the release tool rely on exactly
// these rules, so they must not grow into a parser.
struct ManifestRecord {
    std::wstring version;
    std::wstring url;
    std::wstring sha256;
    std::wstring notes;
    std::wstring releaseDate;
    std::wstring uploadDate;
    bool mandatory = false;
    // The release key's signature over the other values, when the release is signed.
    std::wstring signature;
};

// A value starts at the first of these after the key's colon.
inline constexpr wchar_t kValueStartChars[] = L"\"tfn0123456789";

std::wstring manifestValue(const std::wstring& text, const wchar_t* key);
ManifestRecord readManifest(const std::wstring& text);
