#include "shell/placeholders.h"

void InputForceCursorVisible() {}
