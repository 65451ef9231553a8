#include "update/update_worker.h"

#include "app/launcher.h"
#include "common/layout.h"
#include "common/texts.h"
#include "download/package_download.h"
#include "install/installation.h"
#include "install/self_update.h"
#include "net/deployment.h"
#include "install/stop_application.h"
#include "update/messages.h"
#include "update/update_check.h"

namespace {

constexpr DWORD kExitDownloadFailed = 1;
constexpr DWORD kExitInstallationFailed = 0;

// The box, and then the same text on the status line, which would
// otherwise keep saying "installing".
void reportInstallationFailure(HWND window, const wchar_t* text) {
    MessageBoxW(nullptr, text, kPersianErrorCaption, MB_ICONERROR | MB_OK);
    postDone(window, text);
}

}  // namespace

DWORD WINAPI updateWorker(LPVOID mainWindow) {
    const auto window = static_cast<HWND>(mainWindow);
    postStatus(window, UpdatePhase::Downloading, kDownloadingText);
    const auto reportProgress = [window](const DownloadProgress& progress) { postProgress(window, progress); };
    const std::optional<Sha256Digest> digest = parseSha256(updateRecord.sha256);
    // A digest that is given but cannot be read refuses the package: skipping
    // the comparison would install whatever arrives. A signed release vouches
    // for its package only through the digest, so there it must be given.
    const bool digestUsable = digest || (updateRecord.sha256.empty() && kReleasePublicKeys.empty());
    if (!digestUsable ||
        !downloadPackage(updateRecord.url, kPackageFile, digest, updateRecord.route, reportProgress)) {
        postStatus(window, UpdatePhase::Ended, kDownloadFailedText);
        return kExitDownloadFailed;
    }
    postStatus(window, UpdatePhase::Installing, kInstallingText);
    const auto reportUnpacked = [window](int percent) { postInstallationProgress(window, percent); };
    const Failure failure = installPackage(updateRecord.version, reportUnpacked);
    if (!failure) {
        replaceUpdaterFromRelease();
        launchApplication(kApplicationExe, L"");
        ExitProcess(0);
    }
    reportInstallationFailure(
        window, failure.step == FailureStep::Unpack ? kExtractionFailureText : kInstallationFailureText);
    return kExitInstallationFailed;
}

DWORD WINAPI updateLaterRoutine(LPVOID) {
    stopRunningApplication();
    launchApplication(kApplicationExe, L"");
    ExitProcess(0);
}
