// The release message and signature vectors, which the release tool's tests
// read too: both sides build the same bytes and take the same signatures.
#include "net/release_message.h"
#include "vector_files.h"

#include <gtest/gtest.h>

namespace {

ManifestRecord vectorManifest(const std::wstring& name) {
    return readManifest(readVectorText(L"release_signature\\" + name + L".json"));
}

TEST(ReleaseMessage, IsTheSameBytesTheReleaseToolSigns) {
    const auto cases = readVectorRows(L"release_signature\\cases.tsv", 2);
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        std::wstring expected = readVectorText(L"release_signature\\" + row[0] + L".message");
        expected.erase(expected.find_last_not_of(L'\n') + 1);
        const std::string message = hexText(releaseMessage(vectorManifest(row[0])));
        EXPECT_EQ(std::wstring(message.begin(), message.end()), expected) << testing::PrintToString(row[0]);
    }
}

}  // namespace
