#pragma once

// The few file-system questions and removals the updater needs, in Win32
// calls only (the C++ file-system library would triple the program's size).

// Anything at a path counts as present; an error other than "not found"
// (a folder the user may not read, say) is reported as unreadable rather
// than taken for absence.
enum class PathState { Absent, Present, Unreadable };

PathState pathState(const wchar_t* path);
bool pathExists(const wchar_t* path);

// Removes a file or a directory with everything in it. A link inside is
// removed, never followed. True when nothing is left at the path.
bool removeTree(const wchar_t* path);

// Writes the file's content through to the disk, so that a power cut after
// this returns cannot leave it zero-filled.
bool flushFile(const wchar_t* path);
