// Window menus, the fullscreen menu bar, popup menus and the tray icon's menu, built whole from
// the menu tree (g_MenuRoot) each time they are set. Three sets of menu handles: 0 the window
// menu bar, 1 the popup menu, 2 the tray menu; handle 0 of a set is its root menu.
#pragma once
#include <atomic>
#include <vector>

#include "common/types.h"

struct ObjNode;
struct WindowObject;

enum { MENU_SET_BAR = 0, MENU_SET_POPUP = 1, MENU_SET_TRAY = 2, MENU_SET_COUNT = 3, MENU_SET_SIZE = 128 };
enum { MENU_POPUP_ITEM_ID = 1 };  // the one item "MENUSET" of a popup or tray root menu
enum { ERR_MENU_MISSING = 101250 };

struct MenuHandleSets {
  u32 handle[MENU_SET_COUNT][MENU_SET_SIZE];  // platform menu handles, 0 for none
  i32 counter;                                // the next submenu's index while building
};
extern MenuHandleSets g_MenuHandles;
extern std::atomic<u8> g_MenuBarWindowShown;  // the fullscreen bar is shown (read by the input update)

// The menu folder a name (a window's menu name, a popup or tray menu) names: resolved against
// g_MenuBase, found as a folder with or without a trailing "/". Null when there is none.
ObjNode* WinMenuFind(const char* name);

// The window menu built from the menu folder of that name; an empty name destroys set 0 and
// removes the menu. -1 after error 101250 (fatal) when the folder does not exist.
i32 WinMenuSet(const char* name, WindowObject* w);
// Destroys every handle of the set and clears it (so a second destroy finds nothing).
void WinMenuSetDestroy(i32 set);
// Fills the set's menu at the counter with the node's shown children, each folder with
// children and a text becoming a submenu built the same way. 0, or -1 once 127 submenus of the
// set are used (the part built so far stays).
i32 WinMenuBuildItems(i32 set, ObjNode* node);
// A set whose root menu holds one item "MENUSET" with a submenu built from the folder's children
// (the popup and tray menus). 0, or -1 when the submenus ran out.
i32 WinMenuBuildPopupSet(i32 set, ObjNode* folder);
// The menu as the window's bar (0 removes it); in fullscreen, the menu of the fullscreen bar.
void WinMenuAttach(WindowObject* w, u32 menu);
// The window's bar taken off (before fullscreen), and the fullscreen bar's menu with it.
void WinMenuDetach(WindowObject* w);
// Each frame: in fullscreen the bar shows while the cursor is in the band at the top of the
// screen and hides (the picture then redrawn) once it leaves; outside fullscreen it is hidden.
void WinFullscreenMenuBar();

// The popup request of the frame (commands and the tray set it, the frame's end shows it).
// Coordinates: client pixels of the main window for set 1, screen pixels for set 2.
void WinMenuRequestPopup(u8 set, i32 x, i32 y);
// The frame's last step: the requested popup runs on the main thread; its choice (0 for none)
// goes to the main window as a menu command.
void WinMenuPopupRun();

// The tray icon (tray.cpp). A message of the icon (icon id, mouse message) to the main window:
// the left button down brings the window forward, the right button up (or a left double click)
// also opens the tray menu where the panel asked for it (else at the cursor).
enum { TRAY_ICON_ID = 123 };
void TrayOnNotify(WindowObject* w, i64 icon_id, i64 mouse_message);
void WinTrayIconRemove();                  // when shown: the icon taken away
void TrayIconRemove();                     // the same, for the main window's end
const std::vector<u32>& TrayIconPixels();  // tests: the icon the next show hands over
void TrayReset();                          // tests: no icon, no tip

// Shutdown: every set destroyed. Tests: the sets and the fullscreen bar forgotten.
void WinMenuShutdown();
