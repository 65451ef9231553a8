#pragma once

#include "common/failure.h"
#include "download/progress.h"

#include <windows.h>

#include <string>

// Where the update worker stands. The window learns it from the worker's
// messages and decides from it when it may be left.
enum class UpdatePhase : WPARAM { NotStarted, Downloading, Installing, Ended };

// How the worker ended. The window alone tells the user and ends the run.
struct UpdateOutcome {
    // None: the release is installed, and the updater replaced when the
    // release carried a newer one. A failed replacement (SelfUpdate) leaves
    // the release installed: the user sees an installed release, the
    // vendor's report the failure.
    Failure failure;
    // The error box shown first, when the failure has one (empty: none).
    std::wstring boxText;
    // What the status line says then.
    const wchar_t* statusText = nullptr;
    // A failed installation has put the old application back, which is then
    // started; a failed download leaves it as it was, not started.
    bool startsApplication = false;
    // The release is in place: the run ends with it.
    bool installed = false;
};

// Posted by the update worker to the main window, never sent: the worker
// must not wait for the window.
// wParam is the phase that begins; lParam points to a constant status text
// that outlives the message.
inline constexpr UINT WM_UPDATE_STATUS = WM_APP + 1;
// The worker has ended. lParam is a heap UpdateOutcome owned by the receiver
// from the moment the post succeeds.
inline constexpr UINT WM_UPDATE_DONE = WM_APP + 2;
// wParam is the percentage; lParam is a heap std::wstring owned by the
// receiver from the moment the post succeeds, or null when only the
// progress bar moves (the unpacking's share, under the installing text).
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 3;
// The later routine has stopped the running application.
inline constexpr UINT WM_APPLICATION_STOPPED = WM_APP + 4;

// A full queue refuses a post, and a lost "failed" would leave a mandatory
// window locked for good: status, done and stopped messages are posted again
// until the window takes them or is gone. An outcome the window did not take
// is freed here.
bool postStatus(HWND window, UpdatePhase phase, const wchar_t* constantText);
bool postDone(HWND window, const UpdateOutcome& outcome);
bool postApplicationStopped(HWND window);

// Hands the progress text to the window with WM_UPDATE_PROGRESS. When the post
// fails the text is freed here, so a closed window leaks nothing.
bool postProgress(HWND window, const DownloadProgress& progress);
// The bar alone; a lost post is made good by the next one.
bool postInstallationProgress(HWND window, int percentage);
