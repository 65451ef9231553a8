#include "install/installation.h"

#include "app/installed_version.h"
#include "app/version.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "install/crash_point.h"
#include "install/held_folder.h"
#include "install/stop_application.h"

namespace {

// Frees the path of a folder: the folder is renamed away whole before it is
// removed, so that under its own name it is always either complete or gone.
// True when the path is free, also when some of the folder's content (a file
// still in use) waits in the discard folder, which the next run removes
// before anything else.
bool vacatePath(const wchar_t* path) {
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
    if (!vacatePath(kStagingDirectory)) {
        return false;
    }
    return pathState(kApplicationExe) != PathState::Present || vacatePath(kBackupDirectory);
}

Failure failedAt(FailureStep step, FailureKind kind, DWORD error) {
    return {step, kind, 0, error};
}

// A package made other than by the release tool may hold its program one
// folder down, or another release than the one offered. Either would leave
// an application that cannot start, or one offered again, whose update then
// deletes the last good copy. A program that cannot be read (a scanner that
// holds or took it) says why.
Failure verifyStagedRelease(const std::wstring& releaseVersion) {
    if (!openFile(kStagedExe, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
        const DWORD error = GetLastError();
        return failedAt(FailureStep::Verify, error == ERROR_FILE_NOT_FOUND ? FailureKind::WrongRelease : FailureKind::Disk,
                        error == ERROR_FILE_NOT_FOUND ? 0 : error);
    }
    const std::optional<std::wstring> stagedVersion = readProductVersion(kStagedExe);
    return stagedVersion && parseVersion(*stagedVersion).parts == parseVersion(releaseVersion).parts
               ? Failure{}
               : failedAt(FailureStep::Verify, FailureKind::WrongRelease, 0);
}

// A step's line: its duration, and the programs that held its folder when
// they made it fail. Written once per step: kept small rather than fast.
[[gnu::cold]] void logStep(SupportLog& log, FailureStep step, ULONGLONG started, const Failure& failure, const FolderMove* move) {
    const LogField name("step", failureStepName(step));
    const LogField ms("ms", GetTickCount64() - started);
    const LogField result("result", failure ? "failed" : "done");
    if (move != nullptr && !move->holders.empty()) {
        log.write("install", {name, ms, result, {"holders", log.impersonal(move->holders)}});
    } else {
        log.write("install", {name, ms, result});
    }
}

// Runs one step and logs it.
template <typename Step>
Failure timed(SupportLog& log, FailureStep step, Step&& run, const FolderMove* move = nullptr) {
    const ULONGLONG started = GetTickCount64();
    const Failure failure = run();
    logStep(log, step, started, failure, move);
    return failure;
}

// Without an application directory (a first installation, or one whose
// recovery failed) there is nothing to move aside, and a backup is the only
// good copy left, so it stays.
Failure moveApplicationAside(bool& hadApplication, FolderMove& move, const HeldNotice& held) {
    if (!removeLeftovers()) {
        return failedAt(FailureStep::MoveAside, FailureKind::Disk, GetLastError());
    }
    crashPointReached(CrashStep::LeftoversRemoved);
    hadApplication = pathExists(kApplicationDirectory);
    if (hadApplication) {
        move = moveHeldFolder(kApplicationDirectory, kBackupDirectory, FailureStep::MoveAside, held);
    }
    return move.failure;
}

// Every file is on the disk once unpacked: the unpacking flushes each.
Failure putStagedReleaseInPlace(const std::wstring& releaseVersion, const UnpackProgress& progress,
                                const HeldNotice& held, SupportLog& log, FolderMove& move) {
    if (const Failure failure = timed(log, FailureStep::Unpack, [&progress] {
            return unpackPackage(kPackageFile, kStagingDirectory, FileFlush::Flushed, progress);
        })) {
        return failure;
    }
    if (const Failure failure =
            timed(log, FailureStep::Verify, [&releaseVersion] { return verifyStagedRelease(releaseVersion); })) {
        return failure;
    }
    crashPointReached(CrashStep::Extracted);
    if (const Failure failure = timed(
            log, FailureStep::Swap,
            [&] { return (move = moveHeldFolder(kStagingDirectory, kApplicationDirectory, FailureStep::Swap, held)).failure; },
            &move)) {
        return failure;
    }
    crashPointReached(CrashStep::Swapped);
    return {};
}

// The old application back in its place after a failed step. When even
// that is refused to the end, the application folder is missing until the
// next start's repair puts the backup back, and the failure is the rollback's.
[[gnu::cold]] Installation rollBack(Installation failed, bool hadApplication, const HeldNotice& held, SupportLog& log) {
    vacatePath(kStagingDirectory);
    if (!hadApplication) {
        return failed;
    }
    FolderMove back;
    if (const Failure failure = timed(
            log, FailureStep::Rollback,
            [&] {
                return (back = moveHeldFolder(kBackupDirectory, kApplicationDirectory, FailureStep::Rollback, held)).failure;
            },
            &back)) {
        return {failure, !back.holders.empty(), std::move(back.named)};
    }
    return failed;
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
            return pathExists(kBackupExe) && vacatePath(kApplicationDirectory) &&
                   movePath(kBackupDirectory, kApplicationDirectory);
        case PathState::Unreadable:
            break;
    }
    return false;
}

Installation installPackage(const std::wstring& releaseVersion, const UnpackProgress& progress,
                            const HeldNotice& held, SupportLog& log) {
    // Windows will not move a directory whose programs run.
    if (const Failure failure = timed(log, FailureStep::Stop, [] { return stopReleasePrograms(); })) {
        return {failure, false, {}};
    }
    crashPointReached(CrashStep::ApplicationStopped);
    bool hadApplication = false;
    FolderMove move;
    if (const Failure failure = timed(
            log, FailureStep::MoveAside, [&] { return moveApplicationAside(hadApplication, move, held); }, &move)) {
        return {failure, !move.holders.empty(), std::move(move.named)};
    }
    crashPointReached(CrashStep::ApplicationMovedAside);
    if (const Failure failure = putStagedReleaseInPlace(releaseVersion, progress, held, log, move)) {
        return rollBack({failure, !move.holders.empty(), std::move(move.named)}, hadApplication, held, log);
    }
    return {};
}
