#include "install/application_path.h"

#include <windows.h>

bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& applicationPath) {
    // The file system's own rule for letter case, not a locale's.
    return !applicationPath.empty() &&
           CompareStringOrdinal(imagePath.c_str(), static_cast<int>(imagePath.size()), applicationPath.c_str(),
                                static_cast<int>(applicationPath.size()), TRUE) == CSTR_EQUAL;
}

namespace {

// Some network file systems answer a file id of zero for every file: such an
// answer tells no two files apart, and another office's copy must never be
// stopped for it. A volume serial number of zero is common (Wine gives it) and
// leaves the id to tell files apart.
bool identifies(const std::optional<FileIdentity>& identity) {
    return identity && identity->id != FileIdentity{}.id;
}

}  // namespace

bool imageIsApplication(const std::wstring& imagePath, const std::wstring& applicationPath,
                        const std::optional<FileIdentity>& image, const std::optional<FileIdentity>& application) {
    return imagePathNamesApplication(imagePath, applicationPath) ||
           (identifies(image) && identifies(application) && *image == *application);
}
