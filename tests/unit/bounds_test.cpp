#include "download/bounds.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageSize, OnlyAWholeNumberOfBytesAsJsonWritesIt) {
    for (const auto& [text, size] : {std::pair<const wchar_t*, std::optional<std::uint64_t>>{L"1", 1},
                                     {L"9223372036854775807", 9223372036854775807ull},
                                     {L"9223372036854775808", std::nullopt}, {L"18446744073709551616", std::nullopt},
                                     {L"0", std::nullopt}, {L"012", std::nullopt}, {L"-1", std::nullopt},
                                     {L"1e3", std::nullopt}, {L" 1", std::nullopt}, {L"", std::nullopt}}) {
        EXPECT_EQ(parsePackageSize(text), size) << testing::PrintToString(std::wstring(text));
    }
}

TEST(AnnouncedLength, HoldsTheBodyToTheSizeOrTheCeiling) {
    using enum LengthVerdict;
    constexpr std::uint64_t kOver = kPackageCeilingBytes + 1;
    const std::optional<std::uint64_t> none;
    const struct {
        const char* what;
        std::uint32_t status;
        std::optional<std::uint64_t> contentLength;
        std::optional<ContentRange> range;
        std::optional<std::uint64_t> size;
        LengthVerdict verdict;
        std::uint64_t total;
    } cases[] = {
        {"whole file", 200, 100, {}, none, Fits, 100},
        {"chunked, nothing named", 200, none, {}, none, Fits, 0},
        {"chunked, held to the size", 200, none, {}, 100, Fits, 100},
        {"whole file of the size", 200, 100, {}, 100, Fits, 100},
        {"whole file shorter than the size", 200, 99, {}, 100, Mismatch, 0},
        {"whole file past the ceiling", 200, kOver, {}, none, TooLarge, 0},
        {"rest of the file", 206, 50, ContentRange{50, 99, 100}, none, Fits, 100},
        {"rest, chunked", 206, none, ContentRange{50, 99, 100}, 100, Fits, 100},
        {"length not the range's", 206, 40, ContentRange{50, 99, 100}, none, Mismatch, 0},
        {"range unreadable", 206, 50, {}, none, Mismatch, 0},
        {"range of a longer file than the size", 206, 50, ContentRange{51, 100, 101}, 100, Mismatch, 0},
        {"range of a file past the ceiling", 206, 1, ContentRange{0, 0, kOver}, none, TooLarge, 0},
    };
    for (const auto& c : cases) {
        const AnnouncedLength announced =
            judgeAnnouncedLength(c.status, c.contentLength, c.range, DownloadBounds{c.size});
        EXPECT_EQ(announced.verdict, c.verdict) << c.what;
        EXPECT_EQ(announced.total, c.total) << c.what;
    }
}

TEST(FreeSpace, TheFloorStaysFree) {
    const DownloadBounds bounds{std::nullopt, kPackageCeilingBytes, 1000};
    for (const auto& [freeBytes, bytes, leaves] : {std::tuple{1010ull, 10ull, true}, {1010ull, 11ull, false},
                                                   {999ull, 0ull, false}, {1000ull, 0ull, true}}) {
        EXPECT_EQ(leavesFloor(freeBytes, bytes, bounds), leaves) << freeBytes << " free, " << bytes << " to write";
    }
}

}  // namespace
