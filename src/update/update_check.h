#pragma once

#include "net/network_route.h"

#include <string>

// Option words recognised on the command line. No option changes what this
// release does; they are kept here for the release that gives them a meaning.
struct CommandLineOptions {
    bool silent = false;
    bool checkOnly = false;
};

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
    // How the check reached the server; the package goes the same way.
    NetworkRoute route;
    CommandLineOptions options;
};

extern UpdateRecord updateRecord;

// Reads the installed version, asks the update server along the run's route
// (which WPAD may change, see fetchManifestText) and fills the record.
// An installed application whose version cannot be read is reported with an
// error box, and the server is then asked as for an absent one. False when
// the server could not be asked or gave no usable answer.
bool checkForUpdate(NetworkRoute& route);
