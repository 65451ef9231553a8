#pragma once

#include "common/file_identity.h"

#include <optional>
#include <string>
#include <vector>

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

// True when both identities are known and name the same file or folder.
bool identifiesSameFile(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b);

// True when a process image path lies inside the folder (given by its full
// path), at any depth, in any letter case.
bool imageIsInsideFolder(const std::wstring& imagePath, const std::wstring& folderPath);

// Whether an image outside the folder by its text may still lie inside it
// through another path to it: only when the two are reached from different
// roots (a drive letter, a server's share). On one root, one text names one
// folder.
bool mayBeInsideThroughAnotherPath(const std::wstring& imagePath, const std::wstring& folderPath);

// The folders that hold a full path, nearest first, down to its root:
// "C:\a\b\c.exe" gives "C:\a\b", "C:\a" and "C:\"; a share's root is
// "\\server\share".
std::vector<std::wstring> enclosingFolders(const std::wstring& path);
