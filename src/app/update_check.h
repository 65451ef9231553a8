#pragma once

#include <string>

// The one record of the run. Written only on the user-interface thread
// before any other thread exists, then only read, so it needs no lock.
struct UpdateRecord {
    std::wstring installedVersion;
    std::wstring version;
    std::wstring url;
    std::wstring sha256;
    std::wstring notes;
    std::wstring releaseDate;
    std::wstring uploadDate;
    bool mandatory = false;
    bool updateAvailable = false;
    bool forcedUpdate = false;
};

extern UpdateRecord updateRecord;

inline constexpr wchar_t kDefaultInstalledVersion[] = L"0.0.0.0";

// The version text the server is asked with: a missing version counts as
// 0.0.0.0 and a "+" build suffix becomes a fourth dotted part.
std::wstring normalizedInstalledVersion(std::wstring version);

// Reads the installed version, asks the update server and fills the record.
// False when the server could not be asked or gave no usable answer.
bool checkForUpdate();
