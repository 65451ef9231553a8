#pragma once

#include <string>

inline constexpr wchar_t kBackupDirectory[] = L"NIRVA.bak";
inline constexpr wchar_t kStagingDirectory[] = L"update";

inline constexpr wchar_t kExpandCommandPrefix[] =
    L"powershell -NoLogo -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force '";
inline constexpr wchar_t kExpandCommandSeparator[] = L"' '";
inline constexpr wchar_t kExpandCommandSuffix[] = L"'\"";

inline constexpr wchar_t kExtractionFailureText[] = L"باز کردن فایل فشرده شده با خطا مواجه شد!";
inline constexpr wchar_t kInstallationFailureText[] = L"نصب به‌روزرسانی با خطا مواجه شد";

// The PowerShell command line that unpacks the archive into the destination.
std::wstring extractionCommandLine(const std::wstring& archivePath, const std::wstring& destinationPath);

// PowerShell from the system directory, never from a folder someone could
// plant a program in.
std::wstring systemPowerShellPath();

// True when PowerShell ran and unpacked the archive with exit code 0.
bool extractArchive(const std::wstring& archivePath, const std::wstring& destinationPath);

// An installation interrupted between moving the application aside and
// putting the new one in place leaves only the backup: put it back.
void recoverInterruptedInstallation();

// Replaces the application directory with the downloaded package and starts
// the new release, ending the process. Returns only after a failure, with
// the old application back in place and the failure reported.
void installPackage();
