#pragma once

// The support log: nirva_updater.log in the office folder, for a support
// person to read. One line per event (common/log_line.h), UTF-8, appended by
// the window's thread, the worker and the reports' thread in turn. It never fails the run nor
// holds it up: a log that cannot be opened, written or rotated is left alone
// for the rest of the run. Past kSupportLogLimit it becomes
// nirva_updater.log.1, replacing the older part, and a new one begins, so
// that about twice the limit is kept.

#include "common/failure.h"
#include "common/log_line.h"
#include "common/owned_handles.h"

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::uint64_t kSupportLogLimit = 256 * 1024;

class SupportLog {
public:
    // Opens the log in the current folder for a run with a new random id.
    SupportLog();
    SupportLog(const SupportLog&) = delete;
    SupportLog& operator=(const SupportLog&) = delete;

    void write(std::string_view event, std::initializer_list<LogField> fields);
    // A path or a command line as the log may hold it: without the user's
    // profile folder, name or machine name.
    std::wstring impersonal(const std::wstring& text) const;

private:
    bool rotate();

    OwnedFileHandle file_;
    std::uint64_t size_ = 0;
    std::string runId_;
    PersonalNames names_;
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// How an update attempt or a check ended: "outcome result=<result>" with the
// release and the failure's step, cause, HTTP status and Windows error.
void logOutcome(SupportLog& log, std::string_view result, const std::wstring& version, const Failure& failure);

// One request's line, written when the exchange is over, however it ended:
// the path, the answer's status (0: none came), the body bytes read, the
// milliseconds since the request began and the WinHTTP or Windows error.
class RequestLogLine {
public:
    RequestLogLine(SupportLog& log, std::wstring path);
    RequestLogLine(const RequestLogLine&) = delete;
    RequestLogLine& operator=(const RequestLogLine&) = delete;
    ~RequestLogLine();

    DWORD status = 0;
    std::uint64_t bytes = 0;
    DWORD error = 0;

private:
    SupportLog& log_;
    std::wstring path_;
    ULONGLONG started_;
};
