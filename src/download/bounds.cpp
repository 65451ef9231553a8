#include "download/bounds.h"

#include "common/encoding.h"

#include <limits>

namespace {

constexpr std::uint32_t kStatusPartialContent = 206;

}  // namespace

std::optional<std::uint64_t> parsePackageSize(const std::wstring& text) {
    const std::optional<std::uint64_t> size = parseJsonWholeNumber(text);
    if (!size || *size == 0 || *size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return size;
}

bool lengthAllowed(std::uint64_t total, const DownloadBounds& bounds) {
    return bounds.size ? total == *bounds.size : total <= bounds.ceiling;
}

AnnouncedLength judgeAnnouncedLength(std::uint32_t status, const std::optional<std::uint64_t>& contentLength,
                                     const std::optional<ContentRange>& range, const DownloadBounds& bounds) {
    std::optional<std::uint64_t> total = contentLength;
    if (status == kStatusPartialContent) {
        if (!range || (contentLength && *contentLength != range->last - range->first + 1)) {
            return {LengthVerdict::Mismatch, 0};
        }
        total = range->total;
    }
    if (total && !lengthAllowed(*total, bounds)) {
        return {bounds.size ? LengthVerdict::Mismatch : LengthVerdict::TooLarge, 0};
    }
    return {LengthVerdict::Fits, bounds.size.value_or(total.value_or(0))};
}

std::uint64_t fileLimit(std::uint64_t total, const DownloadBounds& bounds) {
    return total != 0 ? total : bounds.ceiling;
}

bool leavesFloor(std::uint64_t freeBytes, std::uint64_t bytes, const DownloadBounds& bounds) {
    return freeBytes >= bounds.freeSpaceFloor && freeBytes - bounds.freeSpaceFloor >= bytes;
}

bool outOfRoom(const Failure& failure) {
    return failure.kind == FailureKind::TooLarge ||
           (failure.kind == FailureKind::Disk && failure.systemError == kDiskFullError);
}
