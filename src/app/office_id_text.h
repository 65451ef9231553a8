#pragma once

// The office id: a random 128-bit value kept in the office folder
// (kOfficeIdFile) as 32 lowercase hexadecimal digits and nothing else. It
// tells the vendor's report tables one office from another, and places an
// office in a release's rollout; it says nothing about who the office is.

#include <string_view>

inline constexpr size_t kOfficeIdBytes = 16;

// Exactly 32 lowercase hexadecimal digits: anything else in the file is
// replaced by a new id.
bool isOfficeId(std::string_view text);
