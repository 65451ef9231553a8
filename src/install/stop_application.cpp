#include "install/stop_application.h"

#include "common/file_system.h"
#include "install/application_path.h"
#include "common/layout.h"
#include "common/owned_handles.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>

namespace {

bool isApplicationProcess(HANDLE process, const std::wstring& applicationPath) {
    wchar_t imagePath[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, imagePath, &length)) {
        return false;
    }
    const std::wstring image(imagePath, length);
    // Only a program of the application's file name is worth opening.
    const bool sameName = image.size() >= std::size(kApplicationExeName) &&
                          imagePathNamesApplication(image.substr(image.size() + 1 - std::size(kApplicationExeName)),
                                                    kApplicationExeName);
    return imagePathNamesApplication(image, applicationPath) ||
           (sameName && imageIsApplication(image, applicationPath, fileIdentity(image), fileIdentity(applicationPath)));
}

struct WindowSearch {
    const std::wstring& applicationPath;
    bool closeAsked = false;
};

BOOL CALLBACK closeIfApplicationWindow(HWND window, LPARAM searchPointer) {
    auto& search = *reinterpret_cast<WindowSearch*>(searchPointer);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (process && isApplicationProcess(process.get(), search.applicationPath)) {
        search.closeAsked = PostMessageW(window, WM_CLOSE, 0, 0) || search.closeAsked;
    }
    return TRUE;
}

}  // namespace

void closeApplicationWindows(const std::wstring& applicationPath) {
    WindowSearch search{applicationPath};
    EnumWindows(closeIfApplicationWindow, reinterpret_cast<LPARAM>(&search));
    // Nobody to wait for when no window was asked to close.
    if (search.closeAsked) {
        Sleep(kCloseWaitMs);
    }
}

bool terminateApplicationProcesses(const std::wstring& applicationPath) {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return true;
    }
    const ULONGLONG deadline = GetTickCount64() + kTerminationWaitMs;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // The name alone is a quick first sieve: only the full path tells
        // this office's copy from another's.
        if (_wcsicmp(entry.szExeFile, kApplicationExeName) != 0) {
            continue;
        }
        const OwnedKernelHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                                    FALSE, entry.th32ProcessID));
        if (!process || !isApplicationProcess(process.get(), applicationPath)) {
            continue;
        }
        // A copy that was ending anyway may refuse to be terminated: only
        // one still running after the wait counts.
        TerminateProcess(process.get(), 0);
        const ULONGLONG now = GetTickCount64();
        const DWORD waited = WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - std::min(now, deadline)));
        if (waited != WAIT_OBJECT_0) {
            SetLastError(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
            return false;
        }
    }
    return true;
}

Failure stopRunningApplication() {
    const std::wstring applicationPath = fullPath(kApplicationExe);
    closeApplicationWindows(applicationPath);
    if (!terminateApplicationProcesses(applicationPath)) {
        return {FailureStep::StopApplication, FailureKind::System, 0, GetLastError()};
    }
    return {};
}
