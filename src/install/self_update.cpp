#include "install/self_update.h"

#include "app/installed_version.h"
#include "app/version.h"
#include "common/file_system.h"
#include "common/layout.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

constexpr wchar_t kOldSuffix[] = L".old";
constexpr wchar_t kStagedSuffix[] = L".new";

std::wstring runningUpdaterPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// An updater whose version cannot be read is never taken for newer.
bool isNewer(const std::optional<std::wstring>& candidate, const std::optional<std::wstring>& running) {
    return candidate && running && isNewerVersion(parseVersion(*candidate), parseVersion(*running));
}

// Tried once: the running updater's name is either given up or not, and
// the way back is decided below.
bool moveFile(const std::wstring& from, const std::wstring& to) {
    return moveOnce(from.c_str(), to.c_str());
}

Failure failed(FailureKind kind, DWORD error) {
    return {FailureStep::SelfUpdate, kind, 0, error};
}

// The new updater is complete on disk under a name of its own before the
// running one gives up its name, so that the folder is without an updater
// only between two renames.
Failure putInPlace(const std::wstring& running, const std::optional<std::wstring>& runningVersion) {
    const std::wstring staged = running + kStagedSuffix;
    const std::wstring old = running + kOldSuffix;
    removeFile(staged.c_str());
    if (!copyFile(kReleasedUpdater, staged.c_str()) || !flushFile(staged.c_str())) {
        const Failure failure = failed(FailureKind::Disk, GetLastError());
        removeFile(staged.c_str());
        return failure;
    }
    if (!isNewer(readProductVersion(staged.c_str()), runningVersion)) {
        removeFile(staged.c_str());
        return failed(FailureKind::WrongRelease, 0);
    }
    // The start of this run removed an earlier one, waiting for it a while:
    // one still there is a replaced updater that still runs.
    if (pathState(old.c_str()) != PathState::Absent) {
        removeFile(staged.c_str());
        return failed(FailureKind::Disk, ERROR_ALREADY_EXISTS);
    }
    if (!moveFile(running, old)) {
        const Failure failure = failed(FailureKind::Disk, GetLastError());
        removeFile(staged.c_str());
        return failure;
    }
    if (!moveFile(staged, running)) {
        const Failure failure = failed(FailureKind::Disk, GetLastError());
        if (moveFile(old, running)) {
            removeFile(staged.c_str());
            return failure;
        }
        // The old updater cannot have its name back either: the new one,
        // complete and checked, is better under it than none, and stays
        // beside it for the next start when even that fails.
        return moveFile(staged, running) ? Failure{} : failure;
    }
    return {};
}

}  // namespace

Failure replaceUpdaterFromRelease(SupportLog& log) {
    const std::wstring running = runningUpdaterPath();
    const std::optional<std::wstring> runningVersion =
        running.empty() ? std::nullopt : readProductVersion(running.c_str());
    const std::optional<std::wstring> releasedVersion = readProductVersion(kReleasedUpdater);
    if (!isNewer(releasedVersion, runningVersion)) {
        log.write("selfupdate", {{"result", "none"}});
        return {};
    }
    const Failure failure = putInPlace(running, runningVersion);
    log.write("selfupdate", {{"result", failure ? "failed" : "replaced"},
                             {"from", *runningVersion},
                             {"to", *releasedVersion},
                             {"cause", failureKindName(failure.kind)},
                             {"error", failure.systemError}});
    return failure;
}

void removeReplacedUpdater() {
    const std::wstring running = runningUpdaterPath();
    if (!running.empty()) {
        removeFile((running + kOldSuffix).c_str());
        removeFile((running + kStagedSuffix).c_str());
    }
}
