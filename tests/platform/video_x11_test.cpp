// Window features that need a display server: the integration tests run these under Xvfb with
// ZEPHRA_X11_TESTS=1 and the x11 video driver; anywhere else they are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/video.h"
// Last: Xlib's macros would clash with the names above.
#include <SDL.h>
#include <SDL_syswm.h>

namespace {

std::vector<PlatMsg> g_Got;
void Record(const PlatMsg* m) { g_Got.push_back(*m); }

struct VideoX11 : ::testing::Test {
  void SetUp() override {
    if (PlatGetEnv("ZEPHRA_X11_TESTS") != "1") GTEST_SKIP() << "needs a display (run by the integration tests)";
    ASSERT_EQ(PlatVideoInit(), 0);
    g_Got.clear();
    PlatSetMessageHandler(Record);
  }
  void TearDown() override {
    PlatSetMessageHandler(nullptr);
    PlatVideoQuit();
  }
};

}  // namespace

TEST_F(VideoX11, ShapeReplacesTheSystemWindowBehindTheSameEngineWindow) {
  int user = 9;
  PlatWindowDesc d{"shape", 30, 40, 200, 100, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, &user};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  PlatPollEvents();
  PlatRect rects[] = {{0, 0, 50, 100}, {150, 0, 200, 100}, {180, 90, 400, 400}};  // the last one is clipped
  ASSERT_EQ(PlatWindowSetShape(w, rects, 3), 0);
  EXPECT_TRUE(PlatWindowShaped(w));
  EXPECT_TRUE(PlatWindowShown(w));
  EXPECT_EQ(PlatWindowCount(), 1);
  EXPECT_EQ(PlatWindowUser(w), &user);
  EXPECT_EQ(PlatWindowFlags(w) & PLAT_WINDOW_FRAMED, 0u) << "a shaped window has no frame";
  EXPECT_EQ(PlatWindowSetShape(w, rects, 1), 0) << "a shaped window takes new shapes";
  // The engine window still receives its messages.
  PlatPollEvents();
  g_Got.clear();
  ASSERT_TRUE(PlatInjectEvent(w, PLAT_MSG_CLOSE_REQUEST, 0, 0, 0));
  PlatPollEvents();
  ASSERT_FALSE(g_Got.empty());
  EXPECT_EQ(g_Got.back().kind, u32{PLAT_MSG_CLOSE_REQUEST});
  EXPECT_EQ(g_Got.back().user, &user);
  PlatWindowDestroy(w);
}

TEST_F(VideoX11, OpacityAndFlashing) {
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, nullptr};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(PlatWindowSetOpacity(w, 128), 0);
  EXPECT_EQ(PlatWindowSetOpacity(w, 999), 0);
  EXPECT_EQ(PlatWindowFlash(w, 3), 0);
  EXPECT_EQ(PlatWindowFlash(w, 0), 0);
  PlatWindowDestroy(w);
}

namespace {

Window XWindowOf(PlatWindow* w, Display** d) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(PlatWindowSdl(w), &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  *d = info.info.x11.display;
  return info.info.x11.window;
}

// The root's children from the bottom up.
std::vector<Window> Stack(Display* d) {
  XSync(d, False);
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  std::vector<Window> out;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) out.assign(kids, kids + n);
  if (kids) XFree(kids);
  return out;
}

i64 Place(const std::vector<Window>& stack, Window w) {
  return std::find(stack.begin(), stack.end(), w) - stack.begin();
}

}  // namespace

// Without a window manager the windows are the root's children: restacking and raising show in
// their order. A tool window carries no task-bar entry.
TEST_F(VideoX11, StackingBelowOthersRaisingAndToolWindows) {
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, nullptr};
  PlatWindow* a = PlatWindowCreate(&d);
  PlatWindow* b = PlatWindowCreate(&d);
  d.flags = PLAT_WINDOW_SHOWN | PLAT_WINDOW_TOOL;
  PlatWindow* c = PlatWindowCreate(&d);
  ASSERT_TRUE(a && b && c);
  PlatPollEvents();
  Display* dpy = nullptr;
  const Window xa = XWindowOf(a, &dpy), xb = XWindowOf(b, &dpy), xc = XWindowOf(c, &dpy);
  ASSERT_TRUE(dpy && xa && xb && xc);
  std::vector<Window> s = Stack(dpy);
  ASSERT_LT(Place(s, xa), Place(s, xb));
  ASSERT_LT(Place(s, xb), Place(s, xc));

  PlatWindowStackBelow(c, nullptr);
  s = Stack(dpy);
  EXPECT_LT(Place(s, xc), Place(s, xa)) << "at the bottom";
  PlatWindowStackBelow(c, b);
  s = Stack(dpy);
  EXPECT_EQ(Place(s, xc) + 1, Place(s, xb)) << "right below the sibling";
  EXPECT_GT(Place(s, xc), Place(s, xa));
  PlatWindowRaise(a);
  s = Stack(dpy);
  EXPECT_GT(Place(s, xa), Place(s, xb)) << "raised to the top";
  EXPECT_GT(Place(s, xa), Place(s, xc));

  auto skips_taskbar = [&](Window x) {
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    bool found = false;
    const Atom skip = XInternAtom(dpy, "_NET_WM_STATE_SKIP_TASKBAR", False);
    if (XGetWindowProperty(dpy, x, XInternAtom(dpy, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM, &type, &format,
                           &n, &after, &data) == Success && data)
      for (unsigned long i = 0; i < n; i++) found |= reinterpret_cast<unsigned long*>(data)[i] == skip;
    if (data) XFree(data);
    return found;
  };
  EXPECT_TRUE(skips_taskbar(xc));
  EXPECT_FALSE(skips_taskbar(xa));
  PlatWindowDestroy(a);
  PlatWindowDestroy(b);
  PlatWindowDestroy(c);
}
