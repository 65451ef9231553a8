#include "install/installation.h"

#include "app/installed_version.h"
#include "app/version.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "install/crash_point.h"
#include "install/stop_application.h"

namespace {

// Renamed away whole before it is removed, so that under its own name a
// folder is always either complete or gone. True when nothing is left at
// the path; what cannot be removed in the discard folder waits for the
// next run.
bool discardDirectory(const wchar_t* path) {
    if (pathState(path) == PathState::Absent) {
        return true;
    }
    if (!removeTree(kDiscardDirectory) || !movePath(path, kDiscardDirectory)) {
        return false;
    }
    removeTree(kDiscardDirectory);
    return true;
}

// Nothing from before may end up in the new release. The backup goes only
// while the application has its program: otherwise it may be the last
// good copy.
bool removeLeftovers() {
    if (!discardDirectory(kStagingDirectory)) {
        return false;
    }
    return pathState(kApplicationExe) != PathState::Present || discardDirectory(kBackupDirectory);
}

// A package made other than by the release tool may hold its program one
// folder down, or another release than the one offered. Either would leave
// an application that cannot start, or one offered again, whose update then
// deletes the last good copy.
bool stagedReleaseIs(const std::wstring& releaseVersion) {
    const std::optional<std::wstring> stagedVersion = readProductVersion(kStagedExe);
    return stagedVersion && parseVersion(*stagedVersion).parts == parseVersion(releaseVersion).parts;
}

Failure failedAt(FailureStep step, FailureKind kind, DWORD error) {
    return {step, kind, 0, error};
}

// Every file is on the disk once unpacked: the unpacking flushes each.
Failure putStagedReleaseInPlace(const std::wstring& releaseVersion, const UnpackProgress& progress) {
    if (const Failure failure = unpackPackage(kPackageFile, kStagingDirectory, FileFlush::Flushed, progress)) {
        return failure;
    }
    if (!stagedReleaseIs(releaseVersion)) {
        return failedAt(FailureStep::CheckPackage, FailureKind::WrongRelease, 0);
    }
    crashPointReached(CrashStep::Extracted);
    if (!movePath(kStagingDirectory, kApplicationDirectory)) {
        return failedAt(FailureStep::Swap, FailureKind::Disk, GetLastError());
    }
    crashPointReached(CrashStep::Swapped);
    return {};
}

}  // namespace

void recoverInterruptedInstallation() {
    // An application whose program cannot be read may still be complete:
    // only a program known to be absent makes the backup the better copy.
    if (pathState(kApplicationExe) != PathState::Absent || !pathExists(kBackupDirectory)) {
        return;
    }
    switch (pathState(kApplicationDirectory)) {
        case PathState::Absent:
            movePath(kBackupDirectory, kApplicationDirectory);
            break;
        case PathState::Present:
            if (pathExists(kBackupExe) && discardDirectory(kApplicationDirectory)) {
                movePath(kBackupDirectory, kApplicationDirectory);
            }
            break;
        case PathState::Unreadable:
            break;
    }
}

Failure installPackage(const std::wstring& releaseVersion, const UnpackProgress& progress) {
    // Windows will not move a directory whose files are in use.
    if (const Failure failure = stopRunningApplication()) {
        return failure;
    }
    crashPointReached(CrashStep::ApplicationStopped);
    if (!removeLeftovers()) {
        return failedAt(FailureStep::MoveAside, FailureKind::Disk, GetLastError());
    }
    crashPointReached(CrashStep::LeftoversRemoved);
    // Without an application directory (a first installation, or one whose
    // recovery failed) there is nothing to move aside, and a backup is the
    // only good copy left, so it stays.
    const bool hadApplication = pathExists(kApplicationDirectory);
    if (hadApplication && !movePath(kApplicationDirectory, kBackupDirectory)) {
        return failedAt(FailureStep::MoveAside, FailureKind::Disk, GetLastError());
    }
    crashPointReached(CrashStep::ApplicationMovedAside);
    const Failure failure = putStagedReleaseInPlace(releaseVersion, progress);
    if (failure) {
        discardDirectory(kStagingDirectory);
        if (hadApplication) {
            movePath(kBackupDirectory, kApplicationDirectory);
        }
    }
    return failure;
}
