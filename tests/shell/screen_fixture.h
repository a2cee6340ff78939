// The fixture of the screen-mode and window-command tests: a 640 x 480 main window on the dummy
// video driver (one 1024 x 768 monitor with one 24-bit mode), its layer root, a fixed clock, and
// project error texts that show each error's code and arguments.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layer/compose_fixture.h"
#include "platform/video.h"
#include "script/cmdargs.h"
#include "shell/frame.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "shell/wincmd.h"

namespace screen_test {

inline std::vector<std::string> g_Blits;  // "x,y wxh" of each blit

inline void RecordBlit(WindowObject*, const u8*, i32, i32, i32 dx, i32 dy, i32 dw, i32 dh, i32, i32, i32, i32) {
  g_Blits.push_back(std::to_string(dx) + "," + std::to_string(dy) + " " + std::to_string(dw) + "x" +
                    std::to_string(dh));
}

// Project texts that show an error's code and arguments.
inline const char* const kTexts[][2] = {
    {"101000", "E101000 %s|%s|%d|%d|%d"},
    {"101250", "E101250 %s|%s"},
    {"101310", "E101310 %s|%s|%d"},
    {"101320", "E101320 %s"},
    {"105210", "E105210"},
};

struct ScreenTest : ::testing::Test {
  WindowObject* main = nullptr;

  void SetUp() override {
    ResetAll();
    ASSERT_EQ(PlatVideoInit(), 0);
    PlatClockSetFixed(true, 10000);
    LutBuildTables();
    BlendInitCpuKernels();
    BlendInitTables();
    ASSERT_EQ(WinObjsCreate(), 0);
    main = g_WindowObjects[0];
    main->width = 640;
    main->height = 480;
    WinObjSetupScreen(main, "Game");
    g_WindowOpen[0] = 1;
    ASSERT_EQ(WinCreate(main, "class", main->title), 1);
    ASSERT_EQ(SysCreateRoots(), 0);
    g_DisplaySize = SizeI32{640, 480};
    g_OutputSize = SizeI32{640, 480};
    ASSERT_EQ(WinScaledBufferAlloc(640, 480), 0);
    EXPECT_EQ(WinGetMonitor(main), 0);
    Pump();
    g_UserErrCount = static_cast<i32>(ZP_COUNTOF(kTexts));
    for (size_t i = 0; i < ZP_COUNTOF(kTexts); i++) {
      g_UserErrCodes[i] = static_cast<u32>(std::stoul(kTexts[i][0]));
      g_UserErrTexts[i] = kTexts[i][1];
    }
  }
  void TearDown() override {
    ResetAll();
    PlatVideoQuit();
    PlatClockSetFixed(false);
  }
  static void ResetAll() {
    SysResetAll();
    g_FitMode = 0;
    g_FullscreenModeChange = 0;
    g_WindowResizable = 0;
    g_GpuDrawing = g_D3dInUse = 0;
    g_MonitorSize = SizeI32{0, 0};
    g_Blits.clear();
  }
  static void Pump() { WinDispatchMessages(); }
  SizeI32 Client() {
    i32 x, y, w, h;
    EXPECT_TRUE(PlatWindowClientRect(main->handle, &x, &y, &w, &h));
    return {w, h};
  }
};

inline CmdArgRecord Args(std::initializer_list<std::pair<i32, i64>> values) {
  CmdArgRecord a{};
  for (auto [p, v] : values) {
    a.given[p] = 1;
    a.value[p] = v;
  }
  return a;
}

inline std::string Size(SizeI32 s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

}  // namespace screen_test
using namespace screen_test;
