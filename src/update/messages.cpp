#include "update/messages.h"

#include <memory>
#include <string>

bool postStatus(HWND window, UpdatePhase phase, const wchar_t* constantText) {
    return PostMessageW(window, WM_UPDATE_STATUS, static_cast<WPARAM>(phase),
                        reinterpret_cast<LPARAM>(constantText)) != FALSE;
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
