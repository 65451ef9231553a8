#include "update/update_worker.h"

#include "app/launcher.h"
#include "common/layout.h"
#include "common/texts.h"
#include "download/package_download.h"
#include "install/installation.h"
#include "install/stop_application.h"
#include "update/messages.h"
#include "update/update_check.h"

namespace {

constexpr DWORD kExitDownloadFailed = 1;
constexpr DWORD kExitInstallationFailed = 0;

void showInstallationError(const wchar_t* text) {
    MessageBoxW(nullptr, text, kPersianErrorCaption, MB_ICONERROR | MB_OK);
}

}  // namespace

DWORD WINAPI updateWorker(LPVOID mainWindow) {
    const auto window = static_cast<HWND>(mainWindow);
    postStatus(window, UpdatePhase::Downloading, kDownloadingText);
    const auto reportProgress = [window](const DownloadProgress& progress) { postProgress(window, progress); };
    if (!downloadPackage(updateRecord.url, kPackageFile, parseSha256(updateRecord.sha256), reportProgress)) {
        postStatus(window, UpdatePhase::Ended, kDownloadFailedText);
        return kExitDownloadFailed;
    }
    postStatus(window, UpdatePhase::Installing, kInstallingText);
    switch (installPackage()) {
        case InstallResult::Installed:
            launchApplication(kApplicationExe, L"");
            ExitProcess(0);
        case InstallResult::ExtractionFailed:
            showInstallationError(kExtractionFailureText);
            break;
        case InstallResult::InstallationFailed:
            showInstallationError(kInstallationFailureText);
            break;
    }
    PostMessageW(window, WM_UPDATE_DONE, 0, 0);
    return kExitInstallationFailed;
}

DWORD WINAPI updateLaterRoutine(LPVOID) {
    stopRunningApplication();
    launchApplication(kApplicationExe, L"");
    ExitProcess(0);
}
