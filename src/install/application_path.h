#pragma once

#include <string>

// True when a process image path is the application's full path, in any
// letter case. Another office's copy, with the same file name in another
// folder, is not this application.
bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& applicationPath);
