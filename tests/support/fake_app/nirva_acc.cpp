// Stands in for the accounting application. Each start appends a JSON line
// to the file named by NIRVA_FAKE_RECORD. NIRVA_FAKE_MODE: "exit" (default)
// ends at once; "window" shows a window that closes on WM_CLOSE; "stubborn"
// shows one that ignores it. Close requests are recorded too.
#include <windows.h>

#include <string>

#include "../record.h"

#ifdef NIRVA_FAKE_VERSION
#define NIRVA_STRINGIZE2(text) #text
#define NIRVA_STRINGIZE(text) NIRVA_STRINGIZE2(text)
constexpr wchar_t kVersion[] = L"" NIRVA_STRINGIZE(NIRVA_FAKE_VERSION);
#else
constexpr wchar_t kVersion[] = L"";
#endif

namespace {

constexpr wchar_t kRecordVariable[] = L"NIRVA_FAKE_RECORD";

bool stubborn = false;

void recordEvent(const wchar_t* event) {
    support::appendRecord(kRecordVariable,
                          support::JsonObject().text("event", event).number("pid", GetCurrentProcessId()).finish());
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            if (stubborn) {
                recordEvent(L"close-ignored");
            } else {
                recordEvent(L"close");
                DestroyWindow(window);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            // Says which release runs, for screenshots of a finished update.
            PAINTSTRUCT paint;
            const HDC context = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            const std::wstring text = std::wstring(L"NIRVA ") + kVersion;
            DrawTextW(context, text.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

int runWindow(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"NirvaFakeApp";
    if (!RegisterClassW(&windowClass)) return 1;
    const std::wstring title = std::wstring(L"NIRVA fake ") + kVersion;
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    support::appendRecord(
        kRecordVariable,
        support::JsonObject().text("event", L"start").text("version", kVersion).processFields().finish());
    const std::wstring mode = support::environmentValue(L"NIRVA_FAKE_MODE").value_or(L"exit");
    if (mode == L"exit") return 0;
    if (mode != L"window" && mode != L"stubborn") return 2;
    stubborn = mode == L"stubborn";
    return runWindow(instance);
}
