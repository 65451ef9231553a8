#pragma once

// An installation interrupted between moving the application aside and
// putting the new one in place leaves only the backup: put it back.
void recoverInterruptedInstallation();

enum class InstallResult { Installed, ExtractionFailed, InstallationFailed };

// Stops the running application and replaces the application directory with
// the downloaded package. Every failure puts the old application back before
// it returns.
InstallResult installPackage();
