#include "net/connection.h"
#include "net/manifest_request.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckRequestPath, AppendsTheVersionUnescaped) {
    EXPECT_EQ(checkRequestPath(L"1.2.3.4"), L"/api/marlix/check/NIRVA_ACC/1.2.3.4");
    EXPECT_EQ(checkRequestPath(L"0.0.0.0"), L"/api/marlix/check/NIRVA_ACC/0.0.0.0");
    EXPECT_EQ(checkRequestPath(L"1, 2, 3, 4"), L"/api/marlix/check/NIRVA_ACC/1, 2, 3, 4");
}

TEST(ConnectionConstants, RelaxOnlyTheThreeCertificateChecks) {
    EXPECT_EQ(kRelaxedSecurityFlags, 0x3100u);
    EXPECT_STREQ(kUserAgent, L"NIRVA-Updater");
}

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

}  // namespace
