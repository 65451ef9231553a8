#pragma once

// Releases signed with the vendor's offline key. The server's key only proves
// whom the updater talks to; the release key proves what it installs, so a
// stolen server can publish nothing an office would install.

#include "net/deployment.h"
#include "net/manifest.h"

#include <optional>
#include <span>
#include <string>

using ReleaseSignature = std::array<unsigned char, 64>;

// The bytes a release signature covers, a contract that every signing tool
// follows: "NIRVA release manifest v2", then for version, url, sha256, size,
// rollout, mandatory ("true" or "false"), releaseDate, uploadDate and notes,
// in this order, a byte 0xFF and the value as the manifest reader extracted
// it, in UTF-8: size and rollout as the decimal text the manifest holds, an
// absent size as the empty text and an absent rollout as "100", which is what
// its absence means. 0xFF never occurs in UTF-8, so no value can run into the
// next.
std::string releaseMessage(const ManifestRecord& manifest);

// r || s from standard base64 with padding; none for any other text.
std::optional<ReleaseSignature> decodeReleaseSignature(const std::wstring& text);

// True when the manifest's signature is ECDSA P-256 over the SHA-256 of its
// release message by one of the keys.
bool verifyReleaseSignature(const ManifestRecord& manifest, std::span<const ReleasePublicKey> keys);
