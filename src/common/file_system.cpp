#include "common/file_system.h"

#include "common/owned_handles.h"

#include <string>

namespace {

bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool removeDirectoryContents(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const OwnedFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!find) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    bool removedAll = true;
    do {
        if (!isDotEntry(entry.cFileName)) {
            removedAll = removeTree((directory + L"\\" + entry.cFileName).c_str()) && removedAll;
        }
    } while (FindNextFileW(find.get(), &entry));
    return removedAll && GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

PathState pathState(const wchar_t* path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return PathState::Present;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathState::Absent
                                                                          : PathState::Unreadable;
}

bool pathExists(const wchar_t* path) {
    return pathState(path) == PathState::Present;
}

bool removeTree(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return pathState(path) == PathState::Absent;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteFileW(path) != FALSE;
    }
    // A directory link is removed as the link itself, its target untouched.
    const bool emptied = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || removeDirectoryContents(path);
    return RemoveDirectoryW(path) != FALSE && emptied;
}

bool flushFile(const wchar_t* path) {
    const OwnedFileHandle file(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}
