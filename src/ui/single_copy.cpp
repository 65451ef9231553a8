#include "ui/single_copy.h"

#include "common/file_system.h"
#include "ui/office_lock_name.h"

#include <string>

namespace {

const std::wstring& officeLock() {
    static const std::wstring name = officeLockName(fullPath(L"."));
    return name;
}

BOOL CALLBACK bringToFrontIfOfficeWindow(HWND window, LPARAM) {
    if (GetPropW(window, officeLock().c_str()) == nullptr || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
    return FALSE;
}

}  // namespace

bool takeOfficeLock() {
    // Never closed: the process's end releases it.
    if (CreateMutexW(nullptr, FALSE, officeLock().c_str()) == nullptr) {
        // Held by another user's copy, whose lock this user may not open.
        return GetLastError() != ERROR_ACCESS_DENIED;
    }
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

void markOfficeWindow(HWND window) {
    SetPropW(window, officeLock().c_str(), window);
}

void bringOfficeWindowToFront() {
    EnumWindows(bringToFrontIfOfficeWindow, 0);
}
