#pragma once

#include "update/messages.h"

// The controls' ids, which their commands carry.
inline constexpr int kProgressBarId = 101;
inline constexpr int kStartButtonId = 104;
inline constexpr int kLaterButtonId = 105;

// Nothing may stop the process between moving the old application aside and
// putting the new one in place; a mandatory update holds the user only while
// it can still finish.
bool mayCloseWindow(bool forcedUpdate, UpdatePhase phase);
bool mayStartLaterRoutine(UpdatePhase phase);

enum class WindowButton { None, Start, Later };

// What a command of the window presses: a click on a button, or Escape,
// which the dialog manager sends as IDCANCEL and which is "update later",
// the choice that leaves the office its program. A mandatory update's
// window has no buttons: nothing presses one there, its keys included.
WindowButton buttonPressedBy(int commandId, bool mandatory);

// The button Enter presses, drawn as the default: the button that has the
// focus, else the start button; none in a mandatory update's window.
WindowButton defaultButton(int focusedControlId, bool mandatory);
