#include "common/encoding.h"
#include "update/office_bucket.h"
#include "update/offer.h"

#include <cstdio>
#include <span>
#include <string>

#include <gtest/gtest.h>

namespace {

bool inside(std::uint32_t bucket, const wchar_t* rollout) {
    return rolloutPlace(std::wstring(rollout), bucket) == RolloutPlace::Inside;
}

// 10,000 offices with random-looking ids: the share's size, that widening
// keeps the first offices in, and that the next release has other first offices.
TEST(RolloutDrill, TenThousandOffices) {
    int at10 = 0, at50 = 0, droppedByWidening = 0, firstInBoth = 0;
    for (int office = 0; office < 10000; ++office) {
        const Sha256Digest random = *sha256Of(std::to_string(office));
        const std::string id = lowercaseHex(std::span(random).first(16));
        const std::uint32_t bucket = *officeBucket(id, L"4.1.0.12"), next = *officeBucket(id, L"4.1.0.13");
        at10 += inside(bucket, L"10");
        at50 += inside(bucket, L"50");
        droppedByWidening += inside(bucket, L"10") && !inside(bucket, L"50");
        firstInBoth += inside(bucket, L"10") && inside(next, L"10");
    }
    std::printf("offices in at 10 %%: %d, at 50 %%: %d, in the first 10 %% of both releases: %d\n", at10, at50,
                firstInBoth);
    EXPECT_TRUE(at10 >= 900 && at10 <= 1100) << at10;
    EXPECT_TRUE(at50 >= 4800 && at50 <= 5200) << at50;
    EXPECT_EQ(droppedByWidening, 0);
    EXPECT_TRUE(firstInBoth >= 50 && firstInBoth <= 150) << firstInBoth;
}

}  // namespace
