// Fullscreen and back on a real display server, seen from outside: the integration tests run
// this under Xvfb (1280 x 1024) with ZEPHRA_X11_TESTS=1, and it takes screenshots of the whole
// screen with xwd. The picture must stand 1:1 in the window, centred and scaled in fullscreen,
// and 1:1 again after the return. With ZEPHRA_SCREENSHOT_DIR set, the shots are kept as PNGs.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "layer/compose_fixture.h"
#include "platform/video.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "support/xwd_shot.h"

namespace {

struct ScreenX11 : ::testing::Test {
  WindowObject* main = nullptr;
  std::string shots;

  void SetUp() override {
    if (PlatGetEnv("ZEPHRA_X11_TESTS") != "1") GTEST_SKIP() << "needs a display (run by the integration tests)";
    shots = PlatGetEnv("ZEPHRA_SCREENSHOT_DIR");
    ASSERT_EQ(PlatVideoInit(), 0);
    LutBuildTables();
    BlendInitCpuKernels();
    BlendInitTables();
    ASSERT_EQ(WinObjsCreate(), 0);
    main = g_WindowObjects[0];
    main->width = 320;
    main->height = 240;
    WinObjSetupScreen(main, "Screen");
    g_WindowOpen[0] = 1;
    ASSERT_EQ(WinCreate(main, "class", main->title), 1);
    ASSERT_EQ(SysCreateRoots(), 0);
    PlatWindowShow(main->handle, true);
    g_DisplaySize = SizeI32{320, 240};
    g_OutputSize = SizeI32{320, 240};
    ASSERT_EQ(WinScaledBufferAlloc(320, 240), 0);
    WinGetMonitor(main);
    g_FitMode = WIN_FIT_INSIDE;
    g_CpuScaleFilter = 1;
    // Four quadrants: red, green / blue, white.
    LayerRecord* r = Root();
    for (i32 y = 0; y < 240; y++)
      for (i32 x = 0; x < 320; x++) {
        u32 c = y < 120 ? (x < 160 ? 0xFF0000u : 0x00FF00u) : (x < 160 ? 0x0000FFu : 0xFFFFFFu);
        std::memcpy(r->pixels + (static_cast<size_t>(y) * 320 + x) * 4, &c, 4);
      }
  }
  void TearDown() override {
    SysObjReset();
    WinReset();
    WinScreenReset();
    FramePresentReset();
    g_FitMode = 0;
    PlatVideoQuit();
  }
  static LayerRecord* Root() { return LayerOf(g_WindowObjects[0]->root_layer); }

  // Pumps until the window's client area has this size (at most 5 s of the display server).
  bool WaitForClient(i32 width, i32 height, i32* x, i32* y) {
    for (i32 i = 0; i < 500; i++) {
      WinDispatchMessages();
      i32 cw, ch;
      if (PlatWindowClientRect(main->handle, x, y, &cw, &ch) && cw == width && ch == height && i >= 20) return true;
      PlatSleepMs(10);
    }
    return false;
  }
  void Present() {
    LayerRecord* r = Root();
    r->update_left = 0, r->update_top = 0, r->update_right = r->width - 1, r->update_bottom = r->height - 1;
    FramePresent(main, r);
    WinDispatchMessages();
  }
  Shot Take(const char* name) {
    Shot s;
    std::string file = PlatFolderTemp() + "/zephra-shot-" + std::to_string(PlatTimeMs()) + ".xwd";
    EXPECT_EQ(PlatSpawnWait({"xwd", "-root", "-silent", "-out", file}), 0);
    EXPECT_TRUE(ReadXwd(file, &s)) << file;
    std::remove(file.c_str());
    if (!shots.empty() && s.width > 0) {
      std::string png;
      if (FrameEncodePng(s.px.data(), s.width, s.height, &png) == 0)
        std::ofstream(shots + "/" + name + ".png", std::ios::binary) << png;
    }
    return s;
  }
  // The whole picture stands 1:1 at x, y of the screen.
  void ExpectOneToOne(const Shot& s, i32 x, i32 y) {
    ASSERT_LE(x + 320, s.width);
    ASSERT_LE(y + 240, s.height);
    i32 wrong = 0;
    for (i32 py = 0; py < 240; py++)
      for (i32 px = 0; px < 320; px++) {
        u32 want;
        std::memcpy(&want, Root()->pixels + (static_cast<size_t>(py) * 320 + px) * 4, 4);
        if (s.At(x + px, y + py) != (want & 0xFFFFFFu)) wrong++;
      }
    EXPECT_EQ(wrong, 0);
  }
};

}  // namespace

TEST_F(ScreenX11, FullscreenCentredAndScaledThenBackToOneToOne) {
  i32 x, y;
  ASSERT_TRUE(WaitForClient(320, 240, &x, &y));
  Present();
  ExpectOneToOne(Take("1-windowed"), x, y);

  // Fullscreen on the 1280 x 1024 screen: the 4:3 picture fitted to the width, 1280 x 960,
  // centred with black bands of 32 rows above and below.
  ASSERT_EQ(WinSetFullscreen(1), 1);
  ASSERT_TRUE(WaitForClient(1280, 1024, &x, &y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(g_OutputSize.load().width, 1280);
  EXPECT_EQ(g_OutputSize.load().height, 960);
  Present();
  EXPECT_EQ(g_OutputOffset.load().y, 32);
  Shot full = Take("2-fullscreen");
  ASSERT_EQ(full.width, 1280);
  ASSERT_EQ(full.height, 1024);
  i32 band = 0;
  for (i32 py : {0, 15, 31, 992, 1010, 1023})
    for (i32 px = 0; px < 1280; px += 7) band += full.At(px, py) != 0;
  EXPECT_EQ(band, 0) << "the bands are black";
  struct Probe {
    i32 x, y;
    u32 colour;
  } probes[] = {
      // Away from the quadrant borders and the picture's edges, where the filter blends.
      {10, 40, 0xFF0000},   {600, 40, 0xFF0000}, {320, 272, 0xFF0000}, {680, 40, 0x00FF00},   {1270, 500, 0x00FF00},
      {320, 752, 0x0000FF}, {10, 980, 0x0000FF}, {960, 752, 0xFFFFFF}, {1270, 980, 0xFFFFFF},
  };
  // The filter's 8-bit weights may take a full channel down by one step.
  for (const Probe& p : probes)
    EXPECT_TRUE(Near(full.At(p.x, p.y), p.colour)) << p.x << "," << p.y << ": " << full.At(p.x, p.y);

  // Back in the window: 1:1 again.
  ASSERT_EQ(WinSetFullscreen(0), 1);
  ASSERT_TRUE(WaitForClient(320, 240, &x, &y));
  EXPECT_EQ(g_OutputSize.load().width, 320);
  Present();
  ExpectOneToOne(Take("3-windowed-again"), x, y);
}
