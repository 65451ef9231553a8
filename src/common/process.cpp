#include "common/process.h"

OwnedKernelHandle startProcess(const wchar_t* application, std::wstring commandLine, DWORD creationFlags,
                               const wchar_t* workingDirectory) {
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        workingDirectory, &startupInfo, &processInfo)) {
        return nullptr;
    }
    CloseHandle(processInfo.hThread);
    return OwnedKernelHandle(processInfo.hProcess);
}
