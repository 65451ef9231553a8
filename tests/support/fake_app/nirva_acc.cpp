// Stands in for the accounting application. Each start appends a JSON line
// to the file named by NIRVA_FAKE_RECORD, and so does its window once shown
// (with the time, in Unix milliseconds) and every close request.
//
// NIRVA_FAKE_MODE: "window" shows a window that closes on WM_CLOSE;
// "stubborn" one that ignores it. By default it shows a window that closes on
// WM_CLOSE or when the program that started it ends (the updater, which
// watches for that window), so that an office's runs leave no copies behind;
// started by a program that has already gone (after a start that nobody
// watches), it ends at once.
//
// How a release starts, for the tests of the updater's watch, is a word in
// fake_start.txt beside the program, which a package brings: "crash" ends
// before any window with the access violation's exit code, "quiet" with exit
// code 0, "hang" neither shows a window nor ends, "slow" shows its window
// after 4 s, and "launch NAME" starts NAME from the same folder and ends at
// once (NAME shows the window, for as long as the launcher's starter runs).
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "../record.h"
#include "common/owned_handles.h"

#ifdef NIRVA_FAKE_VERSION
#define NIRVA_STRINGIZE2(text) #text
#define NIRVA_STRINGIZE(text) NIRVA_STRINGIZE2(text)
constexpr wchar_t kVersion[] = L"" NIRVA_STRINGIZE(NIRVA_FAKE_VERSION);
#else
constexpr wchar_t kVersion[] = L"";
#endif

namespace {

constexpr wchar_t kRecordVariable[] = L"NIRVA_FAKE_RECORD";
constexpr wchar_t kStartFile[] = L"fake_start.txt";
// Given by a launcher to the program it starts: the process to end with.
constexpr wchar_t kUntilOption[] = L"--until ";
constexpr DWORD kSlowStartMs = 4000;

bool stubborn = false;

void recordEvent(const wchar_t* event) {
    support::appendRecord(kRecordVariable,
                          support::JsonObject().text("event", event).number("pid", GetCurrentProcessId()).finish());
}

long long unixMilliseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>((ticks - 116444736000000000ULL) / 10000);
}

std::wstring ownFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring ownName() {
    wchar_t path[MAX_PATH];
    const std::wstring full(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return full.substr(full.find_last_of(L'\\') + 1);
}

// The word in fake_start.txt, with what follows it; empty without the file.
std::wstring startWord() {
    const OwnedFileHandle file(CreateFileW((ownFolder() + kStartFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    char text[256];
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), text, sizeof(text), &read, nullptr)) return L"";
    std::wstring word(text, text + read);
    while (!word.empty() && (word.back() == L'\n' || word.back() == L'\r' || word.back() == L' ')) word.pop_back();
    return word;
}

DWORD parentProcessId() {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) return entry.th32ParentProcessID;
    }
    return 0;
}

// The process the default window ends with: the one a launcher named, else the parent.
DWORD starterProcessId() {
    const std::wstring commandLine = GetCommandLineW();
    const size_t option = commandLine.find(kUntilOption);
    return option == std::wstring::npos ? parentProcessId()
                                        : std::wcstoul(commandLine.c_str() + option + wcslen(kUntilOption), nullptr, 10);
}

int launch(const std::wstring& name) {
    std::wstring commandLine = L"\"" + ownFolder() + name + L"\" " + kUntilOption + std::to_wstring(parentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 4;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
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

// Until the window is closed, or, given one, the starter has ended.
int runWindow(HINSTANCE instance, HANDLE starter) {
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
    support::appendRecord(kRecordVariable, support::JsonObject()
                                               .text("event", L"window")
                                               .number("pid", GetCurrentProcessId())
                                               .number("time", unixMilliseconds())
                                               .finish());
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(starter ? 1 : 0, &starter, FALSE, INFINITE, QS_ALLINPUT);
        if (starter && woken == WAIT_OBJECT_0) return 0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return 0;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    support::appendRecord(
        kRecordVariable,
        support::JsonObject().text("event", L"start").text("version", kVersion).processFields().finish());
    const std::wstring word = startWord();
    if (word == L"crash") return static_cast<int>(STATUS_ACCESS_VIOLATION);
    if (word == L"quiet") return 0;
    if (word == L"hang") Sleep(INFINITE);
    const std::wstring launched = word.starts_with(L"launch ") ? word.substr(7) : L"";
    if (!launched.empty() && launched != ownName()) return launch(launched);
    if (word == L"slow") Sleep(kSlowStartMs);
    const std::optional<std::wstring> mode = support::environmentValue(L"NIRVA_FAKE_MODE");
    if (mode && *mode != L"window" && *mode != L"stubborn") return 2;
    if (mode) {
        stubborn = *mode == L"stubborn";
        return runWindow(instance, nullptr);
    }
    const OwnedKernelHandle starter(OpenProcess(SYNCHRONIZE, FALSE, starterProcessId()));
    if (!starter || WaitForSingleObject(starter.get(), 0) != WAIT_TIMEOUT) return 0;
    return runWindow(instance, starter.get());
}
