#pragma once

// What to do when Windows refuses to move a folder because programs have its
// files open: an Explorer window, a report opened in Excel, a program of the
// release that still runs, a virus scanner. The Restart Manager names the
// programs that hold the folder's files; these rules decide, look by look,
// which of them to stop (only the folder's own programs, each once), which
// to name to the user (up to three), and when to stop retrying: holders that
// stay the same are not going to let go, and the whole wait is bounded.
// Kept free of side effects: installation.cpp asks and acts.

#include <windows.h>

#include <string>
#include <vector>

// A program that holds files of the folder.
struct Holder {
    DWORD processId = 0;
    // The Restart Manager's name for it, else its program's file name; empty
    // when neither is known.
    std::wstring name;
    // Its program lies inside the folder: one of the release's own programs.
    bool ofFolder = false;
    // This updater.
    bool self = false;
};

// One look at who holds the folder.
struct HolderLook {
    // False: the Restart Manager could not be asked, or failed.
    bool answered = false;
    std::vector<Holder> holders;
};

struct HoldBounds {
    // The whole wait, from the first refused move.
    ULONGLONG totalMs = 30000;
    // How long the same holders may hold it before they count as staying.
    ULONGLONG steadyMs = 10000;
};

// What the looks so far have seen.
struct HoldWatch {
    ULONGLONG startedMs = 0;
    // The process ids of the last look's holders, sorted, and since when
    // the looks have seen just these.
    std::vector<DWORD> seen;
    ULONGLONG seenSinceMs = 0;
    // The folder's own programs that were already asked to stop.
    std::vector<DWORD> stopped;
};

struct HoldVerdict {
    HoldWatch watch;
    // The folder's own programs seen for the first time: stopped as the
    // release's programs are, before the move is tried again.
    std::vector<DWORD> stop;
    // For the box: the holders' names in the Restart Manager's order, each
    // once, up to three; a program being stopped now is not named.
    std::vector<std::wstring> named;
    bool giveUp = false;
};

HoldWatch startHoldWatch(ULONGLONG nowMs);
HoldVerdict judgeHolders(const HoldWatch& watch, const HolderLook& look, ULONGLONG nowMs, const HoldBounds& bounds);

// The holders for the support log: "name (pid), ...", "none" when the
// Restart Manager named nobody, "unknown" when it could not be asked.
std::wstring holdersLogText(const HolderLook& look);
