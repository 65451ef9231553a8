#pragma once

#include "ui/ui_handles.h"

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"NIRVAUpdater";
inline constexpr wchar_t kWindowTitle[] = L"به‌روزرسان نرم افزار حسابداری نیروا";
inline constexpr int kWindowWidth = 520;
inline constexpr int kWindowHeight = 300;

inline constexpr int kProgressBarId = 101;
inline constexpr int kStartButtonId = 104;
inline constexpr int kLaterButtonId = 105;

inline constexpr wchar_t kEnglishErrorCaption[] = L"Error";
inline constexpr wchar_t kStartButtonText[] = L"آغاز به‌روزرسانی";
inline constexpr wchar_t kLaterButtonText[] = L"بعدا به‌روز میکنم";
inline constexpr wchar_t kWorkerStartFailureText[] = L"وقوع خطا در آغاز عملیات به‌روزرسانی";
inline constexpr wchar_t kUpdateDoneText[] = L"به‌روزرسانی تمام شد";
inline constexpr wchar_t kMandatoryUpdateText[] = L"به‌روزرسانی اجباری است و بهصورت خودکار آغاز شد";
inline constexpr wchar_t kMandatoryUpdateCaption[] = L"به‌روزرسانی اجباری";

// Nothing may stop the process between moving the old application aside and
// putting the new one in place; a mandatory update holds the user only while
// it can still finish.
bool mayCloseWindow(bool forcedUpdate, UpdatePhase phase);
bool mayStartLaterRoutine(UpdatePhase phase);

void registerMainWindowClass(HINSTANCE instance);
// Created hidden; the creation handler builds the font and the controls.
HWND createMainWindow(HINSTANCE instance);

// The mandatory flow: the window shown disabled, no buttons, the worker
// running behind the warning box.
void startMandatoryUpdate(HWND window);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Thread routine: restarts the application and ends the process.
DWORD WINAPI updateLaterRoutine(LPVOID mainWindow);
