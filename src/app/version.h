#pragma once

#include <array>
#include <cstdint>
#include <string>

// Four signed parts, leftmost first; parts the text does not supply are 0.
struct VersionNumber {
    std::array<std::int32_t, 4> parts{};
};

// "+" reads as ".", then up to four dot-separated numbers as "%d.%d.%d.%d"
// takes them, each saturating at the 32-bit limits.
VersionNumber parseVersion(std::wstring text);
// Strictly greater, part by part: an equal release is not newer.
bool isNewerVersion(const VersionNumber& latest, const VersionNumber& installed);

inline constexpr wchar_t kDefaultInstalledVersion[] = L"0.0.0.0";

// The version text the server is asked with: a missing version counts as
// 0.0.0.0 and a "+" build suffix becomes a fourth dotted part.
std::wstring normalizedInstalledVersion(std::wstring version);
