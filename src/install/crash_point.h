#pragma once

#include <cstdint>

// The steps of an installation, and of taking back a release whose first
// start failed, between which a crash or a power cut can end the updater.
// The test build can end itself at any of them, to prove that each leaves a
// working application or one that the next start puts back; the release
// build has no trace of it, nor of the other test switches of the
// installation below.
enum class CrashStep {
    ApplicationStopped,
    LeftoversRemoved,
    ApplicationMovedAside,
    Extracting,
    Extracted,
    Swapped,
    // The failed release is kept as refused, and still in place.
    Refused,
    // The failed release is moved aside, and the previous one not yet back.
    TakenAside,
};

#include "install/holders.h"

#ifdef NIRVA_CRASH_POINTS
// Ends the process at once when NIRVA_CRASH_AT names the step.
void crashPointReached(CrashStep step);
// Half-way through unpacking, waits NIRVA_UNPACK_DELAY_MS milliseconds, so
// that a test has time to act while the installation runs.
void pauseUnpackingForTests();
// NIRVA_HOLD_BOUND_MS shortens the wait for a held folder to that many
// milliseconds in all, a third of them for holders that stay, so that a test
// meets its end in moments.
void applyHoldBoundsSwitch(HoldBounds& bounds);
// The bound of a first start's watch: NIRVA_FIRST_START_MS milliseconds when
// given, so that a test of a start that never decides need not wait a minute.
std::uint64_t firstStartBoundMs(std::uint64_t bound);
#else
inline void crashPointReached(CrashStep) {}
inline void pauseUnpackingForTests() {}
inline void applyHoldBoundsSwitch(HoldBounds&) {}
inline std::uint64_t firstStartBoundMs(std::uint64_t bound) {
    return bound;
}
#endif
