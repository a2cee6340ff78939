// Window objects, the platform windows behind them and their message handling. The close path
// always ends in one place: a window closed with any state but "close only" ends the message
// loop, and a close posted for a main window that no longer exists ends it too, so a quit can
// never wait for a window that is gone.
#include "shell/window.h"

#include <cstring>
#include <new>
#include <string>

#include "common/sjis.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/placeholders.h"
#include "shell/startup.h"
#include "shell/sys.h"

WindowObject* g_WindowObjects[WIN_COUNT];
std::atomic<i32> g_WindowOpen[WIN_COUNT] = {-1, -1, -1, -1};
std::atomic<u32> g_MenuCommandId{0};
std::atomic<u8> g_MouseMoved{0};
std::atomic<i16> g_WheelDelta{0};
std::atomic<u8> g_CloseRequested{0};

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

i32 WinCreate(WindowObject* w, const char* class_name, const char* title) {
  // There is no window class to register here; the class name only matters to the instance
  // rules of start-up, which use the name itself.
  (void)class_name;
  w->class_registered = 1;
  bool main_window = w->index == 0;
  u32 flags = 0;
  if (main_window && !g_WindowFramed) {
    flags |= PLAT_WINDOW_SHOWN;  // a borderless popup is visible from the start
  } else {
    flags |= PLAT_WINDOW_FRAMED;
    if (main_window && g_WindowResizable) flags |= PLAT_WINDOW_RESIZABLE;
    if (main_window && g_ScreenSaverBuild) flags |= PLAT_WINDOW_TOPMOST;
  }
  PlatWindowDesc d{};
  d.title = title;
  d.width = w->width;
  d.height = w->height;
  d.flags = flags;
  d.user = w;
  if (main_window || !g_WindowFramed) {
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
  w->handle = PlatWindowCreate(&d);
  return w->handle ? 1 : 0;
}

void WinClose(WindowObject* w) {
  g_WindowOpen[w->index] = -1;
  if (w->handle) {
    PlatWindowDestroy(w->handle);
    w->handle = nullptr;
  }
  // A window closed for good ends the program; the tray icon, the window shape and the window
  // menus have no counterpart on this platform.
  if (w->close_state != WIN_CLOSE_ONLY && !PlatPostQuit()) g_Running = 0;
}

i32 WinOnCloseRequest(WindowObject* w) {
  switch (w->close_state.load()) {
    case WIN_CLOSE_TELL_SCRIPT:
      g_CloseRequested = static_cast<u8>(w->index + 1);
      return 1;
    case WIN_CLOSE_CONFIRM: {
      static const std::string text = PlatUtf8ToSjis("終了します。よろしいですか？");
      const char* caption = g_WindowObjects[0] ? g_WindowObjects[0]->title : "";
      g_FramesHeld = 1;
      InputForceCursorVisible();
      int answer = PlatMessageBox(caption, text.c_str(), PLAT_MB_YESNO | PLAT_MB_ICONINFO);
      g_FramesHeld = 0;
      if (answer != PLAT_IDYES) return 1;
      g_QuitRequested = 1;
      return 0;
    }
    case WIN_CLOSE_QUIT:
      g_QuitRequested = 1;
      return 0;
    default:
      return 0;
  }
}

static void OnPosted(const PlatMsg* m) {
  switch (m->code) {
    case WIN_MSG_CLOSE: {
      i64 i = m->a;
      if (i < 0 || i >= WIN_COUNT) return;
      WindowObject* w = g_WindowObjects[i];
      if (w && w->handle) WinClose(w);
      else if (i == 0 && !PlatPostQuit()) g_Running = 0;  // no main window left to close
      return;
    }
    case WIN_MSG_COMMAND:
      g_MenuCommandId = static_cast<u32>(m->a & 0xFFFF);
      return;
    case WIN_MSG_SHOW:
      if (m->a >= 0 && m->a < WIN_COUNT && g_WindowObjects[m->a] && g_WindowObjects[m->a]->handle)
        PlatWindowShow(g_WindowObjects[m->a]->handle, true);
      return;
  }
}

void WinMainDispatch(const PlatMsg* m) {
  switch (m->kind) {
    case PLAT_MSG_QUIT: g_Running = 0; return;
    case PLAT_MSG_SYSTEM_QUIT: WinRequestQuit(); return;
    case PLAT_MSG_POSTED: OnPosted(m); return;
  }
  WindowObject* w = static_cast<WindowObject*>(m->user);
  if (!w) return;
  switch (m->kind) {
    case PLAT_MSG_CLOSE_REQUEST:
      if (!WinOnCloseRequest(w)) WinClose(w);
      return;
    case PLAT_MSG_ACTIVATE:
      w->active = m->a != 0 ? 1 : 0;
      WinInvalidate(w);
      return;
    case PLAT_MSG_PAINT:
      WinInvalidate(w);
      return;
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
  g_MouseMoved = 0;
  g_WheelDelta = 0;
  g_CloseRequested = 0;
}
