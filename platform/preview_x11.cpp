// Screen-saver preview through Xlib (see preview.h). An X error on a window that went away must
// not end the process (Xlib's default handler would): errors are noted and checked after a sync.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>

#include "platform/preview.h"
#include "platform/video_internal.h"

static Display* s_Display = nullptr;
static Window s_Window = 0;
static PlatPreviewProc s_Proc = nullptr;
static int s_XError = 0;

static int NoteError(Display*, XErrorEvent* e) {
  s_XError = e->error_code;
  return 0;
}

static void Close() {
  if (s_Display) XCloseDisplay(s_Display);
  s_Display = nullptr;
  s_Window = 0;
  s_Proc = nullptr;
}

int PlatPreviewCreate(u64 parent_id, PlatPreviewProc proc) {
  if (parent_id == 0 || parent_id > 0xFFFFFFFFu) return 1;
  s_Display = XOpenDisplay(nullptr);
  if (!s_Display) return 1;
  XSetErrorHandler(NoteError);
  s_XError = 0;
  Window parent = static_cast<Window>(parent_id);
  XWindowAttributes wa;
  if (!XGetWindowAttributes(s_Display, parent, &wa) || s_XError) {
    Close();
    return 1;
  }
  unsigned long black = BlackPixel(s_Display, DefaultScreen(s_Display));
  s_Window = XCreateSimpleWindow(s_Display, parent, 0, 0, static_cast<unsigned>(wa.width),
                                 static_cast<unsigned>(wa.height), 0, black, black);
  XSelectInput(s_Display, s_Window, ExposureMask | StructureNotifyMask);
  XMapWindow(s_Display, s_Window);
  XSync(s_Display, False);
  if (s_XError) {  // the parent went away meanwhile
    Close();
    return 1;
  }
  s_Proc = proc;
  s_Proc(PLAT_PREVIEW_CREATE);
  return 0;
}

void PlatPreviewRun() {
  while (s_Display) {
    XEvent e;
    XNextEvent(s_Display, &e);
    if (e.type == Expose && e.xexpose.window == s_Window && e.xexpose.count == 0) {
      s_Proc(PLAT_PREVIEW_PAINT);
    } else if (e.type == DestroyNotify && e.xdestroywindow.window == s_Window) {
      s_Proc(PLAT_PREVIEW_DESTROY);
      Close();
    }
  }
}

void PlatPreviewDraw(const u8* bgra, i32 width, i32 height) {
  if (!s_Display || width <= 0 || height <= 0) return;
  int screen = DefaultScreen(s_Display);
  Visual* vis = DefaultVisual(s_Display, screen);
  int depth = DefaultDepth(s_Display, screen);
  XImage* img = XCreateImage(s_Display, vis, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                             static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  if (!img) return;
  img->data = static_cast<char*>(std::malloc(static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(height)));
  if (!img->data) {
    XDestroyImage(img);
    return;
  }
  // Each channel scaled into the visual's mask, whatever its layout.
  auto place = [](u32 v, unsigned long mask) -> unsigned long {
    if (!mask) return 0;
    int shift = 0, bits = 0;
    while (!((mask >> shift) & 1)) shift++;
    while ((mask >> (shift + bits)) & 1) bits++;
    return (static_cast<unsigned long>(bits >= 8 ? v << (bits - 8) : v >> (8 - bits)) << shift) & mask;
  };
  for (i32 y = 0; y < height; y++) {
    const u8* p = bgra + static_cast<size_t>(y) * static_cast<size_t>(width) * 4;
    for (i32 x = 0; x < width; x++, p += 4)
      XPutPixel(img, x, y, place(p[2], vis->red_mask) | place(p[1], vis->green_mask) | place(p[0], vis->blue_mask));
  }
  GC gc = XCreateGC(s_Display, s_Window, 0, nullptr);
  XPutImage(s_Display, s_Window, gc, img, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFreeGC(s_Display, gc);
  XDestroyImage(img);  // frees the data too
  XFlush(s_Display);
}

bool PlatForeignWindowRect(u64 id, i32* x, i32* y, i32* width, i32* height) {
  if (id == 0 || id > 0xFFFFFFFFu) return false;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  XErrorHandler old = XSetErrorHandler(NoteError);
  s_XError = 0;
  XWindowAttributes wa;
  Window child;
  bool ok = XGetWindowAttributes(d, static_cast<Window>(id), &wa) && !s_XError &&
            XTranslateCoordinates(d, static_cast<Window>(id), wa.root, 0, 0, x, y, &child) && !s_XError;
  if (ok) {
    *width = wa.width;
    *height = wa.height;
  }
  XSetErrorHandler(old);
  XCloseDisplay(d);
  return ok;
}
