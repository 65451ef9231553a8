#include "app/launcher.h"

#include "common/owned_handles.h"

#include <windows.h>

std::wstring applicationWorkingDirectory(const std::wstring& executablePath) {
    const size_t separator = executablePath.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) {
        return {};
    }
    return executablePath.substr(0, separator);
}

std::wstring applicationCommandLine(const std::wstring& executablePath, const std::wstring& arguments) {
    return L"\"" + executablePath + L"\" " + arguments;
}

bool launchApplication(const std::wstring& executablePath, const std::wstring& arguments) {
    const std::wstring workingDirectory = applicationWorkingDirectory(executablePath);
    std::wstring commandLine = applicationCommandLine(executablePath, arguments);
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startupInfo,
                        &processInfo)) {
        return false;
    }
    // Declared so that the thread handle is closed first.
    OwnedKernelHandle process(processInfo.hProcess);
    OwnedKernelHandle thread(processInfo.hThread);
    return true;
}
