// Command 103 on the dummy video driver: sub windows opened, titled, moved, shown, hidden and
// closed; every parameter and error, the order the parameters apply in, and the drag maps.
#include <cstring>

#include "common/sjis.h"
#include "core/obj.h"
#include "core/sys.h"
#include "platform/input.h"
#include "platform/menu.h"
#include "script/menu.h"
#include "shell/menu.h"
#include "shell/screen_fixture.h"

namespace {

struct WinCmdTest : ScreenTest {
  void SetUp() override {
    ScreenTest::SetUp();
    StrCopySjis(g_InstanceName, sizeof g_InstanceName, "c:\\game\\zephra");
  }
  void TearDown() override {
    g_InstanceName[0] = '\0';
    ScreenTest::TearDown();
  }
  static i32 Run(CmdArgRecord a) { return CmdWindowSetBody(&a); }
  static CmdArgRecord With(CmdArgRecord a, i32 p, const char* s) {
    a.given[p] = 1;
    a.str[p] = s;
    return a;
  }
  static bool Raised(const char* text) { return g_ErrLastText.find(text) != std::string::npos; }
};

}  // namespace

TEST_F(WinCmdTest, SubWindowOpenedTitledMovedShownHiddenAndClosed) {
  WindowObject* w = g_WindowObjects[2];
  const i32 windows = PlatWindowCount();
  ASSERT_EQ(Run(With(Args({{0, 2}}), 1, "Sub")), 0);
  EXPECT_EQ(g_WindowOpen[2].load(), 1);
  ASSERT_NE(w->handle, nullptr);
  EXPECT_EQ(PlatWindowCount(), windows + 1);
  EXPECT_STREQ(w->title, "Sub");
  EXPECT_EQ(w->width, 128);
  EXPECT_EQ(w->height, 128);
  EXPECT_EQ(w->x, 0);
  EXPECT_EQ(w->y, 0);
  EXPECT_EQ(w->close_state.load(), WIN_CLOSE_CONFIRM);
  EXPECT_EQ(w->show_after_first_frame, 1);
  EXPECT_FALSE(PlatWindowShown(w->handle)) << "hidden until it is shown";
  char name[300];
  WinSubClassName(2, name, sizeof name);
  EXPECT_STREQ(name, "c:\\game\\zephra_sub_2");
  i32 x, y, cw, ch;
  ASSERT_TRUE(PlatWindowClientRect(w->handle, &x, &y, &cw, &ch));
  EXPECT_EQ(cw, 128);
  EXPECT_EQ(ch, 128);

  ASSERT_EQ(Run(With(Args({{0, 2}}), 1, "")), 0);
  EXPECT_STREQ(w->title, " ") << "an empty title is one blank";
  ASSERT_EQ(Run(Args({{0, 2}, {4, 100}, {5, 50}, {3, 1}})), 0);
  EXPECT_EQ(w->x, 100);
  EXPECT_EQ(w->y, 50);
  ASSERT_TRUE(PlatWindowClientRect(w->handle, &x, &y, &cw, &ch));
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  EXPECT_TRUE(PlatWindowShown(w->handle));
  ASSERT_EQ(Run(Args({{0, 2}, {3, 0}})), 0);
  EXPECT_FALSE(PlatWindowShown(w->handle));

  // Closed with close state 3: the window goes, the program goes on, the object stays.
  ASSERT_EQ(Run(Args({{0, 2}, {18, WIN_CLOSE_ONLY}})), 0);
  ASSERT_TRUE(PlatInjectEvent(w->handle, PLAT_MSG_CLOSE_REQUEST, 0, 0, 0));
  Pump();
  EXPECT_EQ(g_WindowOpen[2].load(), -1);
  EXPECT_EQ(w->handle, nullptr);
  EXPECT_EQ(g_QuitRequested.load(), 0);
  EXPECT_EQ(PlatWindowCount(), windows);
  // And it opens again, at its new size, shown at once.
  ASSERT_EQ(Run(With(Args({{0, 2}, {7, 300}, {8, 200}, {3, 1}}), 1, "Again")), 0);
  EXPECT_EQ(g_WindowOpen[2].load(), 1);
  EXPECT_TRUE(PlatWindowShown(w->handle));
  ASSERT_TRUE(PlatWindowClientRect(w->handle, &x, &y, &cw, &ch));
  EXPECT_EQ(cw, 300);
  EXPECT_EQ(ch, 200);
  EXPECT_EQ(x, 0) << "a new window starts at 0, 0";
}

TEST_F(WinCmdTest, ErrorsLeaveTheWindowsAsTheyWere) {
  struct Case {
    const char* what;
    CmdArgRecord args;
    const char* error;
  } cases[] = {
      {"index out of range", Args({{0, 4}}), "E101000 ||4|0|3"},
      {"a window opened without a title", Args({{0, 1}, {7, 300}}), "E101320 "},
      {"close state 3 of the main window", Args({{18, 3}}), "E101310 ||3"},
      {"close state -1 of the main window", Args({{18, -1}}), "E101310 ||-1"},
      {"behind itself", Args({{6, 3}}), "E101310 ||3"},
      {"a game size of 0", Args({{7, 0}}), "E101000 ||0|1|8192"},
      {"a game size beyond any picture", Args({{0, 1}, {8, 8193}}), "E101000 ||8193|1|8192"},
      {"a layer set that names nothing", With(Args({}), 21, "none"), "E101250 |none"},
      {"a shape layer that names nothing", With(Args({}), 23, "W0/none"), "E101250 |W0/none"},
      {"a drag map that names nothing", With(Args({}), 24, "x"), "E101250 |x"},
  };
  const i32 windows = PlatWindowCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ErrReset();
    g_QuitRequested = 0;
    EXPECT_EQ(CmdWindowSetBody(&c.args), -1);
    EXPECT_TRUE(Raised(c.error)) << g_ErrLastText;
    EXPECT_EQ(g_QuitRequested.load(), 1) << "fatal";
    EXPECT_EQ(main->close_state.load(), WIN_CLOSE_CONFIRM) << "checked before it is stored";
    EXPECT_EQ(main->width, 640);
    EXPECT_EQ(g_WindowOpen[1].load(), -1);
    EXPECT_EQ(g_WindowObjects[1]->width, 0) << "a window that could not open keeps its object";
    EXPECT_EQ(PlatWindowCount(), windows);
  }
  // Sub windows accept close state 3.
  ErrReset();
  g_QuitRequested = 0;
  ASSERT_EQ(Run(With(Args({{0, 1}, {18, 3}}), 1, "S")), 0);
  EXPECT_EQ(g_WindowObjects[1]->close_state.load(), WIN_CLOSE_ONLY);
}

TEST_F(WinCmdTest, ParametersApplyInTheirOrderUpToAnError) {
  // The title (1) comes before the close state (18), the resizability (25) after it.
  EXPECT_EQ(Run(With(Args({{18, 5}, {25, 1}, {16, 0}}), 1, "Before")), -1);
  EXPECT_STREQ(main->title, "Before");
  EXPECT_EQ(main->maximise_acts, 0) << "16 comes before 18";
  EXPECT_EQ(g_WindowResizable, 0);
}

TEST_F(WinCmdTest, GameAndScreenSizesOfTheMainWindow) {
  // On-screen size from one side, the other from the game's aspect, cut to the monitor.
  ASSERT_EQ(Run(Args({{9, 800}})), 0);
  EXPECT_EQ(Size(Client()), "800x600");
  EXPECT_EQ(Size(g_OutputSize.load()), "800x600");
  EXPECT_EQ(main->width, 640) << "the game size stays";
  ASSERT_EQ(Run(Args({{10, 2000}})), 0);
  EXPECT_EQ(Size(Client()), "1024x768");
  ASSERT_EQ(Run(Args({{10, 300}})), 0);
  EXPECT_EQ(Size(Client()), "400x300");
  Pump();
  EXPECT_EQ(Size(Client()), "400x300") << "the size reports change nothing";

  // The game size: stored, and the client area takes it.
  ASSERT_EQ(Run(Args({{7, 800}, {8, 450}})), 0);
  EXPECT_EQ(main->width, 800);
  EXPECT_EQ(main->height, 450);
  EXPECT_EQ(main->client.right, 800);
  EXPECT_EQ(Size(Client()), "800x450");
  EXPECT_EQ(Size(g_DisplaySize.load()), "800x450");
  EXPECT_EQ(Size(g_OutputSize.load()), "800x450");

  // Ignored while maximised or fullscreen.
  g_Maximised = 1;
  ASSERT_EQ(Run(Args({{7, 320}, {9, 320}})), 0);
  EXPECT_EQ(main->width, 800);
  g_Maximised = 0;
  g_Fullscreen = 1;
  ASSERT_EQ(Run(Args({{8, 240}, {10, 240}})), 0);
  EXPECT_EQ(main->height, 450);
  g_Fullscreen = 0;
  EXPECT_EQ(Size(Client()), "800x450");
}

TEST_F(WinCmdTest, LayerSetsBecomeTheWindowsPicture) {
  ObjNode* old_root = main->root_layer;
  ObjNode* set = TestFolder("set1", 640, 480, 0, 0);
  ASSERT_NE(set, nullptr);
  LayerOf(set)->needs_compose = 0;
  ASSERT_EQ(Run(With(Args({}), 21, "set1")), 0);
  EXPECT_EQ(main->root_layer, set);
  EXPECT_EQ(LayerOf(set)->is_window_root, 1);
  EXPECT_EQ(LayerOf(old_root)->is_window_root, 0);
  EXPECT_EQ(LayerOf(set)->needs_compose, 1) << "shown whole";

  // A layer set of 0 x 0 ends the program after the box.
  ObjNode* empty = TestFolder("set0", 0, 0, 0, 0);
  ASSERT_NE(empty, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run(With(Args({}), 21, "set0")), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("サイズが 0x0 のレイヤセット"), std::string::npos) << err;
  EXPECT_EQ(main->root_layer, nullptr);
  EXPECT_EQ(LayerOf(set)->is_window_root, 0);
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

TEST_F(WinCmdTest, DragMapFollowsItsLayersPictureAndPlace) {
  // Left half coloured, right half black, at 10, 20 in a folder at 100, 0.
  ASSERT_NE(TestFolder("W0/f", 200, 200, 100, 0), nullptr);
  ObjNode* node = TestPicture("W0/f/drag", 8, 4, 10, 20);
  ASSERT_NE(node, nullptr);
  LayerRecord* r = LayerOf(node);
  for (i32 y = 0; y < 4; y++)
    for (i32 x = 0; x < 4; x++) r->pixels[(y * 8 + x) * 4 + (x % 3)] = 1;  // one byte of B, G or R
  EXPECT_EQ(WinDragMapHit(main, 111, 21), 0) << "no drag map yet";
  ASSERT_EQ(Run(With(Args({}), 24, "W0/f/drag")), 0);
  struct Probe {
    i32 x, y, hit;
  } probes[] = {{110, 20, 1}, {113, 23, 1}, {114, 20, 0}, {109, 20, 0}, {110, 24, 0}, {117, 23, 0}, {10, 20, 0}};
  for (const Probe& p : probes) EXPECT_EQ(WinDragMapHit(main, p.x, p.y), p.hit) << p.x << "," << p.y;
  EXPECT_EQ(WinDragMapHit(g_WindowObjects[1], 110, 20), 0) << "the map belongs to its window";

  // Moved: the frame renews the copy.
  r->x = 50;
  EXPECT_EQ(WinDragMapHit(main, 150, 20), 0) << "until the next frame";
  WinDragMapRefresh();
  EXPECT_EQ(WinDragMapHit(main, 150, 20), 1);
  EXPECT_EQ(WinDragMapHit(main, 110, 20), 0);
  // A new picture (every picture operation makes a new buffer): all black now.
  u8* fresh = ImageAllocPixels(nullptr, 8, 4, nullptr);
  std::memset(fresh, 0, ImagePixelBytes(8, 4));
  std::free(r->pixels);
  r->pixels = fresh;
  WinDragMapRefresh();
  EXPECT_EQ(WinDragMapHit(main, 150, 20), 0);
  r->pixels[0] = 9;
  r->x = 10;
  WinDragMapRefresh();
  EXPECT_EQ(WinDragMapHit(main, 110, 20), 1);
  // Released: no map.
  LayerRelease(node);
  EXPECT_EQ(WinDragMapHit(main, 110, 20), 0);
  WinDragMapRefresh();
  EXPECT_EQ(WinDragMapHit(main, 110, 20), 0);
}

TEST_F(WinCmdTest, ShapesMenusTitlesAndTheirLimits) {
  ObjNode* shape = TestPicture("W0/shape", 16, 16, 0, 0);
  ASSERT_NE(shape, nullptr);
  TestFillSolid(LayerOf(shape), 0xFF102030u);
  // The dummy driver cannot shape windows: the command says so with 1.
  EXPECT_EQ(Run(With(Args({}), 23, "W0/shape")), 1);
  ASSERT_NE(g_ShapeBitmap.pixels, nullptr);
  EXPECT_EQ(g_ShapeBitmap.width, 16);

  ObjNode* menu = ObjCreateNode(g_MenuRoot, "MAINMENU", OBJ_FOLDER, 1);
  ASSERT_NE(MenuItemNew(menu, "M"), nullptr);
  ASSERT_NE(MenuItemNew(ObjCreateNode(g_MenuRoot, "MAINMENU/open", OBJ_ITEM, 1), "Open"), nullptr);
  ASSERT_EQ(Run(With(Args({}), 22, "MAINMENU")), 0);
  EXPECT_STREQ(main->menu_name, "MAINMENU");
  EXPECT_NE(PlatWindowMenuBar(main->handle), 0u) << "the menu is the window's bar";
  // Long names are cut at a whole Shift-JIS character: 200 two-byte characters. No such menu:
  // the menu's error, the names kept all the same.
  std::string wide;
  for (int i = 0; i < 200; i++) wide += "\x82\xa0";
  EXPECT_EQ(Run(With(With(Args({}), 22, wide.c_str()), 1, wide.c_str())), -1);
  g_QuitRequested = 0;
  EXPECT_EQ(std::strlen(main->menu_name), 254u);
  EXPECT_EQ(std::strlen(main->title), 262u);
  ASSERT_EQ(Run(With(Args({}), 22, "")), 0);
  EXPECT_STREQ(main->menu_name, "");
  EXPECT_EQ(PlatWindowMenuBar(main->handle), 0u);
  WinMenuShutdown();
}

TEST_F(WinCmdTest, StylesOpacityAndWindowOptions) {
  // The maximise box goes and comes back.
  ASSERT_EQ(Run(Args({{12, 0}})), 0);
  EXPECT_EQ(WinGetStyle(main) & WIN_WS_MAXIMIZEBOX, 0u);
  ASSERT_EQ(Run(Args({{12, 1}})), 0);
  EXPECT_NE(WinGetStyle(main) & WIN_WS_MAXIMIZEBOX, 0u);
  // Topmost on and off; the front.
  ASSERT_EQ(Run(Args({{6, 1}, {11, 1}})), 0);
  EXPECT_NE(PlatWindowFlags(main->handle) & PLAT_WINDOW_TOPMOST, 0u);
  ASSERT_EQ(Run(Args({{6, 2}})), 0);
  EXPECT_EQ(PlatWindowFlags(main->handle) & PLAT_WINDOW_TOPMOST, 0u);
  // Option bytes.
  ASSERT_EQ(Run(Args({{16, 0}, {17, 0}, {18, 2}})), 0);
  EXPECT_EQ(main->maximise_acts, 0);
  EXPECT_EQ(main->minimise_allowed, 0);
  EXPECT_EQ(main->close_state.load(), WIN_CLOSE_QUIT);
  // Opacity is applied once the window is to be translucent; this driver cannot.
  testing::internal::CaptureStderr();
  ASSERT_EQ(Run(Args({{2, 256}})), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "an opaque window needs nothing";
  testing::internal::CaptureStderr();
  ASSERT_EQ(Run(Args({{2, 128}})), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SetLayeredWindowAttributes Error."), std::string::npos);
  EXPECT_EQ(main->opacity, 128);

  // Resizability: the thick frame and a size restore for the new frame.
  ASSERT_EQ(Run(Args({{25, 1}})), 0);
  EXPECT_EQ(g_WindowResizable, 1);
  EXPECT_NE(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);
  EXPECT_EQ(g_RestoreSizePending, 1);
  g_RestoreSizePending = 0;
  ASSERT_EQ(Run(Args({{25, 1}})), 0);
  EXPECT_EQ(g_RestoreSizePending, 0) << "no change, nothing to do";
  ASSERT_EQ(Run(Args({{25, 0}})), 0);
  EXPECT_EQ(WinGetStyle(main) & WIN_WS_THICKFRAME, 0u);
}

TEST_F(WinCmdTest, FullscreenMinimiseAndMaximiseOfTheCommand) {
  g_FitMode = WIN_FIT_INSIDE;
  LayerRecord* root = LayerOf(main->root_layer);
  root->needs_compose = 0;
  ASSERT_EQ(Run(Args({{13, 1}})), 0);
  EXPECT_EQ(g_Fullscreen.load(), 1);
  EXPECT_EQ(root->needs_compose, 1) << "switched: shown whole";
  root->needs_compose = 0;
  ASSERT_EQ(Run(Args({{13, 1}})), 0);
  EXPECT_EQ(root->needs_compose, 0) << "nothing switched";
  ASSERT_EQ(Run(Args({{13, 0}})), 0);
  EXPECT_EQ(g_Fullscreen.load(), 0);
  ASSERT_EQ(Run(With(Args({{0, 1}, {13, 1}}), 1, "S")), 0);
  EXPECT_EQ(g_Fullscreen.load(), 0) << "the main window's alone";

  // The command's own minimise is neither reported nor refused.
  main->minimise_allowed = 0;
  g_MinimiseRequested = 0;
  ASSERT_EQ(Run(Args({{14, 1}})), 0);
  EXPECT_FALSE(PlatWindowShown(main->handle));
  ASSERT_TRUE(PlatInjectEvent(main->handle, PLAT_MSG_MINIMIZE, 0, 0, 0));  // as the system reports it
  Pump();
  EXPECT_EQ(g_MinimiseRequested.load(), 0u);
  EXPECT_EQ(WinIsIconic(main), 1);
  g_Maximised = 1;
  g_RestoreSizePending = 1;
  g_FullscreenModeChange = 1;
  ASSERT_EQ(Run(Args({{14, 0}})), 0);
  EXPECT_TRUE(PlatWindowShown(main->handle));
  EXPECT_EQ(g_Maximised.load(), 0);
  EXPECT_EQ(g_RestoreSizePending, 0);
  EXPECT_EQ(g_D3dResetRequest.load(), 1);

  // The maximise toggle of a maximised window restores it and redraws.
  g_Maximised = 1;
  g_RedrawCountdown = 0;
  ASSERT_EQ(Run(Args({{15, 1}})), 0);
  EXPECT_EQ(g_RedrawCountdown.load(), 1);
}

// Without video no window can be made: the command fails and the object stays as it was.
TEST(WinCmdNoVideo, AWindowThatCannotBeMadeLeavesNothingBehind) {
  ASSERT_FALSE(PlatVideoReady());
  ASSERT_EQ(WinObjsCreate(), 0);
  CmdArgRecord a = Args({{0, 1}, {7, 300}, {4, 9}});
  a.given[1] = 1;
  a.str[1] = "Sub";
  EXPECT_EQ(CmdWindowSetBody(&a), -1);
  WindowObject* w = g_WindowObjects[1];
  EXPECT_EQ(g_WindowOpen[1].load(), -1);
  EXPECT_EQ(w->handle, nullptr);
  EXPECT_EQ(w->width, 0);
  EXPECT_EQ(w->x, 0);
  EXPECT_STREQ(w->title, "");
  WinReset();
}
