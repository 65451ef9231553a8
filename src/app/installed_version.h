#pragma once

#include <optional>
#include <string>

// The ProductVersion under the first translation of an executable's version
// resource; none when the file has no such value.
std::optional<std::wstring> readProductVersion(const wchar_t* path);

// What is known of the installed application's version.
struct InstalledVersion {
    // The application is there but its version cannot be read: the user is
    // told, since the updater will then offer every release as new.
    bool unreadable = false;
    // Empty when the application is absent or unreadable.
    std::wstring text;
};

InstalledVersion readInstalledVersion();
