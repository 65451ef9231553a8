#include "ui/window_layout.h"

#include <gtest/gtest.h>

namespace {

// Scaled by DPI / 96, rounded as MulDiv rounds: a half up.
TEST(LayoutForDpi, IsTheWindowOf100PercentScaledAndRounded) {
    const std::pair<unsigned, WindowLayout> cases[] = {
        // 100 %, where the window is as it always was, and so is a DPI that could not be read (0).
        {96, {520, 300, 18, {20, 20, 480, 20}, {20, 50, 480, 80}, {20, 140, 480, 20}, {20, 180, 160, 30}, {250, 180, 160, 30}}},
        // 125 %: halves round up (22.5, 37.5, 62.5, 312.5).
        {120, {650, 375, 23, {25, 25, 600, 25}, {25, 63, 600, 100}, {25, 175, 600, 25}, {25, 225, 200, 38}, {313, 225, 200, 38}}},
        {144, {780, 450, 27, {30, 30, 720, 30}, {30, 75, 720, 120}, {30, 210, 720, 30}, {30, 270, 240, 45}, {375, 270, 240, 45}}},
        {192, {1040, 600, 36, {40, 40, 960, 40}, {40, 100, 960, 160}, {40, 280, 960, 40}, {40, 360, 320, 60}, {500, 360, 320, 60}}},
        // 100 DPI divides nothing evenly: 541.7 up, 260.4 down, 18.75 up, 31.25 down.
        {100, {542, 313, 19, {21, 21, 500, 21}, {21, 52, 500, 83}, {21, 146, 500, 21}, {21, 188, 167, 31}, {260, 188, 167, 31}}},
    };
    for (const auto& [dpi, layout] : cases) {
        EXPECT_TRUE(layoutForDpi(dpi) == layout) << dpi << " DPI";
    }
    EXPECT_TRUE(layoutForDpi(0) == cases[0].second);
}

}  // namespace
