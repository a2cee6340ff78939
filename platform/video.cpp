// SDL video, windows and the event pump. Every SDL window call happens on the main thread; calls
// from other threads become internal events that the pump carries out, so a window is only ever
// touched by one thread. Windows are found again by their SDL id, never by a stale pointer.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/input.h"
#include "platform/menu.h"
#include "platform/platform.h"
#include "platform/present.h"
#include "platform/ui.h"
#include "platform/video.h"
#include "platform/video_internal.h"

struct PlatWindow {
  SDL_Window* sdl;
  u32 id;       // SDL's window id: main thread only (a shaped window replaces it)
  u32 key = 0;  // the engine's own id, fixed at creation: names the window in queued operations
  void* user;
  std::atomic<bool> shown{false};
  bool has_picture = false;   // set once a frame has been presented; until then it stays black
  std::atomic<u32> flags{0};  // the frame flags the engine last asked for
  std::atomic<bool> minimized{false};
  bool maximized = false;
  std::atomic<bool> shaped{false};  // read by PlatWindowShaped from any thread
  bool fullscreen = false;          // SDL fullscreen, with or without a display mode
  SDL_Rect windowed{};              // the client area before fullscreen
  bool covered = false;             // fullscreen made by covering the monitor (no window manager)
  SDL_Point drag_from{};            // where the last press on the drag area fell
  SDL_Point aspect{};               // the client area's shape kept while the user resizes
  bool minimise_asked = false;      // the engine's minimise, until a restore or a show
  bool hidden_minimised = false;    // hidden while minimised: a second start shows it again
  bool swallow_restore = false;     // the next restore is the engine's own undo
  bool foreign = false;             // another program's window: never moved, sized or reframed
  std::vector<std::string> drop;    // paths of the drop in progress
  std::atomic<u32> bar_menu{0};     // the menu shown as the bar, 0 for none
  i32 bar_mode = PLAT_MENU_BAR_FRAME;
  i32 bar_px = 0;  // rows above the client area that the bar takes
};

// Window operations asked for from other threads, carried out by the pump.
enum {
  OP_SHOW = 1,
  OP_HIDE,
  OP_FLAGS,
  OP_RESTORE,
  OP_OPACITY,
  OP_FLASH,
  OP_SHAPE,
  OP_TITLE,
  OP_MOVE,
  OP_SIZE,
  OP_LIMITS,
  OP_RAISE,
  OP_STATE,
  OP_CALL,
  OP_MENU_BAR,
  OP_FORGET_MENU,
  OP_STACK_BELOW,
  OP_ASPECT,
};
enum {
  FRAME_FLAGS = PLAT_WINDOW_FRAMED | PLAT_WINDOW_RESIZABLE | PLAT_WINDOW_TOPMOST | PLAT_WINDOW_NO_MAXIMIZE
};

static bool s_Ready = false;
static u64 s_ForeignId = 0;  // the window of another program the main window becomes
static bool s_ForeignAdopted = false;
static std::thread::id s_MainThread;
static u32 s_PostedEvent = 0;    // engine messages (PlatPostMessage, PlatPostQuit)
static u32 s_InternalEvent = 0;  // window operations asked for from other threads
static std::vector<PlatWindow*> s_Windows;
static PlatMsgHandler s_Handler = nullptr;
static std::atomic<PlatHitTestFn> s_HitTest{nullptr};

// A call waiting for the main thread (PlatCallOnMain). The waiter and the queued event share it,
// so whichever lets go last frees it.
struct MainCall {
  void (*fn)(void*);
  void* arg;
  std::mutex m;
  std::condition_variable cv;
  bool done = false, cancelled = false;
};
typedef std::shared_ptr<MainCall> MainCallRef;

// Runs a queued call unless its caller gave up (main thread).
static void RunMainCall(MainCallRef* ref) {
  MainCall* c = ref->get();
  {
    std::lock_guard<std::mutex> g(c->m);
    if (!c->cancelled) c->fn(c->arg);
    c->done = true;
  }
  c->cv.notify_all();
}

struct SizeLimits {
  i32 min_w, min_h, max_w, max_h;
};

static void FreeOpData(const SDL_Event& e) {
  if (e.type != s_InternalEvent) return;
  if (e.user.code == OP_SHAPE) delete static_cast<std::vector<PlatRect>*>(e.user.data2);
  if (e.user.code == OP_TITLE) delete static_cast<std::string*>(e.user.data2);
  if (e.user.code == OP_LIMITS) delete static_cast<SizeLimits*>(e.user.data2);
  if (e.user.code == OP_CALL) {
    auto* ref = static_cast<MainCallRef*>(e.user.data2);
    {
      std::lock_guard<std::mutex> g((*ref)->m);
      (*ref)->cancelled = true;  // video is stopping: the call will never run
      (*ref)->done = true;
    }
    (*ref)->cv.notify_all();
    delete ref;
  }
}

int PlatVideoInit() {
  if (s_Ready) return 0;
  // A window close is the engine's decision, never an implicit quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Window surfaces stay plain system images: a surface made through a renderer recreates the
  // system window on first use, which would drop a window's shape.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // The screen saver may start unless the game blocks it (PlatScreenSaverBlock).
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // SIGINT and SIGTERM are the engine's own (PlatQuitSignalsInstall), never an SDL quit event.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "zephra: video could not start: %s\n", SDL_GetError());
    return -1;
  }
  // A display that was named but cannot be opened (a stale DISPLAY, a server gone) leaves SDL
  // with its offscreen driver: the game would run unseen, its boxes waiting for answers no one
  // can give. Without any display named, that is the run without a display the sink serves.
  const std::string asked = PlatGetEnv("SDL_VIDEODRIVER");
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string x11 = PlatGetEnv("DISPLAY"), wayland = PlatGetEnv("WAYLAND_DISPLAY");
  if (driver && SDL_strcmp(driver, "offscreen") == 0 && asked != "offscreen" && (!x11.empty() || !wayland.empty())) {
    static std::string s_Refused;  // said once (a box's own try at the video says it again)
    const std::string display = !x11.empty() ? "DISPLAY=" + x11 : "WAYLAND_DISPLAY=" + wayland;
    if (display != s_Refused) std::fprintf(stderr, "zephra: the display %s could not be opened\n", display.c_str());
    s_Refused = display;
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return -1;
  }
  u32 first = SDL_RegisterEvents(2);
  if (first == static_cast<u32>(-1)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return -1;
  }
  s_PostedEvent = first;
  s_InternalEvent = first + 1;
  s_MainThread = std::this_thread::get_id();
  s_Ready = true;
  return 0;
}

void PlatVideoQuit() {
  if (!s_Ready) return;
  while (!s_Windows.empty()) PlatWindowDestroy(s_Windows.back());
  PlatInputStop();  // its cursors and joysticks go with SDL
  // Operations still queued may own a copy of their data.
  SDL_Event e;
  while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, s_InternalEvent, s_InternalEvent) == 1) FreeOpData(e);
  s_Ready = false;
  SDL_Quit();
}

bool PlatVideoReady() { return s_Ready; }

bool PlatIsMainThread() { return !s_Ready || std::this_thread::get_id() == s_MainThread; }

// ---- Desktop ---------------------------------------------------------------------------------

void PlatVideoUseForeignWindow(u64 id) {
  s_ForeignId = id;
  s_ForeignAdopted = false;
}

bool PlatForeignScreen(i32* x, i32* y, i32* width, i32* height) {
  return s_ForeignId != 0 && PlatForeignWindowRect(s_ForeignId, x, y, width, height);
}

bool PlatDesktopGet(PlatDesktop* out) {
  *out = {640, 480, 32, 0, 0, 0, 640, 480};
  if (!s_Ready) return false;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
  i32 fx, fy;
  if (PlatForeignScreen(&fx, &fy, &mode.w, &mode.h)) {
    // The adopted window is the whole screen: its size, and all of it to work in.
    *out = {mode.w, mode.h, static_cast<i32>(SDL_BITSPERPIXEL(mode.format)), mode.refresh_rate, 0, 0, mode.w, mode.h};
    return true;
  }
  out->width = mode.w;
  out->height = mode.h;
  out->bits_per_pixel = static_cast<i32>(SDL_BITSPERPIXEL(mode.format));
  out->refresh_hz = mode.refresh_rate;
  SDL_Rect r;
  if (SDL_GetDisplayUsableBounds(0, &r) == 0 && r.w > 0 && r.h > 0) {
    out->work_x = r.x;
    out->work_y = r.y;
    out->work_width = r.w;
    out->work_height = r.h;
  } else {
    out->work_width = mode.w;
    out->work_height = mode.h;
  }
  return true;
}

std::vector<PlatDisplayInfo> PlatDisplayList() {
  std::vector<PlatDisplayInfo> list;
  if (!s_Ready) return list;
  const char* driver = SDL_GetCurrentVideoDriver();
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; i++) {
    PlatDisplayInfo d;
    const char* name = SDL_GetDisplayName(i);
    d.name = name ? name : "";
    d.driver = driver ? driver : "";
    d.primary = i == 0;
    int m = SDL_GetNumDisplayModes(i);
    for (int j = 0; j < m; j++) {
      SDL_DisplayMode mode;
      if (SDL_GetDisplayMode(i, j, &mode) != 0) continue;
      d.modes.push_back({mode.w, mode.h, static_cast<i32>(SDL_BITSPERPIXEL(mode.format)), mode.refresh_rate});
    }
    list.push_back(std::move(d));
  }
  return list;
}

// ---- Windows ---------------------------------------------------------------------------------

static PlatWindow* FindWindow(u32 id) {
  for (PlatWindow* w : s_Windows)
    if (w->id == id) return w;
  return nullptr;
}

static PlatWindow* FindWindowByKey(u32 key) {
  for (PlatWindow* w : s_Windows)
    if (w->key == key) return w;
  return nullptr;
}

PlatWindow* PlatWindowFromSdlId(u32 id) { return FindWindow(id); }

SDL_Window* PlatWindowSdl(PlatWindow* w) {
  for (PlatWindow* x : s_Windows)
    if (x == w) return x->sdl;
  return nullptr;
}

static SDL_HitTestResult SDLCALL HitTest(SDL_Window*, const SDL_Point* p, void* data) {
  PlatWindow* w = static_cast<PlatWindow*>(data);
  PlatHitTestFn fn = s_HitTest.load();
  if (p->y < w->bar_px) return SDL_HITTEST_NORMAL;  // the menu bar
  if (!fn || !fn(w->user, p->x, p->y - w->bar_px)) return SDL_HITTEST_NORMAL;
  w->drag_from = *p;
  return SDL_HITTEST_DRAGGABLE;
}

PlatWindow* PlatWindowCreate(const PlatWindowDesc* desc) {
  if (!s_Ready || !PlatIsMainThread()) return nullptr;
  u32 flags = SDL_WINDOW_HIDDEN;
  if (!(desc->flags & PLAT_WINDOW_FRAMED)) flags |= SDL_WINDOW_BORDERLESS;
  if (desc->flags & PLAT_WINDOW_RESIZABLE) flags |= SDL_WINDOW_RESIZABLE;
  if (desc->flags & PLAT_WINDOW_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  if (desc->flags & PLAT_WINDOW_TOOL) flags |= SDL_WINDOW_SKIP_TASKBAR;
  int x = desc->x == PLAT_WINDOW_CENTERED ? SDL_WINDOWPOS_CENTERED : desc->x;
  int y = desc->y == PLAT_WINDOW_CENTERED ? SDL_WINDOWPOS_CENTERED : desc->y;
  std::string title = PlatSjisToUtf8(desc->title ? desc->title : "");
  bool foreign = s_ForeignId != 0 && !s_ForeignAdopted;
  SDL_Window* sdl =
      foreign ? SDL_CreateWindowFrom(reinterpret_cast<void*>(static_cast<uintptr_t>(s_ForeignId)))
              : SDL_CreateWindow(title.c_str(), x, y, std::max(1, desc->width), std::max(1, desc->height), flags);
  if (!sdl) {
    std::fprintf(stderr, "zephra: window could not be created: %s\n", SDL_GetError());
    return nullptr;
  }
  PlatWindow* w = new PlatWindow;
  w->sdl = sdl;
  w->id = SDL_GetWindowID(sdl);
  static u32 s_NextKey = 0;  // main thread only
  w->key = ++s_NextKey;
  w->user = desc->user;
  w->flags = desc->flags & FRAME_FLAGS;
  w->foreign = foreign;
  if (foreign) {
    s_ForeignAdopted = true;
    w->shown = true;  // shown by its owner
    s_Windows.push_back(w);
    return w;
  }
  SDL_SetWindowHitTest(sdl, HitTest, w);  // refused by drivers without hit testing: no dragging
  s_Windows.push_back(w);
  if (desc->flags & PLAT_WINDOW_SHOWN) PlatWindowShow(w, true);
  return w;
}

void PlatWindowDestroy(PlatWindow* w) {
  if (!w || !PlatIsMainThread()) return;
  auto it = std::find(s_Windows.begin(), s_Windows.end(), w);
  if (it == s_Windows.end()) return;  // destroyed already
  s_Windows.erase(it);
  PlatPresentForget(w);
  SDL_DestroyWindow(w->sdl);
  delete w;
}

static bool Alive(PlatWindow* w) { return w && std::find(s_Windows.begin(), s_Windows.end(), w) != s_Windows.end(); }

// Queues a window operation for the pump. Called from other threads: it names the window by its
// fixed key, never by the SDL id that the main thread rewrites when it makes a window shaped.
static bool QueueOp(PlatWindow* w, i32 op, intptr_t param, void* data) {
  SDL_Event e{};
  e.type = s_InternalEvent;
  e.user.code = op;
  e.user.windowID = w->key;
  e.user.data1 = reinterpret_cast<void*>(param);
  e.user.data2 = data;
  return SDL_PushEvent(&e) == 1;
}

// A window hidden while minimised says so on itself, for a second start of the game to show it
// again, as the system restores a minimised and hidden window; one never shown yet stays hidden.
static void MarkHiddenMinimised(PlatWindow* w, bool on) {
  if (w->hidden_minimised == on) return;
  w->hidden_minimised = on;
  PlatX11MarkHiddenMinimised(w->sdl, on);
}

static void ShowNow(PlatWindow* w, bool show) {
  if (w->foreign) return;  // its owner shows and hides it
  if (show) {
    SDL_ShowWindow(w->sdl);
    w->shown = true;
    w->minimise_asked = false;
    MarkHiddenMinimised(w, false);
    PlatWindowErase(w);
  } else {
    SDL_HideWindow(w->sdl);
    w->shown = false;
    MarkHiddenMinimised(w, w->minimise_asked || w->minimized);
  }
}

void PlatWindowShow(PlatWindow* w, bool show) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) ShowNow(w, show);
  else QueueOp(w, show ? OP_SHOW : OP_HIDE, 0, nullptr);
}

bool PlatWindowShown(PlatWindow* w) { return w && w->shown; }

void PlatWindowSetTitle(PlatWindow* w, const char* title_sjis) {
  if (!w || !s_Ready) return;
  auto* utf8 = new std::string(PlatSjisToUtf8(title_sjis ? title_sjis : ""));
  if (PlatIsMainThread()) {
    SDL_SetWindowTitle(w->sdl, utf8->c_str());
    delete utf8;
  } else if (!QueueOp(w, OP_TITLE, 0, utf8)) {
    delete utf8;
  }
}

void* PlatWindowUser(PlatWindow* w) { return w ? w->user : nullptr; }

void PlatWindowPaintBlack(PlatWindow* w) {
  if (!w || !PlatIsMainThread()) return;
  SDL_Surface* s = SDL_GetWindowSurface(w->sdl);
  if (!s) return;
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
  SDL_UpdateWindowSurface(w->sdl);
  PlatMenuBarRepaint(w);
}

void PlatWindowErase(PlatWindow* w) {
  // A window that shows a picture gets it back whole from the presentation's copy.
  if (w && (!w->has_picture || !PlatPresentRepaint(w))) PlatWindowPaintBlack(w);
  else if (w) PlatMenuBarRepaint(w);
}

int PlatWindowCount() { return static_cast<int>(s_Windows.size()); }

void PlatWindowMarkPicture(PlatWindow* w) {
  if (w && PlatIsMainThread()) w->has_picture = true;
}

u32 PlatWindowFlags(PlatWindow* w) { return w ? w->flags.load() : 0; }

static void SetFlagsNow(PlatWindow* w, u32 flags) {
  w->flags = flags;
  if (w->fullscreen || w->foreign) return;  // SDL ignores frame changes of a fullscreen window: applied on leaving
  if (!w->shaped) SDL_SetWindowBordered(w->sdl, (flags & PLAT_WINDOW_FRAMED) ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowResizable(w->sdl, (flags & PLAT_WINDOW_RESIZABLE) ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowAlwaysOnTop(w->sdl, (flags & PLAT_WINDOW_TOPMOST) ? SDL_TRUE : SDL_FALSE);
  if ((flags & PLAT_WINDOW_FRAMED) && !w->shaped)
    PlatX11SetMaximizeBox(w->sdl, !(flags & PLAT_WINDOW_NO_MAXIMIZE), flags & PLAT_WINDOW_RESIZABLE);
}

void PlatWindowSetFlags(PlatWindow* w, u32 flags) {
  if (!w || !s_Ready) return;
  flags &= FRAME_FLAGS;
  if (w->shaped) flags &= ~static_cast<u32>(PLAT_WINDOW_FRAMED);
  if (PlatIsMainThread()) SetFlagsNow(w, flags);
  else QueueOp(w, OP_FLAGS, flags, nullptr);
}

static void RestoreNow(PlatWindow* w) {
  bool was = w->minimized || w->maximized;
  w->minimized = false;
  w->maximized = false;
  // The system is asked only when it agrees that the window is minimised or maximised; its
  // restore notice then belongs to this undo.
  if (was && (SDL_GetWindowFlags(w->sdl) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_MAXIMIZED))) {
    w->swallow_restore = true;
    SDL_RestoreWindow(w->sdl);
  }
}

void PlatWindowRestore(PlatWindow* w) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) RestoreNow(w);
  else QueueOp(w, OP_RESTORE, 0, nullptr);
}

bool PlatWindowMinimized(PlatWindow* w) { return w && w->minimized; }

void PlatWindowFrameExtras(PlatWindow* w, i32* extra_width, i32* extra_height) {
  *extra_width = 0;
  *extra_height = 0;
  if (!w || !PlatIsMainThread()) return;
  *extra_height = w->bar_px;  // a menu bar counts as frame
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(w->sdl, &top, &left, &bottom, &right) != 0) return;
  *extra_width = left + right;
  *extra_height = top + bottom + w->bar_px;
}

static int OpacityNow(PlatWindow* w, i32 alpha) {
  if (w->foreign) return -1;
  alpha = std::clamp(alpha, 0, 255);
  return SDL_SetWindowOpacity(w->sdl, static_cast<float>(alpha) / 255.0f) == 0 ? 0 : -1;
}

int PlatWindowSetOpacity(PlatWindow* w, i32 alpha) {
  if (!w || !s_Ready) return -1;
  if (PlatIsMainThread()) return OpacityNow(w, alpha);
  return QueueOp(w, OP_OPACITY, alpha, nullptr) ? 0 : -1;
}

static int FlashNow(PlatWindow* w, i32 count) {
  SDL_FlashOperation op = count <= 0 ? SDL_FLASH_CANCEL : count == 1 ? SDL_FLASH_BRIEFLY : SDL_FLASH_UNTIL_FOCUSED;
  return SDL_FlashWindow(w->sdl, op) == 0 ? 0 : -1;
}

int PlatWindowFlash(PlatWindow* w, i32 count) {
  if (!w || !s_Ready) return -1;
  if (PlatIsMainThread()) return FlashNow(w, count);
  return QueueOp(w, OP_FLASH, count, nullptr) ? 0 : -1;
}

// SDL shapes only windows made as shaped windows: the first shape replaces the system window
// behind w by a shaped one with the same title, place, size and visibility.
static bool MakeShaped(PlatWindow* w) {
  int x = 0, y = 0, width = 1, height = 1;
  SDL_GetWindowPosition(w->sdl, &x, &y);
  SDL_GetWindowSize(w->sdl, &width, &height);
  std::string title = SDL_GetWindowTitle(w->sdl);
  u32 flags = SDL_WINDOW_HIDDEN | (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SKIP_TASKBAR);
  if (w->flags & PLAT_WINDOW_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  SDL_Window* s = SDL_CreateShapedWindow(title.c_str(), static_cast<unsigned>(std::max(0, x)),
                                         static_cast<unsigned>(std::max(0, y)), static_cast<unsigned>(width),
                                         static_cast<unsigned>(height), flags);
  if (!s) return false;
  SDL_DestroyWindow(w->sdl);
  w->sdl = s;
  w->id = SDL_GetWindowID(s);
  w->shaped = true;
  w->has_picture = false;
  w->flags = w->flags & ~static_cast<u32>(PLAT_WINDOW_FRAMED | PLAT_WINDOW_RESIZABLE);
  SDL_SetWindowHitTest(s, HitTest, w);
  SDL_SetWindowPosition(s, x, y);
  PlatInstanceWindowChanged(w);
  return true;
}

static int ShapeNow(PlatWindow* w, const PlatRect* rects, i32 count) {
  if (w->foreign) return -1;  // shaping makes a window of its own
  if (!w->shaped && !MakeShaped(w)) return -1;
  int width = 1, height = 1;
  SDL_GetWindowSize(w->sdl, &width, &height);
  SDL_Surface* mask = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!mask) return -1;
  SDL_FillRect(mask, nullptr, 0);
  for (i32 i = 0; i < count; i++) {
    SDL_Rect r{rects[i].left, rects[i].top, rects[i].right - rects[i].left, rects[i].bottom - rects[i].top};
    if (r.w > 0 && r.h > 0) SDL_FillRect(mask, &r, 0xFF000000u);  // SDL_FillRect clips
  }
  SDL_WindowShapeMode mode{};
  mode.mode = ShapeModeDefault;  // a pixel with any alpha belongs to the shape
  int r = SDL_SetWindowShape(w->sdl, mask, &mode);
  SDL_FreeSurface(mask);
  if (w->shown) ShowNow(w, true);
  return r == 0 ? 0 : -1;
}

int PlatWindowSetShape(PlatWindow* w, const PlatRect* rects, i32 count) {
  if (!w || !s_Ready || count < 0) return -1;
  if (PlatIsMainThread()) return ShapeNow(w, rects, count);
  auto* copy = new std::vector<PlatRect>(rects, rects + count);
  if (QueueOp(w, OP_SHAPE, 0, copy)) return 0;
  delete copy;
  return -1;
}

bool PlatWindowShaped(PlatWindow* w) { return w && w->shaped; }

void PlatSetHitTestHandler(PlatHitTestFn fn) { s_HitTest = fn; }

// ---- Geometry, states and fullscreen ---------------------------------------------------------

static intptr_t PackPair(i32 a, i32 b) {
  return static_cast<intptr_t>((static_cast<u64>(static_cast<u32>(a)) << 32) | static_cast<u32>(b));
}
static void UnpackPair(intptr_t v, i32* a, i32* b) {
  u64 u = static_cast<u64>(v);
  *a = static_cast<i32>(static_cast<u32>(u >> 32));
  *b = static_cast<i32>(static_cast<u32>(u));
}

bool PlatWindowClientRect(PlatWindow* w, i32* x, i32* y, i32* width, i32* height) {
  if (!s_Ready || !PlatIsMainThread() || !Alive(w)) return false;
  int px = 0, py = 0, pw = 0, ph = 0;
  SDL_GetWindowPosition(w->sdl, &px, &py);
  SDL_GetWindowSize(w->sdl, &pw, &ph);
  *x = px, *y = py + w->bar_px, *width = pw, *height = std::max(0, ph - w->bar_px);
  return true;
}

static void MoveNow(PlatWindow* w, i32 x, i32 y) {
  // A position given while fullscreen would become the windowed place SDL returns to.
  if (!w->fullscreen && !w->foreign) SDL_SetWindowPosition(w->sdl, x, y - w->bar_px);
}

void PlatWindowMove(PlatWindow* w, i32 x, i32 y) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) MoveNow(w, x, y);
  else QueueOp(w, OP_MOVE, PackPair(x, y), nullptr);
}

static void SizeNow(PlatWindow* w, i32 width, i32 height) {
  // On a fullscreen window SDL would take the size as a new display mode.
  if (!w->fullscreen && !w->foreign && width > 0 && height > 0) SDL_SetWindowSize(w->sdl, width, height + w->bar_px);
}

void PlatWindowSetClientSize(PlatWindow* w, i32 width, i32 height) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) SizeNow(w, width, height);
  else QueueOp(w, OP_SIZE, PackPair(width, height), nullptr);
}

enum { SIZE_LIMIT_NONE = 16384 };

static void LimitsNow(PlatWindow* w, const SizeLimits& l) {
  if (w->foreign) return;
  // SDL has no "no maximum" once one was set: the largest side any window can have stands in.
  i32 max_w = l.max_w > 0 ? l.max_w : SIZE_LIMIT_NONE, max_h = l.max_h > 0 ? l.max_h : SIZE_LIMIT_NONE;
  i32 min_w = std::clamp(l.min_w, 0, max_w), min_h = std::clamp(l.min_h, 0, max_h);
  if (l.max_h > 0) max_h += w->bar_px;
  if (min_h > 0) min_h += w->bar_px;
  SDL_SetWindowMaximumSize(w->sdl, max_w, max_h);
  SDL_SetWindowMinimumSize(w->sdl, std::max(1, min_w), std::max(1, min_h));
}

void PlatWindowSetSizeLimits(PlatWindow* w, i32 min_width, i32 min_height, i32 max_width, i32 max_height) {
  if (!w || !s_Ready) return;
  SizeLimits l{min_width, min_height, max_width, max_height};
  if (PlatIsMainThread()) {
    LimitsNow(w, l);
    return;
  }
  auto* copy = new SizeLimits(l);
  if (!QueueOp(w, OP_LIMITS, 0, copy)) delete copy;
}

static void AspectNow(PlatWindow* w, i32 width, i32 height) {
  if (w->foreign || (w->aspect.x == width && w->aspect.y == height)) return;
  w->aspect = {width, height};
  PlatX11SetAspect(w->sdl, width, height, w->bar_px);
}

void PlatWindowKeepAspect(PlatWindow* w, i32 width, i32 height) {
  if (!w || !s_Ready) return;
  if (width <= 0 || height <= 0) width = height = 0;
  if (PlatIsMainThread()) AspectNow(w, width, height);
  else QueueOp(w, OP_ASPECT, PackPair(width, height), nullptr);
}

static void RaiseNow(PlatWindow* w) {
  SDL_RaiseWindow(w->sdl);
  // The activation goes through the window manager; without one the window takes the focus
  // itself, as an activated window has it.
  if (PlatX11WindowManager(w->sdl) == 0 && (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN))
    SDL_SetWindowInputFocus(w->sdl);
}

void PlatWindowRaise(PlatWindow* w) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) RaiseNow(w);
  else QueueOp(w, OP_RAISE, 0, nullptr);
}

static void StackBelowNow(PlatWindow* w, PlatWindow* sibling) {
  if (w->foreign || (sibling && !Alive(sibling))) return;
  PlatX11StackBelow(w->sdl, sibling ? sibling->sdl : nullptr);
}

void PlatWindowStackBelow(PlatWindow* w, PlatWindow* sibling) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) StackBelowNow(w, sibling);
  else QueueOp(w, OP_STACK_BELOW, sibling ? static_cast<intptr_t>(sibling->key) : 0, nullptr);
}

static bool PushWindowEvent(PlatWindow* w, u8 event, i32 data1, i32 data2);

static void StateNow(PlatWindow* w, i32 state) {
  const u32 before = SDL_GetWindowFlags(w->sdl);
  w->minimise_asked = state == PLAT_STATE_MINIMIZED;
  switch (state) {
    case PLAT_STATE_MINIMIZED: SDL_MinimizeWindow(w->sdl); break;
    case PLAT_STATE_MAXIMIZED: SDL_MaximizeWindow(w->sdl); break;
    default: SDL_RestoreWindow(w->sdl); break;
  }
  // On X11 SDL marks its own maximise and its undo at once and never reports them: the engine
  // hears of them as of the user's, ahead of the new size. Only a window manager carries them out.
  const u32 after = SDL_GetWindowFlags(w->sdl);
  if (((before ^ after) & SDL_WINDOW_MAXIMIZED) && PlatX11WindowManager(w->sdl) == 1)
    PushWindowEvent(w, (after & SDL_WINDOW_MAXIMIZED) ? SDL_WINDOWEVENT_MAXIMIZED : SDL_WINDOWEVENT_RESTORED, 0, 0);
}

void PlatWindowSetState(PlatWindow* w, i32 state) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) StateNow(w, state);
  else QueueOp(w, OP_STATE, state, nullptr);
}

// The SDL mode of the window's display with the size and depth asked for.
static bool FindSdlMode(SDL_Window* sdl, const PlatDisplayMode* mode, SDL_DisplayMode* out) {
  int display = SDL_GetWindowDisplayIndex(sdl);
  if (display < 0) return false;
  int n = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < n; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(display, i, &m) != 0) continue;
    if (m.w == mode->width && m.h == mode->height &&
        static_cast<i32>(SDL_BITSPERPIXEL(m.format)) == mode->bits_per_pixel &&
        (mode->refresh_hz == 0 || m.refresh_rate == mode->refresh_hz)) {
      *out = m;
      return true;
    }
  }
  return false;
}

// The window covers the monitor before SDL makes it fullscreen: a display server without a
// window manager leaves SDL's fullscreen request unanswered, and the window must cover the
// screen all the same. A window manager carries the request out itself and afterwards puts the
// frame back where it was: moved first, the window would come back to the monitor's corner, and
// placed again by SDL, a title bar low (SDL places a window by the frame's extents, and those of
// the fullscreen state, none, stand until the new ones are reported).
static void CoverMonitor(PlatWindow* w, int width, int height) {
  SDL_GetWindowPosition(w->sdl, &w->windowed.x, &w->windowed.y);
  SDL_GetWindowSize(w->sdl, &w->windowed.w, &w->windowed.h);
  w->covered = PlatX11WindowManager(w->sdl) != 1;
  if (!w->covered) return;
  SDL_Rect r;
  int display = SDL_GetWindowDisplayIndex(w->sdl);
  if (display < 0 || SDL_GetDisplayBounds(display, &r) != 0) return;
  if (!w->shaped) SDL_SetWindowBordered(w->sdl, SDL_FALSE);
  SDL_SetWindowPosition(w->sdl, r.x, r.y);
  SDL_SetWindowSize(w->sdl, width > 0 ? width : r.w, height > 0 ? height : r.h);
}

static void Uncover(PlatWindow* w) {
  if (w->windowed.w <= 0 || w->windowed.h <= 0 || !w->covered) return;
  SDL_SetWindowSize(w->sdl, w->windowed.w, w->windowed.h);
  SDL_SetWindowPosition(w->sdl, w->windowed.x, w->windowed.y);
}

int PlatWindowSetFullscreen(PlatWindow* w, const PlatDisplayMode* mode) {
  if (!s_Ready || !PlatIsMainThread() || !Alive(w) || w->foreign) return -1;
  SDL_DisplayMode m;
  if (mode && !FindSdlMode(w->sdl, mode, &m)) return -1;
  CoverMonitor(w, mode ? m.w : 0, mode ? m.h : 0);
  bool ok =
      mode ? SDL_SetWindowDisplayMode(w->sdl, &m) == 0 && SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN) == 0
           : SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
  if (!ok) {
    SDL_SetWindowFullscreen(w->sdl, 0);
    Uncover(w);
    SetFlagsNow(w, w->flags);
    return -1;
  }
  w->fullscreen = true;
  return 0;
}

void PlatWindowLeaveFullscreen(PlatWindow* w) {
  if (!s_Ready || !PlatIsMainThread() || !Alive(w) || !w->fullscreen) return;
  SDL_SetWindowFullscreen(w->sdl, 0);
  w->fullscreen = false;
  SetFlagsNow(w, w->flags);
  Uncover(w);
}

bool PlatWindowIsFullscreen(PlatWindow* w) { return PlatIsMainThread() && Alive(w) && w->fullscreen; }

static void Deliver(u32 kind, PlatWindow* w, u32 code, i64 a, i64 b, const char* const* paths = nullptr);

// ---- Menu bars -----------------------------------------------------------------------------------

static void SetMenuBarNow(PlatWindow* w, u32 menu, i32 mode) {
  if (menu && !PlatMenuExists(menu)) menu = 0;
  w->bar_menu = menu;
  w->bar_mode = mode;
  const i32 px = menu && mode == PLAT_MENU_BAR_FRAME ? i32{UI_MENU_BAR_HEIGHT} : 0;
  if (px != w->bar_px) {
    // The window grows or shrinks by the bar: the client area keeps its size.
    int cw = 0, ch = 0;
    SDL_GetWindowSize(w->sdl, &cw, &ch);
    const i32 old = w->bar_px;
    w->bar_px = px;
    if (!w->fullscreen && !w->foreign) SDL_SetWindowSize(w->sdl, cw, std::max(1, ch - old + px));
    if (w->aspect.x > 0) PlatX11SetAspect(w->sdl, w->aspect.x, w->aspect.y, px);
  }
  PlatWindowErase(w);
}

void PlatWindowSetMenuBar(PlatWindow* w, u32 menu, i32 mode) {
  if (!w || !s_Ready) return;
  if (!PlatIsMainThread()) {
    QueueOp(w, OP_MENU_BAR, PackPair(static_cast<i32>(menu), mode), nullptr);
    return;
  }
  if (Alive(w)) SetMenuBarNow(w, menu, mode);
}

u32 PlatWindowMenuBar(PlatWindow* w) { return w ? w->bar_menu.load() : 0; }

static void ForgetMenuNow(u32 menu) {
  for (PlatWindow* w : s_Windows)
    if (w->bar_menu == menu) SetMenuBarNow(w, 0, w->bar_mode);
}

void PlatWindowForgetMenuBar(u32 menu) {
  if (!s_Ready || !menu) return;
  if (PlatIsMainThread()) {
    ForgetMenuNow(menu);
    return;
  }
  SDL_Event e{};
  e.type = s_InternalEvent;
  e.user.code = OP_FORGET_MENU;
  e.user.data1 = reinterpret_cast<void*>(static_cast<uintptr_t>(menu));
  SDL_PushEvent(&e);
}

bool PlatWindowBarInfo(PlatWindow* w, u32* menu, i32* mode, i32* height) {
  if (!s_Ready || !PlatIsMainThread() || !Alive(w)) return false;
  *menu = w->bar_menu;
  *mode = w->bar_mode;
  *height = w->bar_px;
  return true;
}

i32 PlatWindowBarOffset(PlatWindow* w) { return w && PlatIsMainThread() && Alive(w) ? w->bar_px : 0; }

void PlatWindowDeliverMenuCommand(PlatWindow* w, u32 id) {
  if (Alive(w)) Deliver(PLAT_MSG_MENU_COMMAND, w, 0, id, 0);
}

void PlatWindowDeliverActivate(PlatWindow* w, bool active) {
  if (Alive(w)) Deliver(PLAT_MSG_ACTIVATE, w, 0, active ? 1 : 0, 0);
}

// ---- Calls on the main thread ----------------------------------------------------------------

bool PlatCallOnMain(void (*fn)(void* arg), void* arg, const std::atomic<u8>* abort) {
  if (!s_Ready || PlatIsMainThread()) {
    fn(arg);
    return true;
  }
  MainCallRef call = std::make_shared<MainCall>();
  call->fn = fn;
  call->arg = arg;
  auto* ref = new MainCallRef(call);
  SDL_Event e{};
  e.type = s_InternalEvent;
  e.user.code = OP_CALL;
  e.user.data2 = ref;
  if (SDL_PushEvent(&e) != 1) {
    delete ref;
    return false;
  }
  std::unique_lock<std::mutex> g(call->m);
  while (!call->done) {
    if (abort && abort->load()) {
      call->cancelled = true;
      return false;
    }
    call->cv.wait_for(g, std::chrono::milliseconds(2));
  }
  return !call->cancelled;
}

// ---- Messages --------------------------------------------------------------------------------

void PlatSetMessageHandler(PlatMsgHandler fn) { s_Handler = fn; }

static void Deliver(u32 kind, PlatWindow* w, u32 code, i64 a, i64 b, const char* const* paths) {
  if (!s_Handler) return;
  PlatMsg m{kind, w, w ? w->user : nullptr, code, a, b, paths};
  s_Handler(&m);
}

// ---- Dragging without a window manager -------------------------------------------------------
// A press on a window's drag area asks the window manager to move the window (SDL's hit test);
// without one the request goes unanswered, and the window follows the pointer from here until
// the button is let go.

struct OwnDrag {
  u32 window_id = 0;
  int dx = 0, dy = 0;  // the pointer's offset from the window's corner
};
static OwnDrag s_Drag;

static void DragBegin(PlatWindow* w) {
  if (w->foreign || w->fullscreen || PlatX11WindowManager(w->sdl) != 0) return;
  if (!(SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON_LMASK)) return;
  s_Drag = {w->id, w->drag_from.x, w->drag_from.y};
  SDL_CaptureMouse(SDL_TRUE);  // SDL let the press's own grab go for the window manager
}

static void DragFollow() {
  if (!s_Drag.window_id) return;
  int mx = 0, my = 0;
  const bool held = SDL_GetGlobalMouseState(&mx, &my) & SDL_BUTTON_LMASK;
  PlatWindow* w = FindWindow(s_Drag.window_id);
  if (!w || !held) {
    s_Drag = {};
    SDL_CaptureMouse(SDL_FALSE);
    return;
  }
  SDL_SetWindowPosition(w->sdl, mx - s_Drag.dx, my - s_Drag.dy);
}

static void OnWindowEvent(const SDL_WindowEvent& we) {
  PlatWindow* w = FindWindow(we.windowID);
  if (!w) return;  // a late event of a window already destroyed
  switch (we.event) {
    case SDL_WINDOWEVENT_HIT_TEST: DragBegin(w); break;
    case SDL_WINDOWEVENT_CLOSE: Deliver(PLAT_MSG_CLOSE_REQUEST, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: Deliver(PLAT_MSG_ACTIVATE, w, 0, 1, 0); break;
    case SDL_WINDOWEVENT_FOCUS_LOST: Deliver(PLAT_MSG_ACTIVATE, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_EXPOSED: Deliver(PLAT_MSG_PAINT, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_MOVED: Deliver(PLAT_MSG_MOVE, w, 0, we.data1, i64{we.data2} + w->bar_px); break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      PlatMenuBarRepaint(w);
      Deliver(PLAT_MSG_SIZE, w, 0, we.data1, std::max<i64>(0, i64{we.data2} - w->bar_px));
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      w->minimized = true;
      Deliver(PLAT_MSG_MINIMIZE, w, 0, 0, 0);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      w->minimized = false;
      w->maximized = true;
      Deliver(PLAT_MSG_MAXIMIZE, w, 0, 0, 0);
      break;
    case SDL_WINDOWEVENT_RESTORED: {
      bool was_minimized = w->minimized;
      w->minimized = false;
      w->maximized = false;
      if (w->swallow_restore) {
        w->swallow_restore = false;
        break;
      }
      Deliver(PLAT_MSG_RESTORE, w, 0, was_minimized ? 1 : 0, 0);
      break;
    }
    case SDL_WINDOWEVENT_SHOWN:
      // Shown by another program (a second start of the game) while the engine had hidden it:
      // back from the icon, as the system's restore of a minimised and hidden window is.
      if (!w->shown) {
        w->shown = true;
        w->minimized = w->minimise_asked = false;
        MarkHiddenMinimised(w, false);
        Deliver(PLAT_MSG_RESTORE, w, 0, 1, 0);
      }
      break;
    case SDL_WINDOWEVENT_HIDDEN:
      // A minimised window is still a shown one, as the engine counts it; only a hide hides it.
      if (!(SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_MINIMIZED)) w->shown = false;
      break;
  }
}

static void OnDrop(const SDL_DropEvent& d) {
  PlatWindow* w = FindWindow(d.windowID);
  switch (d.type) {
    case SDL_DROPBEGIN:
      if (w) w->drop.clear();
      break;
    case SDL_DROPFILE:
      if (w && d.file) w->drop.emplace_back(d.file);
      break;
    case SDL_DROPCOMPLETE:
      if (w && !w->drop.empty()) {
        std::vector<std::string> paths;
        paths.swap(w->drop);
        std::vector<const char*> list;
        for (const std::string& p : paths) list.push_back(p.c_str());
        Deliver(PLAT_MSG_DROP_FILES, w, 0, static_cast<i64>(list.size()), 0, list.data());
      }
      break;
  }
  SDL_free(d.file);  // ours to free, whatever we did with it
}

static void OnInternal(const SDL_Event& e) {
  if (e.user.code == OP_CALL) {
    auto* ref = static_cast<MainCallRef*>(e.user.data2);
    RunMainCall(ref);
    delete ref;
    return;
  }
  if (e.user.code == OP_FORGET_MENU) {
    ForgetMenuNow(static_cast<u32>(reinterpret_cast<uintptr_t>(e.user.data1)));
    return;
  }
  PlatWindow* w = FindWindowByKey(e.user.windowID);
  intptr_t packed = reinterpret_cast<intptr_t>(e.user.data1);
  i32 param = static_cast<i32>(packed);
  i32 a = 0, b = 0;
  UnpackPair(packed, &a, &b);
  if (w) {
    switch (e.user.code) {
      case OP_SHOW: ShowNow(w, true); break;
      case OP_HIDE: ShowNow(w, false); break;
      case OP_FLAGS: SetFlagsNow(w, static_cast<u32>(param)); break;
      case OP_RESTORE: RestoreNow(w); break;
      case OP_OPACITY: OpacityNow(w, param); break;
      case OP_FLASH: FlashNow(w, param); break;
      case OP_TITLE: SDL_SetWindowTitle(w->sdl, static_cast<std::string*>(e.user.data2)->c_str()); break;
      case OP_MOVE: MoveNow(w, a, b); break;
      case OP_SIZE: SizeNow(w, a, b); break;
      case OP_LIMITS: LimitsNow(w, *static_cast<SizeLimits*>(e.user.data2)); break;
      case OP_RAISE: RaiseNow(w); break;
      case OP_ASPECT: AspectNow(w, a, b); break;
      case OP_STACK_BELOW: {
        PlatWindow* sibling = param ? FindWindowByKey(static_cast<u32>(param)) : nullptr;
        if (!param || sibling) StackBelowNow(w, sibling);  // a sibling gone meanwhile: nothing
        break;
      }
      case OP_STATE: StateNow(w, param); break;
      case OP_MENU_BAR: SetMenuBarNow(w, static_cast<u32>(a), b); break;
      case OP_SHAPE: {
        auto* rects = static_cast<std::vector<PlatRect>*>(e.user.data2);
        ShapeNow(w, rects->data(), static_cast<i32>(rects->size()));
        break;
      }
    }
  }
  FreeOpData(e);
}

int PlatPollEvents() {
  if (!s_Ready || !PlatIsMainThread()) return 0;
  PlatPresentFlush();  // pictures other threads presented since the last pump
  int n = 0;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    n++;
    switch (e.type) {
      case SDL_WINDOWEVENT: OnWindowEvent(e.window); break;
      case SDL_QUIT: Deliver(PLAT_MSG_SYSTEM_QUIT, nullptr, 0, 0, 0); break;
      case SDL_DROPBEGIN:
      case SDL_DROPFILE:
      case SDL_DROPTEXT:
      case SDL_DROPCOMPLETE: OnDrop(e.drop); break;
      default:
        if (e.type == s_PostedEvent) {
          i64 a = static_cast<i64>(reinterpret_cast<intptr_t>(e.user.data1));
          i64 b = static_cast<i64>(reinterpret_cast<intptr_t>(e.user.data2));
          if (e.user.code == 0) Deliver(PLAT_MSG_QUIT, nullptr, 0, 0, 0);
          else Deliver(PLAT_MSG_POSTED, nullptr, static_cast<u32>(e.user.code), a, b);
        } else if (e.type == s_InternalEvent) {
          OnInternal(e);
        } else {
          if (e.type == SDL_MOUSEMOTION || e.type == SDL_MOUSEBUTTONUP) DragFollow();
          PlatInputHandleSdlEvent(&e);  // keyboard, mouse and joysticks
        }
        break;
    }
  }
  return n;
}

void PlatServeMainCalls() {
  if (!s_Ready || !PlatIsMainThread()) return;
  SDL_PumpEvents();
  SDL_Event e;
  while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, s_InternalEvent, s_InternalEvent) == 1) OnInternal(e);
}

// ---- Modal loops -----------------------------------------------------------------------------
// The engine's own dialogs and menus wait here. What the engine must not see while one is open
// (engine messages, close requests, drops, a quit) is kept and queued again at the end, in order.

static std::vector<SDL_Event> s_Kept;

void PlatModalWait(i32 timeout_ms, bool (*fn)(const SDL_Event* e, void* ctx), void* ctx) {
  if (!s_Ready || !PlatIsMainThread()) return;
  PlatPresentFlush();
  // Polled, never SDL_WaitEventTimeout: while a thread waits there, an event pushed by another
  // thread wakes it through a message to one of the windows, and a drop-down closed meanwhile
  // makes that message a fatal X error.
  SDL_Event e;
  const u32 start = SDL_GetTicks();
  while (!SDL_PollEvent(&e)) {
    if (SDL_TICKS_PASSED(SDL_GetTicks(), start + static_cast<u32>(timeout_ms))) return;
    SDL_Delay(4);
    PlatPresentFlush();
  }
  if (e.type == s_InternalEvent) {
    OnInternal(e);
    return;
  }
  if (e.type == s_PostedEvent || e.type == SDL_DROPBEGIN || e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT ||
      e.type == SDL_DROPCOMPLETE) {
    s_Kept.push_back(e);
    return;
  }
  if (e.type == SDL_QUIT) {
    s_Kept.push_back(e);
    fn(&e, ctx);
    return;
  }
  if (e.type == SDL_WINDOWEVENT && FindWindow(e.window.windowID)) {
    // The modal loop may close on a lost focus; the engine hears of it too unless the loop keeps it.
    const bool pass = fn(&e, ctx);
    if (e.window.event == SDL_WINDOWEVENT_CLOSE) s_Kept.push_back(e);
    else if (pass) OnWindowEvent(e.window);
    return;
  }
  fn(&e, ctx);  // the modal windows' own events, and input of every window
  // A key or button let go meanwhile must not stay held for the engine.
  if ((e.type == SDL_KEYUP && FindWindow(e.key.windowID)) ||
      (e.type == SDL_MOUSEBUTTONUP && FindWindow(e.button.windowID)))
    PlatInputHandleSdlEvent(&e);
}

void PlatModalEnd() {
  if (!s_Ready) return;
  // A release that went to the modal window (or to none: no window manager hands the pointer
  // back) must not leave a key or button held for the engine: the device says what is held.
  u32 buttons = 0;
  if (s_Windows.empty() || !PlatX11ButtonsHeld(s_Windows.front()->sdl, &buttons))
    buttons = SDL_GetGlobalMouseState(nullptr, nullptr);
  PlatInputReleaseLetGo(buttons);
  std::vector<SDL_Event> kept;
  kept.swap(s_Kept);
  for (SDL_Event& e : kept)
    if (SDL_PushEvent(&e) != 1 && (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT)) SDL_free(e.drop.file);
}

bool PlatWindowIsEngine(u32 sdl_id) { return FindWindow(sdl_id) != nullptr; }

// Set by whichever thread asks for the box; read where the box is made, on the main thread.
static std::atomic<PlatWindow*> s_DialogOwner{nullptr};

void PlatDialogOwnerSet(PlatWindow* w) { s_DialogOwner.store(w); }

static bool Showing(const PlatWindow* w) {
  const u32 f = SDL_GetWindowFlags(w->sdl);
  return (f & SDL_WINDOW_SHOWN) && !(f & SDL_WINDOW_MINIMIZED) && !w->minimized;
}

SDL_Window* PlatDialogOwner() {
  PlatWindow* const owner = s_DialogOwner.load();
  if (owner && std::find(s_Windows.begin(), s_Windows.end(), owner) != s_Windows.end() && Showing(owner))
    return owner->sdl;
  // Windows are listed as they were made: the main window comes first.
  for (PlatWindow* w : s_Windows) {
    if (w->foreign) continue;
    return Showing(w) ? w->sdl : nullptr;
  }
  return nullptr;
}

static bool Post(i32 code, i64 a, i64 b) {
  if (!s_Ready) return false;
  SDL_Event e{};
  e.type = s_PostedEvent;
  e.user.code = code;
  e.user.data1 = reinterpret_cast<void*>(static_cast<intptr_t>(a));
  e.user.data2 = reinterpret_cast<void*>(static_cast<intptr_t>(b));
  return SDL_PushEvent(&e) == 1;
}

bool PlatPostMessage(u32 code, i64 a, i64 b) { return code != 0 && Post(static_cast<i32>(code), a, b); }

bool PlatSystemQuitPending() {
  if (PlatQuitSignalled()) return true;
  if (!s_Ready || !PlatIsMainThread()) return false;
  SDL_PumpEvents();
  SDL_Event e;
  return SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0;
}

bool PlatPostQuit() { return Post(0, 0, 0); }

// ---- Tests -----------------------------------------------------------------------------------

static bool PushWindowEvent(PlatWindow* w, u8 event, i32 data1, i32 data2) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = w->id;
  e.window.event = event;
  e.window.data1 = data1;
  e.window.data2 = data2;
  return SDL_PushEvent(&e) == 1;
}

bool PlatInjectEvent(PlatWindow* w, u32 kind, u32 code, i64 a, i64 b) {
  if (!s_Ready || !Alive(w)) return false;
  i32 x = static_cast<i32>(a), y = static_cast<i32>(b);
  (void)code;
  switch (kind) {
    case PLAT_MSG_CLOSE_REQUEST: return PushWindowEvent(w, SDL_WINDOWEVENT_CLOSE, 0, 0);
    case PLAT_MSG_ACTIVATE:
      return PushWindowEvent(w, a ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
    case PLAT_MSG_PAINT: return PushWindowEvent(w, SDL_WINDOWEVENT_EXPOSED, 0, 0);
    case PLAT_MSG_MOVE: return PushWindowEvent(w, SDL_WINDOWEVENT_MOVED, x, y);
    case PLAT_MSG_SIZE: return PushWindowEvent(w, SDL_WINDOWEVENT_SIZE_CHANGED, x, y);
    case PLAT_MSG_MINIMIZE: return PushWindowEvent(w, SDL_WINDOWEVENT_MINIMIZED, 0, 0);
    case PLAT_MSG_MAXIMIZE: return PushWindowEvent(w, SDL_WINDOWEVENT_MAXIMIZED, 0, 0);
    case PLAT_MSG_RESTORE: return PushWindowEvent(w, SDL_WINDOWEVENT_RESTORED, 0, 0);
    default: return false;
  }
}

bool PlatInjectDrop(PlatWindow* w, const std::vector<std::string>& paths) {
  if (!s_Ready || !Alive(w)) return false;
  SDL_Event e{};
  e.type = SDL_DROPBEGIN;
  e.drop.windowID = w->id;
  bool ok = SDL_PushEvent(&e) == 1;
  for (const std::string& p : paths) {
    e.type = SDL_DROPFILE;
    e.drop.file = SDL_strdup(p.c_str());
    if (SDL_PushEvent(&e) != 1) {
      SDL_free(e.drop.file);
      ok = false;
    }
  }
  e.type = SDL_DROPCOMPLETE;
  e.drop.file = nullptr;
  return SDL_PushEvent(&e) == 1 && ok;
}
