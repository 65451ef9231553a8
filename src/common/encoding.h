#pragma once

// The text encodings the updater meets, each in one place: the server's
// UTF-8 and Windows' UTF-16, SHA-256 digests written as hexadecimal digits
// (the manifest's "sha256", the partial download's record), and byte counts
// written as decimal digits (headers, the manifest's "size", the record).

#include "common/sha256.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// UTF-8 to UTF-16; invalid sequences become U+FFFD rather than an error.
std::wstring decodeUtf8(const std::string& bytes);
// UTF-16 to UTF-8.
std::string encodeUtf8(const std::wstring& text);

// The digest when the text is exactly 64 hexadecimal digits of either case.
std::optional<Sha256Digest> parseSha256(const std::wstring& hex);
// 64 lowercase hexadecimal digits; empty for no digest.
std::wstring digestText(const std::optional<Sha256Digest>& digest);
// Two lowercase hexadecimal digits per byte, in order.
std::string lowercaseHex(std::span<const std::uint8_t> bytes);

// Decimal digits only, without sign or spaces, that fit in 64 bits.
std::optional<std::uint64_t> parseDecimal(const std::wstring& text);
// A whole number as JSON writes it: parseDecimal's, and no leading zero but
// in "0" itself.
std::optional<std::uint64_t> parseJsonWholeNumber(const std::wstring& text);
