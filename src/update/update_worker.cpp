#include "update/update_worker.h"

#include "common/layout.h"
#include "common/owned_handles.h"
#include "common/texts.h"
#include "download/package_download.h"
#include "install/installation.h"
#include "install/self_update.h"
#include "install/stop_application.h"
#include "update/messages.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// The box names the programs that kept the folder from being moved.
std::wstring filesInUseBoxText(const std::vector<std::wstring>& holders) {
    std::wstring text = kFilesInUseText;
    for (size_t i = 0; i < holders.size(); ++i) {
        text += (i == 0 ? L"\n\n" : L"\n") + holders[i];
    }
    return text;
}

// An unpacking that failed has a box of its own, and so has a folder that
// programs held; every other step counts as failing to put the release in
// place. A rollback that could not move the old application back leaves
// nothing to start: the box says that the next start puts it back.
UpdateOutcome installationOutcome(const Installation& installation, SupportLog& log) {
    const Failure& failure = installation.failure;
    if (!failure) {
        return {.failure = replaceUpdaterFromRelease(log),
                .boxText = {},
                .statusText = nullptr,
                .startsApplication = false,
                .installed = true};
    }
    if (failure.step == FailureStep::Rollback) {
        return {.failure = failure,
                .boxText = kRollbackPendingText,
                .statusText = kRollbackPendingText,
                .startsApplication = false,
                .installed = false};
    }
    const wchar_t* text = failure.step == FailureStep::Unpack ? kExtractionFailureText : kInstallationFailureText;
    return {.failure = failure,
            .boxText = installation.folderHeld ? filesInUseBoxText(installation.holders) : std::wstring(text),
            .statusText = text,
            .startsApplication = true,
            .installed = false};
}

DWORD WINAPI updateWorker(LPVOID parameter) {
    const std::unique_ptr<UpdateJob> job(static_cast<UpdateJob*>(parameter));
    const HWND window = job->window;
    postStatus(window, UpdatePhase::Downloading, kDownloadingText);
    const auto reportProgress = [window](const DownloadProgress& progress) { postProgress(window, progress); };
    const Failure downloadFailure =
        job->refusal ? job->refusal
                     : downloadPackage(job->url, kPackageFile, job->digest, job->size, job->route, reportProgress,
                                       job->log);
    if (downloadFailure) {
        postDone(window, {.failure = downloadFailure,
                          .boxText = {},
                          .statusText = kDownloadFailedText,
                          .startsApplication = false,
                          .installed = false});
        return 0;
    }
    // The run ended while the package came: the process is about to go.
    if (!job->gate->beginInstallation()) {
        return 0;
    }
    postStatus(window, UpdatePhase::Installing, kInstallingText);
    const auto reportUnpacked = [window](int percent) { postInstallationProgress(window, percent); };
    // While programs hold the folder, the status line says what is waited for.
    const auto reportHeld = [window](bool held) {
        postStatus(window, UpdatePhase::Installing, held ? kFolderHeldText : kInstallingText);
    };
    postDone(window,
             installationOutcome(installPackage(job->version, reportUnpacked, reportHeld, job->log), job->log));
    return 0;
}

DWORD WINAPI updateLaterRoutine(LPVOID window) {
    stopRunningApplication();
    postApplicationStopped(static_cast<HWND>(window));
    return 0;
}

bool startThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
    const OwnedKernelHandle thread(CreateThread(nullptr, 0, routine, parameter, 0, nullptr));
    return thread != nullptr;
}

}  // namespace

bool startUpdateWorker(const UpdateJob& job) {
    auto owned = std::make_unique<UpdateJob>(job);
    if (!startThread(updateWorker, owned.get())) {
        return false;
    }
    owned.release();  // the thread frees it
    return true;
}

bool startLaterRoutine(HWND window) {
    return startThread(updateLaterRoutine, window);
}
