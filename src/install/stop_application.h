#pragma once

#include "common/failure.h"
#include "common/file_identity.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

inline constexpr DWORD kCloseWaitMs = 2000;
// Termination is asynchronous, and the program's files stay in use until
// it has really gone.
inline constexpr DWORD kTerminationWaitMs = 5000;

// Which running processes a stop reaches, by id and full image path. This
// updater is never among them.
using ProcessChoice = std::function<bool(DWORD processId, const std::wstring& imagePath)>;

// The full path of a running process's program; none when it cannot be read.
std::optional<std::wstring> processImagePath(DWORD processId);

// Posts WM_CLOSE to every top-level window of the chosen processes, gives
// them kCloseWaitMs to save and close when one was asked, then terminates
// what still runs and waits until it has gone, up to kTerminationWaitMs in
// all. False, with Windows's error, when one of them still runs after that.
bool stopProcesses(const ProcessChoice& chosen);

// A folder whose programs are stopped: its full path, and its identity,
// which recognises a program started through another path to the folder (a
// mapped drive, the share's name). Without an identity only the path's text
// tells: another office's program is never stopped for a guess.
struct ProgramFolder {
    std::wstring path;
    std::optional<FileIdentity> identity;
};
ProgramFolder programFolder(const wchar_t* folder);

// Whether the image lies inside the folder, at any depth.
bool liesInFolder(const std::wstring& imagePath, const ProgramFolder& folder);

// The later routine's stop: this office's running application, the polite
// request first, then the hard stop.
Failure stopRunningApplication();

// The installation's: every running program of the installed release, the
// application and any other program inside this office's application folder
// (a print server, a tray icon, a database engine a release ships), whatever
// its name and however deep. One still running fails the step Stop: its
// files would keep the folder from being moved.
Failure stopReleasePrograms();
