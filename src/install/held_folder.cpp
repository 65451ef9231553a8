#include "install/held_folder.h"

#include "common/file_system.h"
#include "install/crash_point.h"
#include "install/holders.h"
#include "install/stop_application.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr DWORD kFirstPauseMs = 50;
constexpr DWORD kLongestPauseMs = 2000;

bool isHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

std::wstring fileNameOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// What the Restart Manager says, with what the updater can tell of each
// program: its name when the Restart Manager gave none, and whether it is
// one of the folder's own.
HolderLook lookAtHolders(const wchar_t* folder, const ProgramFolder& programs) {
    const FolderHolders asked = askFolderHolders(folder);
    HolderLook look{asked.answered, {}};
    for (const FileHolder& holder : asked.holders) {
        Holder seen{holder.processId, holder.name, false, holder.processId == GetCurrentProcessId()};
        if (const std::optional<std::wstring> image = processImagePath(holder.processId)) {
            seen.ofFolder = liesInFolder(*image, programs);
            seen.name = seen.name.empty() ? fileNameOf(*image) : seen.name;
        }
        look.holders.push_back(std::move(seen));
    }
    return look;
}

void stopFolderPrograms(const std::vector<DWORD>& processIds, const ProgramFolder& programs) {
    stopProcesses([&](DWORD processId, const std::wstring& image) {
        return std::find(processIds.begin(), processIds.end(), processId) != processIds.end() &&
               liesInFolder(image, programs);
    });
}

// The wait for a folder whose move was refused, a rare path kept small.
[[gnu::cold]] FolderMove waitWhileHeld(const wchar_t* from, const wchar_t* to, FailureStep step,
                                       const HeldNotice& notice, DWORD error) {
    notice(true);
    HoldBounds bounds;
    applyHoldBoundsSwitch(bounds);
    const ProgramFolder programs = programFolder(from);
    HoldWatch watch = startHoldWatch(GetTickCount64());
    for (DWORD pause = kFirstPauseMs;; pause = std::min(pause * 2, kLongestPauseMs)) {
        const HolderLook look = lookAtHolders(from, programs);
        HoldVerdict verdict = judgeHolders(watch, look, GetTickCount64(), bounds);
        watch = std::move(verdict.watch);
        if (verdict.giveUp) {
            return {{step, FailureKind::Disk, 0, error}, std::move(verdict.named), holdersLogText(look)};
        }
        if (!verdict.stop.empty()) {
            stopFolderPrograms(verdict.stop, programs);
        } else {
            Sleep(pause);
        }
        if (moveOnce(from, to)) {
            notice(false);
            return {};
        }
        error = GetLastError();
        if (!isHeld(error)) {
            return {{step, FailureKind::Disk, 0, error}, {}, {}};
        }
    }
}

}  // namespace

FolderMove moveHeldFolder(const wchar_t* from, const wchar_t* to, FailureStep step, const HeldNotice& notice) {
    if (moveOnce(from, to)) {
        return {};
    }
    const DWORD error = GetLastError();
    if (!isHeld(error)) {
        return {{step, FailureKind::Disk, 0, error}, {}, {}};
    }
    return waitWhileHeld(from, to, step, notice, error);
}
