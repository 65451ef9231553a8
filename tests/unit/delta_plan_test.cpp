#include "download/delta_plan.h"

#include <gtest/gtest.h>

namespace {

ZipEntry entry(const char* name, std::uint32_t crc, std::uint64_t start, std::uint64_t size) {
    return {name, crc, static_cast<std::uint32_t>(size - 40), 1000, 8, start, start + size};
}

void expectSteps(const std::vector<RebuildStep>& actual, const std::vector<RebuildStep>& expected,
                 const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].fromOldPackage, expected[i].fromOldPackage) << what << ", step " << i;
        EXPECT_EQ(actual[i].sourceOffset, expected[i].sourceOffset) << what << ", step " << i;
        EXPECT_EQ(actual[i].length, expected[i].length) << what << ", step " << i;
    }
}

struct PlanCase {
    const char* what;
    std::vector<ZipEntry> oldEntries;
    std::vector<ZipEntry> newEntries;
    std::vector<RebuildStep> steps;
};

TEST(PlanRebuild, CopiesWhatIsUnchangedAndFetchesTheRestInFewRanges) {
    const std::uint64_t big = 200000;
    const PlanCase cases[] = {
        {"one changed among many",
         {entry("a", 1, 0, big), entry("b", 2, big, 50), entry("c", 3, big + 50, big)},
         {entry("a", 1, 0, big), entry("b", 9, big, 60), entry("c", 3, big + 60, big)},
         {{true, 0, big}, {false, big, 60}, {true, big + 50, big}}},
        {"renamed, reordered, added and removed",
         {entry("a", 1, 0, big), entry("gone", 5, big, 100), entry("b", 2, big + 100, big)},
         {entry("b", 2, 0, big), entry("new", 7, big, 100), entry("a2", 1, big + 100, big)},
         {{true, big + 100, big}, {false, big, 100 + big}}},
        {"short copy between two fetches is fetched with them",
         {entry("x", 4, 0, 1000)},
         {entry("a", 1, 0, big), entry("x", 4, big, 1000), entry("b", 2, big + 1000, big)},
         {{false, 0, 2 * big + 1000}}},
        {"same content but another length on disk",
         {entry("a", 1, 0, big)},
         {ZipEntry{"a", 1, big - 40, 1000, 8, 0, big + 8}},
         {{false, 0, big + 8}}},
    };
    for (const PlanCase& c : cases) {
        ZipDirectory oldPackage{0, 0, c.oldEntries};
        ZipDirectory newPackage{0, 0, c.newEntries};
        expectSteps(planRebuild(oldPackage, newPackage), c.steps, c.what);
    }
}

TEST(StepsAfter, SkipsWhatIsInPlaceAndStartsMidStepWhereItStopped) {
    // Copy 100 bytes, fetch 50, copy 30: the new package's bytes 0-179.
    const std::vector<RebuildStep> plan{{true, 500, 100}, {false, 100, 50}, {true, 700, 30}};
    const struct {
        std::uint64_t done;
        std::vector<RebuildStep> remaining;
    } cases[] = {
        {0, plan},
        {100, {{false, 100, 50}, {true, 700, 30}}},
        {120, {{false, 120, 30}, {true, 700, 30}}},
        {160, {{true, 710, 20}}},
        {180, {}},
        {500, {}},
    };
    for (const auto& c : cases) {
        expectSteps(stepsAfter(plan, c.done), c.remaining, "done " + std::to_string(c.done));
    }
}

}  // namespace
