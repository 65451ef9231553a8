#pragma once

#include <windows.h>

#include <string>

// One updater per office folder: two would share the package, the staging
// folder and the backup, and one could remove what the other is still
// unpacking.

// The name of the office folder's lock, the same for every spelling of the
// folder's full path that Windows takes for the same folder: a digest of the
// path in capitals, since a kernel object name cannot hold a backslash
// beyond its namespace. In the global namespace, so that users of other
// sessions working in the same folder see it too.
std::wstring officeLockName(const std::wstring& officeFolder);

// True when this is the first updater of the office folder (the current
// directory); the lock is then held until the process ends, however it ends.
bool takeOfficeLock();

// Marks the main window as this office's, so that a second copy finds it.
void markOfficeWindow(HWND window);

// Brings the office's first copy's window to the front, if it shows one.
void bringOfficeWindowToFront();
