#include "install/stop_application.h"

#include "common/file_system.h"
#include "common/layout.h"
#include "common/owned_handles.h"
#include "install/application_path.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

std::optional<std::wstring> imagePathOf(HANDLE process) {
    wchar_t imagePath[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, imagePath, &length)) {
        return std::nullopt;
    }
    return std::wstring(imagePath, length);
}

// The process, if the choice takes it; never this updater.
bool isChosen(DWORD processId, HANDLE process, const ProcessChoice& chosen) {
    if (processId == GetCurrentProcessId()) {
        return false;
    }
    const std::optional<std::wstring> image = imagePathOf(process);
    return image && chosen(processId, *image);
}

struct WindowSearch {
    const ProcessChoice& chosen;
    // A process has many windows: each is judged once.
    std::vector<std::pair<DWORD, bool>> judged;
    bool closeAsked = false;
};

BOOL CALLBACK closeIfChosenWindow(HWND window, LPARAM searchPointer) {
    auto& search = *reinterpret_cast<WindowSearch*>(searchPointer);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    auto judged = std::find_if(search.judged.begin(), search.judged.end(),
                               [processId](const auto& entry) { return entry.first == processId; });
    if (judged == search.judged.end()) {
        const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        search.judged.emplace_back(processId, process && isChosen(processId, process.get(), search.chosen));
        judged = search.judged.end() - 1;
    }
    if (judged->second) {
        search.closeAsked = PostMessageW(window, WM_CLOSE, 0, 0) || search.closeAsked;
    }
    return TRUE;
}

bool terminateChosen(const ProcessChoice& chosen) {
    const OwnedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return true;
    }
    const ULONGLONG deadline = GetTickCount64() + kTerminationWaitMs;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const OwnedKernelHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                                    FALSE, entry.th32ProcessID));
        if (!process || !isChosen(entry.th32ProcessID, process.get(), chosen)) {
            continue;
        }
        // A copy that was ending anyway may refuse to be terminated: only
        // one still running after the wait counts.
        TerminateProcess(process.get(), 0);
        const ULONGLONG now = GetTickCount64();
        const DWORD waited = WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - std::min(now, deadline)));
        if (waited != WAIT_OBJECT_0) {
            SetLastError(waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
            return false;
        }
    }
    return true;
}

Failure stopFailure() {
    return {FailureStep::Stop, FailureKind::System, 0, GetLastError()};
}

}  // namespace

std::optional<std::wstring> processImagePath(DWORD processId) {
    const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process ? imagePathOf(process.get()) : std::nullopt;
}

bool stopProcesses(const ProcessChoice& chosen) {
    WindowSearch search{chosen, {}, false};
    EnumWindows(closeIfChosenWindow, reinterpret_cast<LPARAM>(&search));
    // Nobody to wait for when no window was asked to close.
    if (search.closeAsked) {
        Sleep(kCloseWaitMs);
    }
    return terminateChosen(chosen);
}

ProgramFolder programFolder(const wchar_t* folder) {
    std::wstring path = fullPath(folder);
    std::optional<FileIdentity> identity = fileIdentity(path);
    return {std::move(path), std::move(identity)};
}

bool liesInFolder(const std::wstring& imagePath, const ProgramFolder& folder) {
    if (imageIsInsideFolder(imagePath, folder.path)) {
        return true;
    }
    if (!folder.identity || !mayBeInsideThroughAnotherPath(imagePath, folder.path)) {
        return false;
    }
    const std::vector<std::wstring> enclosing = enclosingFolders(imagePath);
    return std::any_of(enclosing.begin(), enclosing.end(), [&folder](const std::wstring& enclosingFolder) {
        return identifiesSameFile(fileIdentity(enclosingFolder), folder.identity);
    });
}

Failure stopRunningApplication() {
    const std::wstring applicationPath = fullPath(kApplicationExe);
    const std::optional<FileIdentity> application = fileIdentity(applicationPath);
    const auto isApplication = [&](DWORD, const std::wstring& image) {
        // Only a program of the application's file name is worth opening.
        const size_t nameLength = std::size(kApplicationExeName) - 1;
        const bool sameName = image.size() > nameLength && image[image.size() - nameLength - 1] == L'\\' &&
                              imagePathNamesApplication(image.substr(image.size() - nameLength), kApplicationExeName);
        return imagePathNamesApplication(image, applicationPath) ||
               (sameName && imageIsApplication(image, applicationPath, fileIdentity(image), application));
    };
    return stopProcesses(isApplication) ? Failure{} : stopFailure();
}

Failure stopReleasePrograms() {
    const ProgramFolder release = programFolder(kApplicationDirectory);
    const auto inRelease = [&release](DWORD, const std::wstring& image) { return liesInFolder(image, release); };
    return stopProcesses(inRelease) ? Failure{} : stopFailure();
}
