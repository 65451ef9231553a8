#include "update/outcome_report.h"

#include "app/version.h"
#include "common/encoding.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr char kNoRelease[] = "none";
constexpr char kInstalled[] = "installed";
constexpr char kFailed[] = "failed";
constexpr char kCheckFailed[] = "checkfailed";
constexpr std::string_view kCauseQuery = "?cause=";
constexpr char kRolledBack[] = "rolledback";

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Dotted numbers with an optional "+build", as the release tool writes them.
bool isVersionText(std::string_view text) {
    const size_t plus = text.find('+');
    if (plus != std::string_view::npos && !isDigits(text.substr(plus + 1))) {
        return false;
    }
    for (std::string_view rest = text.substr(0, plus);;) {
        const size_t dot = rest.find('.');
        if (!isDigits(rest.substr(0, dot))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(dot + 1);
    }
}

// A version a report can carry: as given when it is one, else its numbers.
std::string reportVersion(const std::wstring& version) {
    const std::string text = encodeUtf8(version);
    if (isVersionText(text)) {
        return text;
    }
    std::string numbers;
    for (const std::int32_t part : parseVersion(version).parts) {
        numbers.append(numbers.empty() ? "" : ".").append(std::to_string(std::max(part, 0)));
    }
    return numbers;
}

// The steps of a run, which come first in their enumeration; a report's own
// sending is not one of them.
bool isStepName(std::string_view name) {
    for (auto step = FailureStep::None; step <= FailureStep::Start;
         step = static_cast<FailureStep>(static_cast<int>(step) + 1)) {
        if (failureStepName(step) == name) {
            return true;
        }
    }
    return false;
}

// The word of a failure's cause: every kind's name but none's, up to the
// end of the enumeration, where the names give out.
bool isCauseName(std::string_view name) {
    for (int kind = static_cast<int>(FailureKind::None) + 1;; ++kind) {
        const std::string_view known = failureKindName(static_cast<FailureKind>(kind));
        if (known == "unknown") {
            return false;
        }
        if (known == name) {
            return true;
        }
    }
}

std::string causeOf(const Failure& failure) {
    return failure && failure.kind != FailureKind::None ? failureKindName(failure.kind) : "";
}

// The same rules as the report command's: a failed check names no release,
// an attempt names one; installed is at no step and for no cause, a failure
// at one; only a first start is rolled back.
bool isConsistent(const OutcomeReport& report) {
    const bool noRelease = report.to == kNoRelease;
    const bool installed = report.outcome == kInstalled;
    if (report.outcome != kInstalled && report.outcome != kFailed && report.outcome != kCheckFailed &&
        report.outcome != kRolledBack) {
        return false;
    }
    const bool atStart = report.step == failureStepName(FailureStep::Start);
    return (report.outcome == kCheckFailed) == noRelease && installed == (report.step == "none") &&
           (report.outcome != kRolledBack || atStart) && isVersionText(report.from) &&
           (noRelease || isVersionText(report.to)) && isStepName(report.step) &&
           (report.cause.empty() || (!installed && isCauseName(report.cause)));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t at = 0;;) {
        const size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
        if (next == std::string_view::npos) {
            return parts;
        }
        at = next + 1;
    }
}

}  // namespace

OutcomeReport attemptReport(const std::wstring& from, const std::wstring& to, const Failure& failure) {
    return {reportVersion(from), reportVersion(to), failure ? kFailed : kInstalled, failureStepName(failure.step),
            failureCode(failure), causeOf(failure)};
}

OutcomeReport startReport(const std::wstring& from, const std::wstring& to, const Failure& failure, bool rolledBack) {
    return {reportVersion(from), reportVersion(to), rolledBack ? kRolledBack : kFailed, failureStepName(failure.step),
            failureCode(failure), causeOf(failure)};
}

OutcomeReport checkReport(const std::wstring& from, const Failure& failure) {
    return {reportVersion(from), kNoRelease, kCheckFailed, failureStepName(failure.step), failureCode(failure),
            causeOf(failure)};
}

std::string reportText(const OutcomeReport& report) {
    return report.from + "/" + report.to + "/" + report.outcome + "/" + report.step + "/" + std::to_string(report.code);
}

std::string reportQuery(const OutcomeReport& report) {
    return report.cause.empty() ? "" : std::string(kCauseQuery) + report.cause;
}

std::string keptReportText(const OutcomeReport& report) {
    return reportText(report) + reportQuery(report);
}

std::optional<OutcomeReport> parseReportText(std::string_view kept) {
    const size_t query = kept.find('?');
    std::string_view cause;
    if (query != std::string_view::npos) {
        if (kept.substr(query, kCauseQuery.size()) != kCauseQuery || query + kCauseQuery.size() == kept.size()) {
            return std::nullopt;
        }
        cause = kept.substr(query + kCauseQuery.size());
    }
    const std::string_view text = kept.substr(0, query);
    const std::vector<std::string_view> parts = split(text, '/');
    if (parts.size() != 5 || !isDigits(parts[4]) || parts[4].size() > 10) {
        return std::nullopt;
    }
    std::uint64_t code = 0;
    std::from_chars(parts[4].data(), parts[4].data() + parts[4].size(), code);
    OutcomeReport report{std::string(parts[0]), std::string(parts[1]), std::string(parts[2]), std::string(parts[3]),
                         static_cast<std::uint32_t>(code), std::string(cause)};
    if (code > UINT32_MAX || !isConsistent(report)) {
        return std::nullopt;
    }
    return report;
}
