#include "install/stop_application.h"

bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& executableName) {
    return imagePath.find(executableName) != std::wstring::npos;
}
