#pragma once

#include "install/start_verdict.h"

#include <cstdint>

// How the first start of a newly installed release went.
struct FirstStart {
    // Healthy, Failed or Undecided.
    StartVerdict verdict = StartVerdict::Undecided;
    // A failed start's code: the application's exit code, or, when it could
    // not be started at all (started false), Windows's error.
    std::uint32_t code = 0;
    bool started = true;
    // From the start to the verdict.
    std::uint64_t ms = 0;
};

// Starts the installed application, as every end of a run does, and looks at
// it every kFirstStartLookMs until judgeFirstStart decides, boundMs at the
// latest. A process belongs to the start when it began since then and its
// image lies in the application's folder, by its path or by the folder's
// identity, so that a launcher's program counts and another office's copy or
// a program that ran before does not. Nothing is shown meanwhile.
FirstStart startAndWatchApplication(std::uint64_t boundMs);
