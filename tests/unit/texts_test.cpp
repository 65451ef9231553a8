#include "common/texts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each text a user sees is compared whole by an end-to-end test; this checks
// the letters that look alike but are not Persian, in every text at once.
TEST(PersianTexts, UsePersianLettersAndJoinOnlyInsideBehRuz) {
    const wchar_t* texts[] = {kWindowTitle, kStartButtonText, kLaterButtonText, kDownloadingText,
                              kDownloadFailedText, kInstallingText, kFolderHeldText, kProgressPercentPiece,
                              kProgressSpeedPiece, kProgressSecondsPiece, kPersianErrorCaption,
                              kWindowFailureText, kWorkerStartFailureText, kVersionReadFailureText,
                              kExtractionFailureText, kInstallationFailureText, kFilesInUseText,
                              kRollbackPendingText, kFolderNotWritableText, kServerFailureCaption,
                              kServerFailureText, kMandatoryUpdateCaption, kMandatoryUpdateText};
    const std::wstring behRuz = L"\u0628\u0647\u200C\u0631\u0648\u0632";
    const std::wstring behRuzUnjoined = L"\u0628\u0647\u0631\u0648\u0632";
    for (const wchar_t* text : texts) {
        const std::wstring value(text);
        EXPECT_EQ(value.find(behRuzUnjoined), std::wstring::npos) << "no joiner inside be-ruz";
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
