#include "app/refused_release_text.h"
#include "install/start_verdict.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kBound = 60000;
constexpr std::uint32_t kAccessViolation = 0xC0000005;

// Only a start whose every process ended without a window fails; a window
// decides for the release whenever it shows, and the bound leaves the rest
// undecided.
TEST(FirstStart, FailsOnlyWhenEveryProcessEndedWithoutAWindow) {
    using enum StartVerdict;
    const struct {
        StartLook look;
        StartVerdict verdict;
    } cases[] = {
        {{std::nullopt, true, false, 200}, Watching},
        {{std::nullopt, true, true, 200}, Healthy},
        {{kAccessViolation, false, false, 300}, Failed},
        {{0u, false, false, 300}, Failed},
        // A launcher that ended while the program it started comes up.
        {{0u, true, false, 300}, Watching},
        {{0u, true, true, 900}, Healthy},
        {{std::nullopt, true, false, kBound - 1}, Watching},
        {{std::nullopt, true, false, kBound}, Undecided},
        {{0u, true, false, kBound + 5}, Undecided},
        {{std::nullopt, true, true, kBound}, Healthy},
        {{kAccessViolation, false, false, kBound + 5}, Failed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeFirstStart(c.look, kBound), c.verdict) << c.look.running << c.look.windowShown << c.look.elapsedMs;
    }
}

// The file keeps the version's numbers; only exactly those are read back, and
// an offer is refused only for the same numbers.
TEST(RefusedRelease, IsReadBackOnlyAsFourDottedNumbers) {
    for (const wchar_t* version : {L"2.0.0.0", L"4.1.0+12", L"2147483647.0.1.9"}) {
        EXPECT_TRUE(isRefusedRelease(version, refusedReleaseFromText(refusedReleaseText(version)))) << version;
    }
    EXPECT_EQ(refusedReleaseText(L"4.1.0+12"), "4.1.0.12");
    for (const char* damaged : {"", "2.0.0", "2.0.0.0.0", "2.0.0.0\r\n", "2..0.0", "2.0.0.x", "-2.0.0.0", "+2.0.0.0",
                                "2.0.0.2147483648"}) {
        EXPECT_FALSE(refusedReleaseFromText(damaged)) << damaged;
    }
    EXPECT_TRUE(isRefusedRelease(L"2.0", refusedReleaseFromText("2.0.0.0")));
    EXPECT_FALSE(isRefusedRelease(L"2.0.0.1", refusedReleaseFromText("2.0.0.0")));
}

}  // namespace
