// Version rules against the vectors the release tool's tests read as well,
// so that the two readings cannot drift apart.
#include "app/version.h"
#include "vector_files.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(VersionVectors, ParseAsTheReleaseToolExpects) {
    const auto rows = readVectorRows(L"version\\parse.tsv", 2);
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        std::wistringstream expectedParts(row[1]);
        VersionNumber expected;
        for (std::int32_t& part : expected.parts) {
            expectedParts >> part;
        }
        EXPECT_EQ(parseVersion(row[0]).parts, expected.parts) << testing::PrintToString(row[0]);
    }
}

TEST(VersionVectors, CompareAsTheReleaseToolExpects) {
    const auto rows = readVectorRows(L"version\\newer.tsv", 3);
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        EXPECT_EQ(isNewerVersion(parseVersion(row[0]), parseVersion(row[1])), row[2] == L"newer")
            << testing::PrintToString(row[0]) << " against " << testing::PrintToString(row[1]);
    }
}

TEST(NormalizedInstalledVersion, DefaultsAndTurnsBuildSuffixIntoAPart) {
    EXPECT_EQ(normalizedInstalledVersion(L""), L"0.0.0.0");
    EXPECT_EQ(normalizedInstalledVersion(L"1.2.3+45"), L"1.2.3.45");
    EXPECT_EQ(normalizedInstalledVersion(L"1, 2, 3, 4"), L"1, 2, 3, 4");
    EXPECT_EQ(normalizedInstalledVersion(L"+1+2"), L".1.2");
}

}  // namespace
