#pragma once

#include "common/failure.h"
#include "common/support_log.h"

// When the installed release carries an updater whose version is strictly
// newer than the running one, puts it in the running updater's place. The
// running executable is renamed aside (Windows allows that, not its
// deletion), and put back if the new one cannot take its name. Any failure
// leaves the running updater where it was, and is the step SelfUpdate's;
// what happened goes to the log. Run after every installation and at every
// start, so that a replacement an earlier run could not make (cut off, or a
// file held) is made by the next start whatever its check says.
Failure replaceUpdaterFromRelease(SupportLog& log);

// What a replacement left beside the updater: the renamed old executable,
// or a copy that was not put in place.
void removeReplacedUpdater();
