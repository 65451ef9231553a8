#pragma once

#include "common/failure.h"
#include "common/support_log.h"

// After a successful installation: when the new release carries an updater
// whose version is strictly newer than the running one, puts it in the
// running updater's place. The running executable is renamed aside (Windows
// allows that, not its deletion), and put back if the new one cannot take
// its name. Any failure leaves the running updater where it was, and is the
// step SelfUpdate's; what happened goes to the log.
Failure replaceUpdaterFromRelease(SupportLog& log);

// What a replacement left beside the updater: the renamed old executable,
// or a copy that was not put in place.
void removeReplacedUpdater();
