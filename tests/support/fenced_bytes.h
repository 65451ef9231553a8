// Bytes between two pages no one may read, for unit tests of code that
// reads untrusted input: a read outside them faults, where on the heap it
// would pass unseen.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

// A copy of the bytes, flush against the unreadable page after them or the
// one before them.
class Fenced {
public:
    Fenced(const std::string& data, bool flushAfter) {
        const size_t pages = (data.size() + kPage - 1) / kPage + 2;
        base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, pages * kPage, MEM_COMMIT, PAGE_READWRITE));
        DWORD was = 0;
        EXPECT_TRUE(VirtualProtect(base_, kPage, PAGE_NOACCESS, &was) &&
                    VirtualProtect(base_ + (pages - 1) * kPage, kPage, PAGE_NOACCESS, &was));
        std::uint8_t* start = flushAfter ? base_ + (pages - 1) * kPage - data.size() : base_ + kPage;
        std::memcpy(start, data.data(), data.size());
        bytes_ = {start, data.size()};
    }
    ~Fenced() { VirtualFree(base_, 0, MEM_RELEASE); }
    Fenced(const Fenced&) = delete;
    Fenced& operator=(const Fenced&) = delete;
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    static constexpr size_t kPage = 4096;
    std::uint8_t* base_ = nullptr;
    std::span<const std::uint8_t> bytes_;
};

