// Reads and drives the windows of other processes for end-to-end tests:
//   ui_probe serve          answers one command a line on standard input with
//                           one line on standard output, for as long as the
//                           input stays open, so that looking costs no start:
//                             dump         JSON list of updater, dialog and
//                                          fake application windows
//                             click HWND ID  BM_CLICK to the child with that id
//                             close HWND   WM_CLOSE to the window
//                             syscolor N   "red green blue" of GetSysColor(N)
//                             key HWND VK  a key's press and release, posted
//                                          to the control of HWND that has
//                                          the focus, as the keyboard's are
//                           (0 done, 2 bad command or window not found)
//   ui_probe hold FILE MS   works in its current directory, which Windows then
//                           will not rename or remove, until FILE (which it
//                           makes) is deleted, and MS milliseconds more
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "record.h"

#include "common/owned_handles.h"

namespace {

constexpr UINT kReplyTimeoutMs = 2000;

// Messages go through a timeout so a hung target cannot hang the probe.
LRESULT sendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

// WM_GETTEXT is marshalled across processes; GetWindowTextW is not for controls.
std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(sendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    const LRESULT copied =
        sendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

long long handleNumber(HWND window) { return static_cast<long long>(reinterpret_cast<std::uintptr_t>(window)); }

std::string rectArray(const RECT& rect) {
    char text[64];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", static_cast<long>(rect.left), static_cast<long>(rect.top),
                  static_cast<long>(rect.right), static_cast<long>(rect.bottom));
    return text;
}

support::JsonObject commonFields(HWND window) {
    support::JsonObject json;
    json.number("hwnd", handleNumber(window))
        .text("class", className(window))
        .boolean("visible", IsWindowVisible(window))
        .boolean("enabled", IsWindowEnabled(window))
        .number("style", static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)))
        .number("exstyle", static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    return json;
}

std::string childJson(HWND topLevel, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    // Two points map as a rectangle, which also undoes right-to-left mirroring.
    MapWindowPoints(nullptr, topLevel, reinterpret_cast<POINT*>(&rect), 2);
    support::JsonObject json = commonFields(child);
    json.text("text", windowText(child)).number("id", GetDlgCtrlID(child)).raw("rect", rectArray(rect));
    if (className(child) == PROGRESS_CLASSW) {
        char range[48];
        std::snprintf(range, sizeof range, "[%lld,%lld]",
                      static_cast<long long>(sendWithTimeout(child, PBM_GETRANGE, TRUE, 0)),
                      static_cast<long long>(sendWithTimeout(child, PBM_GETRANGE, FALSE, 0)));
        json.number("pos", sendWithTimeout(child, PBM_GETPOS, 0, 0)).raw("range", range);
    }
    return json.finish();
}

// The window of that window's thread that has the keyboard focus.
HWND focusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The window's own fields are read before its children: a window seen
// visible then has all the children it was made with.
std::string topLevelJson(HWND window) {
    support::JsonObject json = commonFields(window);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT windowRect{};
    RECT clientRect{};
    GetWindowRect(window, &windowRect);
    GetClientRect(window, &clientRect);
    std::vector<HWND> children;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    // Two points map as a rectangle, which also undoes right-to-left mirroring.
    RECT clientOnScreen = clientRect;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&clientOnScreen), 2);
    std::string childList = "[";
    for (const HWND child : children) {
        if (childList.size() > 1) childList += ',';
        childList += childJson(window, child);
    }
    childList += ']';
    json.text("title", windowText(window))
        .number("pid", pid)
        .raw("window_rect", rectArray(windowRect))
        .raw("client_rect", rectArray(clientRect))
        .raw("client_screen_rect", rectArray(clientOnScreen))
        .number("owner", handleNumber(GetWindow(window, GW_OWNER)))
        .number("focus", handleNumber(focusOf(window)))
        .raw("children", childList);
    return json.finish();
}

std::string dump() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) {
            const std::wstring name = className(window);
            if (name == L"NIRVAUpdater" || name == L"#32770" || name == L"NirvaFakeApp")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    std::string json = "[";
    for (const HWND window : windows) {
        std::string entry = topLevelJson(window);
        // A window destroyed while it was read would give a half-empty entry.
        if (!IsWindow(window)) continue;
        if (json.size() > 1) json += ',';
        json += entry;
    }
    return json + ']';
}

bool parseNumber(const std::string& text, std::uintptr_t& value) {
    char* end = nullptr;
    value = static_cast<std::uintptr_t>(std::strtoull(text.c_str(), &end, 10));
    return !text.empty() && *end == '\0';
}

bool parseWindow(const std::string& text, HWND& window) {
    std::uintptr_t value = 0;
    if (!parseNumber(text, value)) return false;
    window = reinterpret_cast<HWND>(value);
    return IsWindow(window) != 0;
}

// The first word and the rest.
std::pair<std::string, std::string> split(const std::string& text) {
    const size_t space = text.find(' ');
    if (space == std::string::npos) return {text, ""};
    return {text.substr(0, space), text.substr(space + 1)};
}

int hold(const wchar_t* signal, DWORD milliseconds) {
    if (!OwnedFileHandle(CreateFileW(signal, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return 1;
    while (GetFileAttributesW(signal) != INVALID_FILE_ATTRIBUTES) Sleep(100);
    Sleep(milliseconds);
    return 0;
}

// One command line, its words split at spaces (window handles and ids are numbers).
std::string answer(const std::string& line) {
    const auto [command, rest] = split(line);
    if (command == "dump") return dump();
    if (std::uintptr_t index = 0; command == "syscolor" && parseNumber(rest, index)) {
        const COLORREF color = GetSysColor(static_cast<int>(index));
        char text[16];
        std::snprintf(text, sizeof text, "%u %u %u", GetRValue(color), GetGValue(color), GetBValue(color));
        return text;
    }
    const auto [first, second] = split(rest);
    std::uintptr_t id = 0;
    HWND window = nullptr;
    if (!parseWindow(first, window)) return "2";
    if (command == "close" && second.empty()) return PostMessageW(window, WM_CLOSE, 0, 0) ? "0" : "2";
    if (command == "key" && parseNumber(second, id)) {
        const HWND focus = focusOf(window);
        if (focus == nullptr || (focus != window && !IsChild(window, focus))) return "2";
        const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(id), MAPVK_VK_TO_VSC)) << 16;
        const bool posted = PostMessageW(focus, WM_KEYDOWN, id, scan | 1) &&
                            PostMessageW(focus, WM_KEYUP, id, scan | 1 | (LPARAM{3} << 30));
        return posted ? "0" : "2";
    }
    if (command != "click" || !parseNumber(second, id)) return "2";
    const HWND button = GetDlgItem(window, static_cast<int>(id));
    return button && PostMessageW(button, BM_CLICK, 0, 0) ? "0" : "2";
}

// Wine hands a console program started from Unix its pipes as these handles.
// Wine gives every program the screen's coordinates, whatever scale a window
// is laid out at, so the probe needs no DPI awareness of its own.
int serve() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string reply = answer(pending.substr(0, end)) + "\n";
            pending.erase(0, end + 1);
            DWORD written = 0;
            if (!WriteFile(output, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr)) return 1;
        }
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"serve" && argc == 2) return serve();
    std::uintptr_t milliseconds = 0;
    if (command == L"hold" && argc == 4 && parseNumber(support::toUtf8(argv[3]), milliseconds))
        return hold(argv[2], static_cast<DWORD>(milliseconds));
    return 2;
}
