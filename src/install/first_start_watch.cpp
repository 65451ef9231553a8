#include "install/first_start_watch.h"

#include "app/launcher.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "common/owned_handles.h"
#include "install/stop_application.h"

#include <tlhelp32.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

// Process creation times come from the system's clock as it ticks, which may
// lag the moment read here before the start by a tick or more.
constexpr ULONGLONG kClockSlack = 10'000'000;  // 1 s in 100 ns units

ULONGLONG value(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A process that began since the start, and whether its image lies in the
// application's folder: asked once per process, as it costs a few opens.
struct SeenProcess {
    DWORD id = 0;
    ULONGLONG created = 0;
    bool inFolder = false;
};

struct FolderWatch {
    ProgramFolder folder;
    ULONGLONG since = 0;
    std::vector<SeenProcess> seen;
};

bool imageInFolder(HANDLE process, const FolderWatch& watch) {
    wchar_t imagePath[MAX_PATH];
    DWORD length = MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, imagePath, &length) &&
           liesInFolder(std::wstring(imagePath, length), watch.folder);
}

// The running processes that began since the start from the application's
// folder; none when Windows cannot list the processes.
std::optional<std::vector<DWORD>> runningFromFolder(FolderWatch& watch) {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return std::nullopt;
    }
    std::vector<DWORD> running;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const OwnedKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        FILETIME created{};
        FILETIME ended{};
        FILETIME kernel{};
        FILETIME user{};
        // A process that has ended may still be listed while a handle to it is open.
        if (!process || !GetProcessTimes(process.get(), &created, &ended, &kernel, &user) ||
            value(created) < watch.since || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) {
            continue;
        }
        auto seen = std::find_if(watch.seen.begin(), watch.seen.end(), [&](const SeenProcess& known) {
            return known.id == entry.th32ProcessID && known.created == value(created);
        });
        if (seen == watch.seen.end()) {
            watch.seen.push_back({entry.th32ProcessID, value(created), imageInFolder(process.get(), watch)});
            seen = watch.seen.end() - 1;
        }
        if (seen->inFolder) {
            running.push_back(entry.th32ProcessID);
        }
    }
    return running;
}

struct WindowSearch {
    const std::vector<DWORD>& processes;
    bool found = false;
};

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM searchPointer) {
    auto& search = *reinterpret_cast<WindowSearch*>(searchPointer);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    search.found = IsWindowVisible(window) &&
                   std::find(search.processes.begin(), search.processes.end(), processId) != search.processes.end();
    return !search.found;
}

bool showsVisibleWindow(const std::vector<DWORD>& processes) {
    WindowSearch search{processes};
    if (!processes.empty()) {
        EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

}  // namespace

FirstStart startAndWatchApplication(std::uint64_t boundMs) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG started = GetTickCount64();
    const OwnedKernelHandle application = launchApplication(kApplicationExe, L"");
    if (!application) {
        return {StartVerdict::Failed, GetLastError(), false, GetTickCount64() - started};
    }
    const DWORD applicationId = GetProcessId(application.get());
    FolderWatch watch{programFolder(kApplicationDirectory), value(now) - kClockSlack, {}};
    for (;;) {
        StartLook look;
        if (WaitForSingleObject(application.get(), 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(application.get(), &code);
            look.applicationExit = code;
        }
        const std::optional<std::vector<DWORD>> listed = runningFromFolder(watch);
        std::vector<DWORD> processes = listed.value_or(std::vector<DWORD>{});
        if (!look.applicationExit) {
            processes.push_back(applicationId);
        }
        // Processes that cannot be listed may be running.
        look.running = !listed || !processes.empty();
        look.windowShown = showsVisibleWindow(processes);
        look.elapsedMs = GetTickCount64() - started;
        const StartVerdict verdict = judgeFirstStart(look, boundMs);
        if (verdict != StartVerdict::Watching) {
            return {verdict, look.applicationExit.value_or(0), true, look.elapsedMs};
        }
        // An application that ends is looked at again at once.
        if (look.applicationExit) {
            Sleep(kFirstStartLookMs);
        } else {
            WaitForSingleObject(application.get(), kFirstStartLookMs);
        }
    }
}
