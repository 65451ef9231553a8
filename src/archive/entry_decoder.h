#pragma once

// Turns an entry's stored or deflated bytes, as they stream past in pieces
// of any size, into the file's bytes, and checks them against what the
// central directory says: the decoded size and CRC-32, and that the
// compressed data ends exactly where the entry's compressed size does.
// Memory stays the same whatever the entry's size: the output goes out in
// pieces of the caller's buffer, and deflate keeps only its 32 KiB window.

#include "archive/zip_directory.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class RawInflater;

// Stored or deflated, and a stored entry's two sizes equal: the only
// entries the release tool writes.
bool canDecode(const ZipEntry& entry);

enum class DecodeStatus : std::uint8_t {
    Ok,
    Damaged,      // the bytes are not what the central directory says
    OutOfMemory,  // zlib could not get its state
    Stopped,      // the writer refused a piece
};

// Takes each decoded piece; false stops the decoding.
using DecodedPieceWriter = std::function<bool(std::span<const std::uint8_t>)>;

class EntryDecoder {
public:
    // Decoded pieces are at most the buffer's size; it must outlive the decoder.
    explicit EntryDecoder(std::span<std::uint8_t> outputBuffer);
    ~EntryDecoder();
    EntryDecoder(const EntryDecoder&) = delete;
    EntryDecoder& operator=(const EntryDecoder&) = delete;

    // Starts an entry that canDecode accepts.
    DecodeStatus begin(const ZipEntry& entry);
    // The entry's next compressed bytes, in order.
    DecodeStatus decode(std::span<const std::uint8_t> input, const DecodedPieceWriter& write);
    // After the entry's last compressed byte: Ok when the data ended there,
    // with the size and CRC-32 the central directory gives.
    DecodeStatus finish() const;

private:
    DecodeStatus inflatePiece(std::span<const std::uint8_t> input, const DecodedPieceWriter& write);
    DecodeStatus hand(std::span<const std::uint8_t> piece, const DecodedPieceWriter& write);

    std::span<std::uint8_t> output_;
    std::unique_ptr<RawInflater> inflater_;
    ZipEntry entry_;
    std::uint64_t decodedSize_ = 0;
    std::uint32_t crc_ = 0;
    bool ended_ = false;
};
