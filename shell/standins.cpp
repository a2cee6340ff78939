// What stands in for the roof's pieces not built yet: the tray icon. It does nothing visible
// and succeeds.
#include "common/sjis.h"
#include "core/state.h"
#include "shell/menu.h"
#include "shell/startup.h"

// stand-in: removing the tray icon
void TrayIconRemove() {}
