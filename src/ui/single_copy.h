#pragma once

#include <windows.h>

// One updater per office folder: two would share the package, the staging
// folder and the backup, and one could remove what the other is still
// unpacking.

// True when this is the first updater of the office folder (the current
// directory); the lock is then held until the process ends, however it ends.
bool takeOfficeLock();

// Marks the main window as this office's, so that a second copy finds it.
void markOfficeWindow(HWND window);

// Brings the office's first copy's window to the front, if it shows one.
void bringOfficeWindowToFront();
