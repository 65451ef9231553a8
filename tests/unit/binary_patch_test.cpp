// The patch applier against the shared vectors (tests/vectors/patch): the
// release tool's patch and hand-made ones rebuild the package's own deflated
// bytes; every damaged one is refused before a byte is handed on.
#include "archive/binary_patch.h"
#include "fenced_bytes.h"
#include "vector_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>

namespace {

ZipEntry entryOf(const std::string& content, size_t compressedSize) {
    ZipEntry entry;
    entry.crc32 = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    entry.uncompressedSize = static_cast<std::uint32_t>(content.size());
    entry.compressedSize = static_cast<std::uint32_t>(compressedSize);
    entry.method = 8;
    return entry;
}

struct Vector {
    std::string old;
    std::string patch;
    // What the patch must rebuild, and the package's deflated bytes of it.
    std::string content;
    std::string deflated;
};

// A row of cases.tsv; a damaged patch is meant for the pair its old content is of.
Vector vector(const std::wstring& name, const std::wstring& oldName) {
    const std::wstring stem = L"patch\\new_" + oldName.substr(4, oldName.size() - 8);
    return {readVectorBytes(L"patch\\" + oldName), readVectorBytes(L"patch\\" + name + L".patch"),
            readVectorBytes(stem + L".bin"), readVectorBytes(stem + L".deflated")};
}

struct Rebuilt {
    PatchStatus status;
    std::string written;
};

// The old content and the patch fenced after, then before: the same result.
Rebuilt rebuild(const Vector& v, const ZipEntry& newEntry, std::uint64_t skip = 0, size_t writeLimit = SIZE_MAX) {
    Rebuilt results[2];
    for (const bool flushAfter : {true, false}) {
        const Fenced old(v.old, flushAfter);
        const Fenced patch(v.patch, flushAfter);
        Rebuilt& result = results[flushAfter];
        result.status =
            rebuildPatchedEntry(old.bytes(), patch.bytes(), entryOf(v.old, 0), newEntry, skip,
                                [&result, writeLimit](std::span<const std::uint8_t> piece) {
                                    result.written.append(reinterpret_cast<const char*>(piece.data()), piece.size());
                                    return result.written.size() <= writeLimit;
                                });
    }
    EXPECT_TRUE(results[0].status == results[1].status && results[0].written == results[1].written);
    return results[0];
}

TEST(RebuildPatchedEntry, GivesThePackagesBytesOrRefusesEachVector) {
    const auto rows = readVectorRows(L"patch\\cases.tsv", 3);
    ASSERT_GE(rows.size(), 18u);
    for (const auto& row : rows) {
        const Vector v = vector(row[0], row[1]);
        const Rebuilt result = rebuild(v, entryOf(v.content, v.deflated.size()));
        if (row[2] == L"refused") {
            EXPECT_NE(result.status, PatchStatus::Ok) << testing::PrintToString(row[0]);
            EXPECT_EQ(result.written, "") << testing::PrintToString(row[0]);
        } else {
            EXPECT_EQ(result.status, PatchStatus::Ok) << testing::PrintToString(row[0]);
            EXPECT_TRUE(result.written == v.deflated) << testing::PrintToString(row[0]);
        }
    }
}

struct EntryCase {
    const char* what;
    const wchar_t* patch;
    std::function<void(ZipEntry&)> change;
    std::uint64_t skip;
    PatchStatus status;
    size_t writeLimit = SIZE_MAX;
};

TEST(RebuildPatchedEntry, HandsOnOnlyWhatTheNewEntrySays) {
    const EntryCase cases[] = {
        {"a rebuild cut short goes on", L"bsdiff_edits", [](ZipEntry&) {}, 700, PatchStatus::Ok},
        {"a patch that lies about its result", L"rebuilds_another_crc", [](ZipEntry& e) { e.crc32 = 0x12345678; }, 0,
         PatchStatus::OtherContent},
        {"compressed otherwise: fewer bytes", L"bsdiff_edits", [](ZipEntry& e) { e.compressedSize += 1; }, 0,
         PatchStatus::OtherCompression},
        {"compressed otherwise: more bytes", L"hand_made", [](ZipEntry& e) { e.compressedSize -= 1; }, 0,
         PatchStatus::OtherCompression},
        {"a writer that gives up", L"bsdiff_edits", [](ZipEntry&) {}, 0, PatchStatus::Stopped, 100},
    };
    for (const EntryCase& c : cases) {
        const Vector v =
            vector(c.patch, c.patch == std::wstring(L"bsdiff_edits") ? L"old_edited.bin" : L"old_small.bin");
        ZipEntry entry = entryOf(v.content, v.deflated.size());
        c.change(entry);
        const Rebuilt result = rebuild(v, entry, c.skip, c.writeLimit);
        EXPECT_EQ(result.status, c.status) << c.what;
        // Never a byte past the new entry's compressed size.
        EXPECT_LE(result.written.size(), entry.compressedSize) << c.what;
        if (c.status == PatchStatus::Ok) {
            EXPECT_TRUE(result.written == v.deflated.substr(std::min<size_t>(c.skip, v.deflated.size()))) << c.what;
        }
    }
}

}  // namespace
