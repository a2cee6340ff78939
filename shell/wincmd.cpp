// Command 103 and the drag maps (see wincmd.h). The body checks every value it stores before it
// stores it, and a window that cannot be opened leaves its object as it was.
#include "shell/wincmd.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/layer.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "shell/window_paint.h"
#include "sound/movie.h"

// Parameters of command 103.
enum {
  P_INDEX = 0,
  P_TITLE = 1,
  P_OPACITY = 2,
  P_SHOWN = 3,
  P_X = 4,
  P_Y = 5,
  P_ZORDER = 6,
  P_GAME_W = 7,
  P_GAME_H = 8,
  P_SCREEN_W = 9,
  P_SCREEN_H = 10,
  P_FRONT = 11,
  P_MAX_BOX = 12,
  P_FULLSCREEN = 13,
  P_MINIMISED = 14,
  P_MAX_TOGGLE = 15,
  P_MAX_ACTS = 16,
  P_MIN_ALLOWED = 17,
  P_CLOSE_STATE = 18,
  P_FLASH_COUNT = 19,
  P_FLASH_TIMEOUT = 20,
  P_LAYER_SET = 21,
  P_MENU = 22,
  P_SHAPE = 23,
  P_DRAG_MAP = 24,
  P_RESIZABLE = 25,
};
enum { Z_TOP = 0, Z_TOPMOST = 1, Z_BOTTOM = 2, Z_BEHIND_MAIN = 3 };

// A window's drag map as the window command set it (frame side), and the copy the hit test reads.
struct WinDragSnapshot {
  u8 on;
  i64 x, y;  // the layer's place in game pixels
  i32 width, height;
  const u8* pixels;     // the picture the copy was made from (compared, never read here)
  std::vector<u8> hit;  // 1 for each pixel whose colour is not black
};
static ObjNode* s_DragLayer[WIN_COUNT];
static WinDragSnapshot s_DragCopy[WIN_COUNT];  // under g_EngineLock
// The window has been made translucent once: its opacity is applied from then on.
static u8 s_Layered[WIN_COUNT];

// ---- Running on the main thread --------------------------------------------------------------

struct CmdMainCall {
  CmdBodyFn body;
  const CmdArgRecord* args;
  i32 result;
};

static void RunBody(void* p) {
  CmdMainCall* c = static_cast<CmdMainCall*>(p);
  c->result = c->body(c->args);
}

i32 CmdRunOnMain(CmdBodyFn body, const CmdArgRecord* a) {
  CmdMainCall call = {body, a, -1};
  if (!PlatCallOnMain(RunBody, &call, &g_QuitRequested)) return -1;
  return call.result;
}

// ---- Helpers ---------------------------------------------------------------------------------

static const char* CommandName() { return ArgCommandName(CMD_WINDOW_SET); }
static const char* ParamName(i32 p) { return ArgName(CMD_WINDOW_SET, static_cast<u8>(p)); }

static i32 RangeError(i32 p, i64 value, i64 lo, i64 hi) {
  ErrRaiseAtScriptF(ERR_ARG_RANGE_VALUE, 1, CommandName(), ParamName(p), value, lo, hi);
  return -1;
}

static i32 BadValue(i32 p, i64 value) {
  ErrRaiseAtScriptF(ERR_WIN_BAD_VALUE, 1, CommandName(), ParamName(p), value);
  return -1;
}

// The layer a string parameter names, resolved against the layer base path. A path without a
// trailing "/" finds a picture layer or a folder. -1 after the error (101250 for no layer).
static i32 FindLayer(const CmdArgRecord* a, i32 p, ObjNode** out) {
  char path[OBJ_PATH_MAX];
  i32 folder = ObjResolvePath(path, sizeof path, CmdArgStr(a, p), g_LayerBase, 0);
  if (folder < 0) return -1;
  ObjNode* node = ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_EITHER);
  if (!node || !LayerOf(node)) {
    ErrRaiseAtScriptF(ERR_WIN_LAYER_MISSING, 1, CommandName(), path);
    return -1;
  }
  *out = node;
  return 0;
}

static const char* EngineText(const char* utf8, std::string* keep) {
  if (keep->empty()) *keep = PlatUtf8ToSjis(utf8);
  return keep->c_str();
}

void WinSubClassName(i32 index, char* out, size_t out_size) {
  std::snprintf(out, out_size, "%s_sub_%d", g_InstanceName, index);
}

// ---- The parameters --------------------------------------------------------------------------

// Parameters 9 and 10: the on-screen size from one side, the other from the game's aspect.
static void ScreenSizeFromSide(WindowObject* w, bool width_given, i64 value) {
  if (value < 1 || w->width <= 0 || w->height <= 0) return;
  const SizeI32 mon = g_MonitorSize.load();
  i64 cw, ch;
  if (width_given) {
    cw = mon.width > 0 ? std::min<i64>(value, mon.width) : std::min<i64>(value, INT_MAX);
    ch = (cw * w->height * 2 + w->width) / (i64{w->width} * 2);  // rounded
  } else {
    ch = mon.height > 0 ? std::min<i64>(value, mon.height) : std::min<i64>(value, INT_MAX);
    cw = (ch * w->width * 2 + w->height) / (i64{w->height} * 2);
  }
  WinResizeClient(w, static_cast<i32>(std::max<i64>(cw, 1)), static_cast<i32>(std::max<i64>(ch, 1)));
}

static i32 OpenWindow(WindowObject* w, const CmdArgRecord* a) {
  if (!CmdArgGiven(a, P_TITLE)) {
    ErrRaiseAtScriptF(ERR_WIN_NO_TITLE, 1, CommandName());
    return -1;
  }
  const char* title = CmdArgStr(a, P_TITLE)[0] ? CmdArgStr(a, P_TITLE) : " ";
  const i32 x = w->x, y = w->y, width = w->width, height = w->height;
  w->x = 0;
  w->y = 0;
  w->width = CmdArgGiven(a, P_GAME_W) ? static_cast<i32>(a->value[P_GAME_W]) : WIN_SUB_DEFAULT_SIDE;
  w->height = CmdArgGiven(a, P_GAME_H) ? static_cast<i32>(a->value[P_GAME_H]) : WIN_SUB_DEFAULT_SIDE;
  char class_name[SYS_PATH_MAX + 16];
  WinSubClassName(w->index, class_name, sizeof class_name);
  if (!WinCreate(w, class_name, title)) {
    w->x = x, w->y = y, w->width = width, w->height = height;
    return -1;
  }
  if (CmdArgGiven(a, P_SHOWN) && a->value[P_SHOWN] > 0) PlatWindowShow(w->handle, true);
  WinObjSetupScreen(w, title);
  g_WindowOpen[w->index] = 1;
  return 0;
}

static i32 SetZOrder(WindowObject* w, i64 v) {
  if (w->index == 0 && v == Z_BEHIND_MAIN) return BadValue(P_ZORDER, v);
  if (!w->handle) return 0;
  u32 flags = PlatWindowFlags(w->handle);
  if (v == Z_TOPMOST) {
    PlatWindowSetFlags(w->handle, flags | PLAT_WINDOW_TOPMOST);
    return 0;
  }
  PlatWindowSetFlags(w->handle, flags & ~static_cast<u32>(PLAT_WINDOW_TOPMOST));
  if (v == Z_TOP) PlatWindowRaise(w->handle);
  if (v == Z_BOTTOM) PlatWindowStackBelow(w->handle, nullptr);
  const WindowObject* main = g_WindowObjects[0];
  if (v == Z_BEHIND_MAIN && main && main->handle) PlatWindowStackBelow(w->handle, main->handle);
  return 0;
}

// A move by the command places the window's outer corner, as the window query reports it, and
// brings the window to the top and activates it, as placing it at the top of the z-order does; a
// minimised window stays where it is.
static void MoveByCommand(WindowObject* w) {
  i32 dx, dy;
  WinClientOffset(w, &dx, &dy);
  WinMoveTo(w, w->x + dx, w->y + dy);
  if (w->handle && !WinIsIconic(w)) PlatWindowRaise(w->handle);
}

static void SetOpacity(WindowObject* w, i64 v) {
  w->opacity = static_cast<i32>(std::clamp<i64>(v, INT_MIN, INT_MAX));
  // A window becomes layered the first time it is to be translucent.
  if (w->opacity < 256) s_Layered[w->index] = 1;
  if (w->handle && s_Layered[w->index]) WinApplyOpacity(w);
}

static i32 SetLayerSet(WindowObject* w, const CmdArgRecord* a) {
  ObjNode* node;
  if (FindLayer(a, P_LAYER_SET, &node) < 0) return -1;
  if (LayerRecord* prev = LayerOf(w->root_layer)) prev->is_window_root = 0;
  LayerRecord* rec = LayerOf(node);
  if (rec->width <= 0 || rec->height <= 0) {
    static std::string text;
    PlatMessageBox(nullptr, EngineText("サイズが 0x0 のレイヤセットを表示対象に指定することは出来ません。", &text),
                   PLAT_MB_OK);
    w->root_layer = nullptr;
    ErrQuitOnFailure();
    return -1;
  }
  w->root_layer = node;
  rec->is_window_root = 1;
  LayerMarkDirtyWhole(node);
  return 0;
}

static void RenewDragCopy(i32 index);

static i32 SetDragMap(WindowObject* w, const CmdArgRecord* a) {
  ObjNode* node;
  if (FindLayer(a, P_DRAG_MAP, &node) < 0) return -1;
  s_DragLayer[w->index] = node;
  RenewDragCopy(w->index);
  return 0;
}

static void SetMinimised(WindowObject* w, i64 v) {
  if (!w->handle) return;
  if (v == 1) {
    WinMinimizeByScript(w);
    PlatWindowShow(w->handle, false);
  } else if (v == 0) {
    PlatWindowShow(w->handle, true);
    PlatWindowSetState(w->handle, PLAT_STATE_NORMAL);
    g_RestoreSizePending = 0;
    g_Maximised = 0;
    if (g_FullscreenModeChange) g_D3dResetRequest = 1;
    WinInvalidate(w);
  }
}

static void SetResizable(WindowObject* w, i64 v) {
  const u8 resizable = static_cast<u8>(v);
  if (resizable == g_WindowResizable) return;
  g_WindowResizable = resizable;
  if (g_Fullscreen || !w->handle) return;
  WinRequestSizeRestore(w);  // with the frame as it is before the change
  u32 style = WinGetStyle(w);
  WinSetStyle(w, resizable ? style | WIN_WS_THICKFRAME : style & ~static_cast<u32>(WIN_WS_THICKFRAME));
  if (g_GpuDrawing && g_FullscreenModeChange) g_D3dResetRequest = 1;
}

// ---- The command -----------------------------------------------------------------------------

i32 CmdWindowSetBody(const CmdArgRecord* a) {
  const i64 index = CmdArgGiven(a, P_INDEX) ? a->value[P_INDEX] : 0;
  if (index < 0 || index >= WIN_COUNT) return RangeError(P_INDEX, index, 0, WIN_COUNT - 1);
  WindowObject* w = g_WindowObjects[index];
  if (!w) return -1;
  for (i32 p : {P_GAME_W, P_GAME_H})
    if (CmdArgGiven(a, p) && (a->value[p] < 1 || a->value[p] > WIN_OUTPUT_WIDTH_MAX))
      return RangeError(p, a->value[p], 1, WIN_OUTPUT_WIDTH_MAX);
  const bool open = g_WindowOpen[index] == 1;
  const bool windowed = !g_Fullscreen && !g_Maximised;

  // Game size (stored below for an open window), then the on-screen size at once.
  const bool size_applied = (CmdArgGiven(a, P_GAME_W) || CmdArgGiven(a, P_GAME_H)) && windowed;
  const i32 game_w = CmdArgGiven(a, P_GAME_W) ? static_cast<i32>(a->value[P_GAME_W]) : w->width;
  const i32 game_h = CmdArgGiven(a, P_GAME_H) ? static_cast<i32>(a->value[P_GAME_H]) : w->height;
  if (open && windowed && w->handle) {
    if (CmdArgGiven(a, P_SCREEN_W)) ScreenSizeFromSide(w, true, a->value[P_SCREEN_W]);
    if (CmdArgGiven(a, P_SCREEN_H)) ScreenSizeFromSide(w, false, a->value[P_SCREEN_H]);
  }
  if (size_applied && open) {
    w->width = game_w;
    w->height = game_h;
    w->client = {0, 0, w->width, w->height};
    WinResizeClient(w, w->width, w->height);
  }
  if (!open && OpenWindow(w, a) != 0) return -1;

  if (CmdArgGiven(a, P_TITLE)) WinSetTitle(w, CmdArgStr(a, P_TITLE)[0] ? CmdArgStr(a, P_TITLE) : " ");
  if (CmdArgGiven(a, P_OPACITY)) SetOpacity(w, a->value[P_OPACITY]);
  if (CmdArgGiven(a, P_SHOWN) && w->handle) {
    const bool show = a->value[P_SHOWN] > 0;
    if (PlatWindowShown(w->handle) != show) PlatWindowShow(w->handle, show);
  }
  if (CmdArgGiven(a, P_X)) {
    w->x = static_cast<i32>(std::clamp<i64>(a->value[P_X], INT_MIN, INT_MAX));
    MoveByCommand(w);
  }
  if (CmdArgGiven(a, P_Y)) {
    w->y = static_cast<i32>(std::clamp<i64>(a->value[P_Y], INT_MIN, INT_MAX));
    MoveByCommand(w);
  }
  if (CmdArgGiven(a, P_ZORDER) && SetZOrder(w, a->value[P_ZORDER]) != 0) return -1;
  if (CmdArgGiven(a, P_MAX_ACTS)) w->maximise_acts = static_cast<u8>(a->value[P_MAX_ACTS]);
  if (CmdArgGiven(a, P_MIN_ALLOWED)) w->minimise_allowed = static_cast<u8>(a->value[P_MIN_ALLOWED]);
  if (CmdArgGiven(a, P_CLOSE_STATE)) {
    const i64 v = a->value[P_CLOSE_STATE];
    // Checked before it is stored: the main window cannot close without ending the program.
    if (index == 0 && (v < WIN_CLOSE_TELL_SCRIPT || v > WIN_CLOSE_QUIT)) return BadValue(P_CLOSE_STATE, v);
    w->close_state = static_cast<u8>(v);
  }
  if (CmdArgGiven(a, P_FLASH_COUNT)) {
    const i64 timeout = CmdArgGiven(a, P_FLASH_TIMEOUT) ? a->value[P_FLASH_TIMEOUT] : 0;
    WinFlash(w, static_cast<i32>(std::clamp<i64>(a->value[P_FLASH_COUNT], 0, INT_MAX)),
             static_cast<i32>(std::clamp<i64>(timeout, 0, INT_MAX)));
  }
  if (CmdArgGiven(a, P_LAYER_SET) && SetLayerSet(w, a) != 0) return -1;
  if (CmdArgGiven(a, P_MENU)) {
    WinSetMenuName(w, "");
    WinSetMenuName(w, CmdArgStr(a, P_MENU));
    if (WinMenuSet(w->menu_name, w) != 0) return -1;
  }
  if (CmdArgGiven(a, P_SHAPE)) {
    ObjNode* node;
    if (FindLayer(a, P_SHAPE, &node) < 0) return -1;
    const LayerRecord* rec = LayerOf(node);
    if (WinSetShapeFromImage(w, rec->pixels, rec->width, rec->height) != 0) return 1;
  }
  if (CmdArgGiven(a, P_DRAG_MAP) && SetDragMap(w, a) != 0) return -1;
  if (CmdArgGiven(a, P_MAX_BOX) && !g_Fullscreen) {
    const u32 style = WinGetStyle(w);
    WinSetStyle(w,
                a->value[P_MAX_BOX] == 1 ? style | WIN_WS_MAXIMIZEBOX : style & ~static_cast<u32>(WIN_WS_MAXIMIZEBOX));
  }
  if (CmdArgGiven(a, P_FRONT) && a->value[P_FRONT] == 1 && w->handle) PlatWindowRaise(w->handle);
  if (CmdArgGiven(a, P_FULLSCREEN) && index == 0 && WinSetFullscreen(a->value[P_FULLSCREEN] != 0 ? 1 : 0)) {
    if (w->root_layer) LayerMarkDirtyWhole(w->root_layer);
  }
  if (CmdArgGiven(a, P_MINIMISED)) SetMinimised(w, a->value[P_MINIMISED]);
  if (CmdArgGiven(a, P_MAX_TOGGLE) && w->handle) {
    if (!g_Maximised) {
      PlatWindowSetState(w->handle, PLAT_STATE_MAXIMIZED);
    } else {
      PlatWindowSetState(w->handle, PLAT_STATE_NORMAL);
      g_RedrawCountdown = 1;
    }
  }
  if (CmdArgGiven(a, P_RESIZABLE)) SetResizable(w, a->value[P_RESIZABLE]);
  return 0;
}

i32 CmdWindowSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_WINDOW_SET, &a) != 0) return -1;
  return CmdRunOnMain(CmdWindowSetBody, &a);
}

// ---- Drag maps -------------------------------------------------------------------------------

// The layer's place in game pixels: its position plus those of the layers above it, up to the
// window's root layer.
static void LayerGamePos(const ObjNode* node, i64* x, i64* y) {
  *x = 0;
  *y = 0;
  for (const ObjNode* n = node; n; n = n->parent) {
    const LayerRecord* r = LayerOf(n);
    if (!r || r->is_window_root) break;
    *x = LayerClampPos(*x + LayerClampPos(r->x));
    *y = LayerClampPos(*y + LayerClampPos(r->y));
  }
}

static void RenewDragCopy(i32 index) {
  const ObjNode* node = s_DragLayer[index];
  const LayerRecord* r = LayerOf(node);
  WinDragSnapshot fresh{};
  if (r) {
    fresh.on = 1;
    LayerGamePos(node, &fresh.x, &fresh.y);
    fresh.pixels = r->pixels;
    if (LayerHasPixels(r)) {
      fresh.width = r->width;
      fresh.height = r->height;
      const size_t n = static_cast<size_t>(r->width) * static_cast<size_t>(r->height);
      fresh.hit.resize(n);
      for (size_t i = 0; i < n; i++) {
        const u8* p = r->pixels + i * 4;
        fresh.hit[i] = (p[0] | p[1] | p[2]) != 0 ? 1 : 0;
      }
    }
  }
  EngineLockGuard lock;
  s_DragCopy[index] = std::move(fresh);
}

void WinDragMapRefresh() {
  for (i32 i = 0; i < WIN_COUNT; i++) {
    const ObjNode* node = s_DragLayer[i];
    const LayerRecord* r = LayerOf(node);
    const WinDragSnapshot& c = s_DragCopy[i];  // written only by this thread
    if (!r) {
      if (c.on) RenewDragCopy(i);
      continue;
    }
    i64 x, y;
    LayerGamePos(node, &x, &y);
    const i32 width = LayerHasPixels(r) ? r->width : 0, height = LayerHasPixels(r) ? r->height : 0;
    if (!c.on || c.pixels != r->pixels || c.width != width || c.height != height || c.x != x || c.y != y)
      RenewDragCopy(i);
  }
}

i32 WinDragMapHit(WindowObject* w, i32 x, i32 y) {
  if (!w || w->index < 0 || w->index >= WIN_COUNT) return 0;
  EngineLockGuard lock;
  const WinDragSnapshot& c = s_DragCopy[w->index];
  if (!c.on) return 0;
  const i64 lx = i64{x} - c.x, ly = i64{y} - c.y;
  if (lx < 0 || ly < 0 || lx >= c.width || ly >= c.height) return 0;
  return c.hit[static_cast<size_t>(ly) * static_cast<size_t>(c.width) + static_cast<size_t>(lx)];
}

void WinForgetDragLayer(ObjNode* node) {
  for (i32 i = 0; i < WIN_COUNT; i++) {
    if (!node || s_DragLayer[i] != node) continue;
    s_DragLayer[i] = nullptr;
    RenewDragCopy(i);
  }
}

void WinCmdReset() {
  for (i32 i = 0; i < WIN_COUNT; i++) {
    s_DragLayer[i] = nullptr;
    s_Layered[i] = 0;
    EngineLockGuard lock;
    s_DragCopy[i] = WinDragSnapshot{};
  }
}
