// Menus drawn by the engine, in the shape of the Windows menu calls: a menu is a handle holding a
// list of items (text, id, grey and check states, separator, submenu), built by inserting items
// by position. A window shows one menu as its bar; a menu opens as a popup at a screen point and
// runs until an item is chosen or the menu is closed. Menus may be built on any thread; bars and
// popups are shown by the main thread.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct PlatWindow;
struct PlatUiCanvas;

// Item states, as the Windows MFS_ bits.
enum { PLAT_MENU_GRAYED = 3, PLAT_MENU_CHECKED = 8 };

struct PlatMenuItem {
  u32 id;
  u32 state;  // PLAT_MENU_GRAYED, PLAT_MENU_CHECKED
  bool separator;
  std::string text;  // Shift-JIS; "&" marks the underlined letter, a tab the right column
  u32 submenu;       // 0 for none
};

// A new empty menu; 0 only when handles run out.
u32 PlatMenuCreate();
// Destroys the menu and its submenus, and takes it off any window showing it as its bar. False
// for a handle that is not (any more) a menu, which is harmless.
bool PlatMenuDestroy(u32 menu);
// Inserts the item before position (0 first; past the end appends). False for a bad menu, or a
// submenu that is no menu.
bool PlatMenuInsertItem(u32 menu, i32 position, const PlatMenuItem& item);
i32 PlatMenuItemCount(u32 menu);  // -1 for a bad menu
bool PlatMenuGetItem(u32 menu, i32 position, PlatMenuItem* out);
bool PlatMenuExists(u32 menu);
i32 PlatMenuCount();  // menus alive (tests)

// The window's menu bar (0 removes it). As part of the frame, the bar sits above the client
// area and the window grows by its height (UI_MENU_BAR_HEIGHT), so the client area keeps its
// size, and positions and sizes reported for the client area count from below the bar. As an
// overlay, the bar is drawn over the client area's top band and changes nothing else. A choice
// from the bar reaches the window as PLAT_MSG_MENU_COMMAND. Any thread (carried out by the pump).
enum { PLAT_MENU_BAR_FRAME = 0, PLAT_MENU_BAR_OVERLAY = 1 };
void PlatWindowSetMenuBar(PlatWindow* w, u32 menu, i32 mode);
u32 PlatWindowMenuBar(PlatWindow* w);

// Opens the menu at the screen point (main thread) and runs it until an item is chosen (its id)
// or the menu is closed (0; also at once for a menu without items): by Escape, a click outside it or the loss of the focus. While it is
// open, calls handed to the main thread and presentations go on; engine messages wait. Without a
// display the items are printed to stderr and the answer is 0.
u32 PlatMenuTrack(u32 menu, i32 screen_x, i32 screen_y);

// The menu as its drop-down shows it, with item `lit` lit (-1 none). False for a bad menu.
bool PlatMenuRender(u32 menu, i32 lit, PlatUiCanvas* out);

// Tests: the text a menu prints without a display (one line an item, submenus indented).
std::string PlatMenuDescribe(u32 menu);
