#include "install/installation.h"

#include "common/file_system.h"
#include "common/layout.h"
#include "install/extraction.h"
#include "install/stop_application.h"

#include <windows.h>

namespace {

constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

bool moveDirectory(const wchar_t* from, const wchar_t* to) {
    return MoveFileExW(from, to, kMoveFlags) != FALSE;
}

}  // namespace

void recoverInterruptedInstallation() {
    if (!pathExists(kApplicationDirectory) && pathExists(kBackupDirectory)) {
        moveDirectory(kBackupDirectory, kApplicationDirectory);
    }
}

InstallResult installPackage() {
    // Windows will not move a directory whose files are in use.
    stopRunningApplication();

    removeTree(kStagingDirectory);
    // Without an application directory (a first installation, or one whose
    // recovery failed) there is nothing to move aside, and a backup is the
    // only good copy left, so it stays.
    const bool hadApplication = pathExists(kApplicationDirectory);
    if (hadApplication) {
        removeTree(kBackupDirectory);
        if (!moveDirectory(kApplicationDirectory, kBackupDirectory)) {
            return InstallResult::InstallationFailed;
        }
    }
    const auto restoreApplication = [hadApplication] {
        if (hadApplication) {
            moveDirectory(kBackupDirectory, kApplicationDirectory);
        }
    };

    if (!extractArchive(kPackageFile, kStagingDirectory)) {
        removeTree(kStagingDirectory);
        restoreApplication();
        return InstallResult::ExtractionFailed;
    }
    if (!moveDirectory(kStagingDirectory, kApplicationDirectory)) {
        restoreApplication();
        return InstallResult::InstallationFailed;
    }
    return InstallResult::Installed;
}
