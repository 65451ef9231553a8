#pragma once

#include "common/failure.h"
#include "common/support_log.h"
#include "install/extraction.h"
#include "install/held_folder.h"

#include <string>
#include <vector>

// Puts a complete release back when the last run ended without one in
// place: an installation interrupted between moving the application aside
// and putting the new one in place, or an application folder without its
// program. True when it put the previous release back.
bool recoverInterruptedInstallation();

// How an installation ended.
struct Installation {
    // None: installed. Else the step that failed (Stop, MoveAside, Unpack,
    // Verify or Swap), after which the old application was put back; or
    // Rollback, when it could not be moved back at once, which the next
    // start's repair does.
    Failure failure;
    // Programs held a folder to the end (failing MoveAside, Swap or Rollback);
    // up to three of them by the names a box gives them, when any was named.
    bool folderHeld = false;
    std::vector<std::wstring> holders;
};

// Stops the installed release's running programs and replaces the
// application directory with the downloaded package, once the package has
// shown that it holds the program of the given release and its files are on
// the disk. Each step goes to the log with its duration, and with the
// programs that held the folder when a move was refused; the notice hears
// when a move waits for them.
Installation installPackage(const std::wstring& releaseVersion, const UnpackProgress& progress,
                            const HeldNotice& held, SupportLog& log);
