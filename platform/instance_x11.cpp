// The running copy's main window for a second start. The copy that holds an instance lock writes
// its main window's X11 id and class name into the lock file ("ID\nCLASS"); a second start that
// finds the lock taken reads them, maps that window when it is hidden, and asks the window
// manager to activate it (_NET_ACTIVE_WINDOW, which also restores a minimised one), or raises and
// focuses it itself on a bare X server. X errors (a window gone meanwhile) are noted, never fatal.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/video.h"
#include "platform/video_internal.h"

namespace {

std::mutex s_Mutex;
i32 s_Handles[2] = {0, 0};  // the locks that name the window
PlatWindow* s_Window = nullptr;
std::string s_Class;
int s_XError = 0;

int NoteError(Display*, XErrorEvent* e) {
  s_XError = e->error_code;
  return 0;
}

// The X11 id of the system window behind w (main thread); 0 without X11.
u64 SystemId(PlatWindow* w) {
  SDL_Window* sdl = PlatWindowSdl(w);
  if (!sdl) return 0;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  return static_cast<u64>(info.info.x11.window);
}

void WriteRecord() {
  const u64 id = SystemId(s_Window);
  const std::string text = std::to_string(id) + "\n" + s_Class;
  for (i32 h : s_Handles)
    if (h > 0) PlatInstanceLockWrite(h, text);
}

// Minimised by the window manager (ICCCM's WM_STATE says so), so not on the screen.
bool Iconic(Display* d, Window w) {
  const Atom wm_state = XInternAtom(d, "WM_STATE", True);
  unsigned long state = 0;
  return wm_state != None && PlatX11PropertyLong(d, w, wm_state, wm_state, &state) && state == IconicState;
}

}  // namespace

void PlatInstanceLockSetWindow(i32 handle, PlatWindow* w, const char* class_name) {
  if (handle <= 0 || !w) return;
  std::lock_guard<std::mutex> g(s_Mutex);
  if (s_Window != w) s_Handles[0] = s_Handles[1] = 0;
  s_Window = w;
  s_Class = class_name ? class_name : "";
  for (i32& h : s_Handles) {
    if (h == handle) break;
    if (h == 0) {
      h = handle;
      break;
    }
  }
  WriteRecord();
}

void PlatInstanceWindowChanged(PlatWindow* w) {
  std::lock_guard<std::mutex> g(s_Mutex);
  if (w && w == s_Window) WriteRecord();
}

void PlatInstanceLockForget(i32 handle) {
  std::lock_guard<std::mutex> g(s_Mutex);
  for (i32& h : s_Handles)
    if (h == handle) h = 0;
}

bool PlatInstanceActivate(const char* name, const char* class_name) {
  std::string text;
  if (!PlatInstanceLockRead(name, &text)) return false;
  const size_t nl = text.find('\n');
  if (nl == std::string::npos || text.compare(nl + 1, std::string::npos, class_name ? class_name : "") != 0) return false;
  const u64 id = std::strtoull(text.c_str(), nullptr, 10);
  if (id == 0 || id > 0xFFFFFFFFu) return false;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  XErrorHandler old = XSetErrorHandler(NoteError);
  s_XError = 0;
  const Window win = static_cast<Window>(id);
  XWindowAttributes wa;
  bool ok = XGetWindowAttributes(d, win, &wa) && !s_XError;
  // A window the game hid while minimised (its script's minimise) is mapped first: the window
  // manager then manages it again. One not shown yet (the game still starting) stays hidden, and
  // nothing is brought to the front.
  const bool shown = ok && (wa.map_state == IsViewable || Iconic(d, win));
  const bool hidden_minimised = ok && !shown && PlatX11HiddenMinimised(d, win);
  ok = shown || hidden_minimised;
  if (ok) {
    if (hidden_minimised) XMapRaised(d, win);
    if (PlatX11ManagerRuns(d)) {
      // Source 2 (a pager, on the user's behalf): window managers honour it without focus
      // stealing prevention.
      XEvent e;
      std::memset(&e, 0, sizeof e);
      e.xclient.type = ClientMessage;
      e.xclient.window = win;
      e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
      e.xclient.format = 32;
      e.xclient.data.l[0] = 2;
      e.xclient.data.l[1] = CurrentTime;
      XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else {
      XRaiseWindow(d, win);
      XSync(d, False);
      XSetInputFocus(d, win, RevertToParent, CurrentTime);
    }
    XSync(d, False);
    ok = !s_XError;
  }
  XSetErrorHandler(old);
  XCloseDisplay(d);
  return ok;
}
