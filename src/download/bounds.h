#pragma once

// How much a download may write. The manifest's "size", which the release
// key signs, bounds it exactly; without one, a fixed ceiling does. Either
// way the disk keeps a floor of free space, for Windows and the application.
// Kept free of side effects: the free space is asked for by the caller.

#include "common/failure.h"
#include "download/resume.h"

#include <cstdint>
#include <optional>
#include <string>

// Ten times any release expected: only a broken or hostile server sends more.
inline constexpr std::uint64_t kPackageCeilingBytes = 2ull << 30;
inline constexpr std::uint64_t kFreeSpaceFloorBytes = 256ull << 20;
// The free space is asked for again after this many bytes: other programs
// write to the disk too.
inline constexpr std::uint64_t kSpaceCheckEveryBytes = 4ull << 20;
// The error a download that would break the floor fails with.
inline constexpr std::uint32_t kDiskFullError = 112;  // ERROR_DISK_FULL

struct DownloadBounds {
    // The manifest's "size": the package's exact length, when it gives one.
    std::optional<std::uint64_t> size;
    std::uint64_t ceiling = kPackageCeilingBytes;
    std::uint64_t freeSpaceFloor = kFreeSpaceFloorBytes;
};

// A "size" is a whole number of bytes from 1, written as JSON writes it (no
// sign, no leading zero, nothing else) and at most 2^63 - 1; none for
// anything else, which cannot bound a download.
std::optional<std::uint64_t> parsePackageSize(const std::wstring& text);

// Whether a whole length, as an answer or a record names it, may be the
// package's: the size exactly when the manifest gives one, else anything up
// to the ceiling, 0 (nobody named one) included.
bool lengthAllowed(std::uint64_t total, const DownloadBounds& bounds);

enum class LengthVerdict {
    Fits,      // the answer's body may be read
    Mismatch,  // it contradicts itself or the manifest's size: a bad answer
    TooLarge,  // more than the ceiling
};

struct AnnouncedLength {
    LengthVerdict verdict = LengthVerdict::Fits;
    // The whole file's length the body is held to; 0 when nobody named it.
    std::uint64_t total = 0;
};

// What a 200 or 206 answer announces: the whole length (Content-Length of a
// 200, the Content-Range total of a 206) and, for a 206, a Content-Length
// that must be the range's. The manifest's size makes the total exact.
AnnouncedLength judgeAnnouncedLength(std::uint32_t status, const std::optional<std::uint64_t>& contentLength,
                                     const std::optional<ContentRange>& range, const DownloadBounds& bounds);

// The most bytes the partial file may hold: the whole length when one is
// known, else the ceiling.
std::uint64_t fileLimit(std::uint64_t total, const DownloadBounds& bounds);

// Whether writing `bytes` more leaves the floor free.
bool leavesFloor(std::uint64_t freeBytes, std::uint64_t bytes, const DownloadBounds& bounds);

// A download that ran out of room, the bound's or the disk's, ends: another
// attempt would meet the same, and what it wrote is dropped.
bool outOfRoom(const Failure& failure);
