#pragma once

#include "common/failure.h"

#include <functional>
#include <string>
#include <vector>

// Told that a move is refused while programs hold the folder (true), and that
// it went through after all (false), so that the user sees why nothing moves.
using HeldNotice = std::function<void(bool held)>;

// How a move of a whole release folder ended.
struct FolderMove {
    // None: moved.
    Failure failure;
    // When programs held the folder to the end: up to three of their names,
    // for the box, and all of them with their process ids, for the log.
    std::vector<std::wstring> named;
    std::wstring holders;
};

// Moves a release folder (the application aside, the staging folder into
// its place, the backup back). Windows refuses while programs have its files
// open: the move is tried again, in growing steps, while the programs the
// Restart Manager names change, the folder's own among them stopped as the
// release's programs are, for 30 s in all; programs that hold it unchanged
// for 10 s end it sooner (install/holders.h decides). A refusal other than
// a busy file fails at once. The failure is the step's, with Windows's error.
FolderMove moveHeldFolder(const wchar_t* from, const wchar_t* to, FailureStep step, const HeldNotice& notice);
