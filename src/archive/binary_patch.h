#pragma once

// Binary patches from an entry of the previous package to the same entry of
// the offered one, in the release tool's container (README.md, "Binary
// patches"): a header with the old and new sizes and CRC-32s, then three raw
// deflate streams (control triples, diff bytes, extra bytes). A patch comes
// from the network, so every number in it is checked before it is used: the
// streams are inflated piece by piece into fixed buffers, every add, copy
// and seek must stay inside the old content, the streams and the new size,
// and nothing is read or written outside a buffer whatever the patch says.

#include "archive/zip_directory.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

inline constexpr std::uint64_t kPatchHeaderSize = 84;
// Entries larger than this are fetched whole, as the release tool makes no
// patch for them: the old content is held in memory while a patch applies.
inline constexpr std::uint64_t kMaxPatchedEntry = 256ull << 20;

struct PatchHeader {
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::uint32_t oldCrc = 0;
    std::uint32_t newCrc = 0;
    // The control, diff and extra streams: their compressed lengths, in the
    // file one after another, and the lengths they inflate to.
    std::array<std::uint64_t, 3> compressed{};
    std::array<std::uint64_t, 3> inflated{};
};

// The header of a patch of exactly these bytes: our magic and format
// version, compressed lengths that end where the patch does, whole control
// triples (no more than one per byte of new content, and one more: what
// the diff makes), and a new size that is the diff and extra lengths together.
std::optional<PatchHeader> readPatchHeader(std::span<const std::uint8_t> patch);

// zlib's deflateInit2 arguments.
struct DeflateSettings {
    int level = 0;
    int windowBits = 0;
    int memoryLevel = 0;
    int strategy = 0;
};

// How the release tool deflates every entry of the package (its
// PACKAGE_DEFLATE): level 6, raw deflate with a 32 KiB window, memory level
// 8, the default strategy. A patched entry deflated so with the same zlib
// (1.2.13) is the package's own bytes.
inline constexpr DeflateSettings kPackageDeflate{6, -15, 8, 0};
inline constexpr char kPackageZlibVersion[] = "1.2.13";

// Whether the zlib linked in is the release tool's: another version may
// deflate the same content to other bytes, and no patch would then rebuild
// an entry as the package holds it.
bool deflatesAsThePackage();

enum class PatchStatus : std::uint8_t {
    Ok,
    Refused,           // not a well-formed patch from this old entry to this new one
    OtherContent,      // applies, but not to the new entry's size and CRC-32
    OtherCompression,  // deflates to another compressed size than the new entry's
    OutOfMemory,       // zlib could not get its state
    Stopped,           // the writer refused a piece
};

// Takes each piece of the new entry's compressed bytes; false stops.
using CompressedPieceWriter = std::function<bool(std::span<const std::uint8_t>)>;

// Rebuilds the new entry's compressed bytes from the old entry's content
// (which the caller has checked against oldEntry) and the patch. The patch
// is applied once to check the result's size and CRC-32, and only then
// again, deflated with kPackageDeflate, to hand the compressed bytes to the
// writer, from the skip-th on (a rebuild cut short has the first ones).
// Ok only when they were exactly the new entry's compressed size; after
// another status the writer may have had some of them.
PatchStatus rebuildPatchedEntry(std::span<const std::uint8_t> oldContent, std::span<const std::uint8_t> patch,
                                const ZipEntry& oldEntry, const ZipEntry& newEntry, std::uint64_t skip,
                                const CompressedPieceWriter& write);
