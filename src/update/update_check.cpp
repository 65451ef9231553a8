#include "update/update_check.h"

#include "net/deployment.h"
#include "net/manifest_request.h"
#include "net/release_signature.h"

#include <utility>

CheckResult checkForUpdate(const std::wstring& installedVersion) {
    std::wstring body;
    if (const Failure failure = fetchManifestText(installedVersion, body)) {
        return {std::nullopt, failure};
    }
    ManifestRecord manifest = readManifest(body);
    const bool releaseKeysBuilt = !kReleasePublicKeys.empty();
    const bool signatureVerified = releaseKeysBuilt && verifyReleaseSignature(manifest, kReleasePublicKeys);
    return judgeManifest(installedVersion, std::move(manifest), releaseKeysBuilt, signatureVerified);
}
