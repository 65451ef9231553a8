#include "net/release_signature.h"
#include "vector_files.h"

#include <gtest/gtest.h>

namespace {

ReleasePublicKey vectorKey() {
    const std::wstring hex = readVectorText(L"release_signature\\key.hex");
    ReleasePublicKey key{};
    for (size_t i = 0; i < key.size() && 2 * i + 1 < hex.size(); ++i) {
        key[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    return key;
}

TEST(VerifyReleaseSignature, AcceptsOnlyTheVectorsThatAreValid) {
    const ReleasePublicKey keys[] = {ReleasePublicKey{}, vectorKey()};
    const auto cases = readVectorRows(L"release_signature\\cases.tsv", 2);
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const ManifestRecord manifest = readManifest(readVectorText(L"release_signature\\" + row[0] + L".json"));
        // The vector key verifies whether it is the release key or its backup.
        EXPECT_EQ(verifyReleaseSignature(manifest, std::span(keys).subspan(1)), row[1] == L"valid") << testing::PrintToString(row[0]);
        EXPECT_EQ(verifyReleaseSignature(manifest, keys), row[1] == L"valid") << testing::PrintToString(row[0]);
    }
}

}  // namespace
