#include "update/first_start.h"

#include "app/launcher.h"
#include "app/refused_release.h"
#include "common/layout.h"
#include "install/crash_point.h"
#include "install/first_start_watch.h"
#include "install/take_back.h"
#include "update/outcome_report.h"

namespace {

const char* verdictName(StartVerdict verdict) {
    return verdict == StartVerdict::Healthy ? "healthy" : "undecided";
}

// The refusal comes first: a crash before the previous release is back
// leaves the next start to finish the take-back (finishInterruptedTakeBack).
// A refusal that cannot be written does not stop it: the office needs a
// working program more than it needs to be spared the next offer.
Failure takeBack(const std::wstring& version) {
    rememberRefusedRelease(version);
    crashPointReached(CrashStep::Refused);
    if (const Failure failure = takeBackRelease()) {
        return failure;
    }
    launchApplication(kApplicationExe, L"");
    removeTakenBackRelease();
    return {};
}

}  // namespace

bool startInstalledRelease(const InstalledRelease& release, SupportLog& log, ReportSender& reports) {
    const FirstStart start = startAndWatchApplication(firstStartBoundMs(kFirstStartBoundMs));
    if (start.verdict != StartVerdict::Failed) {
        log.write("heal", {{"version", release.version},
                           {"result", verdictName(start.verdict)},
                           {"code", "none"},
                           {"ms", start.ms}});
        const OutcomeReport report = attemptReport(release.from, release.version, release.failure);
        logOutcome(log, report.outcome, release.version, release.failure);
        reports.send(report);
        return true;
    }
    const Failure failure{FailureStep::Start, start.started ? FailureKind::NoWindow : FailureKind::System, 0,
                          start.code};
    // A first installation has nothing to go back to.
    const bool previous = canTakeBack();
    const Failure takeBackFailure = previous ? takeBack(release.version) : Failure{FailureStep::Start};
    const bool rolledBack = !takeBackFailure;
    if (rolledBack) {
        log.write("heal", {{"version", release.version},
                           {"result", "rolledback"},
                           {"code", start.code},
                           {"ms", start.ms}});
    } else {
        log.write("heal", {{"version", release.version},
                           {"result", "failed"},
                           {"code", start.code},
                           {"ms", start.ms},
                           {"error", takeBackFailure.systemError}});
    }
    const OutcomeReport report = startReport(release.from, release.version, failure, rolledBack);
    logOutcome(log, report.outcome, release.version, failure);
    reports.send(report);
    return !previous || rolledBack;
}
