#include "common/encoding.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

struct DecodeCase {
    std::string bytes;
    std::wstring text;
};

TEST(DecodeUtf8, ReplacesInvalidSequencesAndKeepsTheByteOrderMark) {
    const DecodeCase cases[] = {
        {"", L""},
        {"{\"version\":\"1.2\"}", L"{\"version\":\"1.2\"}"},
        {"\xD9\x86\xDB\x8C\xD8\xB1\xD9\x88\xD8\xA7", L"\u0646\u06CC\u0631\u0648\u0627"},
        {"a\xFF" "b", L"a\uFFFDb"},
        {"\xEF\xBB\xBFx", L"\uFEFFx"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(decodeUtf8(c.bytes), c.text) << "bytes: " << testing::PrintToString(c.bytes);
    }
}

TEST(ParseSha256, AcceptsExactlySixtyFourHexDigitsOfEitherCase) {
    const std::wstring lower(L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    std::wstring upper = lower;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    const auto digest = parseSha256(lower);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ((*digest)[0], 0x00);
    EXPECT_EQ((*digest)[5], 0x55);
    EXPECT_EQ((*digest)[15], 0xff);
    EXPECT_EQ(parseSha256(upper), digest);
    EXPECT_EQ(digestText(parseSha256(upper)), lower) << "the partial record compares digests as lowercase text";
    EXPECT_EQ(digestText(std::nullopt), L"");

    const std::wstring refused[] = {L"", lower.substr(1), lower + L"0", L"g" + lower.substr(1),
                                    L" " + lower.substr(1)};
    for (const std::wstring& text : refused) {
        EXPECT_FALSE(parseSha256(text).has_value()) << testing::PrintToString(text);
    }
}

}  // namespace
