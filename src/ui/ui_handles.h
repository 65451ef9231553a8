#pragma once

#include "common/owned_handles.h"
#include "update/messages.h"

#include <windows.h>

// Used only on the user-interface thread, so it needs no lock.
struct UiHandles {
    HWND statusEdit;
    OwnedFont font;
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
