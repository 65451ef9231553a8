#pragma once

// How a run ends, written once. Every end that starts the application starts
// it here; an end decided before any window exists returns its exit code to
// wWinMain, and an end decided in the window destroys it, which ends the
// message loop with kExitNormal.

#include <windows.h>

// Every end the user or the update decides.
inline constexpr int kExitNormal = 0;
// The updater could not load what it needs to show a window, or show it.
inline constexpr int kExitNoWindow = 1;

// Starts the installed application, as an independent process.
void startApplication();

// The server could not be asked or gave no usable answer: the box says so,
// and the application is not started.
int endAfterServerFailure();

// Another updater, on another computer or through another path to the
// folder, holds the office folder: the box says so, and the application is
// not started, since the other may be replacing it.
int endWhileUpdatedElsewhere();

// This user may not change the office folder, so nothing can be installed:
// the box says so, and the installed application starts.
int endWithoutWriteAccess();

// Nothing newer is offered: no partial download outlives the release it was
// for, and the application starts.
int endWithNothingNewer();

// The application starts and the window goes, which ends the run.
void endWithApplication(HWND window);
