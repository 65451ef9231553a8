#pragma once

// What the updater tells the vendor about a run, as the path of one GET
// (net/request_path: reportRequestPath): how an update attempt ended, or
// that a start could not check. The words are the ones the release tool's
// report command reads (src/common/failure.cpp for the steps).

#include "common/failure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct OutcomeReport {
    // The installed version, as the server was asked with it.
    std::string from;
    // The offered release; "none" when the check failed.
    std::string to;
    // "installed", "failed", "rolledback" (the release failed at its first
    // start and the previous one was put back) or "checkfailed".
    std::string outcome;
    std::string step;
    // failureCode: the HTTP status, else the Windows error, else 0.
    std::uint32_t code = 0;
    // The failure's cause as the support log names it (failureKindName);
    // empty for an installation, and in a report kept by an updater that
    // sent none.
    std::string cause;

    friend bool operator==(const OutcomeReport&, const OutcomeReport&) = default;
};

// An update attempt: installed when nothing failed, else failed at the step.
OutcomeReport attemptReport(const std::wstring& from, const std::wstring& to, const Failure& failure);
// The first start of an installed release that ended before it showed a
// window: rolled back when the previous release was put back, else failed.
OutcomeReport startReport(const std::wstring& from, const std::wstring& to, const Failure& failure, bool rolledBack);
// A start whose check failed.
OutcomeReport checkReport(const std::wstring& from, const Failure& failure);

// "<from>/<to>/<outcome>/<step>/<code>": the report path's middle.
std::string reportText(const OutcomeReport& report);
// What follows the path: "?cause=<word>" for a failure with a cause, else
// nothing.
std::string reportQuery(const OutcomeReport& report);
// The text and the query: what the office folder keeps of a report that has
// not been sent, and the support log shows.
std::string keptReportText(const OutcomeReport& report);
// The report a kept text holds (with its query, or without one as earlier
// updaters kept it); none unless every part is one the updater writes, so
// that nothing else ever goes into a request.
std::optional<OutcomeReport> parseReportText(std::string_view text);
