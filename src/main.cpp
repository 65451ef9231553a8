#include "app/installed_version.h"
#include "app/office_id.h"
#include "app/refused_release.h"
#include "app/version.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "common/support_log.h"
#include "common/system_libraries.h"
#include "common/texts.h"
#include "install/installation.h"
#include "install/self_update.h"
#include "install/take_back.h"
#include "net/route_decision.h"
#include "ui/main_window.h"
#include "ui/run_end.h"
#include "ui/single_copy.h"
#include "update/first_start.h"
#include "update/outcome_report.h"
#include "update/report_sender.h"
#include "update/update_check.h"

#include <windows.h>

#include <cstdlib>
#include <optional>
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

// What the start found to repair before it looked at the installed release.
struct Repair {
    // An installation cut short, or a folder without its program.
    bool recovered = false;
    // A take-back of a release that failed at its first start, cut short.
    bool tookBack = false;
};

// Unreadable: the application is there but its version cannot be read, and
// the server is asked as for an absent one.
void logStart(SupportLog& log, const std::wstring& asked, bool unreadable, const Repair& repair) {
    log.write("start", {{"updater", NIRVA_UPDATER_VERSION_TEXT},
                        {"installed", unreadable ? std::wstring(L"unreadable") : asked},
                        {"folder", log.impersonal(fullPath(L"."))},
                        {"command", log.impersonal(GetCommandLineW())}});
    if (repair.tookBack) {
        log.write("recovered", {{"from", kBackupDirectory}, {"takeback", "finished"}});
    } else if (repair.recovered) {
        log.write("recovered", {{"from", kBackupDirectory}});
    }
}

// The version the server is asked with. An installed application whose
// version cannot be read is reported first, and then counts as absent.
std::wstring installedVersionToAsk(SupportLog& log, const Repair& repair) {
    InstalledVersion installed = readInstalledVersion();
    std::wstring asked = normalizedInstalledVersion(std::move(installed.text));
    logStart(log, asked, installed.unreadable, repair);
    if (installed.unreadable) {
        MessageBoxW(nullptr, kVersionReadFailureText, kPersianErrorCaption, MB_ICONERROR | MB_OK);
    }
    return asked;
}

// Read once, before the check: the rollout places the office by it, and the
// reports name it. An id made now is said, so that a support person knows
// why an office whose id cannot be kept has another place at every start.
std::string officeIdForRun(SupportLog& log) {
    OfficeId id = loadOfficeId();
    if (id.source != OfficeId::Source::Kept) {
        log.write("officeid", {{"result", id.source == OfficeId::Source::New ? "new" : "unkept"}});
    }
    return std::move(id.text);
}

// Decided once, before the check, for every request of the run.
NetworkRoute routeForRun(SupportLog& log) {
    NetworkRoute route = decideNetworkRoute();
    log.write("route", {{"route", describeRoute(route)}});
    return route;
}

// The decision, and for a newer release offered in stages the rollout and
// the office's bucket, which tell a support person why it was not offered.
// A release this office took back is refused; one offered to an office
// folder this user may not change is not offered after all.
void logDecision(SupportLog& log, const Offer& offer, bool refused, bool notWritable) {
    const char* decision = !offer.newer                           ? "nothingnewer"
                           : refused                              ? "refused"
                           : offer.place == RolloutPlace::Outside ? "outside"
                           : offer.place == RolloutPlace::Unplaced ? "unplaced"
                           : notWritable                          ? "notwritable"
                           : offer.manifest.mandatory             ? "mandatory"
                                                                  : "offered";
    if (!offer.newer || refused || !offer.manifest.rollout) {
        log.write("decision", {{"result", decision}, {"version", offer.manifest.version}});
    } else {
        log.write("decision", {{"result", decision},
                               {"version", offer.manifest.version},
                               {"rollout", *offer.manifest.rollout},
                               {"bucket", offer.bucket ? std::to_string(*offer.bucket) : std::string("none")}});
    }
}

// Until the window is gone; its end decides the exit code. The dialog
// manager takes the window's keys first: Tab, Enter, Escape.
int runMessageLoop(HWND window) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

int offerUpdate(HINSTANCE instance, const WindowStart& start, int showCommand) {
    registerMainWindowClass(instance);
    const HWND window = createMainWindow(instance, start);
    if (window == nullptr) {
        MessageBoxW(nullptr, kWindowFailureText, kEnglishErrorCaption, MB_ICONERROR | MB_OK);
        return kExitNoWindow;
    }
    markOfficeWindow(window);
    // Before the mandatory flow, whose warning box waits for the user.
    start.reports.sendKept();
    if (start.offer.manifest.mandatory) {
        startMandatoryUpdate(window);
    } else {
        ShowWindow(window, showCommand);
    }
    return runMessageLoop(window);
}

// What the check's answer decides, up to the exit code.
int runFromCheck(HINSTANCE instance, const CheckResult& check, const std::wstring& asked,
                 const std::optional<VersionNumber>& refusedRelease, int showCommand, SupportLog& log,
                 ReportSender& reports) {
    if (!check.offer) {
        // Through a proxy, another key is most often the proxy's own: one that
        // inspects TLS. The support person is told where to look.
        if (check.failure.kind == FailureKind::PinRefused && check.route.kind == RouteKind::Proxy) {
            log.write("tlsinspection", {{"route", describeRoute(check.route)}});
        }
        logOutcome(log, "checkfailed", L"none", check.failure);
        reports.keep(checkReport(asked, check.failure));
        return endAfterServerFailure();
    }
    const Offer& offer = *check.offer;
    // A release that this office took back, mandatory or not, is not offered
    // again; nor is one whose rollout does not reach the office.
    const bool refused = offer.newer && isRefusedRelease(offer.manifest.version, refusedRelease);
    if (!offer.newer || refused || offer.place != RolloutPlace::Inside) {
        logDecision(log, offer, refused, false);
        const int code = endWithNothingNewer();
        reports.sendKept();
        return code;
    }
    // No update can be installed from an account that may not change the
    // office folder (an application under Program Files for standard users):
    // nothing is downloaded, and the vendor learns how many offices are so.
    // A mandatory release too: blocking the office's work would not install it.
    if (const DWORD refusal = officeFolderWriteRefusal()) {
        logDecision(log, offer, false, true);
        const int code = endWithoutWriteAccess();
        const Failure failure{FailureStep::Access, FailureKind::Disk, 0, refusal};
        logOutcome(log, "failed", offer.manifest.version, failure);
        reports.sendKept();
        reports.send(attemptReport(asked, offer.manifest.version, failure));
        return code;
    }
    logDecision(log, offer, false, false);
    std::optional<InstalledRelease> installed;
    const int code = offerUpdate(instance, {offer, check.route, log, reports, installed}, showCommand);
    // A take-back that could not put the previous release back now leaves it
    // to the next start, which the user is told to make.
    if (installed && !startInstalledRelease(*installed, log, reports)) {
        MessageBoxW(nullptr, kRollbackPendingText, kPersianErrorCaption, MB_ICONERROR | MB_OK);
    }
    return code;
}

// Reports still on their way get their bounded time after the run's end.
// Then the process ends here, with the log, the sender and the office lock
// alive: a report's thread past its wait, or a worker whose run ended while
// it downloaded, still uses them, and the lock must outlast every writer of
// the office folder.
[[noreturn]] void endRun(int code, SupportLog& log, ReportSender& reports) {
    reports.finish();
    log.write("exit", {{"code", code}});
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Without them there is no window to show a failure in.
    if (!loadSystemLibraries()) {
        return kExitNoWindow;
    }
    const OfficeLock officeLock = takeOfficeLock();
    if (officeLock.holder == OfficeLockHolder::ThisComputer) {
        bringOfficeWindowToFront();
        return kExitNormal;
    }
    if (officeLock.holder == OfficeLockHolder::Elsewhere) {
        return endWhileUpdatedElsewhere();
    }
    SupportLog log;
    // Read once: the repair and the decision both go by it.
    const std::optional<VersionNumber> refusedRelease = readRefusedRelease();
    Repair repair;
    repair.recovered = recoverInterruptedInstallation();
    repair.tookBack = finishInterruptedTakeBack(refusedRelease);
    removeReplacedUpdater();
    const std::wstring asked = installedVersionToAsk(log, repair);
    // Before the check: an earlier run may have installed a release whose
    // newer updater it could not put in place, and that updater may be the
    // only one that the server still answers (its key was rotated).
    replaceUpdaterFromRelease(log);
    std::string officeId = officeIdForRun(log);
    const NetworkRoute route = routeForRun(log);
    const CheckResult check = checkForUpdate(asked, route, officeId, log);
    // The check found its way by WPAD after the machine's route failed.
    if (check.route != route) {
        log.write("route", {{"route", describeRoute(check.route)}});
    }
    ReportSender reports(log, std::move(officeId), check.route);
    endRun(runFromCheck(instance, check, asked, refusedRelease, showCommand, log, reports), log, reports);
}
