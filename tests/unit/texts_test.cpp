#include "app/version.h"
#include "download/messages.h"
#include "install/installation.h"
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
    const wchar_t* constant;
    const wchar_t* expected;
};

// The expected texts are written as code units, so that a look-alike letter
// (Arabic yeh or kaf) or a missing zero-width non-joiner in the source fails.
TEST(PersianTexts, MatchCodeUnitForCodeUnit) {
    const TextCase cases[] = {
        {kWindowTitle, L"\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646 \u0646\u0631\u0645 \u0627\u0641\u0632\u0627\u0631 \u062D\u0633\u0627\u0628\u062F\u0627\u0631\u06CC \u0646\u06CC\u0631\u0648\u0627"},
        {kStartButtonText, L"\u0622\u063A\u0627\u0632 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC"},
        {kLaterButtonText, L"\u0628\u0639\u062F\u0627 \u0628\u0647\u200C\u0631\u0648\u0632 \u0645\u06CC\u06A9\u0646\u0645"},
        {kWorkerStartFailureText, L"\u0648\u0642\u0648\u0639 \u062E\u0637\u0627 \u062F\u0631 \u0622\u063A\u0627\u0632 \u0639\u0645\u0644\u06CC\u0627\u062A \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC"},
        {kUpdateDoneText, L"\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u062A\u0645\u0627\u0645 \u0634\u062F"},
        {kMandatoryUpdateText, L"\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0627\u062C\u0628\u0627\u0631\u06CC \u0627\u0633\u062A \u0648 \u0628\u0647\u0635\u0648\u0631\u062A \u062E\u0648\u062F\u06A9\u0627\u0631 \u0622\u063A\u0627\u0632 \u0634\u062F"},
        {kMandatoryUpdateCaption, L"\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0627\u062C\u0628\u0627\u0631\u06CC"},
        {kDownloadingText, L"\u062F\u0631 \u062D\u0627\u0644 \u062F\u0627\u0646\u0644\u0648\u062F \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC..."},
        {kDownloadFailedText, L"\u062F\u0627\u0646\u0644\u0648\u062F \u0646\u0627\u0645\u0648\u0641\u0642 \u0628\u0648\u062F"},
        {kInstallingText, L"\u062F\u0631 \u062D\u0627\u0644 \u0646\u0635\u0628..."},
        {kExtractionFailureText, L"\u0628\u0627\u0632 \u06A9\u0631\u062F\u0646 \u0641\u0627\u06CC\u0644 \u0641\u0634\u0631\u062F\u0647 \u0634\u062F\u0647 \u0628\u0627 \u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F!"},
        {kInstallationFailureText, L"\u0646\u0635\u0628 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0628\u0627 \u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F"},
        {kApplicationVersionReadFailureText, L"\u062E\u0637\u0627 \u062F\u0631 \u062E\u0648\u0627\u0646\u062F\u0646 \u0646\u0633\u062E\u0647 \u0646\u0631\u0645 \u0627\u0641\u0632\u0627\u0631 \u0645\u0648\u062C\u0648\u062F"},
        {kErrorCaption, L"\u062E\u0637\u0627"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(std::wstring(c.constant), std::wstring(c.expected));
    }
}

TEST(PersianTexts, UsePersianLettersAndJoinOnlyInsideBehRuz) {
    const wchar_t* texts[] = {kWindowTitle, kStartButtonText, kLaterButtonText, kWorkerStartFailureText,
                              kUpdateDoneText, kMandatoryUpdateText, kMandatoryUpdateCaption, kDownloadingText,
                              kDownloadFailedText, kInstallingText, kExtractionFailureText,
                              kInstallationFailureText, kApplicationVersionReadFailureText, kErrorCaption};
    const std::wstring behRuz = L"\u0628\u0647\u200C\u0631\u0648\u0632";
    for (const wchar_t* text : texts) {
        const std::wstring value(text);
        EXPECT_EQ(value.find(L'\u064A'), std::wstring::npos) << "Arabic yeh";
        EXPECT_EQ(value.find(L'\u0643'), std::wstring::npos) << "Arabic kaf";
        for (size_t joiner = value.find(L'\u200C'); joiner != std::wstring::npos;
             joiner = value.find(L'\u200C', joiner + 1)) {
            ASSERT_GE(joiner, 2u) << "stray joiner";
            EXPECT_EQ(value.compare(joiner - 2, behRuz.size(), behRuz), 0) << "stray joiner";
        }
    }
}

}  // namespace
