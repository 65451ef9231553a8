#include "app/installed_version.h"
#include "app/version.h"
#include "common/system_libraries.h"
#include "common/texts.h"
#include "install/installation.h"
#include "install/self_update.h"
#include "ui/main_window.h"
#include "ui/run_end.h"
#include "ui/single_copy.h"
#include "update/update_check.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <utility>

// The C++ runtime's default handler for a fatal error writes the exception's
// demangled type to standard error, which a windowed program does not have;
// its demangler alone would be a seventh of the program. End at once instead.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

namespace {

// The version the server is asked with. An installed application whose
// version cannot be read is reported first, and then counts as absent.
std::wstring installedVersionToAsk() {
    InstalledVersion installed = readInstalledVersion();
    if (installed.unreadable) {
        MessageBoxW(nullptr, kVersionReadFailureText, kPersianErrorCaption, MB_ICONERROR | MB_OK);
    }
    return normalizedInstalledVersion(std::move(installed.text));
}

// Until the window is gone; its end decides the exit code.
int runMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int offerUpdate(HINSTANCE instance, const Offer& offer, int showCommand) {
    InitCommonControls();
    registerMainWindowClass(instance);
    const HWND window = createMainWindow(instance, offer);
    if (window == nullptr) {
        MessageBoxW(nullptr, kWindowFailureText, kEnglishErrorCaption, MB_ICONERROR | MB_OK);
        return kExitNoWindow;
    }
    markOfficeWindow(window);
    if (offer.manifest.mandatory) {
        startMandatoryUpdate(window);
    } else {
        ShowWindow(window, showCommand);
    }
    return runMessageLoop();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Without them there is no window to show a failure in.
    if (!loadSystemLibraries()) {
        return kExitNoWindow;
    }
    const std::optional<OwnedFileHandle> officeLock = takeOfficeLock();
    if (!officeLock) {
        bringOfficeWindowToFront();
        return kExitNormal;
    }
    recoverInterruptedInstallation();
    removeReplacedUpdater();
    // Before the check: an earlier run may have installed a release whose
    // newer updater it could not put in place, and that updater may be the
    // only one that the server still answers (its key was rotated).
    replaceUpdaterFromRelease();
    const CheckResult check = checkForUpdate(installedVersionToAsk());
    if (!check.offer) {
        return endAfterServerFailure();
    }
    if (!check.offer->newer) {
        return endWithNothingNewer();
    }
    return offerUpdate(instance, *check.offer, showCommand);
}
