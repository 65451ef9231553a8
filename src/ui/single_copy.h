#pragma once

#include "common/owned_handles.h"
#include "ui/office_lock_name.h"

#include <windows.h>

#include <optional>

// One updater per office folder: two would share the package, the staging
// folder and the backup, and one could remove what the other is still
// unpacking. Offices run the program from a folder on another PC, reached
// as a mapped drive or by the share's name, so the lock is a file in the
// folder itself, which every PC and every path sees.

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
