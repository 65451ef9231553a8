// The central-directory reader against zips made by Python's zipfile and by
// the release tool, some damaged on purpose (tests/vectors/zip/make_vectors.py).
#include "archive/zip_directory.h"
#include "common/encoding.h"
#include "vector_files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& data) {
    return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

std::wstring listing(const ZipDirectory& directory) {
    std::wstring text;
    for (const ZipEntry& entry : directory.entries) {
        text += decodeUtf8(entry.name) + L"\t" + std::to_wstring(entry.crc32) + L"\t" +
                std::to_wstring(entry.compressedSize) + L"\t" + std::to_wstring(entry.uncompressedSize) + L"\t" +
                std::to_wstring(entry.method) + L"\t" + std::to_wstring(entry.start) + L"\t" +
                std::to_wstring(entry.end) + L"\n";
    }
    return text;
}

TEST(ReadZipTail, FindsEveryEntryOrRefusesTheArchive) {
    int vectors = 0;
    for (const auto& file : std::filesystem::directory_iterator(std::filesystem::path(NIRVA_VECTOR_DIR) / L"zip")) {
        if (file.path().extension() != L".zip") {
            continue;
        }
        ++vectors;
        const std::wstring name = file.path().stem().wstring();
        const std::string zip = readVectorBytes(L"zip\\" + name + L".zip");
        const std::wstring expected = readVectorText(L"zip\\" + name + L".tsv");
        const ZipTailReading reading = readZipTail(bytesOf(zip), zip.size());
        EXPECT_EQ(reading.directory ? listing(*reading.directory) : L"refused\n", expected)
            << testing::PrintToString(name);
    }
    EXPECT_GE(vectors, 10);
}

TEST(ReadZipTail, AsksForTheWholeDirectoryWhenTheTailIsShort) {
    const std::string zip = readVectorBytes(L"zip\\release_tool.zip");
    // The end record alone: it tells where the directory starts.
    const ZipTailReading first = readZipTail(bytesOf(zip).last(22), zip.size());
    ASSERT_FALSE(first.directory);
    ASSERT_GT(first.neededTailLength, 22u);
    const ZipTailReading second = readZipTail(bytesOf(zip).last(first.neededTailLength), zip.size());
    ASSERT_TRUE(second.directory);
    EXPECT_EQ(second.directory->directoryStart, zip.size() - first.neededTailLength);
}

}  // namespace
