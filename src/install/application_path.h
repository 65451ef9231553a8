#pragma once

#include "common/file_identity.h"

#include <optional>
#include <string>

// True when a process image path is the application's full path, in any
// letter case. Another office's copy, with the same file name in another
// folder, is not this application.
bool imagePathNamesApplication(const std::wstring& imagePath, const std::wstring& applicationPath);

// True when a process image is the application: the same path text, or,
// reached through another path to the folder (a mapped drive and the share's
// name), the same file, when both could be opened and identified (a file id
// of zero identifies nothing).
bool imageIsApplication(const std::wstring& imagePath, const std::wstring& applicationPath,
                        const std::optional<FileIdentity>& image, const std::optional<FileIdentity>& application);
