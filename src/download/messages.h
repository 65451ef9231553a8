#pragma once

#include <windows.h>

// Posted by the update worker to the main window, never sent: the worker
// must not wait for the window.
// lParam points to a constant status text that outlives the message.
inline constexpr UINT WM_UPDATE_STATUS = WM_APP + 1;
// The installation returned without ending the process: it failed.
inline constexpr UINT WM_UPDATE_DONE = WM_APP + 2;
// wParam is the percentage; lParam is a heap std::wstring owned by the
// receiver from the moment the post succeeds.
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 3;

inline constexpr wchar_t kDownloadingText[] = L"در حال دانلود به‌روزرسانی...";
inline constexpr wchar_t kDownloadFailedText[] = L"دانلود ناموفق بود";
inline constexpr wchar_t kInstallingText[] = L"در حال نصب...";
