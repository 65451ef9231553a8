#include "app/office_id_text.h"
#include "net/request_path.h"
#include "update/outcome_report.h"

#include <gtest/gtest.h>

namespace {

constexpr char kOffice[] = "0123456789abcdef0123456789abcdef";

TEST(OutcomeReport, NamesTheStepTheCodeAndTheCauseTheReportCommandCounts) {
    using enum FailureKind;
    using S = FailureStep;
    const struct {
        std::wstring from;
        std::wstring to;
        Failure failure;
        const wchar_t* path;
        const wchar_t* query;
    } cases[] = {
        {L"1.2.3.4", L"2.0.0.0", {}, L"1.2.3.4/2.0.0.0/installed/none/0", L""},
        {L"0.0.0.0", L"4.1.0+12", {S::Download, HttpStatus, 404, 0}, L"0.0.0.0/4.1.0+12/failed/download/404",
         L"?cause=status"},
        {L"1.2.3.4", L"2.0.0.0", {S::Download, Unreachable, 0, 12002}, L"1.2.3.4/2.0.0.0/failed/download/12002",
         L"?cause=unreachable"},
        {L"1.2.3.4", L"2.0.0.0", {S::Verify, WrongRelease, 0, 0}, L"1.2.3.4/2.0.0.0/failed/verify/0",
         L"?cause=release"},
        {L"1.2.3.4", L"2.0.0.0", {S::SelfUpdate, Disk, 0, 5}, L"1.2.3.4/2.0.0.0/failed/selfupdate/5", L"?cause=disk"},
        {L"1.2.3.4", L"2.0.0.0", {S::Access, Disk, 0, 5}, L"1.2.3.4/2.0.0.0/failed/access/5", L"?cause=disk"},
        {L"1.2.3.4", L"2.0.0.0", {S::Rollback, Disk, 0, 32}, L"1.2.3.4/2.0.0.0/failed/rollback/32", L"?cause=disk"},
        // Versions that would not be a path's part go as their numbers.
        {L"1.2 beta/../x", L"2.0.0.0/..", {S::Swap, Disk, 0, 32}, L"1.2.0.0/2.0.0.0/failed/swap/32", L"?cause=disk"},
    };
    for (const auto& c : cases) {
        const OutcomeReport report = attemptReport(c.from, c.to, c.failure);
        EXPECT_EQ(reportRequestPath(reportText(report), kOffice, reportQuery(report)),
                  std::wstring(L"/api/marlix/report/NIRVA_ACC/") + c.path + L"/" + L"0123456789abcdef0123456789abcdef" +
                      c.query);
        EXPECT_EQ(parseReportText(keptReportText(report)), report) << keptReportText(report);
    }
    const OutcomeReport check = checkReport(L"1.2.3.4", {S::Check, Signature, 0, 0});
    EXPECT_EQ(keptReportText(check), "1.2.3.4/none/checkfailed/check/0?cause=signature");
    EXPECT_EQ(parseReportText(keptReportText(check)), check);
    // A report an earlier updater kept, without its cause, still goes.
    const std::optional<OutcomeReport> older = parseReportText("1.2.3.4/none/checkfailed/check/12029");
    ASSERT_TRUE(older.has_value());
    EXPECT_EQ(reportQuery(*older), "");
    const OutcomeReport back = startReport(L"1.2.3.4", L"2.0.0.0", {S::Start, NoWindow, 0, 0xC0000005}, true);
    EXPECT_EQ(keptReportText(back), "1.2.3.4/2.0.0.0/rolledback/start/3221225477?cause=nowindow");
    EXPECT_EQ(parseReportText(keptReportText(back)), back);
    EXPECT_EQ(reportText(startReport(L"0.0.0.0", L"2.0.0.0", {S::Start, NoWindow, 0, 0}, false)),
              "0.0.0.0/2.0.0.0/failed/start/0");
}

TEST(OutcomeReport, AKeptTextIsSentOnlyWhenTheUpdaterCouldHaveWrittenIt) {
    for (const char* text : {"", "1.0.0.0/2.0.0.0/installed/none/0/extra", "1.0.0.0/2.0.0.0/installed/swap/0",
                             "1.0.0.0/2.0.0.0/failed/none/0", "1.0.0.0/none/failed/download/404",
                             "1.0.0.0/2.0.0.0/checkfailed/check/404", "1.0.0.0/2.0.0.0/failed/report/0",
                             "1.0.0.0/2.0.0.0/failed/elsewhere/0", "1.0.0.0/2.0.0.0/failed/swap/4294967296",
                             "1.0.0.0/2.0.0.0/failed/swap/-5", "../2.0.0.0/failed/swap/5",
                             "1.0.0.0/2.0.0.0/rolledback/swap/5", "1.0.0.0/2.0.0.0/rolledback/none/0",
                             "1.0.0.0/2.0.0.0?x/failed/swap/5", "1.0.0.0/2.0.0.0/failed/swap/5\r\n",
                             "1.0.0.0/2.0.0.0/failed/swap/5?cause=", "1.0.0.0/2.0.0.0/failed/swap/5?cause=none",
                             "1.0.0.0/2.0.0.0/failed/swap/5?cause=unknown", "1.0.0.0/2.0.0.0/failed/swap/5?cause=disk&x",
                             "1.0.0.0/2.0.0.0/failed/swap/5?reason=disk", "1.0.0.0/2.0.0.0/installed/none/0?cause=disk"}) {
        EXPECT_FALSE(parseReportText(text).has_value()) << text;
    }
}

TEST(OfficeId, IsExactlyThirtyTwoLowercaseHexadecimalDigits) {
    EXPECT_TRUE(isOfficeId(kOffice));
    for (const char* other : {"0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
                              "0123456789abcdef0123456789abcdef\n", "A123456789abcdef0123456789abcdef",
                              "g123456789abcdef0123456789abcdef", "                                "}) {
        EXPECT_FALSE(isOfficeId(other)) << other;
    }
}

}  // namespace
