#pragma once

#include <atomic>

// While the worker downloads, two things may happen first: the worker begins
// the installation, or the window ends the run (the later routine has
// stopped the application, or the window is closed). The gate lets exactly
// one of them happen. After an installation has begun, the run ends only
// with its outcome, since ending the process half-way would leave the office
// without its application; after the run has ended, no installation begins,
// since the process is about to go. Shared by the window and its worker.
class InstallationGate {
public:
    // The worker, before it touches the application: false when the run has
    // ended, and nothing may be installed.
    bool beginInstallation() { return claim(kInstalling); }
    // The window, before it ends the run while the worker may still install:
    // false when an installation has begun, whose outcome ends the run.
    bool endRun() { return claim(kEnded); }

private:
    static constexpr int kOpen = 0;
    static constexpr int kInstalling = 1;
    static constexpr int kEnded = 2;

    // True for the first claim, and for a claim of what already holds.
    bool claim(int wanted) {
        int expected = kOpen;
        return state_.compare_exchange_strong(expected, wanted) || expected == wanted;
    }

    std::atomic<int> state_{kOpen};
};
