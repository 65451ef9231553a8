#pragma once

#include "common/owned_handles.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

using Sha256Digest = std::array<unsigned char, 32>;

// SHA-256 over bytes given piece by piece, with the system's implementation.
struct Sha256Hasher {
    OwnedAlgorithmProvider algorithm;
    OwnedHash hash;
};

bool startSha256(Sha256Hasher& hasher);
bool addToSha256(Sha256Hasher& hasher, const void* bytes, size_t count);
std::optional<Sha256Digest> finishSha256(Sha256Hasher& hasher);

// The digest of bytes that are all at hand.
std::optional<Sha256Digest> sha256Of(std::string_view bytes);
