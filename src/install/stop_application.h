#pragma once

#include <windows.h>

#include <string>

inline constexpr DWORD kCloseWaitMs = 2000;

// True when a process image path contains the executable name, compared
// code unit for code unit.
bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& executableName);

// Posts WM_CLOSE to every top-level window of a running copy of the
// application, then gives it kCloseWaitMs to save and close.
void closeApplicationWindows();

// Terminates every process whose file name equals the name in any letter case.
void terminateApplicationProcesses(const std::wstring& executableName);

// Both steps, in their order: first the polite request, then the hard stop.
void stopRunningApplication();
