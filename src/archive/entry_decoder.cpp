#include "archive/entry_decoder.h"

#include "archive/raw_inflater.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

}  // namespace

bool canDecode(const ZipEntry& entry) {
    return entry.method == kDeflated || (entry.method == kStored && entry.compressedSize == entry.uncompressedSize);
}

EntryDecoder::EntryDecoder(std::span<std::uint8_t> outputBuffer)
    : output_(outputBuffer), inflater_(std::make_unique<RawInflater>()) {}

EntryDecoder::~EntryDecoder() = default;

DecodeStatus EntryDecoder::begin(const ZipEntry& entry) {
    entry_ = entry;
    decodedSize_ = 0;
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    ended_ = false;
    inflater_->end();
    if (entry.method != kDeflated) {
        return DecodeStatus::Ok;
    }
    return inflater_->start() ? DecodeStatus::Ok : DecodeStatus::OutOfMemory;
}

// Counts and checks a decoded piece before it is written: a size that lies
// is caught at the first byte too many, not after the disk has filled.
DecodeStatus EntryDecoder::hand(std::span<const std::uint8_t> piece, const DecodedPieceWriter& write) {
    if (piece.empty()) {
        return DecodeStatus::Ok;
    }
    decodedSize_ += piece.size();
    if (decodedSize_ > entry_.uncompressedSize) {
        return DecodeStatus::Damaged;
    }
    crc_ = static_cast<std::uint32_t>(crc32(crc_, piece.data(), static_cast<uInt>(piece.size())));
    return write(piece) ? DecodeStatus::Ok : DecodeStatus::Stopped;
}

DecodeStatus EntryDecoder::decode(std::span<const std::uint8_t> input, const DecodedPieceWriter& write) {
    if (entry_.method == kDeflated) {
        return inflatePiece(input, write);
    }
    for (size_t done = 0; done < input.size(); done += output_.size()) {
        const DecodeStatus status = hand(input.subspan(done, std::min(output_.size(), input.size() - done)), write);
        if (status != DecodeStatus::Ok) {
            return status;
        }
    }
    return DecodeStatus::Ok;
}

DecodeStatus EntryDecoder::inflatePiece(std::span<const std::uint8_t> input, const DecodedPieceWriter& write) {
    z_stream& stream = inflater_->stream();
    // zlib reads through a pointer to non-const but never writes the input.
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    while (!ended_ && (stream.avail_in > 0 || stream.avail_out == 0)) {
        stream.next_out = output_.data();
        stream.avail_out = static_cast<uInt>(output_.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_MEM_ERROR) {
            return DecodeStatus::OutOfMemory;
        }
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            return DecodeStatus::Damaged;
        }
        ended_ = result == Z_STREAM_END;
        const DecodeStatus status = hand(std::span(output_.data(), output_.size() - stream.avail_out), write);
        if (status != DecodeStatus::Ok) {
            return status;
        }
        if (result == Z_BUF_ERROR) {
            break;
        }
    }
    // Bytes after the end of the deflate data: the compressed size lies.
    return ended_ && stream.avail_in > 0 ? DecodeStatus::Damaged : DecodeStatus::Ok;
}

DecodeStatus EntryDecoder::finish() const {
    const bool complete = entry_.method != kDeflated || ended_;
    return complete && decodedSize_ == entry_.uncompressedSize && crc_ == entry_.crc32 ? DecodeStatus::Ok
                                                                                       : DecodeStatus::Damaged;
}
