#pragma once

#include "common/file_identity.h"

#include <optional>
#include <span>
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

// The folders that hold an image, nearest first, down to the one below the
// drive or the share's server ("C:\\Office\\NIRVA\\bin\\x.exe" gives
// "C:\\Office\\NIRVA\\bin", "C:\\Office\\NIRVA" and "C:\\Office").
std::vector<std::wstring> foldersAbove(const std::wstring& imagePath);

// True when a process image lies in the folder, at any depth: its path begins
// with the folder's path and a separator, in any letter case, or, reached
// through another path to the folder, one of the folders above it (their
// identities in foldersAbove's order) is the folder by an identity that
// tells files apart.
bool imagePathIsInFolder(const std::wstring& imagePath, const std::wstring& folderPath);
bool imageLiesInFolder(const std::wstring& imagePath, const std::wstring& folderPath,
                       std::span<const std::optional<FileIdentity>> foldersAboveImage,
                       const std::optional<FileIdentity>& folder);
