#pragma once

// The few file-system questions and changes the updater needs, in Win32
// calls only (the C++ file-system library would triple the program's size).
//
// Virus scanners, the search indexer and Explorer open files for a moment
// right after they are written or moved. Every change below that fails with
// a sharing violation or access denied is tried again, in growing steps, for
// up to kBusyRetryMs before it counts as failed, unless it says otherwise.
//
// The installation, the unpacking, the partial file, the updater's own small
// files and the self-update create, open, write, flush, move and delete
// through here, so that the test build's fault layer (common/fault_rules.h)
// can make those calls fail as only real Windows does; the release build has
// no fault layer. The support log and the office lock, which never stop a
// run, call Windows directly.

#include "common/owned_handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr DWORD kBusyRetryMs = 10000;

// Anything at a path counts as present; an error other than "not found"
// (a folder the user may not read, say) is reported as unreadable rather
// than taken for absence.
enum class PathState { Absent, Present, Unreadable };

PathState pathState(const wchar_t* path);
bool pathExists(const wchar_t* path);

// The full path with long names (a folder reached by its short name, such
// as PROGRA~1, still names the same thing); empty when it cannot be formed.
std::wstring fullPath(const wchar_t* path);

// CreateFileW without security attributes or a template; empty, with
// Windows's error, when it fails. Tried once.
OwnedFileHandle openFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// A file or folder opened only to read what it is (common/file_identity).
OwnedFileHandle openForIdentity(const wchar_t* path);
// CreateDirectoryW; tried once.
bool createFolder(const wchar_t* path);
// Writes all the bytes to the file at `path`; false, with Windows's error,
// when fewer went. Tried once.
bool writeToFile(HANDLE file, const wchar_t* path, const void* bytes, DWORD count);
// The file's content through to the disk; tried once.
bool flushToDisk(HANDLE file, const wchar_t* path);

// Renames a file or a directory, written through to the disk. An existing
// target is never replaced.
bool movePath(const wchar_t* from, const wchar_t* to);
// The same, tried once: for a caller that decides itself when to try again.
bool moveOnce(const wchar_t* from, const wchar_t* to);
// Renames a file onto another, which it replaces, read-only or not, written
// through to the disk.
bool replaceFile(const wchar_t* from, const wchar_t* to);
// Copies a file over whatever the target is; tried once.
bool copyFile(const wchar_t* from, const wchar_t* to);

// Removes a directory with everything in it, read-only entries included. A
// link inside is removed, never followed. True when nothing is left at the
// path (also when it was a file).
bool removeTree(const wchar_t* path);
// Removes a file, read-only or not. True when nothing is left at the path.
bool removeFile(const wchar_t* path);

// Writes the file's content through to the disk, so that a power cut after
// this returns cannot leave it zero-filled.
bool flushFile(const wchar_t* path);

// Replaces the file's content with the bytes, written through to the disk.
// Tried once: it writes the updater's own small files (a record, the office
// id, a report), which a busy moment only leaves as they were.
bool writeWholeFile(const wchar_t* path, std::span<const std::byte> bytes);

// The bytes this user may still write to the volume that holds the path's
// folder; none when Windows cannot tell.
std::optional<std::uint64_t> freeBytesBeside(const wchar_t* path);

// 0 when this user may create, write, rename and delete a file of the
// office folder's (a small one of its own, flushed and removed again), else
// the Windows error that refused it. A file that a virus scanner holds for a
// moment is waited for briefly; a refused creation is a refusal at once.
DWORD officeFolderWriteRefusal();

// A program that has files of a folder open, as the Restart Manager names it.
struct FileHolder {
    DWORD processId = 0;
    // The name the Restart Manager gives it (a window's title, a service's
    // display name); may be empty.
    std::wstring name;
};

struct FolderHolders {
    // False: the Restart Manager is not there (before Windows Vista) or
    // failed; nothing is known then.
    bool answered = false;
    std::vector<FileHolder> holders;
};

// Asks the Restart Manager which programs have the folder's files open: its
// programs and libraries first, then its other files, a few thousand at most.
FolderHolders askFolderHolders(const wchar_t* folder);
