#include "update/office_bucket.h"

#include "common/sha256.h"
#include "update/offer.h"

std::optional<std::uint32_t> officeBucket(std::string_view officeId, const std::wstring& version) {
    if (officeId.empty()) {
        return std::nullopt;
    }
    const std::optional<Sha256Digest> digest = sha256Of(rolloutPlaceText(officeId, version));
    return digest ? std::optional(rolloutBucket(*digest)) : std::nullopt;
}
