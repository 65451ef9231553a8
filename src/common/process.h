#pragma once

#include "common/owned_handles.h"

#include <string>

// Starts a program and returns its process handle, or an empty one when it
// could not be started. The thread handle is closed at once: nobody here
// waits for a program's first thread.
OwnedKernelHandle startProcess(const wchar_t* application, std::wstring commandLine, DWORD creationFlags,
                               const wchar_t* workingDirectory);
