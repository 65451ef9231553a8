#include "install/self_update.h"

#include "app/installed_version.h"
#include "app/version.h"
#include "common/file_system.h"
#include "common/layout.h"

#include <windows.h>

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

bool isNewerUpdater(const wchar_t* candidate, const std::wstring& running) {
    const auto candidateVersion = readProductVersion(candidate);
    const auto runningVersion = readProductVersion(running.c_str());
    // An updater whose version cannot be read is never taken for newer.
    return candidateVersion && runningVersion &&
           isNewerVersion(parseVersion(*candidateVersion), parseVersion(*runningVersion));
}

bool moveFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// The copy that was not put in place goes; the error is the one that failed
// the step, taken before the clean-up.
SelfUpdateResult failedReplacement(const std::wstring& staged, DWORD error) {
    removeTree(staged.c_str());
    return {UpdaterReplacement::Failed, {FailureStep::SelfUpdate, FailureKind::Disk, 0, error}};
}

}  // namespace

SelfUpdateResult replaceUpdaterFromRelease() {
    const std::wstring running = runningUpdaterPath();
    if (running.empty() || !isNewerUpdater(kReleasedUpdater, running)) {
        return {};
    }
    // The new updater is complete on disk under a name of its own before the
    // running one gives up its name, so that the folder is without an
    // updater only between two renames.
    const std::wstring staged = running + kStagedSuffix;
    const std::wstring old = running + kOldSuffix;
    removeTree(staged.c_str());
    if (!CopyFileW(kReleasedUpdater, staged.c_str(), FALSE) || !flushFile(staged.c_str()) ||
        !isNewerUpdater(staged.c_str(), running)) {
        return failedReplacement(staged, GetLastError());
    }
    // The start of this run removed an earlier one, waiting for it a while:
    // one still there is a replaced updater that still runs.
    if (pathState(old.c_str()) != PathState::Absent) {
        return failedReplacement(staged, ERROR_ALREADY_EXISTS);
    }
    if (!moveFile(running, old)) {
        return failedReplacement(staged, GetLastError());
    }
    if (!moveFile(staged, running)) {
        const DWORD error = GetLastError();
        moveFile(old, running);
        return failedReplacement(staged, error);
    }
    return {UpdaterReplacement::Replaced, {}};
}

void removeReplacedUpdater() {
    const std::wstring running = runningUpdaterPath();
    if (!running.empty()) {
        removeTree((running + kOldSuffix).c_str());
        removeTree((running + kStagedSuffix).c_str());
    }
}
