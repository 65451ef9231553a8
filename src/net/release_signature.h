#pragma once

// Releases signed with the vendor's offline key. The server's key only proves
// whom the updater talks to; the release key proves what it installs, so a
// stolen server can publish nothing an office would install.

#include "net/deployment.h"
#include "net/manifest.h"

#include <span>

// True when the manifest's signature is ECDSA P-256 over the SHA-256 of its
// release message by one of the keys.
bool verifyReleaseSignature(const ManifestRecord& manifest, std::span<const ReleasePublicKey> keys);
