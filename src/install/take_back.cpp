#include "install/take_back.h"

#include "app/installed_version.h"
#include "app/refused_release_text.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "install/crash_point.h"

namespace {

Failure failedToTakeBack() {
    return {FailureStep::Start, FailureKind::Disk, 0, GetLastError()};
}

}  // namespace

bool canTakeBack() {
    return pathState(kBackupExe) == PathState::Present;
}

Failure takeBackRelease() {
    if (!removeTree(kDiscardDirectory) || !movePath(kApplicationDirectory, kDiscardDirectory)) {
        return failedToTakeBack();
    }
    crashPointReached(CrashStep::TakenAside);
    if (!movePath(kBackupDirectory, kApplicationDirectory)) {
        return failedToTakeBack();
    }
    return {};
}

void removeTakenBackRelease() {
    removeTree(kDiscardDirectory);
}

bool finishInterruptedTakeBack(const std::optional<VersionNumber>& refused) {
    if (!refused || !canTakeBack()) {
        return false;
    }
    const std::optional<std::wstring> installed = readProductVersion(kApplicationExe);
    if (!installed || !isRefusedRelease(*installed, refused) || takeBackRelease()) {
        return false;
    }
    removeTakenBackRelease();
    return true;
}
