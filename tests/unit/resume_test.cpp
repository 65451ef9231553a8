#include "download/resume.h"

#include <gtest/gtest.h>

namespace {

const PartialRecord kRecord{L"https://u.example/p/nirva.zip", L"ab12", 1000, L"\"5f-3e8\""};

TEST(PartialRecordText, ReadsBackWhatWasWrittenAndNothingTornOrForeign) {
    for (const PartialRecord& record : {kRecord, PartialRecord{L"", L"", 0, L""}}) {
        EXPECT_EQ(parseRecord(recordText(record)), record);
    }
    const std::wstring text = recordText(kRecord);
    std::wstring badTotal = text;
    badTotal.replace(badTotal.find(L"1000"), 4, L"10x0");
    const std::wstring refused[] = {text.substr(0, text.size() - 1), L"x" + text, text + L"\n", badTotal,
                                    recordText({L"two\nlines", L"", 1, L""}), L""};
    for (const std::wstring& bad : refused) {
        EXPECT_FALSE(parseRecord(bad).has_value()) << testing::PrintToString(bad);
    }
}

TEST(MayContinue, OnlyFewerBytesOfTheSameReleaseThatSomethingVouchesFor) {
    PartialRecord noValidator = kRecord;
    noValidator.validator.clear();
    PartialRecord noDigest = noValidator;
    noDigest.sha256.clear();
    struct Case { PartialRecord record; std::uint64_t kept; std::wstring url; bool expected; };
    const Case cases[] = {
        {kRecord, 1, kRecord.url, true},
        {kRecord, 999, kRecord.url, true},
        {noValidator, 500, kRecord.url, true},  // the digest vouches
        {kRecord, 0, kRecord.url, false},
        {kRecord, 1000, kRecord.url, false},
        {kRecord, 1001, kRecord.url, false},
        {kRecord, 500, L"https://u.example/q/nirva.zip", false},
        {noDigest, 500, kRecord.url, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mayContinue(c.record, c.kept, c.url, c.record.sha256), c.expected) << c.kept;
    }
    EXPECT_FALSE(mayContinue(kRecord, 500, kRecord.url, L"cd34"));
    EXPECT_FALSE(mayContinue(kRecord, 500, kRecord.url, L""));
}

TEST(MayTakeWhole, OnlyAllTheBytesOfTheSameReleaseWithADigestToCheckThemBy) {
    PartialRecord noDigest = kRecord;
    noDigest.sha256.clear();
    struct Case { PartialRecord record; std::uint64_t kept; std::wstring url; bool expected; };
    const Case cases[] = {
        {kRecord, 1000, kRecord.url, true},
        {kRecord, 999, kRecord.url, false},
        {kRecord, 1001, kRecord.url, false},
        {PartialRecord{kRecord.url, kRecord.sha256, 0, L""}, 0, kRecord.url, false},
        {kRecord, 1000, L"https://u.example/q/nirva.zip", false},
        {noDigest, 1000, kRecord.url, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mayTakeWhole(c.record, c.kept, c.url, c.record.sha256), c.expected) << c.kept;
    }
    EXPECT_FALSE(mayTakeWhole(kRecord, 1000, kRecord.url, L"cd34"));
}

TEST(ChooseValidator, PrefersAStrongEtag) {
    EXPECT_EQ(chooseValidator(L"\"a\"", L"Mon, 01 Dec 2025 10:00:00 GMT"), L"\"a\"");
    EXPECT_EQ(chooseValidator(L"W/\"a\"", L"Mon, 01 Dec 2025 10:00:00 GMT"), L"Mon, 01 Dec 2025 10:00:00 GMT");
    EXPECT_EQ(chooseValidator(L"w/\"a\"", L""), L"");
    EXPECT_EQ(chooseValidator(L"", L""), L"");
}

TEST(ParseContentRange, NeedsAWholeRangeWithAKnownTotal) {
    const auto range = parseContentRange(L"bytes 100-999/1000");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->first, 100u);
    EXPECT_EQ(range->last, 999u);
    EXPECT_EQ(range->total, 1000u);
    EXPECT_TRUE(parseContentRange(L"Bytes  0-0/1").has_value());
    for (const wchar_t* bad : {L"bytes */1000", L"bytes 1-2/*", L"bytes 5-4/10", L"bytes 0-10/10", L"bytes -1-2/3",
                               L"bytes 1-2", L"bytes ", L"", L"items 1-2/3", L"bytes 1-2/99999999999999999999",
                               L"bytes 1 -2/3"}) {
        EXPECT_FALSE(parseContentRange(bad).has_value()) << testing::PrintToString(std::wstring(bad));
    }
}

TEST(JudgeAnswer, ContinuesOnlyTheRestOfTheSameFile) {
    struct Case {
        std::uint32_t status;
        std::uint64_t kept;
        const wchar_t* range;
        const wchar_t* validator;
        AnswerUse use;
    };
    const Case cases[] = {
        {200, 400, L"", L"\"other\"", AnswerUse::WholeFile},
        {206, 400, L"bytes 400-999/1000", L"\"5f-3e8\"", AnswerUse::Continue},
        {206, 400, L"bytes 400-999/1000", L"", AnswerUse::Continue},
        {206, 400, L"bytes 400-999/1000", L"\"other\"", AnswerUse::Discard},
        {206, 400, L"bytes 300-999/1000", L"", AnswerUse::Discard},
        {206, 400, L"bytes 400-998/1000", L"", AnswerUse::Discard},
        {206, 400, L"bytes 400-1099/1100", L"", AnswerUse::Discard},
        {206, 400, L"", L"", AnswerUse::Discard},
        {206, 0, L"bytes 0-999/1000", L"", AnswerUse::Discard},
        {416, 400, L"bytes */1000", L"", AnswerUse::Discard},
        {503, 400, L"", L"", AnswerUse::Fail},
        {304, 400, L"", L"", AnswerUse::Fail},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judgeAnswer(c.status, c.kept, kRecord, c.range, c.validator), c.use)
            << c.status << " " << testing::PrintToString(std::wstring(c.range));
    }
}

TEST(AttemptCount, EndsAfterThreeFruitlessInARowOrThirtyInAll) {
    const struct {
        std::vector<bool> pattern;
        int attempts;
        bool gaveUpWhileGaining;
    } cases[] = {
        {{false}, 3, false},
        {{false, false, true, false, false, false}, 6, false},
        {{true}, 30, true},
        {{true, false}, 30, true},
    };
    for (const auto& c : cases) {
        AttemptCount count;
        int attempts = 0;
        for (; mayAttemptAgain(count); ++attempts) {
            countAttempt(count, c.pattern[attempts % c.pattern.size()]);
        }
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(gaveUpWhileGaining(count), c.gaveUpWhileGaining) << attempts;
    }
}

}  // namespace
