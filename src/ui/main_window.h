#pragma once

#include "ui/ui_handles.h"

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"NIRVAUpdater";

void registerMainWindowClass(HINSTANCE instance);
// Created hidden; the creation handler builds the font and the controls.
HWND createMainWindow(HINSTANCE instance);

// The mandatory flow: the window shown disabled, no buttons, the worker
// running behind the warning box.
void startMandatoryUpdate(HWND window);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
