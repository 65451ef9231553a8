#pragma once

#include "download/progress.h"

#include <windows.h>

// Where the update worker stands. The window learns it from the worker's
// status messages and decides from it when it may be left.
enum class UpdatePhase : WPARAM { NotStarted, Downloading, Installing, Ended };

// Posted by the update worker to the main window, never sent: the worker
// must not wait for the window.
// wParam is the phase that begins; lParam points to a constant status text
// that outlives the message.
inline constexpr UINT WM_UPDATE_STATUS = WM_APP + 1;
// The installation returned without ending the process: it failed. lParam
// points to the constant text of the failure box just shown.
inline constexpr UINT WM_UPDATE_DONE = WM_APP + 2;
// wParam is the percentage; lParam is a heap std::wstring owned by the
// receiver from the moment the post succeeds, or null when only the
// progress bar moves (the unpacking's share, under the installing text).
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 3;

// A full queue refuses a post, and a lost "failed" would leave a mandatory
// window locked for good: status and done messages are posted again until
// the window takes them or is gone.
bool postStatus(HWND window, UpdatePhase phase, const wchar_t* constantText);
bool postDone(HWND window, const wchar_t* constantFailureText);

// Hands the progress text to the window with WM_UPDATE_PROGRESS. When the post
// fails the text is freed here, so a closed window leaks nothing.
bool postProgress(HWND window, const DownloadProgress& progress);
// The bar alone; a lost post is made good by the next one.
bool postInstallationProgress(HWND window, int percentage);
