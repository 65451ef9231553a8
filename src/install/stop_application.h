#pragma once

#include "common/failure.h"

#include <windows.h>

#include <string>

inline constexpr DWORD kCloseWaitMs = 2000;
// Termination is asynchronous, and the program's files stay in use until
// it has really gone.
inline constexpr DWORD kTerminationWaitMs = 5000;

// Posts WM_CLOSE to every top-level window of a running copy of this
// office's application (given by its full path), then, when there was one,
// gives it kCloseWaitMs to save and close.
void closeApplicationWindows(const std::wstring& applicationPath);

// Terminates every running copy of this office's application and waits,
// up to kTerminationWaitMs in all, until they are gone. False, with
// Windows's error, when one of them is still running after that.
bool terminateApplicationProcesses(const std::wstring& applicationPath);

// Both steps, in their order: first the polite request, then the hard stop.
// A copy that is still running fails the step StopApplication: its files
// would keep the application's folder from being moved.
Failure stopRunningApplication();
