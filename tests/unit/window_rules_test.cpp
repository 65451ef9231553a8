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

struct ButtonCase {
    int id;
    bool mandatory;
    WindowButton button;
};

// Escape reaches the window as IDCANCEL, and an Enter that finds no default
// button as IDOK.
TEST(ButtonPressedBy, EachButtonItsOwnClickEscapeUpdateLaterAndNothingInAMandatoryUpdate) {
    const ButtonCase cases[] = {
        {kStartButtonId, false, WindowButton::Start}, {kLaterButtonId, false, WindowButton::Later},
        {IDCANCEL, false, WindowButton::Later},       {IDOK, false, WindowButton::None},
        {kProgressBarId, false, WindowButton::None},  {kStartButtonId, true, WindowButton::None},
        {kLaterButtonId, true, WindowButton::None},   {IDCANCEL, true, WindowButton::None},
    };
    for (const ButtonCase& c : cases) {
        EXPECT_EQ(buttonPressedBy(c.id, c.mandatory), c.button) << "id " << c.id << ", mandatory " << c.mandatory;
    }
}

// The notes box and the status line have id 0, as has a focus outside the window.
TEST(DefaultButton, FollowsTheFocusAmongTheButtonsAndIsTheStartButtonElsewhere) {
    const ButtonCase cases[] = {
        {kStartButtonId, false, WindowButton::Start}, {kLaterButtonId, false, WindowButton::Later},
        {0, false, WindowButton::Start},              {kLaterButtonId, true, WindowButton::None},
        {0, true, WindowButton::None},
    };
    for (const ButtonCase& c : cases) {
        EXPECT_EQ(defaultButton(c.id, c.mandatory), c.button) << "focus " << c.id << ", mandatory " << c.mandatory;
    }
}

}  // namespace
