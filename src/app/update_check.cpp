#include "app/update_check.h"

#include "app/version.h"
#include "net/manifest.h"
#include "net/manifest_request.h"

#include <algorithm>
#include <utility>

UpdateRecord updateRecord;

std::wstring normalizedInstalledVersion(std::wstring version) {
    if (version.empty()) {
        version = kDefaultInstalledVersion;
    }
    std::replace(version.begin(), version.end(), L'+', L'.');
    return version;
}

bool checkForUpdate() {
    readInstalledVersion();
    updateRecord.installedVersion = normalizedInstalledVersion(std::move(updateRecord.installedVersion));

    std::wstring body;
    if (!fetchManifestText(updateRecord.installedVersion, body)) {
        return false;
    }
    ManifestRecord manifest = readManifest(body);
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
