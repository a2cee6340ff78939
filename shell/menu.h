// Window menus, the fullscreen menu bar and the tray icon.
#pragma once
#include "common/types.h"

struct WindowObject;

extern u8 g_MenuBarWindowShown;  // the fullscreen menu bar is shown
// The window menu built from the menu node of that name (an empty name removes it). 0, or -1
// after the menu's error.
i32 WinMenuSet(const char* name, WindowObject* w);
// The window's menu bar taken off (before fullscreen, and from the fullscreen menu bar window
// when the window returns).
void WinMenuDetach(WindowObject* w);
// A message of the tray icon (icon id, mouse message) to the main window.
void TrayOnNotify(WindowObject* w, i64 icon_id, i64 mouse_message);
void TrayIconRemove();
void MenuDestroySet(i32 set);  // the 128 menu handles of one set
