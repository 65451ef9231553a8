#include "common/file_system.h"

#include "common/encoding.h"
#include "common/fault_rules.h"
#include "common/layout.h"
#include "common/system_libraries.h"

#include <restartmanager.h>

#include <algorithm>
#include <string>

namespace {

constexpr DWORD kFirstRetryPauseMs = 50;
constexpr DWORD kLongestRetryPauseMs = 2000;
// A probe file held by a scanner is let go within moments; a folder that
// refuses it does so at every try.
constexpr DWORD kProbeRetryMs = 2000;
// The Restart Manager is asked about this many of a folder's files at most:
// its programs and libraries first, which running programs hold the longest.
constexpr size_t kMostFilesAsked = 2000;
// Rare paths (a held folder, the one probe of a start) are marked cold: GCC
// then keeps them small rather than fast, and the program stays small.

#ifdef NIRVA_TEST_FAULTS

// The test build's fault layer: the rules of NIRVA_TEST_FAULTS, read at the
// first call that could fail, and what they have failed so far. A run's
// switch, like the environment it is read from; each fault it injects is
// appended to the file NIRVA_TEST_FAULTS_LOG names, so that a test can tell
// an injected fault from one that never struck.
class FaultLayer {
public:
    FaultLayer() {
        const std::wstring text = environment(L"NIRVA_TEST_FAULTS");
        std::optional<std::vector<FaultRule>> rules = parseFaultRules(text);
        if (!rules) {
            // A malformed switch ends the run at once, never as no fault.
            TerminateProcess(GetCurrentProcess(), kMalformedExitCode);
        }
        rules_ = std::move(*rules);
        counts_.resize(rules_.size());
        office_ = absolute(L".");
        logPath_ = environment(L"NIRVA_TEST_FAULTS_LOG");
    }

    // The error of the first rule that still fails such a call, if any.
    std::optional<DWORD> strike(FaultOperation operation, const wchar_t* path) {
        if (rules_.empty()) {
            return std::nullopt;
        }
        const std::wstring relative = officeRelativePath(absolute(path), office_);
        AcquireSRWLockExclusive(&lock_);
        std::optional<DWORD> error;
        for (size_t i = 0; i < rules_.size() && !error; ++i) {
            if (faultRuleCovers(rules_[i], operation, relative) && stillFails(i)) {
                error = rules_[i].value;
                record(operation, relative, *error);
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        return error;
    }

    // The processes the rules have the Restart Manager name for the folder.
    std::optional<std::vector<FileHolder>> holders(const wchar_t* folder) {
        const std::wstring relative = officeRelativePath(absolute(folder), office_);
        std::optional<std::vector<FileHolder>> named;
        for (const FaultRule& rule : rules_) {
            if (faultRuleCovers(rule, FaultOperation::Holders, relative)) {
                named.emplace().push_back({rule.value, {}});
            }
        }
        return named;
    }

private:
    static constexpr UINT kMalformedExitCode = 4;

    static std::wstring environment(const wchar_t* name) {
        std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
        value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
        return value;
    }

    // Without the long form, which would cost a look at the disk per call.
    static std::wstring absolute(const wchar_t* path) {
        std::wstring full(GetFullPathNameW(path, 0, nullptr, nullptr), L'\0');
        full.resize(GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr));
        return full;
    }

    bool stillFails(size_t rule) {
        const ULONGLONG now = GetTickCount64();
        switch (rules_[rule].span) {
            case FaultRule::Span::Always:
                return true;
            case FaultRule::Span::Calls:
                if (counts_[rule] == rules_[rule].amount) {
                    return false;
                }
                ++counts_[rule];
                return true;
            case FaultRule::Span::Milliseconds:
                counts_[rule] = counts_[rule] == 0 ? now : counts_[rule];
                return now - counts_[rule] < rules_[rule].amount;
        }
        return false;
    }

    // "move NIRVA 32", a line per injected fault.
    void record(FaultOperation operation, const std::wstring& path, DWORD error) const {
        if (logPath_.empty()) {
            return;
        }
        const OwnedFileHandle log(CreateFileW(logPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const std::string line = encodeUtf8(std::wstring(faultOperationName(operation))) + " " + encodeUtf8(path) + " " +
                                 std::to_string(error) + "\n";
        DWORD written = 0;
        WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

    std::vector<FaultRule> rules_;
    // Calls failed so far, or for a span of time the tick of the first.
    std::vector<ULONGLONG> counts_;
    std::wstring office_;
    std::wstring logPath_;
    SRWLOCK lock_ = SRWLOCK_INIT;
};

FaultLayer& faultLayer() {
    static FaultLayer layer;
    return layer;
}

// True, with the rule's error as the last error, when a rule fails the call.
bool refusedForTests(FaultOperation operation, const wchar_t* path) {
    const std::optional<DWORD> error = faultLayer().strike(operation, path);
    if (error) {
        SetLastError(*error);
    }
    return error.has_value();
}

#else

constexpr bool refusedForTests(FaultOperation, const wchar_t*) {
    return false;
}

#endif

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

bool deleteFile(const wchar_t* path) {
    return !refusedForTests(FaultOperation::Delete, path) && DeleteFileW(path);
}

bool removeDirectory(const wchar_t* path) {
    return !refusedForTests(FaultOperation::Delete, path) && RemoveDirectoryW(path);
}

// Windows refuses to delete or replace a read-only file, and Wine also the
// entries of a read-only directory. Only done to what is about to go.
void clearReadOnly(const wchar_t* path, DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    }
}

bool removeFileUntil(const wchar_t* path, ULONGLONG deadline) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return pathState(path) == PathState::Absent;
    }
    clearReadOnly(path, attributes);
    return retryWhileBusy(deadline, [path] { return deleteFile(path); });
}

bool removeTreeUntil(const std::wstring& path, ULONGLONG deadline) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return removeFileUntil(path.c_str(), deadline);
    }
    clearReadOnly(path.c_str(), attributes);
    // A directory link is removed as the link itself, its target untouched.
    const bool emptied = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                         forEachEntry(path, [deadline](const std::wstring& entry, DWORD) {
                             return removeTreeUntil(entry, deadline);
                         });
    return emptied && retryWhileBusy(deadline, [&] { return removeDirectory(path.c_str()); });
}

bool flushFileUntil(const wchar_t* path, ULONGLONG deadline) {
    return retryWhileBusy(deadline, [path] {
        const OwnedFileHandle file = openFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        return file && flushToDisk(file.get(), path);
    });
}

bool moveWrittenThrough(const wchar_t* from, const wchar_t* to, DWORD flags) {
    return !refusedForTests(FaultOperation::Move, from) && MoveFileExW(from, to, flags | MOVEFILE_WRITE_THROUGH);
}

bool isProgramOrLibrary(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    const std::wstring extension = dot == std::wstring::npos ? L"" : path.substr(dot);
    return CompareStringOrdinal(extension.c_str(), -1, L".exe", -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(extension.c_str(), -1, L".dll", -1, TRUE) == CSTR_EQUAL;
}

// The folder's files, its programs and libraries first, kMostFilesAsked at most.
[[gnu::cold]] std::vector<std::wstring> filesToAskAbout(const std::wstring& folder) {
    std::vector<std::wstring> programs;
    std::vector<std::wstring> others;
    std::vector<std::wstring> folders{folder};
    while (!folders.empty() && programs.size() < kMostFilesAsked) {
        const std::wstring next = std::move(folders.back());
        folders.pop_back();
        forEachEntry(next, [&](const std::wstring& entry, DWORD attributes) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    folders.push_back(entry);
                }
            } else if (isProgramOrLibrary(entry)) {
                programs.push_back(entry);
            } else if (others.size() < kMostFilesAsked) {
                others.push_back(entry);
            }
            return true;
        });
    }
    programs.resize(std::min(programs.size(), kMostFilesAsked));
    others.resize(std::min(others.size(), kMostFilesAsked - programs.size()));
    programs.insert(programs.end(), others.begin(), others.end());
    return programs;
}

[[gnu::cold]] FolderHolders askRestartManager(const std::vector<std::wstring>& files) {
    DWORD number = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&number, 0, key) != ERROR_SUCCESS) {
        return {};
    }
    const OwnedRestartSession session{RestartSessionHandle(number)};
    std::vector<LPCWSTR> names;
    for (const std::wstring& file : files) {
        names.push_back(file.c_str());
    }
    if (RmRegisterResources(number, static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) !=
        ERROR_SUCCESS) {
        return {};
    }
    // The list may grow between the call that sizes it and the one that fills it.
    std::vector<RM_PROCESS_INFO> found;
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT needed = 0;
        auto count = static_cast<UINT>(found.size());
        DWORD rebootReasons = 0;
        const DWORD result = RmGetList(number, &needed, &count, found.empty() ? nullptr : found.data(), &rebootReasons);
        if (result == ERROR_SUCCESS) {
            FolderHolders answer{true, {}};
            for (UINT i = 0; i < count && i < found.size(); ++i) {
                answer.holders.push_back({found[i].Process.dwProcessId, found[i].strAppName});
            }
            return answer;
        }
        if (result != ERROR_MORE_DATA) {
            return {};
        }
        found.resize(needed + 4);
    }
    return {};
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

OwnedFileHandle openFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    const bool creates = (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0 || disposition != OPEN_EXISTING;
    if (refusedForTests(creates ? FaultOperation::Create : FaultOperation::Open, path)) {
        return nullptr;
    }
    return OwnedFileHandle(CreateFileW(path, access, share, nullptr, disposition, flags, nullptr));
}

OwnedFileHandle openForIdentity(const wchar_t* path) {
    if (refusedForTests(FaultOperation::Identify, path)) {
        return nullptr;
    }
    // Beside any other user of the file; FILE_FLAG_BACKUP_SEMANTICS opens folders too.
    return OwnedFileHandle(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool createFolder(const wchar_t* path) {
    return !refusedForTests(FaultOperation::Create, path) && CreateDirectoryW(path, nullptr);
}

bool writeToFile(HANDLE file, const wchar_t* path, const void* bytes, DWORD count) {
    if (refusedForTests(FaultOperation::Write, path)) {
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr)) {
        return false;
    }
    // A write that took fewer bytes without an error ran out of room.
    if (written != count) {
        SetLastError(ERROR_HANDLE_DISK_FULL);
        return false;
    }
    return true;
}

bool flushToDisk(HANDLE file, const wchar_t* path) {
    return !refusedForTests(FaultOperation::Flush, path) && FlushFileBuffers(file);
}

bool movePath(const wchar_t* from, const wchar_t* to) {
    return retryWhileBusy(busyDeadline(), [from, to] { return moveWrittenThrough(from, to, 0); });
}

bool moveOnce(const wchar_t* from, const wchar_t* to) {
    return moveWrittenThrough(from, to, 0);
}

bool replaceFile(const wchar_t* from, const wchar_t* to) {
    return retryWhileBusy(busyDeadline(), [from, to] {
        if (moveWrittenThrough(from, to, MOVEFILE_REPLACE_EXISTING)) {
            return true;
        }
        // A target copied in from a folder that kept files read-only.
        const DWORD error = GetLastError();
        clearReadOnly(to, error == ERROR_ACCESS_DENIED ? GetFileAttributesW(to) : INVALID_FILE_ATTRIBUTES);
        SetLastError(error);
        return false;
    });
}

bool copyFile(const wchar_t* from, const wchar_t* to) {
    return !refusedForTests(FaultOperation::Create, to) && CopyFileW(from, to, FALSE);
}

bool removeTree(const wchar_t* path) {
    return removeTreeUntil(path, busyDeadline());
}

bool removeFile(const wchar_t* path) {
    return removeFileUntil(path, busyDeadline());
}

bool flushFile(const wchar_t* path) {
    return flushFileUntil(path, busyDeadline());
}

bool writeWholeFile(const wchar_t* path, std::span<const std::byte> bytes) {
    const OwnedFileHandle file = openFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    return file && bytes.size() <= MAXDWORD &&
           writeToFile(file.get(), path, bytes.data(), static_cast<DWORD>(bytes.size())) &&
           flushToDisk(file.get(), path);
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

[[gnu::cold]] DWORD officeFolderWriteRefusal() {
    constexpr char kProbeText[] = "nirva";
    {
        const OwnedFileHandle probe = openFile(kWriteProbeFile, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        if (!probe) {
            return GetLastError();
        }
        if (!writeToFile(probe.get(), kWriteProbeFile, kProbeText, sizeof(kProbeText) - 1) ||
            !flushToDisk(probe.get(), kWriteProbeFile)) {
            const DWORD error = GetLastError();
            // What it made goes again, as far as it may.
            removeFileUntil(kWriteProbeFile, GetTickCount64() + kProbeRetryMs);
            return error;
        }
    }
    const ULONGLONG deadline = GetTickCount64() + kProbeRetryMs;
    if (!retryWhileBusy(deadline, [] { return moveWrittenThrough(kWriteProbeFile, kMovedWriteProbeFile,
                                                                  MOVEFILE_REPLACE_EXISTING); })) {
        const DWORD error = GetLastError();
        removeFileUntil(kWriteProbeFile, deadline);
        return error;
    }
    return removeFileUntil(kMovedWriteProbeFile, deadline) ? 0 : GetLastError();
}

[[gnu::cold]] FolderHolders askFolderHolders(const wchar_t* folder) {
#ifdef NIRVA_TEST_FAULTS
    // Wine's Restart Manager names nobody: the test build can have it name
    // the processes a test chose.
    if (std::optional<std::vector<FileHolder>> named = faultLayer().holders(folder)) {
        return {true, std::move(*named)};
    }
#endif
    // Windows Vista and later have it. Loaded from the system directory
    // before its first call, as every other DLL.
    if (!loadSystemLibrary(L"rstrtmgr.dll")) {
        return {};
    }
    const std::vector<std::wstring> files = filesToAskAbout(fullPath(folder));
    if (files.empty()) {
        return {true, {}};
    }
    return askRestartManager(files);
}
