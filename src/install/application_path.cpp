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

bool identifiesSameFile(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b) {
    return identifies(a) && identifies(b) && *a == *b;
}

bool imageIsApplication(const std::wstring& imagePath, const std::wstring& applicationPath,
                        const std::optional<FileIdentity>& image, const std::optional<FileIdentity>& application) {
    return imagePathNamesApplication(imagePath, applicationPath) || identifiesSameFile(image, application);
}

namespace {

// Where a full path's root ends: after "C:\\", or after "\\\\server\\share".
size_t rootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        return 3;
    }
    if (path.starts_with(L"\\\\")) {
        const size_t server = path.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
        return share == std::wstring::npos ? path.size() : share;
    }
    return 0;
}

}  // namespace

bool imageIsInsideFolder(const std::wstring& imagePath, const std::wstring& folderPath) {
    return !folderPath.empty() && imagePath.size() > folderPath.size() + 1 &&
           imagePath[folderPath.size()] == L'\\' &&
           imagePathNamesApplication(imagePath.substr(0, folderPath.size()), folderPath);
}

bool mayBeInsideThroughAnotherPath(const std::wstring& imagePath, const std::wstring& folderPath) {
    const size_t imageRoot = rootLength(imagePath);
    const size_t folderRoot = rootLength(folderPath);
    return imageRoot == 0 || folderRoot == 0 ||
           !imagePathNamesApplication(imagePath.substr(0, imageRoot), folderPath.substr(0, folderRoot));
}

[[gnu::cold]] std::vector<std::wstring> enclosingFolders(const std::wstring& path) {
    std::vector<std::wstring> folders;
    const size_t root = rootLength(path);
    if (root == 0) {
        return folders;
    }
    for (size_t end = path.find_last_of(L'\\'); end != std::wstring::npos && end >= root;
         end = path.find_last_of(L'\\', end - 1)) {
        folders.push_back(path.substr(0, end));
    }
    // A drive's root keeps its separator ("C:\\"); a share's has none.
    if (path[root - 1] == L'\\') {
        folders.push_back(path.substr(0, root));
    }
    return folders;
}
