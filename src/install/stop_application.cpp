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
    return QueryFullProcessImageNameW(process, 0, imagePath, &length) &&
           imagePathNamesApplication(std::wstring(imagePath, length), applicationPath);
}

BOOL CALLBACK closeIfApplicationWindow(HWND window, LPARAM applicationPath) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (process && isApplicationProcess(process.get(), *reinterpret_cast<const std::wstring*>(applicationPath))) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

}  // namespace

void closeApplicationWindows(const std::wstring& applicationPath) {
    EnumWindows(closeIfApplicationWindow, reinterpret_cast<LPARAM>(&applicationPath));
    Sleep(kCloseWaitMs);
}

void terminateApplicationProcesses(const std::wstring& applicationPath) {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return;
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
        if (process && isApplicationProcess(process.get(), applicationPath) && TerminateProcess(process.get(), 0)) {
            const ULONGLONG now = GetTickCount64();
            WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - std::min(now, deadline)));
        }
    }
}

void stopRunningApplication() {
    const std::wstring applicationPath = fullPath(kApplicationExe);
    closeApplicationWindows(applicationPath);
    terminateApplicationProcesses(applicationPath);
}
