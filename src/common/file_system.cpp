#include "common/file_system.h"

#include "common/owned_handles.h"

#include <algorithm>
#include <string>

namespace {

constexpr DWORD kFirstRetryPauseMs = 50;
constexpr DWORD kLongestRetryPauseMs = 2000;

// RemoveDirectoryW also meets a busy file as "not empty": a file that is
// still open elsewhere is only marked for deletion until it is closed.
bool isBusy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_DIR_NOT_EMPTY;
}

// One deadline for a whole tree, so that many busy files cannot add up.
template <typename Operation>
bool retryWhileBusy(ULONGLONG deadline, Operation operation) {
    for (DWORD pause = kFirstRetryPauseMs;; pause = std::min(pause * 2, kLongestRetryPauseMs)) {
        if (operation()) {
            return true;
        }
        const DWORD error = GetLastError();
        const ULONGLONG now = GetTickCount64();
        if (!isBusy(error) || now >= deadline) {
            SetLastError(error);
            return false;
        }
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
    }
}

ULONGLONG busyDeadline() {
    return GetTickCount64() + kBusyRetryMs;
}

bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Calls visit(path, attributes) for every entry of the directory; false when
// the directory could not be read to its end or a visit failed.
template <typename Visit>
bool forEachEntry(const std::wstring& directory, Visit visit) {
    WIN32_FIND_DATAW entry;
    const OwnedFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (!find) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    bool visitedAll = true;
    do {
        if (!isDotEntry(entry.cFileName)) {
            visitedAll = visit(directory + L"\\" + entry.cFileName, entry.dwFileAttributes) && visitedAll;
        }
    } while (FindNextFileW(find.get(), &entry));
    return visitedAll && GetLastError() == ERROR_NO_MORE_FILES;
}

bool removeTreeUntil(const std::wstring& path, ULONGLONG deadline) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return pathState(path.c_str()) == PathState::Absent;
    }
    // Windows refuses to delete a read-only file, and Wine also the entries
    // of a read-only directory.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return retryWhileBusy(deadline, [&] { return DeleteFileW(path.c_str()) != FALSE; });
    }
    // A directory link is removed as the link itself, its target untouched.
    const bool emptied = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                         forEachEntry(path, [deadline](const std::wstring& entry, DWORD) {
                             return removeTreeUntil(entry, deadline);
                         });
    return emptied && retryWhileBusy(deadline, [&] { return RemoveDirectoryW(path.c_str()) != FALSE; });
}

bool flushFileUntil(const wchar_t* path, ULONGLONG deadline) {
    return retryWhileBusy(deadline, [path] {
        const OwnedFileHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        return file && FlushFileBuffers(file.get());
    });
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

std::wstring fullPath(const wchar_t* path) {
    std::wstring full(GetFullPathNameW(path, 0, nullptr, nullptr), L'\0');
    full.resize(GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr));
    std::wstring longForm(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
    longForm.resize(GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size())));
    // A path that does not exist yet has no long form to look up.
    return longForm.empty() ? full : longForm;
}

bool movePath(const wchar_t* from, const wchar_t* to) {
    return retryWhileBusy(busyDeadline(),
                          [from, to] { return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE; });
}

bool removeTree(const wchar_t* path) {
    return removeTreeUntil(path, busyDeadline());
}

bool flushFile(const wchar_t* path) {
    return flushFileUntil(path, busyDeadline());
}

bool writeWholeFile(const wchar_t* path, std::span<const std::byte> bytes) {
    const OwnedFileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                           nullptr));
    DWORD written = 0;
    return file && bytes.size() <= MAXDWORD &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file.get());
}

std::optional<std::uint64_t> freeBytesBeside(const wchar_t* path) {
    std::wstring folder = fullPath(path);
    const size_t lastSeparator = folder.find_last_of(L'\\');
    if (lastSeparator == std::wstring::npos) {
        return std::nullopt;
    }
    // A folder of a share is named with its trailing separator.
    folder.resize(lastSeparator + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}
