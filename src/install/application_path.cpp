#include "install/application_path.h"

#include <windows.h>

#include <algorithm>

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

std::vector<std::wstring> foldersAbove(const std::wstring& imagePath) {
    // A share's path begins with "\\\\server\\": its first folder is the share.
    const bool share = imagePath.starts_with(L"\\\\");
    const size_t server = share ? imagePath.find(L'\\', 2) : std::wstring::npos;
    std::vector<std::wstring> folders;
    for (size_t end = imagePath.find_last_of(L'\\'); end != std::wstring::npos && end > 0;
         end = imagePath.find_last_of(L'\\', end - 1)) {
        std::wstring folder = imagePath.substr(0, end);
        if (folder.ends_with(L':') || (share && (server == std::wstring::npos || end <= server))) {
            break;
        }
        folders.push_back(std::move(folder));
    }
    return folders;
}

bool imagePathIsInFolder(const std::wstring& imagePath, const std::wstring& folderPath) {
    return !folderPath.empty() && imagePath.size() > folderPath.size() + 1 && imagePath[folderPath.size()] == L'\\' &&
           imagePathNamesApplication(imagePath.substr(0, folderPath.size()), folderPath);
}

bool imageLiesInFolder(const std::wstring& imagePath, const std::wstring& folderPath,
                       std::span<const std::optional<FileIdentity>> foldersAboveImage,
                       const std::optional<FileIdentity>& folder) {
    return imagePathIsInFolder(imagePath, folderPath) ||
           (identifies(folder) && std::any_of(foldersAboveImage.begin(), foldersAboveImage.end(),
                                              [&folder](const std::optional<FileIdentity>& above) {
                                                  return identifies(above) && *above == *folder;
                                              }));
}
