#pragma once

#include "app/version.h"
#include "common/failure.h"

#include <optional>

// The previous release is put back in the application folder's place when
// the new one failed at its first start: the failed release is moved aside
// as the discard folder, then the backup becomes the application folder.
// Each step is a rename written through to the disk; a crash between them
// leaves no application folder and the backup, which the next start puts back
// (recoverInterruptedInstallation). The discard folder goes afterwards, or
// with the next installation's leftovers. The downloaded package stays: the
// next rebuild reads entries from it whatever release it holds.

// True when there is a previous release to put back.
bool canTakeBack();

// The renames; a failure names the step Start and the disk's error, and
// leaves the application folder as it was or, past the first rename, absent
// with the backup beside it.
Failure takeBackRelease();

// Removes what the take-back moved aside, if it is still there.
void removeTakenBackRelease();

// At start: a take-back that the last run decided on (it kept the release as
// refused) but did not finish leaves the refused release in the application
// folder and the previous one in the backup; the take-back is made now. True
// when it was.
bool finishInterruptedTakeBack(const std::optional<VersionNumber>& refused);
