#include "app/launch_command.h"

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
