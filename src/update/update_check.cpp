#include "update/update_check.h"

#include "net/deployment.h"
#include "net/manifest_request.h"
#include "net/release_signature.h"

#include <utility>

CheckResult checkForUpdate(const std::wstring& installedVersion, NetworkRoute route) {
    std::wstring body;
    if (const Failure failure = fetchManifestText(installedVersion, route, body)) {
        return {std::nullopt, failure, std::move(route)};
    }
    ManifestRecord manifest = readManifest(body);
    const bool releaseKeysBuilt = !kReleasePublicKeys.empty();
    const bool signatureVerified = releaseKeysBuilt && verifyReleaseSignature(manifest, kReleasePublicKeys);
    CheckResult result = judgeManifest(installedVersion, std::move(manifest), releaseKeysBuilt, signatureVerified);
    result.route = std::move(route);
    return result;
}
