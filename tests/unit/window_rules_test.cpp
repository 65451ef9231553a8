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

}  // namespace
