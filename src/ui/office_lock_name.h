#pragma once

#include <string>

// The name of the office folder's lock, the same for every spelling of the
// folder's full path that Windows takes for the same folder: a digest of the
// path in capitals, since a kernel object name cannot hold a backslash
// beyond its namespace. In the global namespace, so that users of other
// sessions working in the same folder see it too.
std::wstring officeLockName(const std::wstring& officeFolder);

// Who holds the office folder when this run may not have it.
enum class OfficeLockHolder {
    Nobody,        // this run has it
    ThisComputer,  // another copy in this session, whose window is brought to the front
    Elsewhere,     // an updater on another PC, in another user's session, or through another path
};

// What opening the lock file gave.
enum class LockFileState {
    Opened,
    // Another updater has it open, from this PC or another.
    HeldByAnother,
    // Neither: a folder this user cannot write to.
    NotOpened,
};

// What creating the mutex named after the folder's path gave.
enum class LockMutexState {
    Created,
    // Another copy in this session made it.
    Existing,
    // Another user's copy made it, in another session (a terminal server),
    // whose window no copy in this one can bring to the front.
    OtherSession,
};

// The lock file decides when it could be had; the mutex, which names the
// folder's path text that another folder may share (drive letters on a
// terminal server), only tells who holds it.
OfficeLockHolder decideOfficeLockHolder(LockFileState file, LockMutexState mutex);
