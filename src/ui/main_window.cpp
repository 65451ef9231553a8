#include "ui/main_window.h"

#include "app/launcher.h"
#include "common/layout.h"
#include "common/texts.h"
#include "ui/window_rules.h"
#include "update/update_check.h"
#include "update/update_worker.h"

#include <commctrl.h>

#include <memory>
#include <string>

namespace {

// The program's icon in res/nirva_updater.rc.
constexpr WORD kProgramIconId = 1;

constexpr int kWindowWidth = 520;
constexpr int kWindowHeight = 300;

constexpr int kProgressBarId = 101;
constexpr int kStartButtonId = 104;
constexpr int kLaterButtonId = 105;

struct ControlLayout {
    HWND* field;
    const wchar_t* className;
    const wchar_t* text;
    DWORD exStyle;
    DWORD style;
    int x;
    int y;
    int width;
    int height;
    int id;
};

// In creation order. The window's layout is mirrored, so x counts from the
// right edge: the start button stands at the right.
const ControlLayout kControls[] = {
    {&uiHandles.statusEdit, L"EDIT", L"", 0, WS_CHILD | WS_VISIBLE | ES_RIGHT, 20, 20, 480, 20, 0},
    {&uiHandles.notesEdit, L"EDIT", L"", WS_EX_LAYOUTRTL | WS_EX_RTLREADING,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_RIGHT, 20, 50, 480, 80, 0},
    {&uiHandles.progressBar, PROGRESS_CLASSW, nullptr, 0, WS_CHILD | WS_VISIBLE, 20, 140, 480, 20,
     kProgressBarId},
    {&uiHandles.startButton, L"BUTTON", kStartButtonText, 0, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 180,
     160, 30, kStartButtonId},
    {&uiHandles.laterButton, L"BUTTON", kLaterButtonText, 0, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 250, 180,
     160, 30, kLaterButtonId},
};

bool startDetachedThread(LPTHREAD_START_ROUTINE routine, HWND window) {
    const OwnedKernelHandle thread(CreateThread(nullptr, 0, routine, window, 0, nullptr));
    return thread != nullptr;
}

void showWorkerStartFailure(HWND window) {
    MessageBoxW(window, kWorkerStartFailureText, kEnglishErrorCaption, MB_ICONERROR | MB_OK);
}

// A worker that ended without installing releases a mandatory update's hold.
void markWorkerEnded(HWND window) {
    uiHandles.updatePhase = UpdatePhase::Ended;
    if (updateRecord.forcedUpdate) {
        EnableWindow(window, TRUE);
    }
}

void onCreate(HWND window) {
    uiHandles.font.reset(CreateFontW(18, 0, 0, 0, FW_NORMAL, 0, 0, 0, ARABIC_CHARSET, OUT_TT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                     L"Tahoma"));
    for (const ControlLayout& control : kControls) {
        *control.field = CreateWindowExW(control.exStyle, control.className, control.text, control.style,
                                         control.x, control.y, control.width, control.height, window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                         uiHandles.instance, nullptr);
    }
    SendMessageW(uiHandles.progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(uiHandles.progressBar, PBM_SETPOS, 0, 0);
    const HWND fontedControls[] = {uiHandles.statusEdit, uiHandles.notesEdit, uiHandles.startButton,
                                   uiHandles.laterButton};
    for (const HWND control : fontedControls) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(uiHandles.font.get()), TRUE);
    }
}

void onClose(HWND window) {
    if (mayCloseWindow(updateRecord.forcedUpdate, uiHandles.updatePhase)) {
        DestroyWindow(window);
    }
}

void onStartClicked(HWND window) {
    if (uiHandles.startPressed) {
        return;
    }
    uiHandles.startPressed = true;
    if (!startDetachedThread(updateWorker, window)) {
        showWorkerStartFailure(window);
        return;
    }
    uiHandles.updatePhase = UpdatePhase::Downloading;
}

void onLaterClicked(HWND window) {
    if (uiHandles.laterPressed || !mayStartLaterRoutine(uiHandles.updatePhase)) {
        return;
    }
    uiHandles.laterPressed = true;
    if (!startDetachedThread(updateLaterRoutine, window)) {
        showWorkerStartFailure(window);
    }
}

void onCommand(HWND window, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    switch (LOWORD(wParam)) {
        case kStartButtonId:
            onStartClicked(window);
            break;
        case kLaterButtonId:
            onLaterClicked(window);
            break;
        default:
            break;
    }
}

void onUpdateStatus(HWND window, WPARAM wParam, LPARAM lParam) {
    SetWindowTextW(uiHandles.statusEdit, reinterpret_cast<const wchar_t*>(lParam));
    const auto phase = static_cast<UpdatePhase>(wParam);
    if (phase == UpdatePhase::Ended) {
        markWorkerEnded(window);
    } else {
        uiHandles.updatePhase = phase;
    }
}

// The installation failed and put the old application back.
void onUpdateDone(HWND window, LPARAM lParam) {
    SetWindowTextW(uiHandles.statusEdit, reinterpret_cast<const wchar_t*>(lParam));
    launchApplication(kApplicationExe, L"");
    markWorkerEnded(window);
}

void onUpdateProgress(WPARAM wParam, LPARAM lParam) {
    const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
    SendMessageW(uiHandles.progressBar, PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(wParam)), 0);
    if (text) {
        SetWindowTextW(uiHandles.statusEdit, text->c_str());
    }
}

}  // namespace

void registerMainWindowClass(HINSTANCE instance) {
    // Without a brush, Windows never paints the parts of the window that no
    // control covers, and without a cursor the pointer keeps whatever shape
    // it had when it came in.
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                                      0, 0, LR_DEFAULTSIZE));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassExW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance) {
    return CreateWindowExW(WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT, kWindowClassName, kWindowTitle,
                           WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight,
                           nullptr, nullptr, instance, nullptr);
}

void startMandatoryUpdate(HWND window) {
    ShowWindow(window, SW_SHOW);
    EnableWindow(window, FALSE);
    for (const HWND button : {uiHandles.startButton, uiHandles.laterButton}) {
        if (button != nullptr) {
            ShowWindow(button, SW_HIDE);
        }
    }
    if (!startDetachedThread(updateWorker, window)) {
        markWorkerEnded(window);
        showWorkerStartFailure(window);
        return;
    }
    uiHandles.updatePhase = UpdatePhase::Downloading;
    MessageBoxW(window, kMandatoryUpdateText, kMandatoryUpdateCaption, MB_ICONWARNING | MB_OK);
    // Dismissing the box enables its owner again; the window stays locked
    // until the worker has ended.
    EnableWindow(window, uiHandles.updatePhase == UpdatePhase::Ended);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            onCreate(window);
            return 0;
        case WM_DESTROY:
            uiHandles.font.reset();
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            onClose(window);
            return 0;
        case WM_COMMAND:
            onCommand(window, wParam);
            return 0;
        case WM_UPDATE_STATUS:
            onUpdateStatus(window, wParam, lParam);
            return 0;
        case WM_UPDATE_DONE:
            onUpdateDone(window, lParam);
            return 0;
        case WM_UPDATE_PROGRESS:
            onUpdateProgress(wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
