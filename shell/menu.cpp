// Window menus, the fullscreen bar and popup menus (see menu.h). Menus are built on the script's
// thread or the main thread from the tree and handed to the platform as handles; the platform
// draws them. A destroyed set is cleared, and the platform takes a destroyed menu off every
// window that showed it, so no bar is ever left on menus that are gone.
#include "shell/menu.h"

#include <mutex>

#include "core/err.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/input.h"
#include "platform/menu.h"
#include "platform/platform.h"
#include "platform/tray.h"
#include "platform/video.h"
#include "script/arg.h"
#include "script/menu.h"
#include "script/script.h"
#include "shell/window.h"
#include "shell/window_paint.h"

MenuHandleSets g_MenuHandles = {};
// The sets and their shared counter: built by the script's thread (popup and tray menus) and by
// the main thread (window menus, also on a switch of the screen mode).
static std::recursive_mutex s_SetsLock;
std::atomic<u8> g_MenuBarWindowShown{0};
// The menu of the fullscreen bar: set by the main thread, read by the frame.
static std::atomic<u32> s_FullscreenMenu{0};

enum { WM_LBUTTONDOWN = 0x0201, WM_LBUTTONDBLCLK = 0x0203, WM_RBUTTONUP = 0x0205 };

// ---- Building ----------------------------------------------------------------------------------

ObjNode* WinMenuFind(const char* name) {
  char path[OBJ_PATH_MAX];
  if (!name || ObjResolvePath(path, sizeof path, name, g_MenuBase, 1) < 0) return nullptr;
  return ObjFindNode(g_MenuRoot, path, OBJ_FIND_FOLDER);
}

void WinMenuSetDestroy(i32 set) {
  if (set < 0 || set >= MENU_SET_COUNT) return;
  std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
  for (u32& h : g_MenuHandles.handle[set]) {
    if (h) PlatMenuDestroy(h);  // a submenu went with its parent: harmless
    h = 0;
  }
}

i32 WinMenuBuildItems(i32 set, ObjNode* node) {
  std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
  MenuHandleSets& m = g_MenuHandles;
  const i32 index = m.counter;
  if (++m.counter >= MENU_SET_SIZE) return -1;
  const u32 menu = m.handle[set][index];
  if (!node || node->child_count == 0) return 0;
  i32 position = 0;
  for (ObjNode* c = node->first_child; c; c = c->next) {
    const MenuItem* item = static_cast<const MenuItem*>(c->payload);
    if (!item || !item->shown) continue;
    PlatMenuItem mi{};
    mi.id = static_cast<u32>(item->command_id);
    mi.state = (item->enabled == 0 ? u32{PLAT_MENU_GRAYED} : 0u) | (item->check == 1 ? u32{PLAT_MENU_CHECKED} : 0u);
    const bool has_text = item->text && item->text[0];
    mi.separator = !has_text;
    if (has_text) mi.text = item->text;
    const bool submenu = has_text && c->kind == OBJ_FOLDER && c->child_count > 0;
    if (submenu) {
      if (m.counter >= MENU_SET_SIZE) return -1;
      mi.submenu = PlatMenuCreate();
      m.handle[set][m.counter] = mi.submenu;
    }
    PlatMenuInsertItem(menu, position++, mi);
    if (submenu && WinMenuBuildItems(set, c) != 0) return -1;
  }
  return 0;
}

i32 WinMenuBuildPopupSet(i32 set, ObjNode* folder) {
  std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
  WinMenuSetDestroy(set);
  MenuHandleSets& m = g_MenuHandles;
  m.handle[set][0] = PlatMenuCreate();
  m.handle[set][1] = PlatMenuCreate();
  m.counter = 1;
  PlatMenuItem mi{};
  mi.id = MENU_POPUP_ITEM_ID;
  mi.text = "MENUSET";
  mi.submenu = m.handle[set][1];
  PlatMenuInsertItem(m.handle[set][0], 0, mi);
  return WinMenuBuildItems(set, folder);
}

i32 WinMenuSet(const char* name, WindowObject* w) {
  if (!name || !name[0]) {
    WinMenuSetDestroy(MENU_SET_BAR);
    WinMenuAttach(w, 0);
    return 0;
  }
  ObjNode* node = WinMenuFind(name);
  if (!node) {
    const i32 op = ScriptCurrentOpcode();
    ErrRaiseAtScriptF(ERR_MENU_MISSING, 1, op >= 0 ? ArgCommandName(static_cast<u8>(op)) : "", name);
    return -1;
  }
  u32 root = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
    WinMenuSetDestroy(MENU_SET_BAR);
    root = PlatMenuCreate();
    g_MenuHandles.handle[MENU_SET_BAR][0] = root;
    g_MenuHandles.counter = 0;
    if (WinMenuBuildItems(MENU_SET_BAR, node) != 0) return 0;
  }
  WinMenuAttach(w, root);
  return 0;
}

// ---- Bars --------------------------------------------------------------------------------------

static void HideFullscreenBar(WindowObject* main) {
  if (!g_MenuBarWindowShown) return;
  g_MenuBarWindowShown = 0;
  if (main && main->handle) PlatWindowSetMenuBar(main->handle, 0, PLAT_MENU_BAR_OVERLAY);
  if (main) WinInvalidate(main);  // the picture comes back where the bar was
}

void WinMenuAttach(WindowObject* w, u32 menu) {
  if (!w) return;
  // The window's own state decides: on the way back from fullscreen the flag is still set
  // while the window already is a window again.
  const bool fullscreen = w->handle && PlatIsMainThread() ? PlatWindowIsFullscreen(w->handle) : g_Fullscreen != 0;
  if (!fullscreen) {
    if (w->handle) PlatWindowSetMenuBar(w->handle, menu, PLAT_MENU_BAR_FRAME);
    return;
  }
  s_FullscreenMenu = menu;
  if (g_MenuBarWindowShown && w->handle) PlatWindowSetMenuBar(w->handle, menu, PLAT_MENU_BAR_OVERLAY);
}

void WinMenuDetach(WindowObject* w) {
  if (!w) return;
  if (w->handle) PlatWindowSetMenuBar(w->handle, 0, PLAT_MENU_BAR_FRAME);
  s_FullscreenMenu = 0;
  HideFullscreenBar(w);
}

void WinFullscreenMenuBar() {
  WindowObject* main = g_WindowObjects[0];
  if (!main || !main->handle) return;
  if (!g_Fullscreen) {
    HideFullscreenBar(main);
    return;
  }
  // The band is the screen's top edge, where the bar shows: the cursor is measured in the
  // window's pixels both ways (game pixels would put it elsewhere on a scaled or letterboxed
  // screen, and the bar would hide the moment it showed).
  const i32 band = g_MenuBarHeight;
  i32 cx = 0, cy = 0;
  if (!PlatInputCursorClient(main->handle, &cx, &cy)) return;
  const u32 menu = s_FullscreenMenu;
  if (cy >= 0 && cy < band && menu && PlatMenuExists(menu) && !g_MenuBarWindowShown) {
    PlatWindowSetMenuBar(main->handle, menu, PLAT_MENU_BAR_OVERLAY);
    g_MenuBarWindowShown = 1;
  } else if (cy >= band && g_MenuBarWindowShown) {
    HideFullscreenBar(main);
  }
}

// ---- Popups ------------------------------------------------------------------------------------

void WinMenuRequestPopup(u8 set, i32 x, i32 y) {
  EngineLockGuard lock;
  g_PopupMenuRequest = {set, x, y};
}

namespace {

struct PopupCall {
  FramePopupRequest request;
  u32 chosen;
};

void RunPopup(void* arg) {
  PopupCall* c = static_cast<PopupCall*>(arg);
  const u8 set = c->request.set;
  if (set >= MENU_SET_COUNT) return;
  PlatMenuItem first{};
  u32 root;
  {
    std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
    root = g_MenuHandles.handle[set][0];
  }
  if (!PlatMenuGetItem(root, 0, &first) || !first.submenu) return;
  i32 x = c->request.x, y = c->request.y;
  if (set == MENU_SET_POPUP) {
    // Asked for at the cursor in the main window: on the screen from the client area's place.
    WindowObject* main = g_WindowObjects[0];
    i32 cx, cy, cw, ch;
    if (main && main->handle && PlatWindowClientRect(main->handle, &cx, &cy, &cw, &ch)) {
      x += cx;
      y += cy;
    }
  }
  c->chosen = PlatMenuTrack(first.submenu, x, y);
}

}  // namespace

void WinMenuPopupRun() {
  PopupCall call{};
  {
    EngineLockGuard lock;
    call.request = g_PopupMenuRequest;
    g_PopupMenuRequest.set = 0;
  }
  if (call.request.set == 0) return;
  PlatCallOnMain(RunPopup, &call, &g_QuitRequested);
  PlatPostMessage(WIN_MSG_COMMAND, call.chosen, 0);
}

// ---- Tray icon messages ----------------------------------------------------------------------

void TrayOnNotify(WindowObject* w, i64 icon_id, i64 mouse_message) {
  if (!w || icon_id != TRAY_ICON_ID) return;
  if (mouse_message != WM_LBUTTONDOWN && mouse_message != WM_RBUTTONUP && mouse_message != WM_LBUTTONDBLCLK) return;
  // Brought forward, a minimised window comes back first (one the game hid stays hidden).
  if (w->handle && WinIsIconic(w) && PlatWindowShown(w->handle)) PlatWindowSetState(w->handle, PLAT_STATE_NORMAL);
  if (w->handle) PlatWindowRaise(w->handle);
  if (w->root_layer) WinInvalidate(w);
  if (mouse_message == WM_LBUTTONDOWN) return;
  // The tray menu opens where the panel asked for it, else at the cursor.
  i32 cx = 0, cy = 0, x = 0, y = 0, width, height;
  if (mouse_message == WM_RBUTTONUP && PlatTrayMenuPoint(&x, &y)) {
    WinMenuRequestPopup(MENU_SET_TRAY, x, y);
    return;
  }
  if (w->handle && PlatInputCursorClient(w->handle, &cx, &cy) &&
      PlatWindowClientRect(w->handle, &x, &y, &width, &height)) {
    x += cx;
    y += cy;
  }
  WinMenuRequestPopup(MENU_SET_TRAY, x, y);
}

void WinMenuShutdown() {
  std::lock_guard<std::recursive_mutex> lock(s_SetsLock);
  for (i32 s = 0; s < MENU_SET_COUNT; s++) WinMenuSetDestroy(s);
  g_MenuHandles.counter = 0;
  s_FullscreenMenu = 0;
  g_MenuBarWindowShown = 0;
}
