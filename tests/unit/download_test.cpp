#include "download/messages.h"
#include "download/package_download.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include <gtest/gtest.h>

// Counts the heap objects alive in this test program, so that a progress
// text nobody frees shows up.
namespace {
std::atomic<long long> liveAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        ++liveAllocations;
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    if (memory != nullptr) {
        --liveAllocations;
        std::free(memory);
    }
}

void operator delete(void* memory, std::size_t) noexcept {
    operator delete(memory);
}

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

struct ProgressCase {
    std::uint32_t received;
    std::uint32_t announced;
    double elapsedSeconds;
    std::int32_t percentage;
    std::int32_t kilobytesPerSecond;
    std::int32_t remainingSeconds;
};

TEST(ComputeProgress, AveragesOverTheWholeBodyAndTruncates) {
    const ProgressCase cases[] = {
        {1572864, 10485760, 3.0, 15, 512, 17},
        {10485760, 10485760, 2.0, 100, 5120, 0},
        {1, 3, 1.0, 33, 0, 2},
        {4000000000u, 4294967295u, 1.0, 93, 3906250, 0},
        {5000, 0, 1.0, 0, 4, 0},     // no length announced
        {5000, 1000, 1.0, 500, 4, 0},  // more than announced
        {5000, 10000, 0.0, 50, 0, 0},  // no time has passed yet
        {1, 4294967295u, 1.0, 0, 0, INT32_MAX},
    };
    for (const ProgressCase& c : cases) {
        const DownloadProgress progress = computeProgress(c.received, c.announced, c.elapsedSeconds);
        EXPECT_EQ(progress.percentage, c.percentage) << c.received << " of " << c.announced;
        EXPECT_EQ(progress.kilobytesPerSecond, c.kilobytesPerSecond) << c.received << " of " << c.announced;
        EXPECT_EQ(progress.remainingSeconds, c.remainingSeconds) << c.received << " of " << c.announced;
    }
}

TEST(ProgressText, ConcatenatesNumbersAndPersianPieces) {
    const std::wstring expected =
        L"15%   \u0633\u0631\u0639\u062A \u062F\u0627\u0646\u0644\u0648\u062F: 512 KB/s   "
        L"\u0632\u0645\u0627\u0646 \u0628\u0627\u0642\u06CC \u0645\u0627\u0646\u062F\u0647: 17 "
        L"\u062B\u0627\u0646\u06CC\u0647";
    EXPECT_EQ(progressText({15, 512, 17}), expected);
    EXPECT_EQ(std::wstring(kProgressPercentPiece).size(), 17u);
    EXPECT_EQ(std::wstring(kProgressSpeedPiece).size(), 25u);
    EXPECT_EQ(std::wstring(kProgressSecondsPiece).size(), 6u);
    EXPECT_EQ(progressText({-1, 0, 0}).substr(0, 3), L"-1%");
}

TEST(ParseSha256, AcceptsExactlySixtyFourHexDigitsOfEitherCase) {
    const std::wstring lower(L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    std::wstring upper = lower;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(towupper(c));
    }
    const auto digest = parseSha256(lower);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ((*digest)[0], 0x00);
    EXPECT_EQ((*digest)[5], 0x55);
    EXPECT_EQ((*digest)[15], 0xff);
    EXPECT_EQ(parseSha256(upper), digest);

    const std::wstring refused[] = {L"", lower.substr(1), lower + L"0", L"g" + lower.substr(1),
                                    L" " + lower.substr(1)};
    for (const std::wstring& text : refused) {
        EXPECT_FALSE(parseSha256(text).has_value()) << testing::PrintToString(text);
    }
}

}  // namespace

namespace {

HWND createMessageWindow() {
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

TEST(PostProgress, HandsTheTextToALiveWindow) {
    const HWND window = createMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(postProgress(window, {42, 7, 3}));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, WM_UPDATE_PROGRESS, WM_UPDATE_PROGRESS, PM_REMOVE));
    const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(message.lParam));
    EXPECT_EQ(static_cast<int>(message.wParam), 42);
    EXPECT_EQ(*text, progressText({42, 7, 3}));
    DestroyWindow(window);
}

TEST(PostProgress, FreesTheTextWhenTheWindowIsGone) {
    const HWND window = createMessageWindow();
    ASSERT_NE(window, nullptr);
    DestroyWindow(window);
    const long long before = liveAllocations;
    for (int i = 0; i < 100; ++i) {
        ASSERT_FALSE(postProgress(window, {i, i, i}));
    }
    EXPECT_EQ(liveAllocations, before);
}

}  // namespace
