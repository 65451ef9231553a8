#pragma once

// Where the window and its controls stand, and how big its font is, at a
// display's DPI. The 96-DPI layout is the one the window always had; every
// other scale is it multiplied, so that at 100 % nothing moves by a pixel.

inline constexpr unsigned kBaseDpi = 96;

struct LayoutBox {
    int x;
    int y;
    int width;
    int height;
    friend bool operator==(const LayoutBox&, const LayoutBox&) = default;
};

struct WindowLayout {
    // The whole window, frame and title bar included.
    int windowWidth;
    int windowHeight;
    // The text controls' font, as a cell height.
    int fontHeight;
    // In the client area, which is mirrored: x counts from its right edge.
    LayoutBox status;
    LayoutBox notes;
    LayoutBox progress;
    LayoutBox startButton;
    LayoutBox laterButton;
    friend bool operator==(const WindowLayout&, const WindowLayout&) = default;
};

// value * dpi / 96 for a value of the layout (none is negative), rounded
// as MulDiv rounds: a half up.
int scaledForDpi(int value, unsigned dpi);

// The layout at dpi. A DPI that could not be read (0) is taken as 96.
WindowLayout layoutForDpi(unsigned dpi);
