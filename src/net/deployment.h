#pragma once

// What one deployment compiles in (cmake/Deployment.cmake); each executable
// links the constants of its own deployment.

#include <windows.h>
#include <winhttp.h>

#include <array>
#include <span>

using KeyDigest = std::array<unsigned char, 32>;
// An ECDSA P-256 public key as X || Y, 32 big-endian bytes each.
using ReleasePublicKey = std::array<unsigned char, 64>;

extern const wchar_t kUpdateServerHost[];
extern const INTERNET_PORT kUpdateServerPort;

// SHA-256 of the DER-encoded SubjectPublicKeyInfo of each server key the
// updater trusts: the pinned key, then the backup key when there is one.
extern const std::span<const KeyDigest> kPinnedKeyDigests;

// The keys a manifest's signature must verify with: the release key, then
// its backup when there is one. Empty when the build has none: manifests are
// then taken unsigned.
extern const std::span<const ReleasePublicKey> kReleasePublicKeys;
