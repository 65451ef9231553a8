#include "install/extraction.h"

#include "common/process.h"
#include "install/crash_point.h"

std::wstring systemPowerShellPath() {
    wchar_t systemDirectory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(systemDirectory, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

bool extractArchive(const std::wstring& archivePath, const std::wstring& destinationPath) {
    const std::wstring powerShell = systemPowerShellPath();
    if (powerShell.empty()) {
        return false;
    }
    const OwnedKernelHandle process = startProcess(
        powerShell.c_str(), extractionCommandLine(archivePath, destinationPath), CREATE_NO_WINDOW, nullptr);
    if (!process) {
        return false;
    }
    crashPointReached(CrashStep::Extracting);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode == 0;
}
