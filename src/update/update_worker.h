#pragma once

#include <windows.h>

// Thread routine: downloads and installs the release that the Update record
// describes, reporting to the main window (the parameter) only by posted
// messages. Returns only when the update did not end the process.
DWORD WINAPI updateWorker(LPVOID mainWindow);

// Thread routine: stops the running application, starts it again and ends
// the process.
DWORD WINAPI updateLaterRoutine(LPVOID mainWindow);
