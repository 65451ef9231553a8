// What an entry's local header and bytes must agree on with the central
// directory before the installation writes them.
#include "archive/entry_decoder.h"
#include "archive/local_header.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

ZipEntry directoryEntry() {
    ZipEntry entry;
    entry.name = "data/ledger.txt";
    entry.crc32 = 0x1234ABCD;
    entry.compressedSize = 500;
    entry.uncompressedSize = 2000;
    entry.method = 8;
    entry.flags = 0x0800;
    return entry;
}

struct HeaderCase {
    const char* what;
    std::function<void(LocalHeader&, std::string&)> change;
    std::uint16_t directoryFlags;
    bool agrees;
};

TEST(LocalHeader, MustTellWhatTheCentralDirectoryTells) {
    const HeaderCase cases[] = {
        {"the same", [](LocalHeader&, std::string&) {}, 0x0800, true},
        {"another name", [](LocalHeader&, std::string& name) { name = "data/ledger.exe"; }, 0x0800, false},
        {"another method", [](LocalHeader& h, std::string&) { h.method = 0; }, 0x0800, false},
        {"other flags", [](LocalHeader& h, std::string&) { h.flags = 0x0801; }, 0x0800, false},
        {"another CRC-32", [](LocalHeader& h, std::string&) { h.crc32 ^= 1; }, 0x0800, false},
        {"another compressed size", [](LocalHeader& h, std::string&) { h.compressedSize = 499; }, 0x0800, false},
        {"another size", [](LocalHeader& h, std::string&) { h.uncompressedSize = 0; }, 0x0800, false},
        {"zeros before a data descriptor",
         [](LocalHeader& h, std::string&) { h.crc32 = h.compressedSize = h.uncompressedSize = 0; }, 0x0808, true},
        {"other values before a data descriptor", [](LocalHeader& h, std::string&) { h.compressedSize = 7; },
         0x0808, false},
    };
    for (const HeaderCase& c : cases) {
        ZipEntry entry = directoryEntry();
        entry.flags = c.directoryFlags;
        LocalHeader header{entry.flags, entry.method, entry.crc32, entry.compressedSize, entry.uncompressedSize,
                           static_cast<std::uint16_t>(entry.name.size()), 0};
        std::string name = entry.name;
        c.change(header, name);
        EXPECT_EQ(localHeaderAgrees(header, name, entry), c.agrees) << c.what;
    }
}

TEST(LocalHeader, IsReadFromItsThirtyBytes) {
    std::vector<std::uint8_t> bytes = {0x50, 0x4B, 0x03, 0x04, 20, 0, 0x00, 0x08, 8, 0, 0, 0, 0x21, 0x00,
                                       0xCD, 0xAB, 0x34, 0x12, 0xF4, 1, 0, 0, 0xD0, 7, 0, 0, 15, 0, 4, 0};
    const std::optional<LocalHeader> header = readLocalHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_TRUE(localHeaderAgrees(*header, "data/ledger.txt", directoryEntry()));
    EXPECT_EQ(header->extraLength, 4);
    EXPECT_FALSE(readLocalHeader(std::span(bytes).first(29)));
    bytes[2] = 0x01;  // a central directory entry's signature
    EXPECT_FALSE(readLocalHeader(bytes));
}

// Z_SYNC_FLUSH leaves out the final block: every byte is there, the end is not.
std::string rawDeflate(const std::string& data, int flush = Z_FINISH) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Text, then bytes that do not compress: more than one output buffer's worth.
const std::string& content() {
    static const std::string data = [] {
        std::string text;
        for (int line = 0; text.size() < 150000; ++line) {
            text += "ledger line " + std::to_string(line) + "\r\n";
        }
        std::uint32_t state = 1;
        for (int i = 0; i < 150000; ++i) {
            state = state * 1664525 + 1013904223;
            text += static_cast<char>(state >> 24);
        }
        return text;
    }();
    return data;
}

struct DecodeResult {
    DecodeStatus status;
    std::string written;
};

// Feeds the entry's bytes in pieces of the given size; the first status
// that is not Ok ends it, else finish() gives the result.
DecodeResult decodeAll(const ZipEntry& entry, const std::string& bytes, size_t pieceSize, size_t writeLimit) {
    std::vector<std::uint8_t> buffer(65536);
    EntryDecoder decoder(buffer);
    DecodeResult result{decoder.begin(entry), {}};
    const auto write = [&result, writeLimit](std::span<const std::uint8_t> piece) {
        result.written.append(reinterpret_cast<const char*>(piece.data()), piece.size());
        return result.written.size() <= writeLimit;
    };
    for (size_t done = 0; result.status == DecodeStatus::Ok && done < bytes.size(); done += pieceSize) {
        const std::string_view piece = std::string_view(bytes).substr(done, pieceSize);
        result.status = decoder.decode({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()}, write);
    }
    if (result.status == DecodeStatus::Ok) {
        result.status = decoder.finish();
    }
    return result;
}

struct DecoderCase {
    const char* what;
    std::uint16_t method;
    std::function<void(ZipEntry&, std::string&)> change;
    DecodeStatus status;
    size_t writeLimit = SIZE_MAX;
};

TEST(EntryDecoder, GivesTheFileOnlyWhenSizeAndCrcMatch) {
    const DecoderCase cases[] = {
        {"deflated", 8, [](ZipEntry&, std::string&) {}, DecodeStatus::Ok},
        {"stored", 0, [](ZipEntry&, std::string&) {}, DecodeStatus::Ok},
        {"a CRC-32 that does not match", 8, [](ZipEntry& e, std::string&) { e.crc32 ^= 0x80; }, DecodeStatus::Damaged},
        {"stored, CRC-32 not matching", 0, [](ZipEntry& e, std::string&) { e.crc32 ^= 1; }, DecodeStatus::Damaged},
        {"a size too small", 8, [](ZipEntry& e, std::string&) { e.uncompressedSize -= 1; }, DecodeStatus::Damaged},
        {"a size too large", 8, [](ZipEntry& e, std::string&) { e.uncompressedSize += 1; }, DecodeStatus::Damaged},
        {"stored, a size too large", 0, [](ZipEntry& e, std::string&) { e.uncompressedSize += 1; },
         DecodeStatus::Damaged},
        {"deflate data cut short", 8, [](ZipEntry&, std::string& b) { b.resize(b.size() - 3); },
         DecodeStatus::Damaged},
        {"deflate data without its end", 8, [](ZipEntry&, std::string& b) { b = rawDeflate(content(), Z_SYNC_FLUSH); },
         DecodeStatus::Damaged},
        {"not deflate data", 8, [](ZipEntry&, std::string& b) { b[0] = '\xFF'; }, DecodeStatus::Damaged},
        {"bytes after the deflate data", 8, [](ZipEntry&, std::string& b) { b += "PK"; }, DecodeStatus::Damaged},
        {"damaged deflate data", 8, [](ZipEntry&, std::string& b) { b[b.size() / 3] ^= 0x5A; },
         DecodeStatus::Damaged},
        {"a writer that gives up", 8, [](ZipEntry&, std::string&) {}, DecodeStatus::Stopped, 1000},
    };
    for (const DecoderCase& c : cases) {
        ZipEntry entry;
        entry.method = c.method;
        std::string bytes = c.method == 8 ? rawDeflate(content()) : content();
        entry.crc32 = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(content().data()), static_cast<uInt>(content().size())));
        entry.uncompressedSize = static_cast<std::uint32_t>(content().size());
        c.change(entry, bytes);
        entry.compressedSize = c.method == 8 ? static_cast<std::uint32_t>(bytes.size()) : entry.uncompressedSize;
        for (const size_t pieceSize : {size_t{1} << 20, size_t{4096}, size_t{7}}) {
            const DecodeResult result = decodeAll(entry, bytes, pieceSize, c.writeLimit);
            EXPECT_EQ(result.status, c.status) << c.what << ", pieces of " << pieceSize;
            // Never a byte more than the central directory allows.
            EXPECT_LE(result.written.size(), entry.uncompressedSize) << c.what;
            if (c.status == DecodeStatus::Ok) {
                EXPECT_TRUE(result.written == content()) << c.what << ", pieces of " << pieceSize;
            }
        }
    }
}

TEST(EntryDecoder, TakesOnlyStoredAndDeflated) {
    ZipEntry entry;
    entry.compressedSize = entry.uncompressedSize = 10;
    for (const std::uint16_t method : {1, 9, 12, 14, 93, 99}) {
        entry.method = method;
        EXPECT_FALSE(canDecode(entry)) << method;
    }
    entry.method = 8;
    EXPECT_TRUE(canDecode(entry));
    entry.method = 0;
    EXPECT_TRUE(canDecode(entry));
    entry.compressedSize = 12;  // stored bytes cannot be more or fewer than the file's
    EXPECT_FALSE(canDecode(entry));
}

}  // namespace
