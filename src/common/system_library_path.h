#pragma once

#include <optional>
#include <string>
#include <string_view>

// The full path of a DLL in the system directory that GetSystemDirectoryW
// named. None unless that directory is fully qualified (a drive and a
// backslash, or a UNC path): Windows resolves any other path against the
// current folder, which is the office folder, and searches for a bare name.
std::optional<std::wstring> systemLibraryPath(std::wstring_view systemDirectory, std::wstring_view name);
