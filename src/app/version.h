#pragma once

#include <array>
#include <cstdint>
#include <string>

// Four signed parts, leftmost first; parts the text does not supply are 0.
struct VersionNumber {
    std::array<std::int32_t, 4> parts{};
};

inline constexpr wchar_t kApplicationVersionReadFailureText[] = L"خطا در خواندن نسخه نرم افزار موجود";
inline constexpr wchar_t kErrorCaption[] = L"خطا";

// Fills the Update record's installedVersion from the installed executable.
// An absent executable is silent; one whose version cannot be read is
// reported with an error box.
bool readInstalledVersion();
bool readProductVersion(const std::wstring& path);

VersionNumber parseVersion(std::wstring text);
bool isNewerVersion(const VersionNumber& latest, const VersionNumber& installed);
