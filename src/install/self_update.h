#pragma once

#include "common/failure.h"

// What taking the release's updater came to.
enum class UpdaterReplacement {
    NotNewer,  // the release carries no updater strictly newer than the running one
    Replaced,  // the newer updater has the running one's name from the next start on
    Failed,    // it could not take the name; the running updater stays, and so
               // does the newer one in the release, for the next start
};

struct SelfUpdateResult {
    UpdaterReplacement replacement = UpdaterReplacement::NotNewer;
    // Why it failed: the step SelfUpdate, with the Windows error.
    Failure failure;
};

// When the installed release carries an updater whose version is strictly
// newer than the running one, puts it in the running updater's place. The
// running executable is renamed aside (Windows allows that, not its
// deletion), and put back if the new one cannot take its name. Any failure
// leaves the running updater where it was. Run after every installation and
// at every start, so that a replacement an earlier run could not make (cut
// off, or a file held) is made by the next start whatever its check says.
SelfUpdateResult replaceUpdaterFromRelease();

// What a replacement left beside the updater: the renamed old executable,
// or a copy that was not put in place.
void removeReplacedUpdater();
