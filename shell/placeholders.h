// Calls into parts of the engine that are not built yet. Each does nothing visible and succeeds;
// the work that builds the real function removes it from here.
#pragma once
#include "common/types.h"

// Input: force the mouse cursor visible before the error dialog.
void InputForceCursorVisible();
