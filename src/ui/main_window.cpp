#include "ui/main_window.h"

#include "common/owned_handles.h"
#include "common/texts.h"
#include "ui/run_end.h"
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

constexpr int kWindowWidth = 520;
constexpr int kWindowHeight = 300;

constexpr int kProgressBarId = 101;
constexpr int kStartButtonId = 104;
constexpr int kLaterButtonId = 105;

// The window's own state, reached through GWLP_USERDATA: made when the window
// is created, freed when it is gone. Used only on the user-interface thread,
// so it needs no lock.
struct MainWindow {
    MainWindow(const UpdateJob& updateJob, ReportSender& sender, const std::wstring& asked, bool isMandatory)
        : job(updateJob), reports(sender), installedVersion(asked), mandatory(isMandatory) {}

    // What the worker needs of the offer; its window is this one.
    UpdateJob job;
    ReportSender& reports;
    // The version the offer was made to, which a report names.
    std::wstring installedVersion;
    bool mandatory = false;
    OwnedFont font;
    HWND statusEdit = nullptr;
    HWND notesEdit = nullptr;
    HWND progressBar = nullptr;
    HWND startButton = nullptr;
    HWND laterButton = nullptr;
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
    int x;
    int y;
    int width;
    int height;
    int id;
};

// In creation order. The window's layout is mirrored, so x counts from the
// right edge: the start button stands at the right.
const ControlLayout kControls[] = {
    {&MainWindow::statusEdit, L"EDIT", L"", 0, WS_CHILD | WS_VISIBLE | ES_RIGHT, 20, 20, 480, 20, 0},
    {&MainWindow::notesEdit, L"EDIT", L"", WS_EX_LAYOUTRTL | WS_EX_RTLREADING,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_RIGHT, 20, 50, 480, 80, 0},
    {&MainWindow::progressBar, PROGRESS_CLASSW, nullptr, 0, WS_CHILD | WS_VISIBLE, 20, 140, 480, 20, kProgressBarId},
    {&MainWindow::startButton, L"BUTTON", kStartButtonText, 0, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 180, 160,
     30, kStartButtonId},
    {&MainWindow::laterButton, L"BUTTON", kLaterButtonText, 0, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 250, 180, 160,
     30, kLaterButtonId},
};

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
        start.reports, offer.installedVersion, offer.manifest.mandatory);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.release()));
}

void onCreate(HWND window, MainWindow& state, LPARAM lParam) {
    const auto& creation = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
    state.font.reset(CreateFontW(18, 0, 0, 0, FW_NORMAL, 0, 0, 0, ARABIC_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    for (const ControlLayout& control : kControls) {
        state.*control.field = CreateWindowExW(control.exStyle, control.className, control.text, control.style,
                                               control.x, control.y, control.width, control.height, window,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                               creation.hInstance, nullptr);
    }
    SendMessageW(state.progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(state.progressBar, PBM_SETPOS, 0, 0);
    for (const HWND control : {state.statusEdit, state.notesEdit, state.startButton, state.laterButton}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font.get()), TRUE);
    }
    const WindowStart& start = *static_cast<const WindowStart*>(creation.lpCreateParams);
    SetWindowTextW(state.notesEdit, start.offer.manifest.notes.c_str());
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

void onCommand(HWND window, MainWindow& state, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    switch (LOWORD(wParam)) {
        case kStartButtonId:
            onStartClicked(window, state);
            break;
        case kLaterButtonId:
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

// An installed release starts at once. A failed installation shows its box,
// then says the same on the status line, which would otherwise keep saying
// "installing", then starts the old application it put back. After the later
// button, either start is the end of the run, once its routine has stopped
// the application. The report goes last, in the background: the user never
// waits for it.
void onUpdateDone(HWND window, MainWindow& state, LPARAM lParam) {
    const std::unique_ptr<UpdateOutcome> outcome(reinterpret_cast<UpdateOutcome*>(lParam));
    ReportSender& reports = state.reports;
    const OutcomeReport report = attemptReport(state.installedVersion, state.job.version, outcome->failure);
    logOutcome(state.job.log, report.outcome, state.job.version, outcome->failure);
    if (outcome->installed && !laterRoutineRunning(state)) {
        endWithApplication(window);
        reports.send(report);
        return;
    }
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
    if (state.phase == UpdatePhase::Ended || state.job.gate->endRun()) {
        endWithApplication(window);
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
            onCommand(window, state, wParam);
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
    return CreateWindowExW(WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT, kWindowClassName, kWindowTitle,
                           WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight,
                           nullptr, nullptr, instance, const_cast<WindowStart*>(&start));
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
    } else if (MainWindow* state = stateOf(window); state && handleMessage(window, *state, message, wParam, lParam)) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
