#include "update/offer.h"

#include "app/version.h"
#include "common/encoding.h"
#include "download/bounds.h"

#include <utility>

CheckResult judgeManifest(std::wstring installedVersion, ManifestRecord manifest, bool releaseKeysBuilt,
                          bool signatureVerified) {
    // A softer outcome for an unsigned manifest would let whoever holds the
    // server's key freeze or steer the offices.
    if (releaseKeysBuilt && !signatureVerified) {
        return {std::nullopt, {FailureStep::Check, FailureKind::Signature}};
    }
    Offer offer;
    offer.digest = parseSha256(manifest.sha256);
    // Skipping the comparison for a digest that cannot be read would install
    // whatever arrives.
    if (!offer.digest && (!manifest.sha256.empty() || releaseKeysBuilt)) {
        offer.refusal = {FailureStep::Download, FailureKind::DigestFormat};
    }
    // Nor may a size that cannot be read leave the download unbounded.
    offer.size = manifest.size ? parsePackageSize(*manifest.size) : std::nullopt;
    if (manifest.size && !offer.size && !offer.refusal) {
        offer.refusal = {FailureStep::Download, FailureKind::SizeFormat};
    }
    offer.newer = isNewerVersion(parseVersion(manifest.version), parseVersion(installedVersion));
    offer.installedVersion = std::move(installedVersion);
    offer.manifest = std::move(manifest);
    return {std::move(offer), {}};
}
