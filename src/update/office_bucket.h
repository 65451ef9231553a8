#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The office's bucket in a release's rollout (update/offer.h); none without
// an office id.
std::optional<std::uint32_t> officeBucket(std::string_view officeId, const std::wstring& version);
