#include "ui/window_layout.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Logic tests run under Windows' own MulDiv (Wine's here): the rounding the
// layout promises, halves away from zero.
TEST(ScaledForDpi, RoundsAsMulDivDoes) {
    for (const unsigned dpi : {96u, 100u, 120u, 144u, 168u, 192u}) {
        for (int value = -700; value <= 700; ++value) {
            ASSERT_EQ(scaledForDpi(value, dpi), MulDiv(value, static_cast<int>(dpi), 96))
                << value << " at " << dpi << " DPI";
        }
    }
}

struct LayoutCase {
    unsigned dpi;
    WindowLayout layout;
};

TEST(LayoutForDpi, IsTheWindowOf100PercentScaledAndRounded) {
    const LayoutCase cases[] = {
        // 100 %, and a DPI that could not be read: the window as it always was.
        {96, {520, 300, 18, {20, 20, 480, 20}, {20, 50, 480, 80}, {20, 140, 480, 20}, {20, 180, 160, 30},
              {250, 180, 160, 30}}},
        {0, {520, 300, 18, {20, 20, 480, 20}, {20, 50, 480, 80}, {20, 140, 480, 20}, {20, 180, 160, 30},
             {250, 180, 160, 30}}},
        // 125 %: halves round up (22.5, 37.5, 62.5, 312.5).
        {120, {650, 375, 23, {25, 25, 600, 25}, {25, 63, 600, 100}, {25, 175, 600, 25}, {25, 225, 200, 38},
               {313, 225, 200, 38}}},
        {144, {780, 450, 27, {30, 30, 720, 30}, {30, 75, 720, 120}, {30, 210, 720, 30}, {30, 270, 240, 45},
               {375, 270, 240, 45}}},
        {192, {1040, 600, 36, {40, 40, 960, 40}, {40, 100, 960, 160}, {40, 280, 960, 40}, {40, 360, 320, 60},
               {500, 360, 320, 60}}},
        // 100/96 divides nothing evenly: 541.7 up, 260.4 down, 18.75 up, 31.25 down.
        {100, {542, 313, 19, {21, 21, 500, 21}, {21, 52, 500, 83}, {21, 146, 500, 21}, {21, 188, 167, 31},
               {260, 188, 167, 31}}},
    };
    for (const LayoutCase& c : cases) {
        EXPECT_TRUE(layoutForDpi(c.dpi) == c.layout) << c.dpi << " DPI";
    }
}

}  // namespace
