// What SDL does not offer for X11 windows: the pointer's buttons as the server has them, whether
// a window manager runs, and stacking a window below others. Display and window come from SDL,
// so these requests keep their order with SDL's own; on another video driver every call does
// nothing and says so. X errors (a window gone meanwhile) are caught around each call, since
// SDL's own handler would end the process.
#include <SDL.h>
#include <SDL_syswm.h>

#include "platform/video_internal.h"

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xutil.h>

static bool X11Of(SDL_Window* w, Display** d, Window* x) {
  if (!w) return false;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(w, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  *d = info.info.x11.display;
  *x = info.info.x11.window;
  return *d != nullptr;
}

static int s_Error = 0;
static int NoteError(Display*, XErrorEvent* e) {
  s_Error = e->error_code;
  return 0;
}

// Errors of the requests made between the two calls are noted, not fatal.
struct ErrorTrap {
  Display* d;
  XErrorHandler old;
  explicit ErrorTrap(Display* display) : d(display) {
    XSync(d, False);
    s_Error = 0;
    old = XSetErrorHandler(NoteError);
  }
  bool Failed() {
    XSync(d, False);
    return s_Error != 0;
  }
  ~ErrorTrap() {
    XSync(d, False);
    XSetErrorHandler(old);
  }
};

bool PlatX11PropertyLong(Display* d, Window w, Atom property, Atom type, unsigned long* value) {
  Atom actual;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  const bool found =
      XGetWindowProperty(d, w, property, 0, 1, False, type, &actual, &format, &n, &after, &data) == Success && data &&
      actual == type && format == 32 && n == 1;
  if (found) *value = *reinterpret_cast<unsigned long*>(data);
  if (data) XFree(data);
  return found;
}

// The window a property of the root names, 0 for none.
static Window RootWindowProperty(Display* d, Window root, const char* name) {
  unsigned long v = 0;
  return PlatX11PropertyLong(d, root, XInternAtom(d, name, False), XA_WINDOW, &v) ? static_cast<Window>(v) : 0;
}

// An EWMH window manager names its check window on the root, and the window names itself.
static bool ManagerRuns(Display* d, Window root) {
  ErrorTrap trap(d);
  Window check = RootWindowProperty(d, root, "_NET_SUPPORTING_WM_CHECK");
  if (!check) return false;
  Window self = RootWindowProperty(d, check, "_NET_SUPPORTING_WM_CHECK");
  return !trap.Failed() && self == check;
}

static bool ManagerSupports(Display* d, Window root, const char* atom_name) {
  Atom want = XInternAtom(d, atom_name, False);
  Atom type;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(d, root, XInternAtom(d, "_NET_SUPPORTED", False), 0, 4096, False, XA_ATOM, &type, &format,
                         &n, &after, &data) == Success &&
      data && type == XA_ATOM && format == 32) {
    const unsigned long* atoms = reinterpret_cast<unsigned long*>(data);
    for (unsigned long i = 0; i < n && !found; i++) found = atoms[i] == want;
  }
  if (data) XFree(data);
  return found;
}

bool PlatX11ButtonsHeld(SDL_Window* any, u32* sdl_buttons) {
  Display* d;
  Window x;
  if (!X11Of(any, &d, &x)) return false;
  Window root_ret, child;
  int rx, ry, wx, wy;
  unsigned int mask = 0;
  // False when the pointer is on another screen; the mask holds its buttons all the same.
  XQueryPointer(d, DefaultRootWindow(d), &root_ret, &child, &rx, &ry, &wx, &wy, &mask);
  u32 b = 0;
  if (mask & Button1Mask) b |= SDL_BUTTON(SDL_BUTTON_LEFT);
  if (mask & Button2Mask) b |= SDL_BUTTON(SDL_BUTTON_MIDDLE);
  if (mask & Button3Mask) b |= SDL_BUTTON(SDL_BUTTON_RIGHT);
  *sdl_buttons = b;
  return true;
}

bool PlatX11ManagerRuns(Display* d) { return ManagerRuns(d, DefaultRootWindow(d)); }

int PlatX11WindowManager(SDL_Window* any) {
  Display* d;
  Window x;
  if (!X11Of(any, &d, &x)) return -1;
  return ManagerRuns(d, DefaultRootWindow(d)) ? 1 : 0;
}

bool PlatX11StackBelow(SDL_Window* w, SDL_Window* sibling) {
  Display* d;
  Window x, s = 0;
  if (!X11Of(w, &d, &x) || (sibling && !X11Of(sibling, &d, &s))) return false;
  const Window root = DefaultRootWindow(d);
  ErrorTrap trap(d);
  if (ManagerRuns(d, root) && ManagerSupports(d, root, "_NET_RESTACK_WINDOW")) {
    // The window manager stacks its frames; source 2 asks it to follow without its own policy.
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = x;
    e.xclient.message_type = XInternAtom(d, "_NET_RESTACK_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;
    e.xclient.data.l[1] = static_cast<long>(s);
    e.xclient.data.l[2] = Below;
    XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  } else {
    // Without one the window is the root's child and restacks itself; with one that lacks the
    // message, the request goes to it as ICCCM says.
    XWindowChanges c{};
    c.sibling = s;
    c.stack_mode = Below;
    XReconfigureWMWindow(d, x, DefaultScreen(d), CWStackMode | (s ? CWSibling : 0u), &c);
  }
  return !trap.Failed();
}

void PlatX11MarkDialog(SDL_Window* w) {
  Display* d;
  Window x;
  if (!X11Of(w, &d, &x)) return;
  Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(d, x, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&type), 1);
}

static const char kHiddenMinimised[] = "_ZEPHRA_HIDDEN_MINIMISED";

void PlatX11MarkHiddenMinimised(SDL_Window* w, bool on) {
  Display* d;
  Window x;
  if (!X11Of(w, &d, &x)) return;
  const Atom mark = XInternAtom(d, kHiddenMinimised, False);
  ErrorTrap trap(d);
  if (on) {
    long one = 1;
    XChangeProperty(d, x, mark, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&one), 1);
  } else {
    XDeleteProperty(d, x, mark);
  }
}

bool PlatX11HiddenMinimised(Display* d, unsigned long window) {
  const Atom mark = XInternAtom(d, kHiddenMinimised, True);
  unsigned long one;
  return mark != None && PlatX11PropertyLong(d, window, mark, XA_CARDINAL, &one);  // None: never marked
}

void PlatX11SetMaximizeBox(SDL_Window* w, bool maximize, bool resizable) {
  Display* d;
  Window x;
  if (!X11Of(w, &d, &x)) return;
  enum { FUNCTIONS = 1, DECORATIONS = 2 };
  enum { F_RESIZE = 2, F_MOVE = 4, F_MINIMIZE = 8, F_MAXIMIZE = 16, F_CLOSE = 32 };
  enum { D_ALL = 1, D_BORDER = 2, D_RESIZE = 4, D_TITLE = 8, D_MENU = 16, D_MINIMIZE = 32, D_MAXIMIZE = 64 };
  // With the box: every decoration, as SDL asks for a framed window.
  long hints[5] = {DECORATIONS, 0, D_ALL, 0, 0};
  if (!maximize) {
    hints[0] = FUNCTIONS | DECORATIONS;
    hints[1] = F_MOVE | F_MINIMIZE | F_CLOSE | (resizable ? F_RESIZE : 0);
    hints[2] = D_BORDER | D_TITLE | D_MENU | D_MINIMIZE | (resizable ? D_RESIZE : 0);
  }
  const Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
  ErrorTrap trap(d);
  XChangeProperty(d, x, motif, motif, 32, PropModeReplace, reinterpret_cast<unsigned char*>(hints), 5);
}

void PlatX11SetAspect(SDL_Window* w, i32 width, i32 height, i32 base_height) {
  Display* d;
  Window x;
  if (!X11Of(w, &d, &x)) return;
  XSizeHints* h = XAllocSizeHints();
  if (!h) return;
  ErrorTrap trap(d);
  long supplied = 0;
  if (!XGetWMNormalHints(d, x, h, &supplied)) h->flags = 0;  // SDL's size limits stay as they are
  if (width > 0 && height > 0) {
    h->flags |= PAspect | PBaseSize;
    h->min_aspect.x = h->max_aspect.x = width;
    h->min_aspect.y = h->max_aspect.y = height;
    h->base_width = 0;
    h->base_height = base_height;  // the menu bar's rows are not part of the picture
  } else {
    h->flags &= ~PAspect;
  }
  XSetWMNormalHints(d, x, h);
  XFree(h);
}

#else

void PlatX11MarkDialog(SDL_Window*) {}
void PlatX11SetAspect(SDL_Window*, i32, i32, i32) {}
void PlatX11SetMaximizeBox(SDL_Window*, bool, bool) {}
void PlatX11MarkHiddenMinimised(SDL_Window*, bool) {}
bool PlatX11HiddenMinimised(_XDisplay*, unsigned long) { return false; }
bool PlatX11PropertyLong(_XDisplay*, unsigned long, unsigned long, unsigned long, unsigned long*) { return false; }
bool PlatX11ManagerRuns(_XDisplay*) { return false; }
bool PlatX11ButtonsHeld(SDL_Window*, u32*) { return false; }
int PlatX11WindowManager(SDL_Window*) { return -1; }
bool PlatX11StackBelow(SDL_Window*, SDL_Window*) { return false; }

#endif
