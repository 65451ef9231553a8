#include "app/update_check.h"
#include "app/version.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Parts = std::array<std::int32_t, 4>;

struct ParseCase {
    const wchar_t* text;
    Parts parts;
};

TEST(ParseVersion, ReadsDottedPartsUpToTheFirstMismatch) {
    const ParseCase cases[] = {
        {L"1.2.3.4", {1, 2, 3, 4}},
        {L"1.2", {1, 2, 0, 0}},
        {L"1.2.3.4.5", {1, 2, 3, 4}},
        {L"1.2.3+45", {1, 2, 3, 45}},
        {L"2.0.0-beta", {2, 0, 0, 0}},
        {L"V1.2.3.4", {0, 0, 0, 0}},
        {L"", {0, 0, 0, 0}},
        {L"01.002.0.10", {1, 2, 0, 10}},
        {L"-1.0.0.0", {-1, 0, 0, 0}},
        {L"+1.2.3.4", {0, 0, 0, 0}},
        {L"1, 2, 3, 4", {1, 0, 0, 0}},
        {L"1. 2.3.4", {1, 2, 3, 4}},
        {L"1 .2.3.4", {1, 0, 0, 0}},
        {L"4.1.0.12", {4, 1, 0, 12}},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(parseVersion(c.text).parts, c.parts) << "text: " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(ParseVersion, OversizedPartsSaturateInsteadOfWrapping) {
    const ParseCase cases[] = {
        {L"2147483647.0.0.0", {INT_MAX, 0, 0, 0}},
        {L"2147483648.1.0.0", {INT_MAX, 1, 0, 0}},
        {L"1.99999999999.0.0", {1, INT_MAX, 0, 0}},
        {L"1.2.3.99999999999999999999999999", {1, 2, 3, INT_MAX}},
        {L"-99999999999.0.0.0", {INT_MIN, 0, 0, 0}},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(parseVersion(c.text).parts, c.parts) << "text: " << testing::PrintToString(std::wstring(c.text));
    }
}

struct CompareCase {
    const wchar_t* latest;
    const wchar_t* installed;
    bool newer;
};

TEST(IsNewerVersion, ComparesNumbersPartByPart) {
    const CompareCase cases[] = {
        {L"1.2.3.10", L"1.2.3.9", true},
        {L"1.2.3.9", L"1.2.3.10", false},
        {L"2.0", L"1.9.9.9", true},
        {L"1.2", L"1.2.0.0", false},
        {L"1.2.0.0", L"1.2", false},
        {L"1.2.3.4", L"1.2.3.4", false},
        {L"1.2.3.3", L"1.2.3.4", false},
        {L"0.0.0.1", L"0.0.0.0", true},
        {L"", L"0.0.0.0", false},
        {L"garbage", L"1.0.0.0", false},
        {L"0.0.0.0", L"-1.0.0.0", true},
        {L"1.2.3+45", L"1.2.3.44", true},
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(isNewerVersion(parseVersion(c.latest), parseVersion(c.installed)), c.newer)
            << testing::PrintToString(std::wstring(c.latest)) << " against "
            << testing::PrintToString(std::wstring(c.installed));
    }
}

TEST(NormalizedInstalledVersion, DefaultsAndTurnsBuildSuffixIntoAPart) {
    EXPECT_EQ(normalizedInstalledVersion(L""), L"0.0.0.0");
    EXPECT_EQ(normalizedInstalledVersion(L"1.2.3+45"), L"1.2.3.45");
    EXPECT_EQ(normalizedInstalledVersion(L"1, 2, 3, 4"), L"1, 2, 3, 4");
    EXPECT_EQ(normalizedInstalledVersion(L"+1+2"), L".1.2");
}

}  // namespace
