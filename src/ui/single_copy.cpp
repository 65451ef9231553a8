#include "ui/single_copy.h"

#include "common/file_system.h"
#include "common/layout.h"
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

std::optional<OwnedFileHandle> takeOfficeLock() {
    OwnedFileHandle file(CreateFileW(kOfficeLockFile, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file && GetLastError() == ERROR_SHARING_VIOLATION) {
        return std::nullopt;
    }
    // The mutex names this PC's first copy, whose window a second one brings
    // to the front. Never closed: the process's end releases it.
    if (CreateMutexW(nullptr, FALSE, officeLock().c_str()) == nullptr) {
        // Held by another user's copy, whose lock this user may not open.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            return std::nullopt;
        }
    } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return std::nullopt;
    }
    return file;
}

void markOfficeWindow(HWND window) {
    SetPropW(window, officeLock().c_str(), window);
}

void bringOfficeWindowToFront() {
    EnumWindows(bringToFrontIfOfficeWindow, 0);
}
