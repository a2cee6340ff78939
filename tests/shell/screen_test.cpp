// Screen modes on the dummy video driver (one 1024 x 768 monitor with one 24-bit mode): output
// sizes by fit mode, the display-mode picker, the sizing arithmetic, the size handlers, the
// switches to fullscreen and back (and the ones that fail), and command 91.
#include <thread>

#include "platform/menu.h"
#include "script/menu.h"
#include "shell/menu.h"
#include "shell/screen_fixture.h"

// ---- Output sizes ------------------------------------------------------------------------------

TEST(ScreenOutput, EachFitModeAtTheExampleAndOddSizes) {
  struct Case {
    i32 fit;
    bool maximised;
    i32 gw, gh, dw, dh, mw, mh;
    const char* out;
    u8 kind;
  } cases[] = {
      // A 1280 x 720 game on a 1920 x 1200 monitor.
      {1, false, 1280, 720, 1920, 1200, 1920, 1200, "1920x1080", WIN_SCALE_TO_WIDTH},
      {2, false, 1280, 720, 1920, 1200, 1920, 1200, "2133x1200", WIN_SCALE_TO_HEIGHT},  // not clamped
      {3, false, 1280, 720, 1920, 1200, 1920, 1200, "1920x1200", WIN_SCALE_STRETCH},
      {0, false, 1280, 720, 1920, 1200, 1920, 1200, "1280x720", WIN_SCALE_NATIVE},
      // Odd sizes: 641 x 479 on 1366 x 768 fits the height, fills the width.
      {1, false, 641, 479, 1366, 768, 1366, 768, "1027x768", WIN_SCALE_TO_HEIGHT},
      {2, false, 641, 479, 1366, 768, 1366, 768, "1366x1020", WIN_SCALE_TO_WIDTH},
      {3, false, 641, 479, 1366, 768, 1366, 768, "1366x768", WIN_SCALE_STRETCH},
      // A portrait game.
      {1, false, 333, 777, 1001, 555, 1920, 1080, "237x555", WIN_SCALE_TO_HEIGHT},
      {2, false, 333, 777, 1001, 555, 1920, 1080, "1001x2335", WIN_SCALE_TO_WIDTH},
      // Equal aspect counts as fitting the height.
      {1, false, 640, 480, 1024, 768, 1024, 768, "1024x768", WIN_SCALE_TO_HEIGHT},
      // Native and stretched outputs larger than the monitor are cut to it, side by side.
      {0, false, 2000, 1000, 1920, 1200, 1920, 1200, "1920x1000", WIN_SCALE_NATIVE},
      {3, false, 640, 480, 3000, 900, 1920, 1200, "1920x900", WIN_SCALE_STRETCH},
      // A maximised window fits inside whatever the fit mode.
      {0, true, 640, 480, 1000, 1000, 1920, 1200, "1000x750", WIN_SCALE_TO_WIDTH},
      // A game without a height or width never divides by zero.
      {1, false, 640, 0, 800, 600, 1920, 1200, "800x0", WIN_SCALE_TO_WIDTH},
      {2, false, 640, 0, 800, 600, 1920, 1200, "384000x600", WIN_SCALE_TO_HEIGHT},
      {1, false, 0, 480, 800, 600, 1920, 1200, "0x600", WIN_SCALE_TO_HEIGHT},
  };
  for (const Case& c : cases) {
    u8 kind = 99;
    SizeI32 out = WinComputeOutputSize(c.fit, c.maximised, c.gw, c.gh, c.dw, c.dh, {c.mw, c.mh}, &kind);
    EXPECT_EQ(Size(out), c.out) << c.fit << " " << c.gw << "x" << c.gh << " on " << c.dw << "x" << c.dh;
    EXPECT_EQ(kind, c.kind) << c.fit << " " << c.gw << "x" << c.gh;
  }
}

TEST_F(ScreenTest, OutputSizeChangeRenewsTheBufferAndTooWideEndsTheGame) {
  g_MonitorSize = SizeI32{1920, 1200};
  g_FitMode = WIN_FIT_INSIDE;
  ASSERT_EQ(WinUpdateOutputSize(1280, 720, 1920, 1200), 0);
  EXPECT_EQ(Size(g_OutputSize.load()), "1920x1080");
  EXPECT_EQ(g_ScaleKind.load(), WIN_SCALE_TO_WIDTH);
  EXPECT_EQ(g_ScaledFrameBufferSize, u64{1920} * 4 * 1080 + 1920 * 4 + 4);
  // Fill mode is not cut to the monitor, and an output wider than 8192 has no buffer.
  g_FitMode = WIN_FIT_FILL;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WinUpdateOutputSize(1000, 100, 1000, 900), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Size(g_OutputSize.load()), "9000x900");
  EXPECT_EQ(g_ScaledFrameBuffer, nullptr);
  EXPECT_EQ(g_ScaledFrameBufferSize, 0u);
  EXPECT_NE(err.find(PlatSjisToUtf8(PlatUtf8ToSjis("ＣＧサイズが大きすぎます。X=9000, Y=900"))), std::string::npos)
      << err;
  EXPECT_EQ(g_QuitRequested.load(), 1) << "error 100010 is fatal";
}

// ---- Display modes -----------------------------------------------------------------------------

TEST(ScreenModes, SmallestModeOfTheMonitorsAspectThatHoldsTheGameInItsDepth) {
  // A 16:10 monitor's list, largest first as systems list them, with 16:9, 4:3 and 5:4 modes
  // and modes in other depths between them.
  const std::vector<PlatDisplayMode> modes = {
      {2560, 1600, 32, 60}, {1920, 1200, 32, 60}, {1920, 1080, 32, 60}, {1680, 1050, 32, 60},
      {1680, 1050, 32, 75}, {1600, 1200, 32, 60}, {1440, 900, 24, 60},  {1280, 1024, 32, 60},
      {1280, 800, 16, 60},  {1280, 720, 32, 60},  {1024, 768, 32, 60},  {640, 400, 32, 60},
  };
  const SizeI32 monitor = {1920, 1200};
  struct Case {
    SizeI32 game;
    i32 bits;
    i32 want;  // index into modes, -1 none
  } cases[] = {
      {{1280, 720}, 32, 6},                           // 1440 x 900 (a 24-bit mode counts as 32); 1280 x 800 is 16-bit
      {{1280, 720}, 16, 8},                           // in 16 bits: 1280 x 800
      {{640, 480}, 32, 6},                            // 640 x 400 is too low
      {{600, 400}, 32, 11},                           // exactly the game's height
      {{1680, 1050}, 32, 3},                          // the first of two equal sizes
      {{1700, 1050}, 32, 1},                          // wider than 1680: 1920 x 1200
      {{2560, 1600}, 32, 0}, {{2561, 1600}, 32, -1},  // nothing holds it
      {{1280, 720}, 8, -1},                           // no mode in that depth
  };
  for (const Case& c : cases)
    EXPECT_EQ(WinPickDisplayMode(modes, monitor, c.game, c.bits), c.want) << Size(c.game) << " " << c.bits;
  EXPECT_EQ(WinPickDisplayMode(modes, {1920, 0}, {640, 480}, 32), -1) << "a monitor without a height";
}

// ---- Sizing ----------------------------------------------------------------------------------

TEST_F(ScreenTest, SizingArithmeticForEachEdgeAndCorner) {
  const i32 ex = 16, ey = 39;  // what a frame adds
  // 800 x 500 of client on a 4:3 game: dw = 667 - 800 = -133, dh = 600 - 500 = 100.
  const WinRect wide = {100, 50, 100 + 800 + ex, 50 + 500 + ey};
  // 650 x 600: dw = 800 - 650 = 150, dh = 488 - 600 = -112.
  const WinRect high = {100, 50, 100 + 650 + ex, 50 + 600 + ey};
  struct Case {
    WinRect from;
    i32 edge;
    WinRect want;
  } cases[] = {
      {wide, WIN_EDGE_LEFT, {100, 50, 916, 689}},         {wide, WIN_EDGE_RIGHT, {100, 50, 916, 689}},
      {wide, WIN_EDGE_TOP, {100, 50, 783, 589}},          {wide, WIN_EDGE_BOTTOM, {100, 50, 783, 589}},
      {wide, WIN_EDGE_TOP_LEFT, {100, -50, 916, 589}},  // dw < 1: the top follows
      {wide, WIN_EDGE_TOP_RIGHT, {100, -50, 916, 589}},   {wide, WIN_EDGE_BOTTOM_LEFT, {100, 50, 916, 689}},
      {wide, WIN_EDGE_BOTTOM_RIGHT, {100, 50, 916, 689}},  // the width grew: the height follows
      {high, WIN_EDGE_LEFT, {100, 50, 766, 577}},         {high, WIN_EDGE_BOTTOM, {100, 50, 916, 689}},
      {high, WIN_EDGE_TOP_LEFT, {-50, 50, 766, 689}},  // dw >= 1: the side edge follows
      {high, WIN_EDGE_TOP_RIGHT, {100, 50, 916, 689}},    {high, WIN_EDGE_BOTTOM_LEFT, {-50, 50, 766, 689}},
      {high, WIN_EDGE_BOTTOM_RIGHT, {100, 50, 916, 689}},
  };
  for (const Case& c : cases) {
    WinRect r = WinOnSizing(main, c.edge, c.from, ex, ey);
    EXPECT_EQ(r.left, c.want.left) << c.edge;
    EXPECT_EQ(r.top, c.want.top) << c.edge;
    EXPECT_EQ(r.right, c.want.right) << c.edge;
    EXPECT_EQ(r.bottom, c.want.bottom) << c.edge;
  }
  // Every corrected client area has the game's aspect (to the rounding).
  WinRect r = WinOnSizing(main, WIN_EDGE_BOTTOM_RIGHT, wide, ex, ey);
  EXPECT_EQ((r.right - r.left - ex) * 3, (r.bottom - r.top - ey) * 4);
  // A game without a height is square; sub windows are not corrected.
  main->height = 0;
  r = WinOnSizing(main, WIN_EDGE_RIGHT, {0, 0, 300, 200}, 0, 0);
  EXPECT_EQ(r.bottom, 300);
  r = WinOnSizing(g_WindowObjects[1], WIN_EDGE_RIGHT, {0, 0, 300, 200}, 0, 0);
  EXPECT_EQ(r.bottom, 200);
}

TEST_F(ScreenTest, ReportedSizeKeepsTheAspectAndTheMonitor) {
  struct Case {
    i32 w, h;
    const char* client;  // what the window is given and what display and output become
  } cases[] = {
      {800, 500, "800x600"},   // the width was dragged: the height follows
      {800, 700, "933x700"},   // a corner where the height leads: the width follows
      {800, 900, "1024x768"},  // 1200 x 900, cut to the 1024 x 768 monitor
      {640, 900, "1024x768"},  // only the height changed: the width follows, then the monitor cuts
      {2000, 2000, "1024x768"},
  };
  for (const Case& c : cases) {
    g_DisplaySize = SizeI32{640, 480};
    PlatWindowSetClientSize(main->handle, c.w, c.h);
    WinOnReportedSize(main, c.w, c.h);
    EXPECT_EQ(Size(Client()), c.client) << c.w << "x" << c.h;
    EXPECT_EQ(Size(g_DisplaySize.load()), c.client);
    EXPECT_EQ(Size(g_OutputSize.load()), c.client);
    SizeI32 out = g_OutputSize.load();
    EXPECT_GE(g_ScaledFrameBufferSize, u64(out.width) * 4 * out.height + out.width * 4 + 4);
    Pump();  // the size reports of the correction change nothing more
    EXPECT_EQ(Size(g_OutputSize.load()), c.client);
  }
  // A minimised window's empty client area changes nothing.
  WinOnSize(main, 0, 0);
  EXPECT_EQ(Size(g_OutputSize.load()), "1024x768");
}

TEST_F(ScreenTest, TrackingLimitsKeepTheAspectInsideTheMonitor) {
  struct Case {
    i32 gw, gh, mw, mh;
    const char* min;
    const char* max;
  } cases[] = {
      {640, 480, 1920, 1080, "160x120", "1440x1080"},
      {600, 800, 1920, 1080, "113x150", "608x810"},  // the smaller of the largest client's sides
      {1280, 720, 1280, 1024, "320x180", "1280x720"},
  };
  for (const Case& c : cases) {
    main->width = c.gw;
    main->height = c.gh;
    g_MonitorSize = SizeI32{c.mw, c.mh};
    WinMinMax m;
    ASSERT_TRUE(WinOnGetMinMaxInfo(main, &m));
    EXPECT_EQ(Size(m.min_track), c.min) << c.gw << "x" << c.gh;
    EXPECT_EQ(Size(m.max_track), c.max) << c.gw << "x" << c.gh;
    EXPECT_EQ(g_ScaledFrameBufferSize, ImagePixelBytes(m.max_track.width, m.max_track.height));
  }
  WinMinMax m;
  g_Maximised = 1;
  EXPECT_FALSE(WinOnGetMinMaxInfo(main, &m)) << "not while maximised";
  g_Maximised = 0;
  g_OutputSize = SizeI32{0, 0};
  EXPECT_FALSE(WinOnGetMinMaxInfo(main, &m)) << "not before the output size is known";
  EXPECT_FALSE(WinOnGetMinMaxInfo(g_WindowObjects[1], &m)) << "main window only";
}

TEST_F(ScreenTest, MaximiseAndRestoreBringBackTheWindowedSizes) {
  g_DisplaySize = SizeI32{640, 480};
  g_OutputSize = SizeI32{640, 480};
  g_Maximised = 1;
  WinRememberWindowedSizes();
  // While maximised a new client size is the display, the picture fitted inside it.
  PlatWindowSetClientSize(main->handle, 1000, 700);
  WinOnWindowPosChanged(main);
  EXPECT_EQ(Size(g_DisplaySize.load()), "1000x700");
  EXPECT_EQ(Size(g_OutputSize.load()), "933x700");
  EXPECT_EQ(g_ScaleKind.load(), WIN_SCALE_TO_HEIGHT);
  // The restore gives the remembered sizes back once.
  g_RestoreSizePending = 1;
  g_GpuDrawing = 1;
  g_FullscreenModeChange = 1;
  WinOnWindowPosChanged(main);
  EXPECT_EQ(g_Maximised.load(), 0);
  EXPECT_EQ(g_RestoreSizePending, 0);
  EXPECT_EQ(Size(g_DisplaySize.load()), "640x480");
  EXPECT_EQ(Size(g_OutputSize.load()), "640x480");
  EXPECT_EQ(g_D3dResetRequest.load(), 1);
  // A restore without a maximise before it keeps the sizes.
  g_OutputSize = SizeI32{800, 600};
  g_RestoreSizePending = 1;
  WinOnWindowPosChanged(main);
  EXPECT_EQ(Size(g_OutputSize.load()), "800x600");
}

// ---- Fullscreen --------------------------------------------------------------------------------

TEST_F(ScreenTest, FullscreenOnTheMonitorAndBackToTheWindow) {
  g_FitMode = WIN_FIT_INSIDE;
  g_FrameBlit = RecordBlit;
  EXPECT_EQ(WinSetFullscreen(1), 1);
  EXPECT_EQ(g_Fullscreen.load(), 1);
  EXPECT_TRUE(PlatWindowIsFullscreen(main->handle));
  EXPECT_EQ(Size(g_DisplaySize.load()), "1024x768");
  EXPECT_EQ(Size(g_OutputSize.load()), "1024x768");
  EXPECT_EQ(WinGetStyle(main) & WIN_WS_POPUP, WIN_WS_POPUP);
  ASSERT_FALSE(g_Blits.empty());
  EXPECT_EQ(g_Blits.back(), "0,0 1024x768") << "the screen starts black";
  Pump();
  EXPECT_EQ(Size(Client()), "1024x768");
  EXPECT_EQ(WinSetFullscreen(1), 0) << "already fullscreen";

  g_Maximised = 1;
  EXPECT_EQ(WinSetFullscreen(0), 1);
  EXPECT_EQ(g_Fullscreen.load(), 0);
  EXPECT_EQ(g_Maximised.load(), 0);
  EXPECT_FALSE(PlatWindowIsFullscreen(main->handle));
  Pump();
  EXPECT_EQ(Size(Client()), "640x480");
  EXPECT_EQ(Size(g_DisplaySize.load()), "640x480");
  EXPECT_EQ(Size(g_OutputSize.load()), "640x480");
  EXPECT_NE(WinGetStyle(main) & WIN_WS_CAPTION, 0u) << "framed again";
  EXPECT_EQ(WinSetFullscreen(0), 0);
}

// A window with a menu: the bar leaves the window for fullscreen (where it shows only at the top
// edge) and comes back with the window; the client area keeps the game's size throughout.
TEST_F(ScreenTest, MenuBarLeavesForFullscreenAndComesBack) {
  ObjNode* menu = ObjCreateNode(g_MenuRoot, "m", OBJ_FOLDER, 1);
  ASSERT_NE(MenuItemNew(menu, "m"), nullptr);
  ASSERT_NE(MenuItemNew(ObjCreateNode(g_MenuRoot, "m/a", OBJ_ITEM, 1), "A"), nullptr);
  WinSetMenuName(main, "m");
  for (int round = 0; round < 2; round++) {
    ASSERT_EQ(WinMenuSet(main->menu_name, main), 0);
    EXPECT_NE(PlatWindowMenuBar(main->handle), 0u);
    Pump();
    EXPECT_EQ(Size(Client()), "640x480") << "the bar is above the client area";
    EXPECT_EQ(WinSetFullscreen(1), 1);
    EXPECT_EQ(PlatWindowMenuBar(main->handle), 0u) << "no bar in the frame of a fullscreen window";
    EXPECT_EQ(g_MenuBarWindowShown.load(), 0) << "the top-edge bar waits for the cursor";
    Pump();
    EXPECT_EQ(Size(Client()), "1024x768");
    EXPECT_EQ(WinSetFullscreen(0), 1);
    EXPECT_NE(PlatWindowMenuBar(main->handle), 0u) << "the bar is back";
    Pump();
    EXPECT_EQ(Size(Client()), "640x480");
  }
  WinMenuShutdown();
  EXPECT_EQ(PlatWindowMenuBar(main->handle), 0u);
}

TEST_F(ScreenTest, FullscreenWithAModeChangeTakesTheMonitorsMode) {
  g_FullscreenModeChange = 1;
  g_FullscreenBitsPerPixel = 32;  // the dummy's 24-bit mode counts as 32
  g_FitMode = WIN_FIT_STRETCH;
  EXPECT_EQ(WinSetFullscreen(1), 1);
  EXPECT_EQ(Size(g_DisplaySize.load()), "1024x768");
  EXPECT_EQ(Size(g_OutputSize.load()), "1024x768");
  EXPECT_EQ(g_ScaleKind.load(), WIN_SCALE_STRETCH);
  EXPECT_EQ(WinSetFullscreen(0), 1);
}

TEST_F(ScreenTest, FailedFullscreenKeepsTheWindowedSizesAndSaysNothingSwitched) {
  struct Case {
    const char* what;
    u8 mode_change;
    i32 bits;
    bool refuse;
    const char* box;  // a box that names the size, or an error
  } cases[] = {
      {"no mode in the wanted depth", 1, 16, false, "1024 x 768"},
      {"the system refuses", 0, 32, true, "E105210"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ErrReset();
    g_QuitRequested = 0;
    g_DisplaySize = SizeI32{640, 480};
    g_OutputSize = SizeI32{640, 480};
    g_FullscreenModeChange = c.mode_change;
    g_FullscreenBitsPerPixel = c.bits;
    g_GpuDrawing = 1;
    g_D3dResetRequest = 0;
    g_FitMode = WIN_FIT_INSIDE;
    if (c.refuse) g_WinFullscreenFn = [](WindowObject*, const PlatDisplayMode*) { return -1; };
    testing::internal::CaptureStderr();
    EXPECT_EQ(WinSetFullscreen(1), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.box), std::string::npos) << err;
    EXPECT_EQ(g_Fullscreen.load(), 0);
    EXPECT_FALSE(PlatWindowIsFullscreen(main->handle));
    EXPECT_EQ(Size(g_DisplaySize.load()), "640x480");
    EXPECT_EQ(Size(g_OutputSize.load()), "640x480");
    EXPECT_GE(g_ScaledFrameBufferSize, ImagePixelBytes(640, 480));
    EXPECT_NE(WinGetStyle(main) & WIN_WS_CAPTION, 0u) << "windowed frame again";
    EXPECT_EQ(g_D3dResetRequest.load(), 0) << "the reset request is taken back";
    EXPECT_EQ(g_QuitRequested.load(), 0) << "not fatal";
    WinScreenReset();
  }
}

// ---- Command 91 ------------------------------------------------------------------------------

TEST_F(ScreenTest, Command91StopsAndRestartsTimersOneByOne) {
  g_ScriptTimers = {{1000, 2000, 3000, 4000}, {1, 1, 1, 1}, {}};
  CmdArgRecord stop = Args({{6, 0}});  // timer 2
  EXPECT_EQ(CmdScreenSetBody(&stop), 0);
  EXPECT_EQ(g_ScriptTimers.running[2], 0);
  EXPECT_EQ(g_ScriptTimers.stopped_at[2], 10000u);
  PlatClockAdvance(500);
  CmdArgRecord restart = Args({{6, 1}});
  EXPECT_EQ(CmdScreenSetBody(&restart), 0);
  const u32 want_start[4] = {1000, 2000, 3500, 4000};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(g_ScriptTimers.start[i], want_start[i]) << i;
    EXPECT_EQ(g_ScriptTimers.running[i], 1) << i;
  }
  // Stopping a stopped timer keeps its stop time; starting a running one changes nothing.
  EXPECT_EQ(CmdScreenSetBody(&stop), 0);
  PlatClockAdvance(100);
  EXPECT_EQ(CmdScreenSetBody(&stop), 0);
  EXPECT_EQ(g_ScriptTimers.stopped_at[2], 10500u);
  CmdArgRecord all = Args({{4, 1}, {5, 0}, {7, 2}});
  EXPECT_EQ(CmdScreenSetBody(&all), 0);
  EXPECT_EQ(g_ScriptTimers.start[0], 1000u);
  EXPECT_EQ(g_ScriptTimers.running[1], 0);
  EXPECT_EQ(g_ScriptTimers.running[3], 1) << "other values do nothing";
}

TEST_F(ScreenTest, Command91ScreenSaverBackgroundAndGameSize) {
  CmdArgRecord saver = Args({{0, 0x101}});
  EXPECT_EQ(CmdScreenSetBody(&saver), 0);
  EXPECT_EQ(g_BlockScreenSaver, 1) << "the low byte";
  EXPECT_EQ(WinOnSysCommand(main, WIN_SC_SCREENSAVE), 1);

  g_RunInBackground = 1;
  main->active = 0;
  CmdArgRecord bg = Args({{1, 0}});
  EXPECT_EQ(CmdScreenSetBody(&bg), 0);
  EXPECT_EQ(g_RunInBackground.load(), 1) << "only while the main window is active";
  main->active = 1;
  EXPECT_EQ(CmdScreenSetBody(&bg), 0);
  EXPECT_EQ(g_RunInBackground.load(), 0);

  // Windowed: the sizes take the game size at once.
  CmdArgRecord size = Args({{2, 800}, {3, 600}});
  EXPECT_EQ(CmdScreenSetBody(&size), 0);
  EXPECT_EQ(main->width, 800);
  EXPECT_EQ(Size(g_DisplaySize.load()), "800x600");
  EXPECT_EQ(Size(g_OutputSize.load()), "800x600");
  EXPECT_EQ(g_ScaledFrameBufferSize, ImagePixelBytes(800, 600));
  CmdArgRecord zero = Args({{2, 0}});
  EXPECT_EQ(CmdScreenSetBody(&zero), 0);
  EXPECT_EQ(main->width, 800) << "both sides at least 1";

  // Fullscreen: the output follows the fit mode and the screen is painted black.
  g_FitMode = WIN_FIT_INSIDE;
  ASSERT_EQ(WinSetFullscreen(1), 1);
  g_FrameBlit = RecordBlit;
  CmdArgRecord wide = Args({{2, 1024}, {3, 576}});
  EXPECT_EQ(CmdScreenSetBody(&wide), 0);
  EXPECT_EQ(Size(g_OutputSize.load()), "1024x576");
  EXPECT_EQ(Size(g_DisplaySize.load()), "1024x768");
  ASSERT_EQ(g_Blits.size(), 1u);
  EXPECT_EQ(g_Blits[0], "0,0 1024x768");
}

TEST_F(ScreenTest, Command91RefusesAGameWiderThanAnyPicture) {
  CmdArgRecord size = Args({{2, 9000}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(CmdScreenSetBody(&size), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(main->width, 640);
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

// The body of a command run from another thread runs on the main thread, while the caller waits.
TEST_F(ScreenTest, CommandBodyRunsOnTheMainThread) {
  static std::atomic<bool> on_main{false};
  on_main = false;
  CmdArgRecord a = Args({{6, 0}});
  std::atomic<i32> result{99};
  std::thread t([&] {
    result = CmdRunOnMain(
        [](const CmdArgRecord* args) {
          on_main = PlatIsMainThread();
          return CmdScreenSetBody(args);
        },
        &a);
  });
  while (result == 99) {
    Pump();
    std::this_thread::yield();
  }
  t.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_TRUE(on_main.load());
  EXPECT_EQ(g_ScriptTimers.running[2], 0);
}
