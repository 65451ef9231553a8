#include "install/installation.h"

#include "app/launcher.h"
#include "app/version.h"
#include "common/owned_handles.h"
#include "download/update_worker.h"
#include "install/stop_application.h"

#include <windows.h>

#include <filesystem>

namespace {

constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

bool moveDirectory(const wchar_t* from, const wchar_t* to) {
    return MoveFileExW(from, to, kMoveFlags) != FALSE;
}

bool pathExists(const wchar_t* path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void removeDirectoryTree(const wchar_t* path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

void showInstallationError(const wchar_t* text) {
    MessageBoxW(nullptr, text, kErrorCaption, MB_ICONERROR | MB_OK);
}

}  // namespace

std::wstring extractionCommandLine(const std::wstring& archivePath, const std::wstring& destinationPath) {
    return kExpandCommandPrefix + archivePath + kExpandCommandSeparator + destinationPath +
           kExpandCommandSuffix;
}

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
    std::wstring commandLine = extractionCommandLine(archivePath, destinationPath);
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessW(powerShell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startupInfo, &processInfo)) {
        return false;
    }
    // Declared so that the thread handle is closed first.
    const OwnedKernelHandle process(processInfo.hProcess);
    const OwnedKernelHandle thread(processInfo.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode == 0;
}

void recoverInterruptedInstallation() {
    if (!pathExists(kApplicationDirectory) && pathExists(kBackupDirectory)) {
        moveDirectory(kBackupDirectory, kApplicationDirectory);
    }
}

void installPackage() {
    // Windows will not move a directory whose files are in use.
    stopRunningApplication();

    removeDirectoryTree(kStagingDirectory);
    // Without an application directory (a first installation, or one whose
    // recovery failed) there is nothing to move aside, and a backup is the
    // only good copy left, so it stays.
    const bool hadApplication = pathExists(kApplicationDirectory);
    if (hadApplication) {
        removeDirectoryTree(kBackupDirectory);
        if (!moveDirectory(kApplicationDirectory, kBackupDirectory)) {
            showInstallationError(kInstallationFailureText);
            return;
        }
    }
    // Every failure from here on puts the old application back before it is
    // reported, so the user is never left without one.
    const auto restoreApplication = [hadApplication] {
        if (hadApplication) {
            moveDirectory(kBackupDirectory, kApplicationDirectory);
        }
    };

    if (!extractArchive(kPackageFile, kStagingDirectory)) {
        removeDirectoryTree(kStagingDirectory);
        restoreApplication();
        showInstallationError(kExtractionFailureText);
        return;
    }
    if (!moveDirectory(kStagingDirectory, kApplicationDirectory)) {
        restoreApplication();
        showInstallationError(kInstallationFailureText);
        return;
    }

    launchApplication(kApplicationExe, L"");
    ExitProcess(0);
}
