// Runs every shared manifest vector through the updater's reader; the release
// tool's reader runs the same vectors, so the two cannot drift apart.
#include "net/manifest.h"
#include "vector_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

// An .expected file: nine "key=value" lines in the record's order; a line
// of size or rollout that is the key alone says that the key is absent.
ManifestRecord expectedRecord(const std::wstring& text) {
    ManifestRecord record;
    std::wstring mandatory;
    std::wistringstream lines(text);
    for (std::wstring* field : {&record.version, &record.url, &record.sha256, &record.notes, &record.releaseDate,
                                &record.uploadDate, &mandatory}) {
        std::wstring line;
        std::getline(lines, line);
        EXPECT_NE(line.find(L'='), std::wstring::npos) << "not a key=value line";
        *field = line.substr(line.find(L'=') + 1);
    }
    EXPECT_TRUE(mandatory == L"true" || mandatory == L"false");
    record.mandatory = mandatory == L"true";
    for (std::optional<std::wstring>* field : {&record.size, &record.rollout}) {
        std::wstring line;
        std::getline(lines, line);
        if (line.find(L'=') != std::wstring::npos) {
            *field = line.substr(line.find(L'=') + 1);
        }
    }
    return record;
}

TEST(ManifestVectors, ReaderGivesEveryVectorsExpectedRecord) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(NIRVA_VECTOR_DIR) / L"manifest")) {
        if (entry.path().extension() == L".json") {
            names.push_back(entry.path().stem().wstring());
        }
    }
    ASSERT_FALSE(names.empty());
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        const ManifestRecord expected = expectedRecord(readVectorText(L"manifest\\" + name + L".expected"));
        const ManifestRecord actual = readManifest(readVectorText(L"manifest\\" + name + L".json"));
        EXPECT_EQ(actual.version, expected.version);
        EXPECT_EQ(actual.url, expected.url);
        EXPECT_EQ(actual.sha256, expected.sha256);
        EXPECT_EQ(actual.notes, expected.notes);
        EXPECT_EQ(actual.releaseDate, expected.releaseDate);
        EXPECT_EQ(actual.uploadDate, expected.uploadDate);
        EXPECT_EQ(actual.mandatory, expected.mandatory);
        EXPECT_EQ(actual.size, expected.size);
        EXPECT_EQ(actual.rollout, expected.rollout);
    }
}

}  // namespace
