#include "ui/window_rules.h"

bool mayCloseWindow(bool forcedUpdate, UpdatePhase phase) {
    if (phase == UpdatePhase::Installing) {
        return false;
    }
    return !forcedUpdate || phase == UpdatePhase::Ended;
}

bool mayStartLaterRoutine(UpdatePhase phase) {
    return phase != UpdatePhase::Installing;
}
