#pragma once

#include <windows.h>

inline constexpr wchar_t kPackageFile[] = L"nirva.zip";

// Thread routine: downloads and installs the release that the Update record
// describes, reporting to the main window (the parameter) only by posted
// messages. Returns only when the update did not end the process.
DWORD WINAPI updateWorker(LPVOID mainWindow);
