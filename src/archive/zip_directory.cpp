#include "archive/zip_directory.h"

#include "archive/little_endian.h"
#include "archive/local_header.h"

#include <zlib.h>

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDirectoryEntrySignature = 0x02014b50;
constexpr std::uint64_t kEndRecordSize = 22;
constexpr std::uint64_t kMaxCommentSize = 0xFFFF;
constexpr std::uint64_t kZip64LocatorSize = 20;
constexpr std::uint64_t kDirectoryEntrySize = 46;
constexpr std::uint16_t kEncryptedFlags = 0x0001 | 0x0040;
constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;
constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
constexpr std::uint64_t kExtraHeaderSize = 4;
constexpr std::uint32_t kUnicodePathTag = 0x7075;
constexpr std::uint8_t kUnicodePathVersion = 1;
constexpr std::uint64_t kUnicodePathFixedSize = 5;  // version and the name's CRC-32

constexpr auto& little = littleEndian;

struct EndRecord {
    std::uint64_t position = 0;  // in the tail
    std::uint32_t entryCount = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryStart = 0;
};

// The end record is the last thing in the file but its comment, whose length
// it gives: a candidate counts only if that length reaches the end exactly.
std::optional<EndRecord> findEndRecord(std::span<const std::uint8_t> tail) {
    if (tail.size() < kEndRecordSize) {
        return std::nullopt;
    }
    const std::uint64_t last = tail.size() - kEndRecordSize;
    const std::uint64_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    for (std::uint64_t position = last + 1; position-- > first;) {
        if (little(tail, position, 4) == kEndSignature &&
            position + kEndRecordSize + little(tail, position + 20, 2) == tail.size()) {
            return EndRecord{position, little(tail, position + 10, 2), little(tail, position + 12, 4),
                             little(tail, position + 16, 4)};
        }
    }
    return std::nullopt;
}

bool isSingleDiskWithoutZip64(std::span<const std::uint8_t> tail, const EndRecord& end) {
    const bool zip64Locator = end.position >= kZip64LocatorSize &&
                              little(tail, end.position - kZip64LocatorSize, 4) == kZip64LocatorSignature;
    return !zip64Locator && little(tail, end.position + 4, 2) == 0 && little(tail, end.position + 6, 2) == 0 &&
           little(tail, end.position + 8, 2) == end.entryCount && end.entryCount != kZip64Marker16 &&
           end.directorySize != kZip64Marker32 && end.directoryStart != kZip64Marker32;
}

// The Unicode path extra field among an entry's extra fields, when its
// version is known and its CRC-32 is the name's. Extra fields that do not
// add up end the search, as if there were none: they decide nothing else.
std::optional<std::string> unicodePath(std::span<const std::uint8_t> extra, std::string_view name) {
    for (std::uint64_t position = 0; position + kExtraHeaderSize <= extra.size();) {
        const std::uint64_t size = little(extra, position + 2, 2);
        const std::uint64_t data = position + kExtraHeaderSize;
        if (data + size > extra.size()) {
            break;
        }
        if (little(extra, position, 2) == kUnicodePathTag && size >= kUnicodePathFixedSize &&
            extra[data] == kUnicodePathVersion &&
            little(extra, data + 1, 4) ==
                crc32(0, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size()))) {
            const auto* text = reinterpret_cast<const char*>(extra.data() + data + kUnicodePathFixedSize);
            return std::string(text, size - kUnicodePathFixedSize);
        }
        position = data + size;
    }
    return std::nullopt;
}

// The entries as the central directory lists them, with their start only.
std::optional<std::vector<ZipEntry>> readEntries(std::span<const std::uint8_t> directory, std::uint32_t count) {
    std::vector<ZipEntry> entries;
    std::uint64_t position = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (position + kDirectoryEntrySize > directory.size() ||
            little(directory, position, 4) != kDirectoryEntrySignature) {
            return std::nullopt;
        }
        ZipEntry entry;
        entry.flags = static_cast<std::uint16_t>(little(directory, position + 8, 2));
        entry.method = static_cast<std::uint16_t>(little(directory, position + 10, 2));
        entry.modifiedTime = static_cast<std::uint16_t>(little(directory, position + 12, 2));
        entry.modifiedDate = static_cast<std::uint16_t>(little(directory, position + 14, 2));
        entry.crc32 = little(directory, position + 16, 4);
        entry.compressedSize = little(directory, position + 20, 4);
        entry.uncompressedSize = little(directory, position + 24, 4);
        const std::uint64_t nameLength = little(directory, position + 28, 2);
        const std::uint64_t next = position + kDirectoryEntrySize + nameLength + little(directory, position + 30, 2) +
                                   little(directory, position + 32, 2);
        entry.start = little(directory, position + 42, 4);
        if ((entry.flags & kEncryptedFlags) || little(directory, position + 34, 2) != 0 ||
            entry.compressedSize == kZip64Marker32 || entry.uncompressedSize == kZip64Marker32 ||
            entry.start == kZip64Marker32 || next > directory.size()) {
            return std::nullopt;
        }
        const auto* name = reinterpret_cast<const char*>(directory.data() + position + kDirectoryEntrySize);
        entry.name.assign(name, nameLength);
        entry.unicodePath = unicodePath(
            directory.subspan(position + kDirectoryEntrySize + nameLength, little(directory, position + 30, 2)),
            entry.name);
        entries.push_back(std::move(entry));
        position = next;
    }
    if (position != directory.size()) {
        return std::nullopt;
    }
    return entries;
}

// Orders the entries by their place in the file and gives each its end. The
// entries must lie one after another from the file's start up to the
// central directory, each with room for its header, name and data.
bool layOut(std::vector<ZipEntry>& entries, std::uint64_t directoryStart) {
    std::sort(entries.begin(), entries.end(), [](const ZipEntry& a, const ZipEntry& b) { return a.start < b.start; });
    std::uint64_t expectedStart = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        ZipEntry& entry = entries[i];
        entry.end = i + 1 < entries.size() ? entries[i + 1].start : directoryStart;
        if (entry.start != expectedStart ||
            entry.end < entry.start + kLocalHeaderSize + entry.name.size() + entry.compressedSize) {
            return false;
        }
        expectedStart = entry.end;
    }
    return expectedStart == directoryStart;
}

}  // namespace

std::uint64_t zipEndSearchLength(std::uint64_t fileSize) {
    return std::min(fileSize, kEndRecordSize + kMaxCommentSize);
}

ZipTailReading readZipTail(std::span<const std::uint8_t> tail, std::uint64_t fileSize) {
    if (tail.size() > fileSize) {
        return {};
    }
    const std::optional<EndRecord> end = findEndRecord(tail);
    if (!end || !isSingleDiskWithoutZip64(tail, *end)) {
        return {};
    }
    const std::uint64_t tailStart = fileSize - tail.size();
    // The central directory ends where the end record begins.
    if (end->directoryStart + end->directorySize != tailStart + end->position) {
        return {};
    }
    if (end->directoryStart < tailStart) {
        return {std::nullopt, fileSize - end->directoryStart};
    }
    std::optional<std::vector<ZipEntry>> entries =
        readEntries(tail.subspan(end->directoryStart - tailStart, end->directorySize), end->entryCount);
    if (!entries || !layOut(*entries, end->directoryStart)) {
        return {};
    }
    return {ZipDirectory{fileSize, end->directoryStart, std::move(*entries)}, 0};
}
