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

}  // namespace
