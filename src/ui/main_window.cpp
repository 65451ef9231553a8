#include "ui/main_window.h"

#include "common/owned_handles.h"
#include "common/texts.h"
#include "ui/run_end.h"
#include "ui/window_layout.h"
#include "ui/window_rules.h"
#include "update/messages.h"
#include "update/outcome_report.h"
#include "update/update_worker.h"

#include <commctrl.h>

#include <memory>
#include <string>

namespace {

// The program's icon in res/nirva_updater.rc.
constexpr WORD kProgramIconId = 1;

// The window's own state, reached through GWLP_USERDATA: made when the window
// is created, freed when it is gone. Used only on the user-interface thread,
// so it needs no lock.
struct MainWindow {
    MainWindow(const UpdateJob& updateJob, ReportSender& sender, std::optional<InstalledRelease>& release,
               const std::wstring& asked, bool isMandatory)
        : job(updateJob), reports(sender), installed(release), installedVersion(asked), mandatory(isMandatory) {}

    // What the worker needs of the offer; its window is this one.
    UpdateJob job;
    ReportSender& reports;
    // Set once the release is in place; wWinMain starts it after the window.
    std::optional<InstalledRelease>& installed;
    // The version the offer was made to, which a report names.
    std::wstring installedVersion;
    bool mandatory = false;
    OwnedFont font;
    HWND statusEdit = nullptr;
    HWND notesEdit = nullptr;
    HWND progressBar = nullptr;
    HWND startButton = nullptr;
    HWND laterButton = nullptr;
    // The control that has the focus, or had it when the window was last
    // active; none in a mandatory update's window, which has no buttons.
    HWND focus = nullptr;
    bool startPressed = false;
    bool laterPressed = false;
    // The later routine has stopped the application: the run ends once no
    // installation is under way.
    bool applicationStopped = false;
    // An outcome's box is up: the run's end waits until the user has read it.
    bool showingBox = false;
    UpdatePhase phase = UpdatePhase::NotStarted;
};

MainWindow* stateOf(HWND window) {
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

struct ControlLayout {
    HWND MainWindow::*field;
    const wchar_t* className;
    const wchar_t* text;
    DWORD exStyle;
    DWORD style;
    LayoutBox WindowLayout::*box;
    int id;
    bool getsFont;
};

// In creation order, which is the order Tab follows. The buttons and the
// notes box are tab stops; the buttons tell the window when they get the
// focus, so that the default button follows it.
const ControlLayout kControls[] = {
    {&MainWindow::statusEdit, L"EDIT", L"", 0, WS_CHILD | WS_VISIBLE | ES_RIGHT, &WindowLayout::status, 0, true},
    {&MainWindow::notesEdit, L"EDIT", L"", WS_EX_LAYOUTRTL | WS_EX_RTLREADING,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_RIGHT,
     &WindowLayout::notes, 0, true},
    {&MainWindow::progressBar, PROGRESS_CLASSW, nullptr, 0, WS_CHILD | WS_VISIBLE, &WindowLayout::progress,
     kProgressBarId, false},
    {&MainWindow::startButton, L"BUTTON", kStartButtonText, 0,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, &WindowLayout::startButton,
     kStartButtonId, true},
    {&MainWindow::laterButton, L"BUTTON", kLaterButtonText, 0,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, &WindowLayout::laterButton, kLaterButtonId,
     true},
};

// The window's DPI where Windows can tell it (Windows 10 1607 and later:
// looked up, so that the program still starts on Windows 7), else the
// screen's.
unsigned windowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void (*)()>(found));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return dpi;
        }
    }
    const OwnedScreenDc screen(GetDC(nullptr));
    return screen ? static_cast<unsigned>(GetDeviceCaps(screen.get(), LOGPIXELSX)) : kBaseDpi;
}

// The controls let go of the old font before it is deleted.
void useFont(MainWindow& state, int height) {
    OwnedFont font(CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, ARABIC_CHARSET, OUT_TT_PRECIS,
                               CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    for (const ControlLayout& control : kControls) {
        if (control.getsFont) {
            SendMessageW(state.*control.field, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        }
    }
    state.font = std::move(font);
}

// The notes box is read-only: Tab, Enter and Escape are the window's there
// as on the buttons, not the box's (a multi-line box would keep them all,
// and answer Escape by closing the window).
LRESULT CALLBACK notesBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(box, notesBoxProc, id);
    }
    const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
    return message == WM_GETDLGCODE ? result & ~static_cast<LRESULT>(DLGC_WANTALLKEYS) : result;
}

int focusedControlId(HWND window) {
    const HWND focus = GetFocus();
    return focus != nullptr && IsChild(window, focus) ? GetDlgCtrlID(focus) : 0;
}

// What the dialog manager asks for when Enter reaches a control that is not
// itself the default button.
LRESULT defaultButtonAnswer(HWND window, const MainWindow& state) {
    switch (defaultButton(focusedControlId(window), state.mandatory)) {
        case WindowButton::Start:
            return MAKELRESULT(kStartButtonId, DC_HASDEFID);
        case WindowButton::Later:
            return MAKELRESULT(kLaterButtonId, DC_HASDEFID);
        default:
            return 0;
    }
}

void onFocusChanged(HWND window, MainWindow& state, HWND control) {
    state.focus = control;
    const WindowButton button = defaultButton(focusedControlId(window), state.mandatory);
    SendMessageW(state.startButton, BM_SETSTYLE, button == WindowButton::Start ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                 TRUE);
    SendMessageW(state.laterButton, BM_SETSTYLE, button == WindowButton::Later ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                 TRUE);
}

// As in a dialog, the control that had the focus has it again when the
// window is active: the start button when it first shows. False leaves the
// window to the default handling, which gives the window itself the focus.
bool restoreFocus(HWND window, const MainWindow& state) {
    if (state.focus == nullptr || !IsWindow(state.focus) || IsIconic(window)) {
        return false;
    }
    SetFocus(state.focus);
    return true;
}

bool onActivate(HWND window, const MainWindow& state, WPARAM wParam) {
    return LOWORD(wParam) != WA_INACTIVE && restoreFocus(window, state);
}

// The window was moved to a screen of another scale: the size Windows
// suggests, the controls and the font at the new DPI.
void onDpiChanged(HWND window, MainWindow& state, WPARAM wParam, LPARAM lParam) {
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    const WindowLayout layout = layoutForDpi(LOWORD(wParam));
    for (const ControlLayout& control : kControls) {
        const LayoutBox& box = layout.*control.box;
        SetWindowPos(state.*control.field, nullptr, box.x, box.y, box.width, box.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    useFont(state, layout.fontHeight);
}

void showWorkerStartFailure(HWND window) {
    MessageBoxW(window, kWorkerStartFailureText, kEnglishErrorCaption, MB_ICONERROR | MB_OK);
}

// A worker that ended without installing releases a mandatory update's hold.
void markWorkerEnded(HWND window, MainWindow& state) {
    state.phase = UpdatePhase::Ended;
    if (state.mandatory) {
        EnableWindow(window, TRUE);
    }
}

// The state is made before any other message that needs it.
void onNonClientCreate(HWND window, LPARAM lParam) {
    const auto& creation = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
    const WindowStart& start = *static_cast<const WindowStart*>(creation.lpCreateParams);
    const Offer& offer = start.offer;
    auto state = std::make_unique<MainWindow>(
        UpdateJob{window, offer.manifest.url, offer.manifest.version, offer.digest, offer.size, offer.refusal,
                  start.log, start.route, std::make_shared<InstallationGate>()},
        start.reports, start.installed, offer.installedVersion, offer.manifest.mandatory);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.release()));
}

// Laid out at the window's own DPI, which is known only once it exists.
void onCreate(HWND window, MainWindow& state, LPARAM lParam) {
    const auto& creation = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
    const WindowLayout layout = layoutForDpi(windowDpi(window));
    SetWindowPos(window, nullptr, 0, 0, layout.windowWidth, layout.windowHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const ControlLayout& control : kControls) {
        const LayoutBox& box = layout.*control.box;
        state.*control.field = CreateWindowExW(control.exStyle, control.className, control.text, control.style,
                                               box.x, box.y, box.width, box.height, window,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                               creation.hInstance, nullptr);
    }
    SetWindowSubclass(state.notesEdit, notesBoxProc, 0, 0);
    SendMessageW(state.progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(state.progressBar, PBM_SETPOS, 0, 0);
    useFont(state, layout.fontHeight);
    const WindowStart& start = *static_cast<const WindowStart*>(creation.lpCreateParams);
    SetWindowTextW(state.notesEdit, start.offer.manifest.notes.c_str());
    state.focus = state.mandatory ? nullptr : state.startButton;
}

// A worker that is still downloading may have begun installing before the
// window heard of it: the window goes only if it has not.
void onClose(HWND window, MainWindow& state) {
    const bool workerMayInstall = state.phase == UpdatePhase::Downloading;
    if (mayCloseWindow(state.mandatory, state.phase) && (!workerMayInstall || state.job.gate->endRun())) {
        DestroyWindow(window);
    }
}

void onStartClicked(HWND window, MainWindow& state) {
    if (state.startPressed) {
        return;
    }
    state.startPressed = true;
    if (!startUpdateWorker(state.job)) {
        showWorkerStartFailure(window);
        return;
    }
    state.phase = UpdatePhase::Downloading;
}

void onLaterClicked(HWND window, MainWindow& state) {
    if (state.laterPressed || !mayStartLaterRoutine(state.phase)) {
        return;
    }
    state.laterPressed = true;
    state.job.log.write("later", {});
    if (!startLaterRoutine(window)) {
        // No routine will say that the application stopped: nothing may wait for it.
        state.laterPressed = false;
        showWorkerStartFailure(window);
    }
}

// A click and its key (Enter on a button, Escape anywhere) come the same way,
// through the same latches.
void onCommand(HWND window, MainWindow& state, WPARAM wParam, LPARAM lParam) {
    const WORD code = HIWORD(wParam);
    if (code == BN_SETFOCUS || code == EN_SETFOCUS) {
        onFocusChanged(window, state, reinterpret_cast<HWND>(lParam));
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    switch (buttonPressedBy(LOWORD(wParam), state.mandatory)) {
        case WindowButton::Start:
            onStartClicked(window, state);
            break;
        case WindowButton::Later:
            onLaterClicked(window, state);
            break;
        default:
            break;
    }
}

void onUpdateStatus(MainWindow& state, WPARAM wParam, LPARAM lParam) {
    SetWindowTextW(state.statusEdit, reinterpret_cast<const wchar_t*>(lParam));
    const UpdatePhase before = state.phase;
    state.phase = static_cast<UpdatePhase>(wParam);
    // The installation fills the bar again with its own share, from empty; a
    // text of its own later (a folder held for a while) leaves the bar be.
    if (state.phase == UpdatePhase::Installing && before != UpdatePhase::Installing) {
        SendMessageW(state.progressBar, PBM_SETPOS, 0, 0);
    }
}

// The later routine, while it runs, would stop an application started now.
bool laterRoutineRunning(const MainWindow& state) {
    return state.laterPressed && !state.applicationStopped;
}

// The run ends with the application: an installed release is started and
// watched once the window is gone; otherwise it starts now.
void endWithApplicationOrRelease(HWND window, const MainWindow& state) {
    if (state.installed) {
        DestroyWindow(window);
    } else {
        endWithApplication(window);
    }
}

// An installed release ends the run at once; it is started, and its outcome
// logged and reported, once its first start has been watched. A failed
// installation shows its box, then says the same on the status line, which
// would otherwise keep saying "installing", then starts the old application
// it put back. After the later button, either start is the end of the run,
// once its routine has stopped the application. The report goes last, in the
// background: the user never waits for it.
void onUpdateDone(HWND window, MainWindow& state, LPARAM lParam) {
    const std::unique_ptr<UpdateOutcome> outcome(reinterpret_cast<UpdateOutcome*>(lParam));
    if (outcome->installed) {
        state.installed = InstalledRelease{state.installedVersion, state.job.version, outcome->failure};
        // The later routine, still stopping the application, would stop the
        // release started now: until it has, the window stays as it is,
        // installing, which it may not be closed in.
        if (!laterRoutineRunning(state)) {
            DestroyWindow(window);
        }
        return;
    }
    ReportSender& reports = state.reports;
    const OutcomeReport report = attemptReport(state.installedVersion, state.job.version, outcome->failure);
    logOutcome(state.job.log, report.outcome, state.job.version, outcome->failure);
    if (!outcome->boxText.empty()) {
        state.showingBox = true;
        MessageBoxW(nullptr, outcome->boxText.c_str(), kPersianErrorCaption, MB_ICONERROR | MB_OK);
    }
    // Looked up again: the box let other messages through.
    if (MainWindow* after = stateOf(window)) {
        after->showingBox = false;
        if (outcome->statusText != nullptr) {
            SetWindowTextW(after->statusEdit, outcome->statusText);
        }
        markWorkerEnded(window, *after);
        if (after->applicationStopped) {
            endWithApplication(window);
        } else if (!after->laterPressed && outcome->startsApplication) {
            startApplication();
        }
    }
    reports.send(report);
}

// The run ends with the application now, unless an installation has begun:
// its outcome ends the run then.
void onApplicationStopped(HWND window, MainWindow& state) {
    state.applicationStopped = true;
    // The outcome's box ends the run once it is read.
    if (state.showingBox) {
        return;
    }
    if (state.installed || state.phase == UpdatePhase::Ended || state.job.gate->endRun()) {
        endWithApplicationOrRelease(window, state);
    }
}

void onUpdateProgress(MainWindow& state, WPARAM wParam, LPARAM lParam) {
    const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
    SendMessageW(state.progressBar, PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(wParam)), 0);
    if (text) {
        SetWindowTextW(state.statusEdit, text->c_str());
    }
}

// False for a message the window leaves to the default handling.
bool handleMessage(HWND window, MainWindow& state, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            onCreate(window, state, lParam);
            return true;
        case WM_DESTROY:
            PostQuitMessage(kExitNormal);
            return true;
        case WM_CLOSE:
            onClose(window, state);
            return true;
        case WM_COMMAND:
            onCommand(window, state, wParam, lParam);
            return true;
        case WM_ACTIVATE:
            return onActivate(window, state, wParam);
        case WM_SETFOCUS:
            return restoreFocus(window, state);
        case WM_DPICHANGED:
            onDpiChanged(window, state, wParam, lParam);
            return true;
        case WM_UPDATE_STATUS:
            onUpdateStatus(state, wParam, lParam);
            return true;
        case WM_UPDATE_DONE:
            onUpdateDone(window, state, lParam);
            return true;
        case WM_UPDATE_PROGRESS:
            onUpdateProgress(state, wParam, lParam);
            return true;
        case WM_APPLICATION_STOPPED:
            onApplicationStopped(window, state);
            return true;
        default:
            return false;
    }
}

}  // namespace

void registerMainWindowClass(HINSTANCE instance) {
    // The controls' classes, drawn in the system's styles as the manifest's
    // Common Controls 6 dependency makes them.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
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

HWND createMainWindow(HINSTANCE instance, const WindowStart& start) {
    const WindowLayout layout = layoutForDpi(kBaseDpi);
    return CreateWindowExW(WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT, kWindowClassName, kWindowTitle,
                           WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, layout.windowWidth,
                           layout.windowHeight, nullptr, nullptr, instance, const_cast<WindowStart*>(&start));
}

void startMandatoryUpdate(HWND window) {
    MainWindow& state = *stateOf(window);
    ShowWindow(window, SW_SHOW);
    EnableWindow(window, FALSE);
    for (const HWND button : {state.startButton, state.laterButton}) {
        if (button != nullptr) {
            ShowWindow(button, SW_HIDE);
        }
    }
    if (!startUpdateWorker(state.job)) {
        markWorkerEnded(window, state);
        showWorkerStartFailure(window);
        return;
    }
    state.phase = UpdatePhase::Downloading;
    MessageBoxW(window, kMandatoryUpdateText, kMandatoryUpdateCaption, MB_ICONWARNING | MB_OK);
    // Dismissing the box enables its owner again; the window stays locked
    // until the worker has ended. An installation that ended behind the box
    // has ended the run, and the window is gone with its state.
    if (const MainWindow* after = stateOf(window)) {
        EnableWindow(window, after->phase == UpdatePhase::Ended);
    }
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        onNonClientCreate(window, lParam);
    } else if (message == WM_NCDESTROY) {
        // The controls and the font's users have gone before this.
        delete stateOf(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    } else if (MainWindow* state = stateOf(window); state && message == DM_GETDEFID) {
        return defaultButtonAnswer(window, *state);
    } else if (state && handleMessage(window, *state, message, wParam, lParam)) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
