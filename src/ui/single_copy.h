#pragma once

#include "common/owned_handles.h"

#include <windows.h>

#include <optional>

// One updater per office folder: two would share the package, the staging
// folder and the backup, and one could remove what the other is still
// unpacking. Offices run the program from a folder on another PC, reached
// as a mapped drive or by the share's name, so the lock is a file in the
// folder itself, which every PC and every path sees.

// Who holds the office folder when this run may not have it.
enum class OfficeLockHolder {
    Nobody,        // this run has it
    ThisComputer,  // another copy on this PC, whose window is brought to the front
    Elsewhere,     // an updater on another PC, or one through another path to the folder
};

struct OfficeLock {
    OfficeLockHolder holder = OfficeLockHolder::Nobody;
    // Held until the handle closes, at the process's end however it ends;
    // Windows then deletes the file, and a file that a power cut left behind
    // is held by nobody. Without a handle in a folder this user cannot write
    // to, which no updater can install into: the lock on this PC is all there is.
    OwnedFileHandle file;
};

// The lock of the office folder (the current directory).
OfficeLock takeOfficeLock();

// Marks the main window as this office's, so that a second copy finds it.
void markOfficeWindow(HWND window);

// Brings the office's first copy's window to the front, if it shows one.
void bringOfficeWindowToFront();
