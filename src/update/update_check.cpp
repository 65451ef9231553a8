#include "update/update_check.h"

#include "app/installed_version.h"
#include "app/version.h"
#include "common/texts.h"
#include "net/manifest.h"
#include "net/manifest_request.h"
#include "net/release_signature.h"

#include <windows.h>

#include <utility>

UpdateRecord updateRecord;

bool checkForUpdate(NetworkRoute& route) {
    InstalledVersion installed = readInstalledVersion();
    if (installed.unreadable) {
        MessageBoxW(nullptr, kVersionReadFailureText, kPersianErrorCaption, MB_ICONERROR | MB_OK);
    }
    updateRecord.installedVersion = normalizedInstalledVersion(std::move(installed.text));

    std::wstring body;
    if (!fetchManifestText(updateRecord.installedVersion, route, body)) {
        return false;
    }
    ManifestRecord manifest = readManifest(body);
    // A build with a release key believes only a manifest signed with it:
    // anything else is a failed check, as a wrong server key is. A softer
    // outcome would let whoever holds the server's key freeze or steer the
    // offices.
    if (!kReleasePublicKeys.empty() && !verifyReleaseSignature(manifest, kReleasePublicKeys)) {
        return false;
    }
    updateRecord.version = std::move(manifest.version);
    updateRecord.url = std::move(manifest.url);
    updateRecord.sha256 = std::move(manifest.sha256);
    updateRecord.notes = std::move(manifest.notes);
    updateRecord.releaseDate = std::move(manifest.releaseDate);
    updateRecord.uploadDate = std::move(manifest.uploadDate);
    updateRecord.mandatory = manifest.mandatory;
    updateRecord.forcedUpdate = updateRecord.mandatory;
    return true;
}
