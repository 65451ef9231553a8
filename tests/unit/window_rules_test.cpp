#include "ui/window_rules.h"

#include <windows.h>

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

// An id as a command's (Escape is IDCANCEL, Enter without a default IDOK) and as the focused control's.
struct ButtonCase {
    int id;
    bool mandatory;
    WindowButton pressed;
    WindowButton defaultWhenFocused;
};

TEST(WindowButtons, ClickEscapeAndEnterPressTheirButtonsAndNothingInAMandatoryUpdate) {
    using enum WindowButton;
    const ButtonCase cases[] = {
        {kStartButtonId, false, Start, Start}, {kLaterButtonId, false, Later, Later}, {IDCANCEL, false, Later, Start},
        {IDOK, false, None, Start},            {kProgressBarId, false, None, Start}, {0, false, None, Start},
        {kStartButtonId, true, None, None},    {kLaterButtonId, true, None, None},   {IDCANCEL, true, None, None},
    };
    for (const ButtonCase& c : cases) {
        EXPECT_EQ(buttonPressedBy(c.id, c.mandatory), c.pressed) << "id " << c.id << ", mandatory " << c.mandatory;
        EXPECT_EQ(defaultButton(c.id, c.mandatory), c.defaultWhenFocused) << "id " << c.id << ", mandatory " << c.mandatory;
    }
}

}  // namespace
