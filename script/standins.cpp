// What stands in for the script-engine pieces not built yet.
#include "core/state.h"
#include "script/task.h"
#include "script/var.h"

// stand-in: installing the script engine's accessor tables at start-up
void VarInitAccessorTables() {}
// stand-in: the cursor in screen pixels for the debug corner detector (0, 0)
void InputCursorScreenPos(i32* x, i32* y) { *x = *y = 0; }
// stand-in: the display resolution for the debug corner detector (640 x 480)
void ScreenDisplayResolution(i32* w, i32* h) {
  *w = 640;
  *h = 480;
}
