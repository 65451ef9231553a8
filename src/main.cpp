#include "app/launcher.h"
#include "app/version.h"
#include "common/layout.h"
#include "common/owned_handles.h"
#include "common/system_libraries.h"
#include "common/texts.h"
#include "download/partial_file.h"
#include "install/installation.h"
#include "install/self_update.h"
#include "net/route_decision.h"
#include "ui/main_window.h"
#include "ui/single_copy.h"
#include "update/update_check.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>

// The C++ runtime's default handler for a fatal error writes the exception's
// demangled type to standard error, which a windowed program does not have;
// its demangler alone would be a seventh of the program. End at once instead.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

namespace {

CommandLineOptions scanCommandLineOptions() {
    CommandLineOptions options;
    int argumentCount = 0;
    const OwnedLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &argumentCount));
    if (!arguments) {
        return options;
    }
    const auto* argumentVector = static_cast<LPWSTR*>(arguments.get());
    for (int i = 1; i < argumentCount; ++i) {
        if (lstrcmpiW(argumentVector[i], L"--silent") == 0) {
            options.silent = true;
        } else if (lstrcmpiW(argumentVector[i], L"--check-only") == 0) {
            options.checkOnly = true;
        }
    }
    return options;
}

int runMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Without them there is no window to show a failure in.
    if (!loadSystemLibraries()) {
        return 1;
    }
    if (!takeOfficeLock()) {
        bringOfficeWindowToFront();
        return 0;
    }
    uiHandles.instance = instance;
    InitCommonControls();
    registerMainWindowClass(instance);
    const HWND window = createMainWindow(instance);
    if (window == nullptr) {
        MessageBoxW(nullptr, kWindowFailureText, kEnglishErrorCaption, MB_ICONERROR | MB_OK);
        return 1;
    }
    markOfficeWindow(window);

    recoverInterruptedInstallation();
    removeReplacedUpdater();
    NetworkRoute route = decideNetworkRoute();
    if (!checkForUpdate(route)) {
        MessageBoxW(window, kServerFailureText, kServerFailureCaption, MB_ICONERROR | MB_OK);
        ExitProcess(0);
    }
    updateRecord.route = route;
    const VersionNumber installed = parseVersion(updateRecord.installedVersion);
    const VersionNumber latest = parseVersion(updateRecord.version);
    updateRecord.updateAvailable = isNewerVersion(latest, installed);
    if (!updateRecord.updateAvailable) {
        removePartialDownload(kPackageFile);
        launchApplication(kApplicationExe, L"");
        ExitProcess(0);
    }

    SetWindowTextW(uiHandles.notesEdit, updateRecord.notes.c_str());
    if (updateRecord.forcedUpdate) {
        startMandatoryUpdate(window);
    } else {
        ShowWindow(window, showCommand);
    }
    updateRecord.options = scanCommandLineOptions();
    return runMessageLoop();
}
