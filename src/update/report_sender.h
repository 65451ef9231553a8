#pragma once

// Sends outcome reports to the update server, one pinned GET each, on a
// thread of its own and in the order they were made, so that neither the
// window nor the application's start waits for them. A report is written
// to the office folder (kPendingReportFile) before it is sent and removed
// once the server has taken it: one that could not be sent, or whose
// sending the end of the run cut off, goes at a later start. Only the latest
// is kept, and none is tried twice in a run. Used from the window's thread.

#include "common/owned_handles.h"
#include "common/support_log.h"
#include "net/network_route.h"
#include "update/outcome_report.h"

#include <deque>
#include <string>

// How long the end of a run waits for the reports still being sent; each
// phase of a report's request has the same bound.
inline constexpr DWORD kReportWaitMs = 3000;

class ReportSender {
public:
    // The office id (empty: none) is the run's, as the rollout was decided by.
    // Reports go along the run's route.
    ReportSender(SupportLog& log, std::string officeId, NetworkRoute route);
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    // For a start that cannot reach the server: the report waits for the
    // next start that does.
    void keep(const OutcomeReport& report);
    // The report an earlier start kept, if there is one.
    void sendKept();
    void send(const OutcomeReport& report);
    // Waits for the sending to end, up to kReportWaitMs; false when it goes
    // on, and then still uses the log.
    bool finish();

private:
    struct Queued {
        OutcomeReport report;
        unsigned number = 0;
    };
    static DWORD WINAPI sendQueued(LPVOID self);
    void enqueue(const Queued& queued);
    bool deliver(const OutcomeReport& report);

    SupportLog& log_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<Queued> queue_;
    // Reports are numbered as they are made; the file holds kept_ (0: none).
    unsigned made_ = 0;
    unsigned kept_ = 0;
    bool sending_ = false;
    OwnedKernelHandle thread_;
    const std::string officeId_;
    const NetworkRoute route_;
};
