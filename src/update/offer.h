#pragma once

// What the check makes of the server's answer, decided in one place: whether
// the answer is believed at all, whether the release it names may be
// downloaded, and whether this office is among those it is offered to.

#include "common/failure.h"
#include "common/sha256.h"
#include "net/manifest.h"
#include "net/network_route.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where a release offered in stages ("rollout", the percentage of offices)
// leaves this office.
enum class RolloutPlace {
    Inside,
    // The share does not reach the office's bucket.
    Outside,
    // The office cannot tell whether it is inside: the rollout is not a whole
    // number from 0 to 100, or there is no office id to place it by.
    Unplaced,
};

// A release the server named, judged once for the whole run.
struct Offer {
    // The installed version, as the server was asked with it.
    std::wstring installedVersion;
    ManifestRecord manifest;
    // The manifest's "sha256"; none when it gives none, or none readable.
    std::optional<Sha256Digest> digest;
    // The manifest's "size", the package's length; none when it gives none,
    // or none readable.
    std::optional<std::uint64_t> size;
    // Strictly newer than the installed version: only then is it offered,
    // and only to an office inside the release's rollout.
    bool newer = false;
    RolloutPlace place = RolloutPlace::Inside;
    // The office's bucket for this release, when it has one (rolloutBucket).
    std::optional<std::uint32_t> bucket;
    // Set when the release may not be downloaded: the update then fails as a
    // download does, before any package request.
    Failure refusal;
};

// Either an offer, or why the check failed; and the route the check took,
// which the rest of the run keeps.
struct CheckResult {
    std::optional<Offer> offer;
    Failure failure;
    NetworkRoute route{};
};

// The trust rules. A build with release keys believes only a manifest whose
// signature verified with one of them; anything else fails the check, as a
// wrong server key does. A "sha256" that is given must be 64 hexadecimal
// digits, and a signed release must give one (the signature vouches for the
// package only through it); otherwise the offer stands but is refused, as it
// is for a "size" that is given but is not a whole number of bytes.
CheckResult judgeManifest(std::wstring installedVersion, ManifestRecord manifest, bool releaseKeysBuilt,
                          bool signatureVerified);

// An office's place in a release's rollout is its bucket, from 0 to
// kRolloutBuckets - 1: the first 4 bytes, big-endian, of the SHA-256 of
// rolloutPlaceText, modulo kRolloutBuckets. The same office keeps its bucket
// while a release widens, and gets an unrelated one for the next release, so
// that the same offices are not always the first.
inline constexpr std::uint32_t kRolloutBuckets = 10000;
// "<office id>/<version>", the version exactly as the manifest gives it.
std::string rolloutPlaceText(std::string_view officeId, const std::wstring& version);
std::uint32_t rolloutBucket(const Sha256Digest& placeDigest);

// Inside when the manifest gives no rollout, or when the bucket is below the
// rollout times 100. The rollout is the text the manifest reader gives (a
// number's leading digits, so that 10.5 reads as 10, as every numeric key
// does); one that is not a whole number from 0 to 100 written as JSON writes
// it places no office: taking the release then would let a typing error reach
// every office at once, while staying outside costs only a delay until the
// vendor publishes a readable manifest.
RolloutPlace rolloutPlace(const std::optional<std::wstring>& rollout, std::optional<std::uint32_t> bucket);
