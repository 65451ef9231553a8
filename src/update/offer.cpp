#include "update/offer.h"

#include "app/version.h"
#include "common/encoding.h"
#include "download/bounds.h"

#include <utility>

namespace {

// "0" or a number without leading zeros, up to 100: what the release tool writes.
std::optional<std::uint32_t> rolloutPercent(const std::wstring& text) {
    const std::optional<std::uint64_t> percent = parseJsonWholeNumber(text);
    return percent && *percent <= 100 ? std::optional(static_cast<std::uint32_t>(*percent)) : std::nullopt;
}

}  // namespace

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

std::string rolloutPlaceText(std::string_view officeId, const std::wstring& version) {
    return std::string(officeId) + "/" + encodeUtf8(version);
}

std::uint32_t rolloutBucket(const Sha256Digest& placeDigest) {
    const std::uint32_t first = (std::uint32_t{placeDigest[0]} << 24) | (std::uint32_t{placeDigest[1]} << 16) |
                                (std::uint32_t{placeDigest[2]} << 8) | std::uint32_t{placeDigest[3]};
    return first % kRolloutBuckets;
}

RolloutPlace rolloutPlace(const std::optional<std::wstring>& rollout, std::optional<std::uint32_t> bucket) {
    if (!rollout) {
        return RolloutPlace::Inside;
    }
    const std::optional<std::uint32_t> percent = rolloutPercent(*rollout);
    if (percent == 0u || percent == 100u) {
        return percent == 100u ? RolloutPlace::Inside : RolloutPlace::Outside;
    }
    if (!percent || !bucket) {
        return RolloutPlace::Unplaced;
    }
    return *bucket < *percent * (kRolloutBuckets / 100) ? RolloutPlace::Inside : RolloutPlace::Outside;
}
