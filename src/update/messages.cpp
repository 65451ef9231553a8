#include "update/messages.h"

#include <memory>
#include <string>

namespace {

constexpr DWORD kPostRetryPauseMs = 50;

bool postUntilTaken(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    while (!PostMessageW(window, message, wParam, lParam)) {
        if (!IsWindow(window)) {
            return false;
        }
        Sleep(kPostRetryPauseMs);
    }
    return true;
}

}  // namespace

bool postStatus(HWND window, UpdatePhase phase, const wchar_t* constantText) {
    return postUntilTaken(window, WM_UPDATE_STATUS, static_cast<WPARAM>(phase), reinterpret_cast<LPARAM>(constantText));
}

bool postDone(HWND window, const UpdateOutcome& outcome) {
    auto posted = std::make_unique<UpdateOutcome>(outcome);
    if (!postUntilTaken(window, WM_UPDATE_DONE, 0, reinterpret_cast<LPARAM>(posted.get()))) {
        return false;
    }
    posted.release();  // the window procedure owns and frees it now
    return true;
}

bool postApplicationStopped(HWND window) {
    return postUntilTaken(window, WM_APPLICATION_STOPPED, 0, 0);
}

bool postProgress(HWND window, const DownloadProgress& progress) {
    auto text = std::make_unique<std::wstring>(progressText(progress));
    const auto percentage = static_cast<WPARAM>(static_cast<INT_PTR>(progress.percentage));
    if (!PostMessageW(window, WM_UPDATE_PROGRESS, percentage, reinterpret_cast<LPARAM>(text.get()))) {
        return false;
    }
    text.release();  // the window procedure owns and frees it now
    return true;
}

bool postInstallationProgress(HWND window, int percentage) {
    return PostMessageW(window, WM_UPDATE_PROGRESS, static_cast<WPARAM>(percentage), 0) != FALSE;
}
