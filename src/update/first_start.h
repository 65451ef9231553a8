#pragma once

#include "common/failure.h"
#include "common/support_log.h"
#include "update/report_sender.h"

#include <string>

// The release a run installed, whose first start is made and watched once
// the window is gone.
struct InstalledRelease {
    // The version the offer was made to, which the report names.
    std::wstring from;
    std::wstring version;
    // None, or the updater's replacement that failed (SelfUpdate): the
    // release is in place all the same.
    Failure failure;
};

// Starts the installed release and watches its first start (the office lock
// still held, so that no other updater installs meanwhile). One that ended
// before it showed a window is taken back: the office keeps it as refused,
// the previous release is put back and started, once. One that showed a
// window, or neither within the bound, is kept. The heal line says which;
// the report is sent once the watch has decided: installed, or rolledback
// at the step start with the failed start's code, or failed there when there
// was no previous release to put back or it could not be. False when the
// previous release is there but could not be put back now: the next start
// finishes the take-back, and the user must be told so.
bool startInstalledRelease(const InstalledRelease& release, SupportLog& log, ReportSender& reports);
