// What stands in for the roof's pieces not built yet: menus and the tray icon. Each does nothing
// visible and succeeds.
#include "common/sjis.h"
#include "core/state.h"
#include "shell/menu.h"
#include "shell/startup.h"


// stand-in: the fullscreen menu bar's shown flag
u8 g_MenuBarWindowShown = 0;
// stand-in: building a window's menu bar
i32 WinMenuSet(const char*, WindowObject*) { return 0; }
// stand-in: taking a window's menu bar off
void WinMenuDetach(WindowObject*) {}
// stand-in: the tray icon's mouse messages
void TrayOnNotify(WindowObject*, i64, i64) {}
// stand-in: removing the tray icon
void TrayIconRemove() {}
// stand-in: destroying one set of menu handles
void MenuDestroySet(i32) {}
