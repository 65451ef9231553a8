// Reads and drives the windows of another process for end-to-end tests:
//   ui_probe dump OUTFILE   JSON list of updater, dialog and fake application windows
//   ui_probe click HWND ID  BM_CLICK to the child with that control id
//   ui_probe close HWND     WM_CLOSE to the window
//   ui_probe hold FILE MS   works in its current directory, which Windows then
//                           will not rename or remove, until FILE (which it
//                           makes) is deleted, and MS milliseconds more
// Exit codes: 0 success, 1 dump file not written, 2 bad use or window not found.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
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

std::string topLevelJson(HWND window) {
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
    support::JsonObject json = commonFields(window);
    json.text("title", windowText(window))
        .number("pid", pid)
        .raw("window_rect", rectArray(windowRect))
        .raw("client_rect", rectArray(clientRect))
        .raw("client_screen_rect", rectArray(clientOnScreen))
        .number("owner", handleNumber(GetWindow(window, GW_OWNER)))
        .raw("children", childList);
    return json.finish();
}

bool writeFileAtomically(const std::wstring& path, const std::string& content) {
    const std::wstring temporary = path + L".tmp";
    {
        const OwnedFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
            written != content.size())
            return false;
    }
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int dump(const std::wstring& outputPath) {
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
        json += json.size() > 1 ? ",\n" : "\n";
        json += entry;
    }
    json += "\n]\n";
    return writeFileAtomically(outputPath, json) ? 0 : 1;
}

bool parseNumber(const wchar_t* text, std::uintptr_t& value) {
    wchar_t* end = nullptr;
    value = static_cast<std::uintptr_t>(std::wcstoull(text, &end, 10));
    return *text != L'\0' && *end == L'\0';
}

bool parseWindow(const wchar_t* text, HWND& window) {
    std::uintptr_t value = 0;
    if (!parseNumber(text, value)) return false;
    window = reinterpret_cast<HWND>(value);
    return IsWindow(window) != 0;
}

int hold(const wchar_t* signal, DWORD milliseconds) {
    if (!OwnedFileHandle(CreateFileW(signal, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return 1;
    while (GetFileAttributesW(signal) != INVALID_FILE_ATTRIBUTES) Sleep(100);
    Sleep(milliseconds);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"dump" && argc == 3) return dump(argv[2]);
    HWND window = nullptr;
    if (command == L"close" && argc == 3 && parseWindow(argv[2], window))
        return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 2;
    std::uintptr_t id = 0;
    if (command == L"hold" && argc == 4 && parseNumber(argv[3], id)) return hold(argv[2], static_cast<DWORD>(id));
    if (command == L"click" && argc == 4 && parseWindow(argv[2], window) && parseNumber(argv[3], id)) {
        const HWND button = GetDlgItem(window, static_cast<int>(id));
        return button && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 2;
    }
    return 2;
}
