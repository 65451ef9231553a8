#pragma once

#include <string>

// The PowerShell command line that unpacks the archive into the destination.
std::wstring extractionCommandLine(const std::wstring& archivePath, const std::wstring& destinationPath);

// PowerShell from the system directory, never from a folder someone could
// plant a program in.
std::wstring systemPowerShellPath();

// True when PowerShell ran and unpacked the archive with exit code 0.
bool extractArchive(const std::wstring& archivePath, const std::wstring& destinationPath);
