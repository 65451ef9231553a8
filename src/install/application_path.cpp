#include "install/application_path.h"

#include <windows.h>

bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& applicationPath) {
    // The file system's own rule for letter case, not a locale's.
    return !applicationPath.empty() &&
           CompareStringOrdinal(imagePath.c_str(), static_cast<int>(imagePath.size()), applicationPath.c_str(),
                                static_cast<int>(applicationPath.size()), TRUE) == CSTR_EQUAL;
}

bool imageIsApplication(const std::wstring& imagePath, const std::wstring& applicationPath,
                        const std::optional<FileIdentity>& image, const std::optional<FileIdentity>& application) {
    return imagePathNamesApplication(imagePath, applicationPath) || (image && application && *image == *application);
}
