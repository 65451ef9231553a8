#pragma once

#include "archive/zip_directory.h"

#include <cstdint>
#include <vector>

// One run of the new package's bytes, in order from its first byte: copied
// from the old package, or fetched from the server with one range request.
struct RebuildStep {
    bool fromOldPackage = false;
    // Where the bytes come from: in the old package, or in the new one.
    std::uint64_t sourceOffset = 0;
    std::uint64_t length = 0;
};

// Neighbouring fetched runs closer than this are fetched as one range, the
// bytes between them included: a round trip costs more than 64 KiB.
inline constexpr std::uint64_t kRangeMergeGap = 64 * 1024;

// The steps that rebuild the new package up to its central directory (which
// the caller already holds). An entry is copied when the old package has one
// of the same name, CRC-32, sizes, method and length on disk, since the
// release tool writes the same bytes for the same content; everything else
// is fetched.
std::vector<RebuildStep> planRebuild(const ZipDirectory& oldPackage, const ZipDirectory& newPackage,
                                     std::uint64_t mergeGap = kRangeMergeGap);

// The steps still to take when the first `done` bytes of the new package are
// in place already (written by a rebuild or a download that was cut short).
std::vector<RebuildStep> stepsAfter(const std::vector<RebuildStep>& steps, std::uint64_t done);

// Bytes the plan fetches, and bytes it copies.
std::uint64_t fetchedBytes(const std::vector<RebuildStep>& steps);
std::uint64_t copiedBytes(const std::vector<RebuildStep>& steps);

// How many bytes of a package's end the first request asks for: the end
// record and, for a package of a few hundred files, the central directory.
inline constexpr std::uint64_t kPackageTailRequest = 64 * 1024;
// A central directory that needs more than this is not one the release tool
// wrote (its entry names are short), and is not read into memory.
inline constexpr std::uint64_t kMaxPackageTail = 16 * 1024 * 1024;
