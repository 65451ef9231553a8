#include "ui/single_copy.h"
#include "ui/window_rules.h"

#include <gtest/gtest.h>

namespace {

struct CloseCase {
    bool forcedUpdate;
    UpdatePhase phase;
    bool mayClose;
};

TEST(MayCloseWindow, HoldsAMandatoryUpdateOnlyWhileItCanFinishAndNeverDuringInstallation) {
    const CloseCase cases[] = {
        {false, UpdatePhase::NotStarted, true},
        {false, UpdatePhase::Downloading, true},
        {false, UpdatePhase::Installing, false},
        {false, UpdatePhase::Ended, true},
        {true, UpdatePhase::NotStarted, false},
        {true, UpdatePhase::Downloading, false},
        {true, UpdatePhase::Installing, false},
        {true, UpdatePhase::Ended, true},
    };
    for (const CloseCase& c : cases) {
        EXPECT_EQ(mayCloseWindow(c.forcedUpdate, c.phase), c.mayClose)
            << "forced " << c.forcedUpdate << ", phase " << static_cast<int>(c.phase);
    }
}

TEST(MayStartLaterRoutine, OnlyOutsideTheInstallation) {
    EXPECT_TRUE(mayStartLaterRoutine(UpdatePhase::NotStarted));
    EXPECT_TRUE(mayStartLaterRoutine(UpdatePhase::Downloading));
    EXPECT_FALSE(mayStartLaterRoutine(UpdatePhase::Installing));
    EXPECT_TRUE(mayStartLaterRoutine(UpdatePhase::Ended));
}

TEST(OfficeLockName, IsOneForEverySpellingOfAFolderAndAnotherForAnotherFolder) {
    EXPECT_EQ(officeLockName(L"C:\\Bur\u00E9au\\Office"), officeLockName(L"c:\\BUR\u00C9AU\\office"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"C:\\Office 2"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"D:\\Office"));
}

}  // namespace
