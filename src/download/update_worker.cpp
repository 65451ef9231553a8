#include "download/update_worker.h"

#include "app/update_check.h"
#include "download/messages.h"
#include "download/package_download.h"
#include "install/installation.h"

namespace {

constexpr DWORD kExitDownloadFailed = 1;
constexpr DWORD kExitInstallationReturned = 0;

void postStatus(HWND window, const wchar_t* constantText) {
    PostMessageW(window, WM_UPDATE_STATUS, 0, reinterpret_cast<LPARAM>(constantText));
}

}  // namespace

DWORD WINAPI updateWorker(LPVOID mainWindow) {
    const auto window = static_cast<HWND>(mainWindow);
    postStatus(window, kDownloadingText);
    if (!downloadPackage(updateRecord.url, kPackageFile, window, parseSha256(updateRecord.sha256))) {
        postStatus(window, kDownloadFailedText);
        return kExitDownloadFailed;
    }
    postStatus(window, kInstallingText);
    installPackage();
    PostMessageW(window, WM_UPDATE_DONE, 0, 0);
    return kExitInstallationReturned;
}
