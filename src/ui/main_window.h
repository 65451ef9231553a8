#pragma once

#include "update/offer.h"

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"NIRVAUpdater";

void registerMainWindowClass(HINSTANCE instance);
// Created hidden, for the offer (which it copies what it needs of); the
// creation handler builds the font and the controls and shows the notes.
HWND createMainWindow(HINSTANCE instance, const CheckResult& check);

// The mandatory flow: the window shown disabled, no buttons, the worker
// running behind the warning box.
void startMandatoryUpdate(HWND window);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
