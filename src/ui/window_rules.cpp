#include "ui/window_rules.h"

#include <windows.h>

bool mayCloseWindow(bool forcedUpdate, UpdatePhase phase) {
    if (phase == UpdatePhase::Installing) {
        return false;
    }
    return !forcedUpdate || phase == UpdatePhase::Ended;
}

bool mayStartLaterRoutine(UpdatePhase phase) {
    return phase != UpdatePhase::Installing;
}

WindowButton buttonPressedBy(int commandId, bool mandatory) {
    if (mandatory) {
        return WindowButton::None;
    }
    switch (commandId) {
        case kStartButtonId:
            return WindowButton::Start;
        case kLaterButtonId:
        case IDCANCEL:
            return WindowButton::Later;
        default:
            return WindowButton::None;
    }
}

WindowButton defaultButton(int focusedControlId, bool mandatory) {
    if (mandatory) {
        return WindowButton::None;
    }
    return focusedControlId == kLaterButtonId ? WindowButton::Later : WindowButton::Start;
}
