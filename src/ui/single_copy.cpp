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
    const LockFileState file = lock.file                                    ? LockFileState::Opened
                               : GetLastError() == ERROR_SHARING_VIOLATION ? LockFileState::HeldByAnother
                                                                           : LockFileState::NotOpened;
    // The mutex names this session's first copy, whose window a second one
    // brings to the front. Never closed: the process's end releases it.
    // Another user's copy in another session made one this user may not open.
    const bool created = CreateMutexW(nullptr, FALSE, officeLock().c_str()) != nullptr;
    const DWORD error = GetLastError();
    const LockMutexState mutex = !created && error == ERROR_ACCESS_DENIED ? LockMutexState::OtherSession
                                 : created && error == ERROR_ALREADY_EXISTS ? LockMutexState::Existing
                                                                            : LockMutexState::Created;
    lock.holder = decideOfficeLockHolder(file, mutex);
    return lock;
}

void markOfficeWindow(HWND window) {
    SetPropW(window, officeLock().c_str(), window);
}

void bringOfficeWindowToFront() {
    EnumWindows(bringToFrontIfOfficeWindow, 0);
}
