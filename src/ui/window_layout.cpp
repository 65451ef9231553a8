#include "ui/window_layout.h"

#include <cstdint>

namespace {

constexpr WindowLayout kLayoutAt96 = {
    520,
    300,
    18,
    {20, 20, 480, 20},
    {20, 50, 480, 80},
    {20, 140, 480, 20},
    {20, 180, 160, 30},
    {250, 180, 160, 30},
};

LayoutBox scaledBox(const LayoutBox& box, unsigned dpi) {
    return {scaledForDpi(box.x, dpi), scaledForDpi(box.y, dpi), scaledForDpi(box.width, dpi),
            scaledForDpi(box.height, dpi)};
}

}  // namespace

int scaledForDpi(int value, unsigned dpi) {
    return static_cast<int>((static_cast<std::int64_t>(value) * dpi + kBaseDpi / 2) / kBaseDpi);
}

WindowLayout layoutForDpi(unsigned dpi) {
    if (dpi == 0) {
        dpi = kBaseDpi;
    }
    const WindowLayout& base = kLayoutAt96;
    return {scaledForDpi(base.windowWidth, dpi), scaledForDpi(base.windowHeight, dpi),
            scaledForDpi(base.fontHeight, dpi),  scaledBox(base.status, dpi),
            scaledBox(base.notes, dpi),          scaledBox(base.progress, dpi),
            scaledBox(base.startButton, dpi),    scaledBox(base.laterButton, dpi)};
}
