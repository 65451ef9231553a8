#pragma once

#include <optional>
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
    // The package's length in bytes and the percentage of offices that are
    // offered the release, both JSON numbers, as text (see manifestNumberValue).
    // None when the key is absent, which is not the same as present and empty.
    std::optional<std::wstring> size;
    std::optional<std::wstring> rollout;
};

// A value starts at the first of these after the key's colon.
inline constexpr wchar_t kValueStartChars[] = L"\"tfn0123456789";

// The text of the first quoted key's value: a string's content up to the next
// quotation mark, or true or false; empty for anything else, numbers included.
std::wstring manifestValue(const std::wstring& text, const wchar_t* key);
// For the keys whose values are numbers: a value that starts with a digit is
// the run of ASCII digits there; any other value reads as manifestValue reads
// it, so a quoted number or a wrong type is seen rather than hidden; none when
// the key does not occur.
std::optional<std::wstring> manifestNumberValue(const std::wstring& text, const wchar_t* key);
ManifestRecord readManifest(const std::wstring& text);
