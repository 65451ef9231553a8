#pragma once

// What a release signature covers and how it is written in the manifest.

#include "net/manifest.h"

#include <array>
#include <optional>
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
