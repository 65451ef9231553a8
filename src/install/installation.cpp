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

// Runs one step and logs it with its duration.
template <typename Step>
Failure timed(SupportLog& log, FailureStep step, Step&& run) {
    const ULONGLONG started = GetTickCount64();
    const Failure failure = run();
    log.write("install", {{"step", failureStepName(step)},
                          {"ms", GetTickCount64() - started},
                          {"result", failure ? "failed" : "done"}});
    return failure;
}

// Without an application directory (a first installation, or one whose
// recovery failed) there is nothing to move aside, and a backup is the only
// good copy left, so it stays.
Failure moveApplicationAside(bool& hadApplication) {
    if (!removeLeftovers()) {
        return failedAt(FailureStep::MoveAside, FailureKind::Disk, GetLastError());
    }
    crashPointReached(CrashStep::LeftoversRemoved);
    hadApplication = pathExists(kApplicationDirectory);
    if (hadApplication && !movePath(kApplicationDirectory, kBackupDirectory)) {
        return failedAt(FailureStep::MoveAside, FailureKind::Disk, GetLastError());
    }
    return {};
}

// Every file is on the disk once unpacked: the unpacking flushes each.
Failure putStagedReleaseInPlace(const std::wstring& releaseVersion, const UnpackProgress& progress,
                                SupportLog& log) {
    if (const Failure failure = timed(log, FailureStep::Unpack, [&progress] {
            return unpackPackage(kPackageFile, kStagingDirectory, FileFlush::Flushed, progress);
        })) {
        return failure;
    }
    if (const Failure failure = timed(log, FailureStep::CheckPackage, [&releaseVersion] {
            return stagedReleaseIs(releaseVersion) ? Failure{}
                                                   : failedAt(FailureStep::CheckPackage, FailureKind::WrongRelease, 0);
        })) {
        return failure;
    }
    crashPointReached(CrashStep::Extracted);
    if (const Failure failure = timed(log, FailureStep::Swap, [] {
            return movePath(kStagingDirectory, kApplicationDirectory)
                       ? Failure{}
                       : failedAt(FailureStep::Swap, FailureKind::Disk, GetLastError());
        })) {
        return failure;
    }
    crashPointReached(CrashStep::Swapped);
    return {};
}

}  // namespace

bool recoverInterruptedInstallation() {
    // An application whose program cannot be read may still be complete:
    // only a program known to be absent makes the backup the better copy.
    if (pathState(kApplicationExe) != PathState::Absent || !pathExists(kBackupDirectory)) {
        return false;
    }
    switch (pathState(kApplicationDirectory)) {
        case PathState::Absent:
            return movePath(kBackupDirectory, kApplicationDirectory);
        case PathState::Present:
            return pathExists(kBackupExe) && discardDirectory(kApplicationDirectory) &&
                   movePath(kBackupDirectory, kApplicationDirectory);
        case PathState::Unreadable:
            break;
    }
    return false;
}

Failure installPackage(const std::wstring& releaseVersion, const UnpackProgress& progress, SupportLog& log) {
    // Windows will not move a directory whose files are in use.
    if (const Failure failure = timed(log, FailureStep::StopApplication, [] { return stopRunningApplication(); })) {
        return failure;
    }
    crashPointReached(CrashStep::ApplicationStopped);
    bool hadApplication = false;
    if (const Failure failure = timed(log, FailureStep::MoveAside, [&hadApplication] {
            return moveApplicationAside(hadApplication);
        })) {
        return failure;
    }
    crashPointReached(CrashStep::ApplicationMovedAside);
    const Failure failure = putStagedReleaseInPlace(releaseVersion, progress, log);
    if (failure) {
        discardDirectory(kStagingDirectory);
        if (hadApplication) {
            movePath(kBackupDirectory, kApplicationDirectory);
        }
    }
    return failure;
}
