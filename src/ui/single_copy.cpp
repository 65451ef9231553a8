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

OfficeLock takeOfficeLock() {
    OfficeLock lock;
    lock.file.reset(CreateFileW(kOfficeLockFile, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    const bool fileHeld = !lock.file && GetLastError() == ERROR_SHARING_VIOLATION;
    // The mutex names this PC's first copy, whose window a second one brings
    // to the front. Never closed: the process's end releases it. Held by
    // another user's copy, it is one this user may not open. Its name is the
    // folder's path text, which another folder may share (drive letters on a
    // terminal server): where the lock file was had, the mutex does not decide.
    const bool mutexHeld = CreateMutexW(nullptr, FALSE, officeLock().c_str()) == nullptr
                               ? GetLastError() == ERROR_ACCESS_DENIED
                               : GetLastError() == ERROR_ALREADY_EXISTS;
    if (fileHeld) {
        lock.holder = mutexHeld ? OfficeLockHolder::ThisComputer : OfficeLockHolder::Elsewhere;
    } else if (!lock.file && mutexHeld) {
        lock.holder = OfficeLockHolder::ThisComputer;
    }
    return lock;
}

void markOfficeWindow(HWND window) {
    SetPropW(window, officeLock().c_str(), window);
}

void bringOfficeWindowToFront() {
    EnumWindows(bringToFrontIfOfficeWindow, 0);
}
