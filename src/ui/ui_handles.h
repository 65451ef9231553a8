#pragma once

#include <windows.h>

// Where the update worker stands, as the window has learnt it from the
// worker's messages. It decides when the window may be left.
enum class UpdatePhase { NotStarted, Downloading, Installing, Ended };

// Used only on the user-interface thread, so it needs no lock.
struct UiHandles {
    HWND statusEdit;
    HFONT font;
    HWND notesEdit;
    HWND progressBar;
    HINSTANCE instance;
    HWND laterButton;
    HWND startButton;
    bool laterPressed;
    bool startPressed;
    UpdatePhase updatePhase;
};

extern UiHandles uiHandles;
