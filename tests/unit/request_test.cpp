#include "net/request_path.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const wchar_t* url;
    const wchar_t* path;
};

TEST(PackageRequestPath, TakesThePathAfterTheHostWhateverTheHost) {
    const PathCase cases[] = {
        {L"https://updates.example/releases/4.1/nirva.zip?build=7", L"/releases/4.1/nirva.zip?build=7"},
        {L"https://elsewhere.example:8443/nirva.zip", L"/nirva.zip"},
        {L"http://updates.example/nirva.zip", L"/nirva.zip"},
        {L"https://updates.example", L"/"},
        {L"https://a", L"/"},
        {L"https://", L"/"},
        {L"", L"/"},
        {L"/p/nirva.zip", L"/"},
        {L"https://h/a b/nirva.zip#frag", L"/a b/nirva.zip#frag"},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(packageRequestPath(c.url), c.path) << "url: " << testing::PrintToString(std::wstring(c.url));
    }
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
