#include "update/update_check.h"

#include "net/deployment.h"
#include "net/manifest_request.h"
#include "net/release_signature.h"
#include "net/request_path.h"
#include "update/office_bucket.h"

#include <utility>

CheckResult checkForUpdate(const std::wstring& installedVersion, NetworkRoute route, std::string_view officeId,
                           SupportLog& log) {
    std::wstring body;
    Failure failure;
    {
        RequestLogLine line(log, checkRequestPath(installedVersion));
        ExchangeSummary summary;
        failure = fetchManifestText(installedVersion, route, body, summary);
        line.status = summary.status;
        line.bytes = summary.bytes;
        line.error = failure.systemError;
    }
    if (failure) {
        return {std::nullopt, failure, std::move(route)};
    }
    ManifestRecord manifest = readManifest(body);
    const bool releaseKeysBuilt = !kReleasePublicKeys.empty();
    const bool signatureVerified = releaseKeysBuilt && verifyReleaseSignature(manifest, kReleasePublicKeys);
    CheckResult check = judgeManifest(installedVersion, std::move(manifest), releaseKeysBuilt, signatureVerified);
    check.route = std::move(route);
    if (check.offer && check.offer->newer && check.offer->manifest.rollout) {
        Offer& offer = *check.offer;
        offer.bucket = officeBucket(officeId, offer.manifest.version);
        offer.place = rolloutPlace(offer.manifest.rollout, offer.bucket);
    }
    return check;
}
