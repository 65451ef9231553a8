#pragma once

// What the check makes of the server's answer, decided in one place: whether
// the answer is believed at all, and whether the release it names may be
// downloaded.

#include "common/failure.h"
#include "common/sha256.h"
#include "net/manifest.h"

#include <cstdint>
#include <optional>
#include <string>

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
    // Strictly newer than the installed version: only then is it offered.
    bool newer = false;
    // Set when the release may not be downloaded: the update then fails as a
    // download does, before any package request.
    Failure refusal;
};

// Either an offer, or why the check failed.
struct CheckResult {
    std::optional<Offer> offer;
    Failure failure;
};

// The trust rules. A build with release keys believes only a manifest whose
// signature verified with one of them; anything else fails the check, as a
// wrong server key does. A "sha256" that is given must be 64 hexadecimal
// digits, and a signed release must give one (the signature vouches for the
// package only through it); otherwise the offer stands but is refused, as it
// is for a "size" that is given but is not a whole number of bytes.
CheckResult judgeManifest(std::wstring installedVersion, ManifestRecord manifest, bool releaseKeysBuilt,
                          bool signatureVerified);
