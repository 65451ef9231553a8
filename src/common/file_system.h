#pragma once

// The few file-system questions and changes the updater needs, in Win32
// calls only (the C++ file-system library would triple the program's size).
//
// Virus scanners, the search indexer and Explorer open files for a moment
// right after they are written or moved. Every change below that fails with
// a sharing violation or access denied is tried again, in growing steps, for
// up to kBusyRetryMs before it counts as failed.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

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

// Renames a file or a directory, written through to the disk. An existing
// target is never replaced.
bool movePath(const wchar_t* from, const wchar_t* to);

// Removes a file or a directory with everything in it, read-only entries
// included. A link inside is removed, never followed. True when nothing is
// left at the path.
bool removeTree(const wchar_t* path);

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
