#include "update/report_sender.h"

#include "common/file_system.h"
#include "common/layout.h"
#include "net/connection.h"
#include "net/request_path.h"

#include <optional>
#include <utility>

namespace {

// A kept report is a handful of ASCII characters; more is not one.
constexpr DWORD kMaxKeptBytes = 256;

bool writeKept(const OutcomeReport& report) {
    const std::string text = keptReportText(report);
    return writeWholeFile(kPendingReportFile, std::as_bytes(std::span(text)));
}

// None when there is no kept report.
std::optional<std::string> readKept() {
    const OwnedFileHandle file =
        openFile(kPendingReportFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!file) {
        return std::nullopt;
    }
    std::string text(kMaxKeptBytes, '\0');
    DWORD read = 0;
    text.resize(ReadFile(file.get(), text.data(), kMaxKeptBytes, &read, nullptr) ? read : 0);
    return text;
}

}  // namespace

ReportSender::ReportSender(SupportLog& log, std::string officeId, NetworkRoute route)
    : log_(log), officeId_(std::move(officeId)), route_(std::move(route)) {}

void ReportSender::keep(const OutcomeReport& report) {
    AcquireSRWLockExclusive(&lock_);
    kept_ = writeKept(report) ? ++made_ : kept_;
    ReleaseSRWLockExclusive(&lock_);
    log_.write("report", {{"result", "kept"}, {"report", keptReportText(report)}});
}

void ReportSender::sendKept() {
    const std::optional<std::string> text = readKept();
    if (!text) {
        return;
    }
    const std::optional<OutcomeReport> report = parseReportText(*text);
    // Not a report this updater wrote: it never goes into a request.
    if (!report) {
        DeleteFileW(kPendingReportFile);
        return;
    }
    AcquireSRWLockExclusive(&lock_);
    kept_ = ++made_;
    const Queued queued{*report, kept_};
    ReleaseSRWLockExclusive(&lock_);
    enqueue(queued);
}

void ReportSender::send(const OutcomeReport& report) {
    // Written under the lock, so that the thread never removes the file for
    // an earlier report once it holds this one.
    AcquireSRWLockExclusive(&lock_);
    const Queued queued{report, ++made_};
    kept_ = writeKept(report) ? queued.number : kept_;
    ReleaseSRWLockExclusive(&lock_);
    enqueue(queued);
}

bool ReportSender::finish() {
    AcquireSRWLockExclusive(&lock_);
    const bool sending = sending_;
    ReleaseSRWLockExclusive(&lock_);
    return !sending || WaitForSingleObject(thread_.get(), kReportWaitMs) == WAIT_OBJECT_0;
}

void ReportSender::enqueue(const Queued& queued) {
    AcquireSRWLockExclusive(&lock_);
    queue_.push_back(queued);
    const bool startThread = !sending_;
    sending_ = true;
    ReleaseSRWLockExclusive(&lock_);
    if (!startThread) {
        return;
    }
    thread_.reset(CreateThread(nullptr, 0, sendQueued, this, 0, nullptr));
    if (!thread_) {
        // What was written waits for a later start.
        AcquireSRWLockExclusive(&lock_);
        queue_.clear();
        sending_ = false;
        ReleaseSRWLockExclusive(&lock_);
    }
}

DWORD WINAPI ReportSender::sendQueued(LPVOID self) {
    auto& sender = *static_cast<ReportSender*>(self);
    for (;;) {
        AcquireSRWLockExclusive(&sender.lock_);
        if (sender.queue_.empty()) {
            sender.sending_ = false;
            ReleaseSRWLockExclusive(&sender.lock_);
            return 0;
        }
        const Queued next = sender.queue_.front();
        sender.queue_.pop_front();
        ReleaseSRWLockExclusive(&sender.lock_);
        const bool delivered = sender.deliver(next.report);
        AcquireSRWLockExclusive(&sender.lock_);
        // A report that stayed in the folder would go again at the next
        // start: a scanner that holds the file just written is waited for.
        if (delivered && sender.kept_ == next.number && removeFile(kPendingReportFile)) {
            sender.kept_ = 0;
        }
        ReleaseSRWLockExclusive(&sender.lock_);
    }
}

// Taken when the server answers with a success status; a server without the
// report location (404) or with a fault keeps it for a later start.
bool ReportSender::deliver(const OutcomeReport& report) {
    bool delivered = false;
    if (!officeId_.empty()) {
        const std::wstring path = reportRequestPath(reportText(report), officeId_, reportQuery(report));
        RequestLogLine line(log_, path);
        PinnedExchange exchange;
        const Failure failure = sendPinnedRequest(path, route_, FailureStep::Report, exchange);
        line.error = failure.systemError;
        line.status = failure ? 0 : queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE);
        delivered = line.status >= 200 && line.status < 300;
    }
    log_.write("report", {{"result", delivered ? "sent" : "kept"}, {"report", keptReportText(report)}});
    return delivered;
}
