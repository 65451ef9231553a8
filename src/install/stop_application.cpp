#include "install/stop_application.h"

#include "common/layout.h"
#include "common/owned_handles.h"

#include <tlhelp32.h>

#include <cwchar>

namespace {

BOOL CALLBACK closeIfApplicationWindow(HWND window, LPARAM) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return TRUE;
    }
    wchar_t imagePath[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process.get(), 0, imagePath, &length) &&
        imagePathNamesApplication(std::wstring(imagePath, length), kApplicationExeName)) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

}  // namespace

void closeApplicationWindows() {
    EnumWindows(closeIfApplicationWindow, 0);
    Sleep(kCloseWaitMs);
}

void terminateApplicationProcesses(const std::wstring& executableName) {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, executableName.c_str()) != 0) {
            continue;
        }
        const OwnedKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process) {
            TerminateProcess(process.get(), 0);
        }
    }
}

void stopRunningApplication() {
    closeApplicationWindows();
    terminateApplicationProcesses(kApplicationExeName);
}
