#pragma once

#include "update/messages.h"

// Nothing may stop the process between moving the old application aside and
// putting the new one in place; a mandatory update holds the user only while
// it can still finish.
bool mayCloseWindow(bool forcedUpdate, UpdatePhase phase);
bool mayStartLaterRoutine(UpdatePhase phase);
