#pragma once

// What the first start of a newly installed release says about it. Only a
// release that ended before it showed any window is taken back: once a
// window is up, the program may have begun to change the office's data, and
// a previous release must not run on what a newer one wrote.

#include <cstdint>
#include <optional>

// How long a first start may take before it is left undecided (a program
// still starting, a hang, a crash box left open), and how often it is looked at.
inline constexpr std::uint64_t kFirstStartBoundMs = 60000;
inline constexpr std::uint32_t kFirstStartLookMs = 100;

// One look, in this order: the application's own process first, then the
// other processes, then the windows. A launcher that started the program and
// ended before the look is then never taken for a start that failed.
struct StartLook {
    // The exit code of the application's own process, once it has ended.
    std::optional<std::uint32_t> applicationExit;
    // A process started from the application's folder since the start, the
    // application's own included, is running.
    bool running = false;
    // One of them has a visible top-level window.
    bool windowShown = false;
    std::uint64_t elapsedMs = 0;
};

enum class StartVerdict {
    Watching,   // nothing to say yet: look again
    Healthy,    // a window showed
    Failed,     // every process ended without a window
    Undecided,  // neither within the bound: the release is kept
};

StartVerdict judgeFirstStart(const StartLook& look, std::uint64_t boundMs);
