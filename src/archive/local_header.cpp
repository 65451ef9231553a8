#include "archive/local_header.h"

#include "archive/little_endian.h"

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;

std::uint32_t little32(std::span<const std::uint8_t> bytes, size_t position) {
    return littleEndian(bytes, position, 4);
}

std::uint16_t little16(std::span<const std::uint8_t> bytes, size_t position) {
    return static_cast<std::uint16_t>(littleEndian(bytes, position, 2));
}

bool sameOrLeftForDescriptor(std::uint32_t local, std::uint32_t central, bool descriptor) {
    return local == central || (descriptor && local == 0);
}

}  // namespace

std::optional<LocalHeader> readLocalHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kLocalHeaderSize || little32(bytes, 0) != kLocalHeaderSignature) {
        return std::nullopt;
    }
    return LocalHeader{little16(bytes, 6),  little16(bytes, 8),  little32(bytes, 14), little32(bytes, 18),
                       little32(bytes, 22), little16(bytes, 26), little16(bytes, 28)};
}

bool localHeaderAgrees(const LocalHeader& header, std::string_view name, const ZipEntry& entry) {
    const bool descriptor = (entry.flags & kDataDescriptorFlag) != 0;
    return name == entry.name && header.method == entry.method && header.flags == entry.flags &&
           sameOrLeftForDescriptor(header.crc32, entry.crc32, descriptor) &&
           sameOrLeftForDescriptor(header.compressedSize, entry.compressedSize, descriptor) &&
           sameOrLeftForDescriptor(header.uncompressedSize, entry.uncompressedSize, descriptor);
}
