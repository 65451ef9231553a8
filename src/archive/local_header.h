#pragma once

// The header in front of each entry's data. An unpacker that reads the data
// where the local header puts it must first know that this header tells the
// same story as the central directory the checks were made on: a package
// whose two records disagree was not written by the release tool, and other
// programs would unpack another file from it than the one checked.

#include "archive/zip_directory.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

inline constexpr std::uint64_t kLocalHeaderSize = 30;

struct LocalHeader {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    // The name and the extra field follow the fixed part, then the data.
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
};

// The fixed part of a local header; empty unless it is kLocalHeaderSize
// bytes starting with the local header's signature.
std::optional<LocalHeader> readLocalHeader(std::span<const std::uint8_t> bytes);

// True when the header and its name (the bytes after the fixed part) say
// what the central directory says of the entry: name, method, flags, CRC-32
// and sizes. An entry followed by a data descriptor (flag bit 3) may leave
// its CRC-32 and sizes zero in the local header.
bool localHeaderAgrees(const LocalHeader& header, std::string_view name, const ZipEntry& entry);
