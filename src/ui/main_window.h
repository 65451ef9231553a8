#pragma once

#include "common/support_log.h"
#include "update/first_start.h"
#include "update/offer.h"
#include "update/report_sender.h"

#include <windows.h>

#include <optional>

inline constexpr wchar_t kWindowClassName[] = L"NIRVAUpdater";

// What the window is made for: the offer, which it copies what it needs of,
// the run's route, and the run's log and report sender, which outlive it.
// A run that installed the release ends with the window gone and the release
// in `installed`: its first start is made and watched after the window,
// which must not be there to be brought to the front meanwhile.
struct WindowStart {
    const Offer& offer;
    const NetworkRoute& route;
    SupportLog& log;
    ReportSender& reports;
    std::optional<InstalledRelease>& installed;
};

void registerMainWindowClass(HINSTANCE instance);
// Created hidden; the creation handler builds the font and the controls and
// shows the notes.
HWND createMainWindow(HINSTANCE instance, const WindowStart& start);

// The mandatory flow: the window shown disabled, no buttons, the worker
// running behind the warning box.
void startMandatoryUpdate(HWND window);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
