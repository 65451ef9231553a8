#include "archive/binary_patch.h"

#include "archive/little_endian.h"
#include "archive/raw_inflater.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

static_assert(kPackageDeflate.strategy == Z_DEFAULT_STRATEGY);

namespace {

constexpr std::string_view kMagic = "NIRVAPAT";
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::uint64_t kTripleSize = 24;
// New content is made, checked and deflated in pieces of this size.
constexpr size_t kPieceBytes = 64 * 1024;

std::uint64_t little64(std::span<const std::uint8_t> bytes, std::uint64_t position) {
    return littleEndian(bytes, position, 4) | (std::uint64_t{littleEndian(bytes, position + 4, 4)} << 32);
}

// One of the three streams, inflated on demand into the caller's buffer: a
// stream that would give more than its stated length, or less, is refused.
class StreamInflater {
public:
    StreamInflater(std::span<const std::uint8_t> compressed, std::uint64_t inflatedLength)
        : compressed_(compressed), left_(inflatedLength) {}

    bool start() {
        if (!inflater_.start()) {
            return false;
        }
        z_stream& stream = inflater_.stream();
        // zlib reads through a pointer to non-const but never writes the input.
        stream.next_in = const_cast<Bytef*>(compressed_.data());
        stream.avail_in = static_cast<uInt>(compressed_.size());
        return true;
    }

    // Exactly out.size() more bytes of the stream.
    bool read(std::span<std::uint8_t> out) {
        if (out.size() > left_) {
            return false;
        }
        z_stream& stream = inflater_.stream();
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        while (stream.avail_out > 0) {
            const int result = ended_ ? Z_STREAM_END : inflate(&stream, Z_NO_FLUSH);
            // Ended early, damaged, or its compressed bytes ran out.
            if ((result == Z_STREAM_END && (ended_ || stream.avail_out > 0)) ||
                (result != Z_OK && result != Z_STREAM_END)) {
                return false;
            }
            ended_ = result == Z_STREAM_END;
        }
        left_ -= out.size();
        return true;
    }

    // The whole stated length was read, and the deflate data ended there,
    // at the end of the stream's compressed bytes.
    bool finished() {
        if (left_ != 0) {
            return false;
        }
        z_stream& stream = inflater_.stream();
        if (!ended_) {
            std::uint8_t spare = 0;
            stream.next_out = &spare;
            stream.avail_out = 1;
            ended_ = inflate(&stream, Z_NO_FLUSH) == Z_STREAM_END && stream.avail_out == 1;
        }
        return ended_ && stream.avail_in == 0;
    }

private:
    std::span<const std::uint8_t> compressed_;
    RawInflater inflater_;
    std::uint64_t left_;
    bool ended_ = false;
};

struct Triple {
    std::int64_t add = 0;
    std::int64_t copy = 0;
    std::int64_t seek = 0;
};

struct Position {
    std::uint64_t old = 0;
    std::uint64_t written = 0;
};

// Every byte a triple adds lies in the old content, every byte it writes
// within the new size, and its seek keeps the old position inside the old
// content. Sizes are at most kMaxPatchedEntry here, so no sum overflows.
bool tripleFits(const Triple& triple, const Position& at, const PatchHeader& header) {
    if (triple.add < 0 || triple.copy < 0) {
        return false;
    }
    const auto add = static_cast<std::uint64_t>(triple.add);
    const auto copy = static_cast<std::uint64_t>(triple.copy);
    const std::uint64_t room = header.newSize - at.written;
    if (add > header.oldSize - at.old || add > room || copy > room - add) {
        return false;
    }
    const std::uint64_t afterAdd = at.old + add;
    return triple.seek >= -static_cast<std::int64_t>(afterAdd) &&
           triple.seek <= static_cast<std::int64_t>(header.oldSize - afterAdd);
}

// Hands on each piece of the new content, in order.
using ContentSink = std::function<PatchStatus(std::span<const std::uint8_t>)>;

// One application of a patch whose header was read and matched to the entries.
class Application {
public:
    Application(std::span<const std::uint8_t> old, std::span<const std::uint8_t> patch, const PatchHeader& header)
        : old_(old),
          header_(header),
          control_(patch.subspan(kPatchHeaderSize, header.compressed[0]), header.inflated[0]),
          diff_(patch.subspan(kPatchHeaderSize + header.compressed[0], header.compressed[1]), header.inflated[1]),
          extra_(patch.subspan(kPatchHeaderSize + header.compressed[0] + header.compressed[1]), header.inflated[2]),
          piece_(kPieceBytes) {}

    PatchStatus run(const ContentSink& take) {
        if (!control_.start() || !diff_.start() || !extra_.start()) {
            return PatchStatus::OutOfMemory;
        }
        for (std::uint64_t index = 0; index < header_.inflated[0] / kTripleSize; ++index) {
            std::array<std::uint8_t, kTripleSize> raw{};
            if (!control_.read(raw)) {
                return PatchStatus::Refused;
            }
            const Triple triple{static_cast<std::int64_t>(little64(raw, 0)),
                                static_cast<std::int64_t>(little64(raw, 8)),
                                static_cast<std::int64_t>(little64(raw, 16))};
            if (!tripleFits(triple, at_, header_)) {
                return PatchStatus::Refused;
            }
            if (const PatchStatus status = writeTriple(triple, take); status != PatchStatus::Ok) {
                return status;
            }
        }
        const bool whole = control_.finished() && diff_.finished() && extra_.finished();
        return whole && at_.written == header_.newSize ? PatchStatus::Ok : PatchStatus::Refused;
    }

private:
    // The diff bytes added to the old ones, then the extra bytes; then the seek.
    PatchStatus writeTriple(const Triple& triple, const ContentSink& take) {
        const auto add = static_cast<std::uint64_t>(triple.add);
        for (std::uint64_t done = 0; done < add;) {
            const std::span<std::uint8_t> piece =
                std::span(piece_).first(std::min<std::uint64_t>(add - done, kPieceBytes));
            if (!diff_.read(piece)) {
                return PatchStatus::Refused;
            }
            const std::uint8_t* old = old_.data() + at_.old + done;
            std::transform(piece.begin(), piece.end(), old, piece.begin(),
                           [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a + b); });
            if (const PatchStatus status = take(piece); status != PatchStatus::Ok) {
                return status;
            }
            done += piece.size();
        }
        if (const PatchStatus status = copyExtra(static_cast<std::uint64_t>(triple.copy), take);
            status != PatchStatus::Ok) {
            return status;
        }
        at_.written += add + static_cast<std::uint64_t>(triple.copy);
        at_.old = static_cast<std::uint64_t>(static_cast<std::int64_t>(at_.old + add) + triple.seek);
        return PatchStatus::Ok;
    }

    PatchStatus copyExtra(std::uint64_t copy, const ContentSink& take) {
        for (std::uint64_t done = 0; done < copy;) {
            const std::span<std::uint8_t> piece =
                std::span(piece_).first(std::min<std::uint64_t>(copy - done, kPieceBytes));
            if (!extra_.read(piece)) {
                return PatchStatus::Refused;
            }
            if (const PatchStatus status = take(piece); status != PatchStatus::Ok) {
                return status;
            }
            done += piece.size();
        }
        return PatchStatus::Ok;
    }

    std::span<const std::uint8_t> old_;
    const PatchHeader& header_;
    StreamInflater control_;
    StreamInflater diff_;
    StreamInflater extra_;
    std::vector<std::uint8_t> piece_;
    Position at_;
};

// Deflates the new content as the release tool does, counting the
// compressed bytes against the entry's and handing on those from `skip` on.
class PackageDeflater {
public:
    PackageDeflater(std::uint64_t expectedSize, std::uint64_t skip, const CompressedPieceWriter& write)
        : expected_(expectedSize), skip_(skip), write_(write), out_(kPieceBytes) {}
    ~PackageDeflater() {
        if (initialised_) {
            deflateEnd(&stream_);
        }
    }
    PackageDeflater(const PackageDeflater&) = delete;
    PackageDeflater& operator=(const PackageDeflater&) = delete;

    bool start() {
        initialised_ = deflateInit2(&stream_, kPackageDeflate.level, Z_DEFLATED, kPackageDeflate.windowBits,
                                    kPackageDeflate.memoryLevel, kPackageDeflate.strategy) == Z_OK;
        return initialised_;
    }

    // Z_NO_FLUSH for each piece of content, then Z_FINISH with none.
    PatchStatus add(std::span<const std::uint8_t> content, int flush) {
        stream_.next_in = const_cast<Bytef*>(content.data());
        stream_.avail_in = static_cast<uInt>(content.size());
        for (;;) {
            stream_.next_out = out_.data();
            stream_.avail_out = static_cast<uInt>(out_.size());
            const int result = deflate(&stream_, flush);
            if (const PatchStatus status = hand(std::span(out_).first(out_.size() - stream_.avail_out));
                status != PatchStatus::Ok) {
                return status;
            }
            if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_out != 0) {
                return PatchStatus::Ok;
            }
            if (result != Z_OK && result != Z_BUF_ERROR) {
                return PatchStatus::OtherCompression;
            }
        }
    }

    PatchStatus finish() {
        const PatchStatus status = add({}, Z_FINISH);
        return status == PatchStatus::Ok && produced_ != expected_ ? PatchStatus::OtherCompression : status;
    }

private:
    // A compressed size that lies is caught at the first byte too many.
    PatchStatus hand(std::span<const std::uint8_t> piece) {
        const std::uint64_t before = produced_;
        produced_ += piece.size();
        if (produced_ > expected_) {
            return PatchStatus::OtherCompression;
        }
        if (produced_ <= skip_ || piece.empty()) {
            return PatchStatus::Ok;
        }
        return write_(piece.subspan(std::max(skip_, before) - before)) ? PatchStatus::Ok : PatchStatus::Stopped;
    }

    std::uint64_t expected_;
    std::uint64_t skip_;
    const CompressedPieceWriter& write_;
    std::vector<std::uint8_t> out_;
    z_stream stream_{};
    std::uint64_t produced_ = 0;
    bool initialised_ = false;
};

// The patch names the two entries' sizes and CRC-32s, the old content is the
// old entry's, and both are within the limit.
bool madeFor(const PatchHeader& header, std::span<const std::uint8_t> old, const ZipEntry& oldEntry,
             const ZipEntry& newEntry) {
    return header.oldSize == old.size() && header.oldSize == oldEntry.uncompressedSize &&
           header.oldCrc == oldEntry.crc32 && header.newSize == newEntry.uncompressedSize &&
           header.newCrc == newEntry.crc32 && header.oldSize <= kMaxPatchedEntry && header.newSize <= kMaxPatchedEntry;
}

}  // namespace

bool deflatesAsThePackage() {
    return std::string_view(zlibVersion()) == kPackageZlibVersion;
}

std::optional<PatchHeader> readPatchHeader(std::span<const std::uint8_t> patch) {
    if (patch.size() < kPatchHeaderSize || patch.size() > UINT_MAX ||
        !std::equal(kMagic.begin(), kMagic.end(), patch.begin()) || littleEndian(patch, 8, 4) != kFormatVersion) {
        return std::nullopt;
    }
    PatchHeader header{
        little64(patch, 12), little64(patch, 20), littleEndian(patch, 28, 4), littleEndian(patch, 32, 4), {}, {}};
    std::uint64_t end = kPatchHeaderSize;
    for (size_t stream = 0; stream < 3; ++stream) {
        header.compressed[stream] = little64(patch, 36 + 8 * stream);
        header.inflated[stream] = little64(patch, 60 + 8 * stream);
        if (header.compressed[stream] > patch.size() - end) {
            return std::nullopt;
        }
        end += header.compressed[stream];
    }
    const std::uint64_t triples = header.inflated[0] / kTripleSize;
    if (end != patch.size() || header.inflated[0] % kTripleSize != 0 || header.inflated[1] > header.newSize ||
        header.inflated[2] != header.newSize - header.inflated[1] ||
        (triples > header.newSize && triples - header.newSize > 1)) {
        return std::nullopt;
    }
    return header;
}

PatchStatus rebuildPatchedEntry(std::span<const std::uint8_t> oldContent, std::span<const std::uint8_t> patch,
                                const ZipEntry& oldEntry, const ZipEntry& newEntry, std::uint64_t skip,
                                const CompressedPieceWriter& write) {
    const std::optional<PatchHeader> header = readPatchHeader(patch);
    if (!header || !madeFor(*header, oldContent, oldEntry, newEntry)) {
        return PatchStatus::Refused;
    }
    // Nothing is deflated, let alone written, before the content is known right.
    uLong crc = crc32(0, nullptr, 0);
    const PatchStatus applied =
        Application(oldContent, patch, *header).run([&crc](std::span<const std::uint8_t> piece) {
            crc = crc32(crc, piece.data(), static_cast<uInt>(piece.size()));
            return PatchStatus::Ok;
        });
    if (applied != PatchStatus::Ok) {
        return applied;
    }
    if (crc != newEntry.crc32) {
        return PatchStatus::OtherContent;
    }
    PackageDeflater deflater(newEntry.compressedSize, skip, write);
    if (!deflater.start()) {
        return PatchStatus::OutOfMemory;
    }
    const PatchStatus deflated =
        Application(oldContent, patch, *header).run([&deflater](std::span<const std::uint8_t> piece) {
            return deflater.add(piece, Z_NO_FLUSH);
        });
    return deflated == PatchStatus::Ok ? deflater.finish() : deflated;
}
