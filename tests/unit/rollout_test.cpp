#include "common/encoding.h"
#include "update/office_bucket.h"
#include "update/offer.h"

#include <cstdio>
#include <span>
#include <string>

#include <gtest/gtest.h>

namespace {

// 10,000 offices with random-looking ids, placed for two releases.
TEST(RolloutDrill, TheShareHasItsSizeWideningKeepsItsOfficesAndTheNextReleaseHasOtherFirsts) {
    int at10 = 0, at50 = 0, droppedAt50 = 0, firstInBoth = 0;
    for (int office = 0; office < 10000; ++office) {
        const Sha256Digest random = *sha256Of(std::to_string(office));
        const std::string id = lowercaseHex(std::span(random).first(16));
        const auto inside = [&id](const wchar_t* version, const wchar_t* rollout) {
            return rolloutPlace(std::wstring(rollout), officeBucket(id, version)) == RolloutPlace::Inside;
        };
        const bool first = inside(L"4.1.0.12", L"10"), wide = inside(L"4.1.0.12", L"50");
        at10 += first;
        at50 += wide;
        droppedAt50 += first && !wide;
        firstInBoth += first && inside(L"4.1.0.13", L"10");
    }
    std::printf("offices in at 10 %%: %d, at 50 %%: %d, in the first 10 %% of both releases: %d\n", at10, at50,
                firstInBoth);
    EXPECT_TRUE(at10 >= 900 && at10 <= 1100) << at10;
    EXPECT_EQ(droppedAt50, 0);
    EXPECT_TRUE(firstInBoth >= 50 && firstInBoth <= 150) << firstInBoth;
}

}  // namespace
