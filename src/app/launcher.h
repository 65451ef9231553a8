#pragma once

#include "common/owned_handles.h"

#include <string>

// Starts the application as an independent process and returns at once with
// its process handle, for whoever watches its start; empty, with Windows's
// error, when it could not be started.
OwnedKernelHandle launchApplication(const std::wstring& executablePath, const std::wstring& arguments);
