#include "download/progress.h"

#include <gtest/gtest.h>

namespace {

struct ProgressCase {
    std::uint64_t held;
    std::uint64_t total;
    std::uint64_t receivedNow;
    double elapsedSeconds;
    DownloadProgress expected;
};

TEST(ComputeProgress, CountsKeptBytesAsHeldButNotInTheSpeed) {
    const ProgressCase cases[] = {
        {1572864, 10485760, 1572864, 3.0, {15, 512, 17}},
        {10485760, 10485760, 10485760, 2.0, {100, 5120, 0}},
        {1, 3, 1, 1.0, {33, 0, 2}},
        {4000000000u, 4294967295u, 4000000000u, 1.0, {93, 3906250, 0}},
        {5000, 0, 5000, 1.0, {0, 4, 0}},      // no length announced
        {5000, 1000, 5000, 1.0, {500, 4, 0}},  // more than announced
        {5000, 10000, 5000, 0.0, {50, 0, 0}},  // no time has passed yet
        {1, 4294967295u, 1, 1.0, {0, 0, INT32_MAX}},
        {8388608, 10485760, 1048576, 2.0, {80, 512, 4}},  // resumed after 7 MiB
        {8388608, 10485760, 0, 2.0, {80, 0, 0}},
        {5ull << 32, 10ull << 32, 1ull << 32, 4096.0, {50, 1024, 20480}},
    };
    for (const ProgressCase& c : cases) {
        const DownloadProgress progress = computeProgress(c.held, c.total, c.receivedNow, c.elapsedSeconds);
        const auto label = testing::PrintToString(c.held) + " of " + testing::PrintToString(c.total);
        EXPECT_EQ(progress.percentage, c.expected.percentage) << label;
        EXPECT_EQ(progress.kilobytesPerSecond, c.expected.kilobytesPerSecond) << label;
        EXPECT_EQ(progress.remainingSeconds, c.expected.remainingSeconds) << label;
    }
}

TEST(ProgressText, PutsEachNumberBeforeItsPersianPiece) {
    EXPECT_EQ(progressText({15, 512, 17}),
              L"15%   \u0633\u0631\u0639\u062A \u062F\u0627\u0646\u0644\u0648\u062F: 512 KB/s   "
              L"\u0632\u0645\u0627\u0646 \u0628\u0627\u0642\u06CC \u0645\u0627\u0646\u062F\u0647: 17 "
              L"\u062B\u0627\u0646\u06CC\u0647");
    EXPECT_EQ(progressText({-1, 0, 0}).substr(0, 3), L"-1%");
}

}  // namespace
