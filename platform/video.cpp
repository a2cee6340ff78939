// SDL video, windows and the event pump. Every SDL window call happens on the main thread; calls
// from other threads become internal events that the pump carries out, so a window is only ever
// touched by one thread. Windows are found again by their SDL id, never by a stale pointer.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"

struct PlatWindow {
  SDL_Window* sdl;
  u32 id;
  void* user;
  std::atomic<bool> shown{false};
  bool has_picture = false;  // set once a frame has been presented; until then it stays black
};

enum { OP_SHOW = 1, OP_HIDE = 2 };

static bool s_Ready = false;
static std::thread::id s_MainThread;
static u32 s_PostedEvent = 0;    // engine messages (PlatPostMessage, PlatPostQuit)
static u32 s_InternalEvent = 0;  // window operations asked for from other threads
static std::vector<PlatWindow*> s_Windows;
static PlatMsgHandler s_Handler = nullptr;

int PlatVideoInit() {
  if (s_Ready) return 0;
  // A window close is the engine's decision, never an implicit quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "zephra: video could not start: %s\n", SDL_GetError());
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
  s_Ready = false;
  SDL_Quit();
}

bool PlatVideoReady() { return s_Ready; }

bool PlatIsMainThread() { return !s_Ready || std::this_thread::get_id() == s_MainThread; }

// ---- Desktop ---------------------------------------------------------------------------------

bool PlatDesktopGet(PlatDesktop* out) {
  *out = {640, 480, 32, 0, 0, 0, 640, 480};
  if (!s_Ready) return false;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
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

PlatWindow* PlatWindowFromSdlId(u32 id) { return FindWindow(id); }

SDL_Window* PlatWindowSdl(PlatWindow* w) {
  for (PlatWindow* x : s_Windows)
    if (x == w) return x->sdl;
  return nullptr;
}

PlatWindow* PlatWindowCreate(const PlatWindowDesc* desc) {
  if (!s_Ready || !PlatIsMainThread()) return nullptr;
  u32 flags = SDL_WINDOW_HIDDEN;
  if (!(desc->flags & PLAT_WINDOW_FRAMED)) flags |= SDL_WINDOW_BORDERLESS;
  if (desc->flags & PLAT_WINDOW_RESIZABLE) flags |= SDL_WINDOW_RESIZABLE;
  if (desc->flags & PLAT_WINDOW_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  int x = desc->x == PLAT_WINDOW_CENTERED ? SDL_WINDOWPOS_CENTERED : desc->x;
  int y = desc->y == PLAT_WINDOW_CENTERED ? SDL_WINDOWPOS_CENTERED : desc->y;
  std::string title = PlatSjisToUtf8(desc->title ? desc->title : "");
  SDL_Window* sdl = SDL_CreateWindow(title.c_str(), x, y, std::max(1, desc->width), std::max(1, desc->height), flags);
  if (!sdl) {
    std::fprintf(stderr, "zephra: window could not be created: %s\n", SDL_GetError());
    return nullptr;
  }
  PlatWindow* w = new PlatWindow;
  w->sdl = sdl;
  w->id = SDL_GetWindowID(sdl);
  w->user = desc->user;
  s_Windows.push_back(w);
  if (desc->flags & PLAT_WINDOW_SHOWN) PlatWindowShow(w, true);
  return w;
}

void PlatWindowDestroy(PlatWindow* w) {
  if (!w || !PlatIsMainThread()) return;
  auto it = std::find(s_Windows.begin(), s_Windows.end(), w);
  if (it == s_Windows.end()) return;  // destroyed already
  s_Windows.erase(it);
  SDL_DestroyWindow(w->sdl);
  delete w;
}

static void ShowNow(PlatWindow* w, bool show) {
  if (show) {
    SDL_ShowWindow(w->sdl);
    w->shown = true;
    PlatWindowPaintBlack(w);
  } else {
    SDL_HideWindow(w->sdl);
    w->shown = false;
  }
}

void PlatWindowShow(PlatWindow* w, bool show) {
  if (!w || !s_Ready) return;
  if (PlatIsMainThread()) {
    ShowNow(w, show);
    return;
  }
  SDL_Event e{};
  e.type = s_InternalEvent;
  e.user.code = show ? OP_SHOW : OP_HIDE;
  e.user.windowID = w->id;
  SDL_PushEvent(&e);
}

bool PlatWindowShown(PlatWindow* w) { return w && w->shown; }

void PlatWindowSetTitle(PlatWindow* w, const char* title_sjis) {
  if (!w || !PlatIsMainThread()) return;
  SDL_SetWindowTitle(w->sdl, PlatSjisToUtf8(title_sjis ? title_sjis : "").c_str());
}

void* PlatWindowUser(PlatWindow* w) { return w ? w->user : nullptr; }

void PlatWindowPaintBlack(PlatWindow* w) {
  if (!w || !PlatIsMainThread()) return;
  SDL_Surface* s = SDL_GetWindowSurface(w->sdl);
  if (!s) return;
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
  SDL_UpdateWindowSurface(w->sdl);
}

int PlatWindowCount() { return static_cast<int>(s_Windows.size()); }

// ---- Messages --------------------------------------------------------------------------------

void PlatSetMessageHandler(PlatMsgHandler fn) { s_Handler = fn; }

static void Deliver(u32 kind, PlatWindow* w, u32 code, i64 a, i64 b) {
  if (!s_Handler) return;
  PlatMsg m{kind, w, w ? w->user : nullptr, code, a, b};
  s_Handler(&m);
}

static void OnWindowEvent(const SDL_WindowEvent& we) {
  PlatWindow* w = FindWindow(we.windowID);
  if (!w) return;  // a late event of a window already destroyed
  switch (we.event) {
    case SDL_WINDOWEVENT_CLOSE: Deliver(PLAT_MSG_CLOSE_REQUEST, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: Deliver(PLAT_MSG_ACTIVATE, w, 0, 1, 0); break;
    case SDL_WINDOWEVENT_FOCUS_LOST: Deliver(PLAT_MSG_ACTIVATE, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_EXPOSED:
      if (!w->has_picture) PlatWindowPaintBlack(w);
      Deliver(PLAT_MSG_PAINT, w, 0, 0, 0);
      break;
    case SDL_WINDOWEVENT_MOVED: Deliver(PLAT_MSG_MOVE, w, 0, we.data1, we.data2); break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: Deliver(PLAT_MSG_SIZE, w, 0, we.data1, we.data2); break;
    case SDL_WINDOWEVENT_MINIMIZED: Deliver(PLAT_MSG_MINIMIZE, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_MAXIMIZED: Deliver(PLAT_MSG_MAXIMIZE, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_RESTORED: Deliver(PLAT_MSG_RESTORE, w, 0, 0, 0); break;
    case SDL_WINDOWEVENT_SHOWN: w->shown = true; break;
    case SDL_WINDOWEVENT_HIDDEN: w->shown = false; break;
  }
}

int PlatPollEvents() {
  if (!s_Ready || !PlatIsMainThread()) return 0;
  int n = 0;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    n++;
    if (e.type == SDL_WINDOWEVENT) {
      OnWindowEvent(e.window);
    } else if (e.type == SDL_QUIT) {
      Deliver(PLAT_MSG_SYSTEM_QUIT, nullptr, 0, 0, 0);
    } else if (e.type == s_PostedEvent) {
      i64 a = static_cast<i64>(reinterpret_cast<intptr_t>(e.user.data1));
      i64 b = static_cast<i64>(reinterpret_cast<intptr_t>(e.user.data2));
      if (e.user.code == 0) Deliver(PLAT_MSG_QUIT, nullptr, 0, 0, 0);
      else Deliver(PLAT_MSG_POSTED, nullptr, static_cast<u32>(e.user.code), a, b);
    } else if (e.type == s_InternalEvent) {
      if (PlatWindow* w = FindWindow(e.user.windowID)) ShowNow(w, e.user.code == OP_SHOW);
    } else {
      PlatInputHandleSdlEvent(&e);
    }
  }
  return n;
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

bool PlatPostQuit() { return Post(0, 0, 0); }
