#pragma once

#include "common/failure.h"
#include "install/extraction.h"

#include <string>

// Puts a complete release back when the last run ended without one in
// place: an installation interrupted between moving the application aside
// and putting the new one in place, or an application folder without its
// program.
void recoverInterruptedInstallation();

// Stops this office's running application and replaces the application
// directory with the downloaded package, once the package has shown that it
// holds the program of the given release and its files are on the disk.
// Every failure puts the old application back before it returns; it names
// the step (StopApplication, MoveAside, Unpack, CheckPackage or Swap), and
// no failure (FailureStep::None) means installed.
Failure installPackage(const std::wstring& releaseVersion, const UnpackProgress& progress);
