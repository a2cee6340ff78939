// Window objects, the platform windows behind them and their message handling. The message map
// is a table from the platform's message kinds to the engine's handlers; posted engine messages
// have a table of their own. Every close ends in WinClose: a window closed with any state but
// "close only" sets the quit flag and ends the message loop, and a close posted for a main
// window that no longer exists ends it too, so a quit never waits for a window that is gone.
#include "shell/window.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/sjis.h"
#include "core/config.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "shell/wincmd.h"
#include "shell/window_paint.h"
#include "sound/movie.h"

// Minimised, as the window's messages last said; read by the input update on the frame's thread.
static std::atomic<u8> s_Iconic[WIN_COUNT];
// The next minimise of the window is the window command's own, not the player's request.
static u8 s_ScriptMinimise[WIN_COUNT];
// The maximise box was taken away (the platform cannot show that; the style says it).
static u8 s_NoMaximiseBox[WIN_COUNT];

enum { VK_CONTROL = 0x11, VK_MENU = 0x12, VK_F10 = 0x79, VK_LMENU = 0xA4, VK_RMENU = 0xA5 };
enum { WM_COMMAND = 0x0111, WM_SYSCOMMAND = 0x0112 };
// The system's menu-bar height at the standard 96 dots per inch.
enum { MENU_BAR_HEIGHT = 20 };

static const char* EngineText(const char* utf8, std::string* keep) {
  if (keep->empty()) *keep = PlatUtf8ToSjis(utf8);
  return keep->c_str();
}

// ---- Objects and creation --------------------------------------------------------------------

i32 WinObjsCreate() {
  for (i32 i = 0; i < WIN_COUNT; i++) g_WindowOpen[i] = -1;
  for (i32 i = 0; i < WIN_COUNT; i++) {
    if (!g_WindowObjects[i]) g_WindowObjects[i] = new (std::nothrow) WindowObject();
    if (!g_WindowObjects[i]) return -1;
    WinObjInit(g_WindowObjects[i], i);
  }
  return 0;
}

void WinObjInit(WindowObject* w, i32 index) {
  w->index = index;
  w->show_after_first_frame = 0;
  w->class_registered = 0;
  w->close_state = 0;
  w->outside_screen = 0;
  w->outside_extended = 0;
  w->has_drawn = 0;
  w->cursor_timer_running = 0;
  w->cursor_timer_start = 0;
  w->root_layer = nullptr;
  w->title[0] = '\0';
  w->menu_name[0] = '\0';
  g_MouseMoved = 0;
  g_WheelDelta = 0;
}

void WinObjSetupScreen(WindowObject* w, const char* title) {
  std::memset(w->spare, 0, sizeof w->spare);
  const u32 spare_size = WIN_SPARE_BYTES;
  std::memcpy(w->spare, &spare_size, sizeof spare_size);
  w->client = {0, 0, w->width, w->height};
  w->screen_header = WinBitmapHeader{};
  w->screen_header.size = 40;
  w->screen_header.width = w->width;
  w->screen_header.height = w->height;
  w->screen_header.planes = 1;
  w->screen_header.bit_count = 32;
  if (title != w->title) StrCopySjis(w->title, sizeof w->title, title ? title : "");
  if (w->index != 0) w->show_after_first_frame = 1;
  w->opacity = 256;
  w->close_state = WIN_CLOSE_CONFIRM;
  w->minimise_allowed = 1;
  w->maximise_acts = w->index == 0 ? 1 : 0;
  w->move_shows_cursor = 1;
  w->button_shows_cursor = 1;
  w->wheel_shows_cursor = 1;
}

static bool DragCheck(WindowObject* w, i32 client_x, i32 client_y);

// A press on the drag map drags the window: the system starts the move at the press.
static bool WinHitTest(void* user, i32 x, i32 y) {
  WindowObject* w = static_cast<WindowObject*>(user);
  return w && DragCheck(w, x, y);
}

i32 WinCreate(WindowObject* w, const char* class_name, const char* title) {
  // No window class to register here; the class name only matters to the instance rules of
  // start-up, which use the name itself.
  (void)class_name;
  w->class_registered = 1;
  bool main_window = w->index == 0;
  bool popup = main_window && !g_WindowFramed;
  u32 flags = 0;
  if (popup) {
    // A borderless popup is visible from the start, and a tool window: no task-bar entry.
    flags |= PLAT_WINDOW_SHOWN | PLAT_WINDOW_TOOL;
  } else {
    flags |= PLAT_WINDOW_FRAMED;
    if (main_window && g_WindowResizable) flags |= PLAT_WINDOW_RESIZABLE;
    if (main_window && g_ScreenSaverBuild) flags |= PLAT_WINDOW_TOPMOST;
    // A main window not waiting for its first frame is shown as it is made.
    if (main_window && w->show_after_first_frame != 1) flags |= PLAT_WINDOW_SHOWN;
  }
  char cut[WIN_TITLE_MAX];
  StrCopySjis(cut, sizeof cut, title ? title : "");
  PlatWindowDesc d{};
  d.title = cut;
  d.width = w->width;
  d.height = w->height;
  d.flags = flags;
  d.user = w;
  if (main_window || popup) {
    PlatDesktop desk;
    PlatDesktopGet(&desk);
    if (d.width > desk.work_width) d.width = desk.work_width;
    if (d.height > desk.work_height) d.height = desk.work_height;
    d.x = desk.work_x + (desk.work_width - d.width) / 2;
    d.y = desk.work_y + (desk.work_height - d.height) / 2;
  } else {
    d.x = 0;
    d.y = 0;
  }
  PlatSetHitTestHandler(WinHitTest);
  s_Iconic[w->index] = 0;
  w->handle = PlatWindowCreate(&d);
  // The system menu's "ウィンドウサイズ初期化" item has no place on this platform.
  return w->handle ? 1 : 0;
}

void WinSetTitle(WindowObject* w, const char* title) {
  StrCopySjis(w->title, sizeof w->title, title ? title : "");
  if (w->handle) PlatWindowSetTitle(w->handle, w->title);
}

void WinSetMenuName(WindowObject* w, const char* name) {
  StrCopySjis(w->menu_name, sizeof w->menu_name, name ? name : "");
}

u32 WinGetStyle(WindowObject* w) {
  if (!w->handle) return 0;
  u32 f = PlatWindowFlags(w->handle);
  u32 style = PlatWindowShown(w->handle) ? u32{WIN_WS_VISIBLE} : 0u;
  if (f & PLAT_WINDOW_FRAMED) {
    style |= WIN_WS_CAPTION | WIN_WS_SYSMENU | WIN_WS_MINIMIZEBOX | WIN_WS_CLIPCHILDREN;
    if (!s_NoMaximiseBox[w->index]) style |= WIN_WS_MAXIMIZEBOX;
  } else {
    style |= WIN_WS_POPUP;
  }
  if (f & PLAT_WINDOW_RESIZABLE) style |= WIN_WS_THICKFRAME;
  return style;
}

void WinSetStyle(WindowObject* w, u32 style) {
  if (!w->handle) return;
  if (style & WIN_WS_CAPTION) s_NoMaximiseBox[w->index] = (style & WIN_WS_MAXIMIZEBOX) ? 0 : 1;
  u32 f = PlatWindowFlags(w->handle) & PLAT_WINDOW_TOPMOST;
  if ((style & WIN_WS_CAPTION) == WIN_WS_CAPTION) f |= PLAT_WINDOW_FRAMED;
  if (style & WIN_WS_THICKFRAME) f |= PLAT_WINDOW_RESIZABLE;
  if (s_NoMaximiseBox[w->index]) f |= PLAT_WINDOW_NO_MAXIMIZE;
  PlatWindowSetFlags(w->handle, f);
}

void WinRectFromClient(WindowObject* w, i32* extra_width, i32* extra_height) {
  PlatWindowFrameExtras(w->handle, extra_width, extra_height);
}

void WinClientOffset(WindowObject* w, i32* dx, i32* dy) {
  i32 ew = 0, eh = 0;
  if (w->handle) PlatWindowFrameExtras(w->handle, &ew, &eh);
  // The frame's sides are alike; the rest of its height (caption, menu bar) is above.
  *dx = ew / 2;
  *dy = eh - ew / 2;
}

i32 WinFlash(WindowObject* w, i32 count, i32 timeout_ms) {
  (void)timeout_ms;  // the system sets the pace of the flashing
  if (!w->handle) return -1;
  return PlatWindowFlash(w->handle, count) == 0 ? 0 : -1;
}

i32 WinApplyOpacity(WindowObject* w) {
  if (!w->handle) return -1;
  i32 alpha = w->opacity > 255 ? 255 : (w->opacity < 0 ? 0 : w->opacity);
  if (PlatWindowSetOpacity(w->handle, alpha) == 0) return 0;
  PlatMessageBox(nullptr, "SetLayeredWindowAttributes Error.", PLAT_MB_OK);
  return -1;
}

// ---- Shapes ----------------------------------------------------------------------------------

i32 WinRegionFromBitmap(const WinShapeBitmap* bitmap, std::vector<WinRect>* out) {
  out->clear();
  const u32 transparent = 0xFF000000u;
  for (i32 y = 0; y < bitmap->height; y++) {
    const u32* row = bitmap->pixels + static_cast<size_t>(y) * bitmap->width;
    for (i32 x = 0; x < bitmap->width;) {
      if (row[x] == transparent) {
        x++;
        continue;
      }
      i32 x1 = x;
      while (x < bitmap->width && row[x] != transparent) x++;
      if (out->size() + 1 >= WIN_REGION_MAX_RECTS) {
        out->clear();
        return -1;
      }
      out->push_back({x1, y, x, y + 1});
    }
  }
  return static_cast<i32>(out->size());
}

static void FreeShapeBitmap() {
  std::free(g_ShapeBitmap.pixels);
  g_ShapeBitmap = {nullptr, 0, 0};
}

i32 WinSetShapeFromImage(WindowObject* w, const u8* pixels, i32 width, i32 height) {
  FreeShapeBitmap();
  if (!pixels || width <= 0 || height <= 0 || width > 8192) return -1;
  size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  u32* bits = static_cast<u32*>(std::malloc(n * 4));
  if (!bits) return -1;
  for (size_t i = 0; i < n; i++) {
    u32 v;
    std::memcpy(&v, pixels + i * 4, 4);
    bits[i] = v | 0xFF000000u;  // B, G, R, A little-endian: alpha is the top byte
  }
  g_ShapeBitmap = {bits, width, height};
  std::vector<WinRect> rects;
  if (WinRegionFromBitmap(&g_ShapeBitmap, &rects) < 0) return -1;
  if (!w->handle) return -1;
  std::vector<PlatRect> region;
  region.reserve(rects.size());
  for (const WinRect& r : rects) region.push_back({r.left, r.top, r.right, r.bottom});
  return PlatWindowSetShape(w->handle, region.data(), static_cast<i32>(region.size())) == 0 ? 0 : -1;
}

// ---- Closing ---------------------------------------------------------------------------------

// What WM_DESTROY does after the platform window is gone.
static void OnDestroyed(WindowObject* w) {
  if (w->index == 0) {
    TrayIconRemove();
    FreeShapeBitmap();
  }
  if (w->close_state == WIN_CLOSE_ONLY) return;
  WinMenuSetDestroy(MENU_SET_BAR);
  // The quit flag first: a frame thread ends only on it, and shutdown waits for that thread.
  g_QuitRequested = 1;
  if (!PlatPostQuit()) g_Running = 0;
}

void WinClose(WindowObject* w) {
  g_WindowOpen[w->index] = -1;
  s_Iconic[w->index] = 0;
  s_ScriptMinimise[w->index] = 0;
  if (w->handle) {
    PlatWindowDestroy(w->handle);
    w->handle = nullptr;
  }
  OnDestroyed(w);
}

static i32 CloseCommand(WindowObject* w) {
  switch (w->close_state.load()) {
    case WIN_CLOSE_TELL_SCRIPT: g_CloseRequested = static_cast<u32>(w->index + 1); return 1;
    case WIN_CLOSE_CONFIRM: {
      static std::string text;
      const char* caption = g_WindowObjects[0] ? g_WindowObjects[0]->title : "";
      g_FramesHeld = 1;
      InputForceCursorVisible();
      PlatDialogOwnerSet(w->handle);  // the box belongs to the window being closed
      int answer =
          PlatMessageBox(caption, EngineText("終了します。よろしいですか？", &text), PLAT_MB_YESNO | PLAT_MB_ICONINFO);
      PlatDialogOwnerSet(nullptr);
      g_FramesHeld = 0;
      if (answer != PLAT_IDYES) return 1;
      g_QuitRequested = 1;
      return 0;
    }
    case WIN_CLOSE_QUIT: g_QuitRequested = 1; return 0;
    default: return 0;
  }
}

static void RequestD3dResetIfNeeded() {
  if (g_GpuDrawing && g_FullscreenModeChange) g_D3dResetRequest = 1;
}

i32 WinOnSysCommand(WindowObject* w, u32 command) {
  bool main_window = w->index == 0;
  switch (command) {
    case WIN_SC_SIZE_RESET:
      g_MenuCommandId = WIN_SC_SIZE_RESET;
      RequestD3dResetIfNeeded();
      return 1;
    case WIN_SC_MINIMIZE: g_MinimiseRequested = static_cast<u32>(w->index + 1); return w->minimise_allowed ? 0 : 1;
    case WIN_SC_SCREENSAVE: return (!g_ScreenSaverBuild && g_BlockScreenSaver) ? 1 : 0;
    case WIN_SC_CLOSE: return CloseCommand(w);
    case WIN_SC_MAXIMIZE:
      g_MaximiseRequested = static_cast<u32>(w->index + 1);
      if (!w->maximise_acts) return 1;
      if (main_window && !g_Fullscreen) {
        // A fixed-size window needs the thick frame to be maximised; restoring takes it away.
        if (!g_WindowResizable && w->handle)
          PlatWindowSetFlags(w->handle, PlatWindowFlags(w->handle) | PLAT_WINDOW_RESIZABLE);
        g_Maximised = 1;
        WinRememberWindowedSizes();
        RequestD3dResetIfNeeded();
      }
      return 0;
    case WIN_SC_RESTORE:
      if (main_window && !g_Fullscreen && w->handle && !WinIsIconic(w)) {
        if (!g_WindowResizable)
          PlatWindowSetFlags(w->handle, PlatWindowFlags(w->handle) & ~static_cast<u32>(PLAT_WINDOW_RESIZABLE));
        g_RestoreSizePending = 1;
      }
      return 0;
    default: return 0;
  }
}

// ---- Input messages --------------------------------------------------------------------------

i32 WinOnKeyDown(WindowObject* w, u32 vk, bool system_key) {
  (void)w;
  if (!system_key) {
    g_LastKeyDown = vk;
    return 0;
  }
  // F10 and Alt would open the window menu; the game keeps them.
  return (vk == VK_F10 || vk == VK_MENU || vk == VK_LMENU || vk == VK_RMENU) ? 1 : 0;
}

static bool DragCheck(WindowObject* w, i32 client_x, i32 client_y) {
  i32 x, y;
  InputClientToGame(w, client_x, client_y, &x, &y);
  if (!WinDragMapHit(w, x, y)) return false;
  g_DragWindow = static_cast<u8>(w->index + 1);
  g_DragLParam = (static_cast<u32>(client_x) & 0xFFFFu) | (static_cast<u32>(client_y) << 16);
  return true;
}

void WinPostDragRequest() {
  g_DragWindow = 0;
  g_DragLParam = 0;
}

i32 WinIsIconic(const WindowObject* w) { return s_Iconic[w->index].load(); }

void WinOnInputEvent(const PlatInputEvent* e) {
  WindowObject* w = static_cast<WindowObject*>(e->user);
  if (w && e->window) {
    if (e->kind == PLAT_INPUT_KEY_DOWN) {
      // Keys pressed with Alt (and without Ctrl, which makes AltGr) are the system's, as is F10.
      u8 keys[256];
      PlatInputKeyboardState(keys);
      bool alt = keys[VK_MENU] && !keys[VK_CONTROL];
      WinOnKeyDown(w, e->vk, alt || e->vk == VK_F10);
    } else if (e->kind == PLAT_INPUT_BUTTON_DOWN) {
      g_MouseButtonDown = e->vk;
      if (e->vk == 1) DragCheck(w, e->x, e->y);
    }
  }
  InputOnPlatformEvent(e);
}

// ---- Dropped files ---------------------------------------------------------------------------

static void FreeDropList() {
  for (i32 i = 0; i < g_DroppedFiles.count; i++) std::free(g_DroppedFiles.names[i]);
  std::free(g_DroppedFiles.names);
  g_DroppedFiles = {0, nullptr};
}

void WinOnDropFiles(WindowObject* w, const char* const* paths, i32 count) {
  (void)w;
  EngineLockGuard lock;
  FreeDropList();
  if (count <= 0) return;
  g_DroppedFiles.names = static_cast<char**>(std::calloc(static_cast<size_t>(count), sizeof(char*)));
  if (!g_DroppedFiles.names) return;
  for (i32 i = 0; i < count; i++) {
    std::string name = PlatUtf8ToSjis(paths[i]);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    StrReplaceCharSjis(buf.data(), '/', '\\');
    name = buf.data();
    if (PlatPathKind(paths[i]) == 2 && (name.empty() || name.back() != '\\')) name += '\\';
    // A path that does not fit would name another file: it is left out rather than cut.
    if (name.size() >= WIN_DROP_PATH_SIZE) continue;
    char* s = static_cast<char*>(std::calloc(WIN_DROP_PATH_SIZE, 1));
    if (!s) break;
    std::memcpy(s, name.data(), name.size());
    g_DroppedFiles.names[g_DroppedFiles.count++] = s;
  }
}

i32 WinDroppedFileCount() {
  EngineLockGuard lock;
  return g_DroppedFiles.count;
}

i32 WinDroppedFileCopy(i32 i, char* buf, size_t buf_size) {
  EngineLockGuard lock;
  if (i < 0 || i >= g_DroppedFiles.count) {
    if (buf_size) buf[0] = '\0';
    return -1;
  }
  StrCopySjis(buf, buf_size, g_DroppedFiles.names[i]);
  return 0;
}

void WinDroppedFilesClear() {
  EngineLockGuard lock;
  FreeDropList();
}

// ---- Command window --------------------------------------------------------------------------

i32 WinCommandCreate() {
  g_MenuBarHeight = MENU_BAR_HEIGHT;
  WindowObject* main = g_WindowObjects[0];
  g_CommandWindow = {1, main ? main->width : 0, g_MenuBarHeight};
  return 0;
}

void WinCommandDestroy() { g_CommandWindow.created = 0; }

i32 WinCommandProc(u32 message, u64 wparam) {
  if (message == WM_COMMAND) {
    g_MenuCommandId = static_cast<u32>(wparam & 0xFFFF);
    return 1;
  }
  return message == WM_SYSCOMMAND && (wparam & 0xFFF0) == WIN_SC_CLOSE ? 1 : 0;
}

// ---- The message map -------------------------------------------------------------------------

// Painting and activation may come before the layer roots exist; there is nothing to redraw then.
static void InvalidateIfReady(WindowObject* w) {
  if (w->root_layer) WinInvalidate(w);
}

static void OnClose(WindowObject* w, const PlatMsg*) {
  if (!WinOnSysCommand(w, WIN_SC_CLOSE)) WinClose(w);
}

static void OnActivate(WindowObject* w, const PlatMsg* m) {
  w->active = m->a != 0 ? 1 : 0;
  InvalidateIfReady(w);
}

static void OnPaint(WindowObject* w, const PlatMsg*) {
  if (!g_Fullscreen && !g_Maximised && w->handle) PlatWindowErase(w->handle);
  InvalidateIfReady(w);
}

static void OnMove(WindowObject* w, const PlatMsg*) {
  if (w->index == 0) {
    i32 before = g_MonitorIndex;
    g_MonitorIndex = WinGetMonitor(w);
    if (g_MonitorIndex != before && !g_Fullscreen) RequestD3dResetIfNeeded();
    WinApplySizeLimits(w);  // the limits follow the monitor
  }
  WinOnWindowPosChanged(w);
}

static void OnSize(WindowObject* w, const PlatMsg* m) {
  // A size the window has already left (the engine asked for another since) is stale: the
  // report of the newer size follows, and answering this one would undo it.
  i32 x, y, cw, ch;
  if (w->handle && PlatWindowClientRect(w->handle, &x, &y, &cw, &ch) && (cw != m->a || ch != m->b)) return;
  WinOnReportedSize(w, static_cast<i32>(m->a), static_cast<i32>(m->b));
}

void WinMinimizeByScript(WindowObject* w) {
  if (!w->handle) return;
  // Minimised at once, as the system's minimise is: the window is hidden right after, and a
  // hidden window's minimise may never be reported.
  s_ScriptMinimise[w->index] = 1;
  s_Iconic[w->index] = 1;
  PlatWindowSetState(w->handle, PLAT_STATE_MINIMIZED);
}

// Minimise and maximise arrive after the fact: a swallowed one is taken back.
static void OnMinimize(WindowObject* w, const PlatMsg*) {
  if (s_ScriptMinimise[w->index]) {
    s_ScriptMinimise[w->index] = 0;
    s_Iconic[w->index] = 1;
    return;
  }
  if (WinOnSysCommand(w, WIN_SC_MINIMIZE)) {
    if (w->handle) PlatWindowRestore(w->handle);
  } else {
    s_Iconic[w->index] = 1;
  }
}

static void OnMaximize(WindowObject* w, const PlatMsg*) {
  s_Iconic[w->index] = 0;
  if (WinOnSysCommand(w, WIN_SC_MAXIMIZE) && w->handle) PlatWindowRestore(w->handle);
}

static void OnRestore(WindowObject* w, const PlatMsg* m) {
  bool from_icon = m->a != 0 || s_Iconic[w->index];
  s_Iconic[w->index] = 0;
  s_ScriptMinimise[w->index] = 0;
  if (from_icon) return;  // a restore from the icon changes no frame
  WinOnSysCommand(w, WIN_SC_RESTORE);
  // The size may have come before this notice: the restored sizes are applied now, whatever
  // order the system reports them in.
  i32 x, y, cw, ch;
  if (w->handle && PlatWindowClientRect(w->handle, &x, &y, &cw, &ch)) WinOnReportedSize(w, cw, ch);
}

// A choice from the window's menu bar.
static void OnMenuCommand(WindowObject*, const PlatMsg* m) { g_MenuCommandId = static_cast<u32>(m->a & 0xFFFF); }

static void OnDropFiles(WindowObject* w, const PlatMsg* m) { WinOnDropFiles(w, m->paths, static_cast<i32>(m->a)); }

typedef void (*WinMsgFn)(WindowObject* w, const PlatMsg* m);
struct WinMsgRow {
  u32 kind;
  WinMsgFn fn;
};

static const WinMsgRow kMessageMap[] = {
    {PLAT_MSG_CLOSE_REQUEST, OnClose},       // WM_SYSCOMMAND SC_CLOSE
    {PLAT_MSG_ACTIVATE, OnActivate},         // WM_ACTIVATE, WM_ACTIVATEAPP
    {PLAT_MSG_PAINT, OnPaint},               // WM_ERASEBKGND, WM_PAINT
    {PLAT_MSG_MOVE, OnMove},                 // WM_MOVE, WM_WINDOWPOSCHANGED
    {PLAT_MSG_SIZE, OnSize},                 // WM_SIZE, WM_WINDOWPOSCHANGED
    {PLAT_MSG_MINIMIZE, OnMinimize},         // WM_SYSCOMMAND SC_MINIMIZE
    {PLAT_MSG_MAXIMIZE, OnMaximize},         // WM_SYSCOMMAND SC_MAXIMIZE
    {PLAT_MSG_RESTORE, OnRestore},           // WM_SYSCOMMAND SC_RESTORE
    {PLAT_MSG_DROP_FILES, OnDropFiles},      // WM_DROPFILES
    {PLAT_MSG_MENU_COMMAND, OnMenuCommand},  // WM_COMMAND from the menu bar
};

// ---- Posted engine messages ------------------------------------------------------------------

static WindowObject* OpenObject(i64 index) {
  if (index < 0 || index >= WIN_COUNT) return nullptr;
  WindowObject* w = g_WindowObjects[index];
  return w && w->handle ? w : nullptr;
}

static void PostedClose(const PlatMsg* m) {
  if (WindowObject* w = OpenObject(m->a)) WinClose(w);
  else if (m->a == 0 && !PlatPostQuit()) g_Running = 0;  // no main window left to close
}

static void PostedCommand(const PlatMsg* m) {
  if (m->b == WIN_TARGET_COMMAND) {
    if (g_CommandWindow.created) WinCommandProc(WM_COMMAND, static_cast<u64>(m->a));
    return;
  }
  g_MenuCommandId = static_cast<u32>(m->a & 0xFFFF);
}

static void PostedShow(const PlatMsg* m) {
  if (WindowObject* w = OpenObject(m->a)) PlatWindowShow(w->handle, true);
}

static void PostedMciNotify(const PlatMsg* m) {
  if (m->a == 1 && g_MovieMciOpen) g_MoviePlaying = 0;
}

static void PostedGraphEvent(const PlatMsg*) { MovieGraphDrainEvents(); }

static void PostedTray(const PlatMsg* m) {
  if (WindowObject* w = OpenObject(0)) TrayOnNotify(w, m->a, m->b);
}

struct WinPostedRow {
  u32 code;
  void (*fn)(const PlatMsg* m);
};

static const WinPostedRow kPostedMap[] = {
    {WIN_MSG_CLOSE, PostedClose},
    {WIN_MSG_COMMAND, PostedCommand},
    {WIN_MSG_MCI_NOTIFY, PostedMciNotify},
    {WIN_MSG_TRAY, PostedTray},
    {WIN_MSG_SHOW, PostedShow},
    {WIN_MSG_MCI_NOTIFY_ALT, PostedMciNotify},
    {WIN_MSG_GRAPH_EVENT, PostedGraphEvent},
};

void WinMainDispatch(const PlatMsg* m) {
  switch (m->kind) {
    case PLAT_MSG_QUIT: g_Running = 0; return;
    // A request to end from outside (a signal, the session ending) goes the quit path: close
    // state 2, the quit flag, and the main window's close.
    case PLAT_MSG_SYSTEM_QUIT: WinRequestQuit(); return;
    case PLAT_MSG_POSTED:
      for (const WinPostedRow& row : kPostedMap)
        if (row.code == m->code) row.fn(m);
      return;
  }
  WindowObject* w = static_cast<WindowObject*>(m->user);
  if (!w) return;
  for (const WinMsgRow& row : kMessageMap) {
    if (row.kind == m->kind) {
      row.fn(w, m);
      return;
    }
  }
}

void WinDispatchMessages() {
  PlatSetMessageHandler(WinMainDispatch);
  PlatPollEvents();
}

void WinDestroyAll() {
  for (WindowObject* w : g_WindowObjects) {
    if (w && w->handle) {
      PlatWindowDestroy(w->handle);
      w->handle = nullptr;
      g_WindowOpen[w->index] = -1;
    }
  }
}

void WinReset() {
  WinDestroyAll();
  for (WindowObject*& w : g_WindowObjects) {
    delete w;
    w = nullptr;
  }
  for (auto& open : g_WindowOpen) open = -1;
  g_MenuCommandId = 0;
  g_LastKeyDown = 0;
  g_MouseMoved = 0;
  g_MouseButtonDown = 0;
  g_WheelDelta = 0;
  g_CloseRequested = 0;
  g_MaximiseRequested = 0;
  g_MinimiseRequested = 0;
  g_CaptionDoubleClicked = 0;
  g_DragWindow = 0;
  g_DragLParam = 0;
  g_MonitorIndex = 0;
  g_MenuBarHeight = 0;
  g_CommandWindow = {0, 0, 0};
  for (auto& iconic : s_Iconic) iconic = 0;
  for (u8& m : s_ScriptMinimise) m = 0;
  for (u8& b : s_NoMaximiseBox) b = 0;
  FreeShapeBitmap();
  WinDroppedFilesClear();
}
