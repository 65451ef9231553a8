#pragma once

// The steps of an installation between which a crash or a power cut can end
// the updater. The test build can end itself at any of them, to prove that
// each leaves a working application or one that the next start puts back;
// the release build has no trace of it.
enum class CrashStep { ApplicationStopped, LeftoversRemoved, ApplicationMovedAside, Extracting, Extracted, Swapped };

#ifdef NIRVA_CRASH_POINTS
// Ends the process at once when NIRVA_CRASH_AT names the step.
void crashPointReached(CrashStep step);
// Half-way through unpacking, waits NIRVA_UNPACK_DELAY_MS milliseconds, so
// that a test has time to act while the installation runs.
void pauseUnpackingForTests();
#else
inline void crashPointReached(CrashStep) {}
inline void pauseUnpackingForTests() {}
#endif
