#pragma once

// The central directory of a zip archive, read from the archive's tail: what
// a delta download needs to know of a package without reading all of it, and
// the list the installation unpacks. Only what the release tool writes is
// accepted (one disk, no zip64, no encryption, entries laid out one after
// another); anything else is refused: the delta download then falls back to
// the whole package, the installation refuses the package.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t method = 0;
    // Where the entry's local header starts, and where its bytes (header,
    // data and any data descriptor) end: the next entry's start, or the
    // central directory's.
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    // The general purpose flags (bit 11: the name is UTF-8) and the MS-DOS
    // date and time of the file's last change.
    std::uint16_t flags = 0;
    std::uint16_t modifiedTime = 0;
    std::uint16_t modifiedDate = 0;
    // The name in UTF-8 from the central directory's Unicode path extra
    // field (0x7075), when it has one whose CRC-32 is that of the name's
    // bytes: how tools that write a name in a code page of their own give it
    // in Unicode too. A field whose CRC-32 differs was left by a program that
    // renamed the entry without knowing the field, and names nothing.
    std::optional<std::string> unicodePath = std::nullopt;
};

struct ZipDirectory {
    std::uint64_t fileSize = 0;
    // The central directory and the end record after it, up to the file's end.
    std::uint64_t directoryStart = 0;
    // Entries in the order their bytes lie in the file.
    std::vector<ZipEntry> entries;
};

// How many bytes from the end of a file of this size hold the end record
// whatever comment follows it; a first request for the tail asks for these.
std::uint64_t zipEndSearchLength(std::uint64_t fileSize);

struct ZipTailReading {
    // Set when the tail held the whole central directory.
    std::optional<ZipDirectory> directory;
    // Otherwise, when the end record was found: how many bytes from the end
    // of the file the tail must hold. Neither set: not an acceptable zip.
    std::uint64_t neededTailLength = 0;
};

// Reads the central directory from the last tail.size() bytes of a file of
// fileSize bytes.
ZipTailReading readZipTail(std::span<const std::uint8_t> tail, std::uint64_t fileSize);
