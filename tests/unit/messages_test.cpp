#include "update/messages.h"

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
