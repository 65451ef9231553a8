#pragma once

// What one deployment compiles in (cmake/Deployment.cmake); each executable
// links the constants of its own deployment.

#include <windows.h>
#include <winhttp.h>

#include <array>
#include <span>

using KeyDigest = std::array<unsigned char, 32>;

extern const wchar_t kUpdateServerHost[];
extern const INTERNET_PORT kUpdateServerPort;

// SHA-256 of the DER-encoded SubjectPublicKeyInfo of each server key the
// updater trusts: the pinned key, then the backup key when there is one.
extern const std::span<const KeyDigest> kPinnedKeyDigests;
