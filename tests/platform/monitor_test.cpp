// Monitors, display modes, window geometry, fullscreen and calls on the main thread, on the dummy
// video driver (one 1024 x 768 monitor at 0, 0 with one 24-bit mode).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "platform/video.h"

namespace {

struct MonitorTest : ::testing::Test {
  PlatWindow* w = nullptr;
  void SetUp() override {
    ASSERT_EQ(PlatVideoInit(), 0);
    PlatWindowDesc d{"m", 40, 30, 320, 240, PLAT_WINDOW_FRAMED | PLAT_WINDOW_SHOWN, nullptr};
    w = PlatWindowCreate(&d);
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override { PlatVideoQuit(); }
  void Rect(i32* x, i32* y, i32* width, i32* height) { ASSERT_TRUE(PlatWindowClientRect(w, x, y, width, height)); }
};

}  // namespace

TEST_F(MonitorTest, MonitorsAndTheirModes) {
  ASSERT_EQ(PlatMonitorCount(), 1);
  PlatMonitor m;
  ASSERT_TRUE(PlatMonitorGet(0, &m));
  EXPECT_EQ(m.width, 1024);
  EXPECT_EQ(m.height, 768);
  EXPECT_EQ(m.bits_per_pixel, 24);
  EXPECT_FALSE(PlatMonitorGet(1, &m));
  EXPECT_FALSE(PlatMonitorGet(-1, &m));
  // Inside, and far outside on every side: the one monitor is the nearest.
  for (auto [x, y] : {std::pair{5, 5}, {-5000, 300}, {3000, 4000}}) EXPECT_EQ(PlatMonitorNearest(x, y), 0);
  PlatDisplayMode mode;
  ASSERT_TRUE(PlatDisplayModeGet(0, 0, &mode));
  EXPECT_EQ(mode.width, 1024);
  EXPECT_FALSE(PlatDisplayModeGet(0, 1, &mode));
  EXPECT_FALSE(PlatDisplayModeGet(2, 0, &mode));
}

TEST_F(MonitorTest, PlaceSizeAndFullscreen) {
  i32 x, y, cw, ch;
  PlatWindowMove(w, 100, 60);
  PlatWindowSetClientSize(w, 400, 300);
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(cw, 400);
  PlatWindowSetSizeLimits(w, 100, 80, 0, 0);
  PlatWindowSetClientSize(w, 50, 50);
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(cw, 100) << "held at the minimum";
  EXPECT_EQ(ch, 80);

  ASSERT_EQ(PlatWindowSetFullscreen(w, nullptr), 0);
  EXPECT_TRUE(PlatWindowIsFullscreen(w));
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(cw, 1024);
  EXPECT_EQ(ch, 768);
  // Size, place and frame asked for while fullscreen wait for the window.
  PlatWindowSetClientSize(w, 200, 100);
  PlatWindowMove(w, 7, 7);
  PlatWindowSetFlags(w, PLAT_WINDOW_RESIZABLE);
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(cw, 1024);
  EXPECT_EQ(x, 0);
  PlatWindowLeaveFullscreen(w);
  EXPECT_FALSE(PlatWindowIsFullscreen(w));
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(x, 100) << "back at its windowed place";
  EXPECT_EQ(PlatWindowFlags(w), u32{PLAT_WINDOW_RESIZABLE});

  // With a display mode: one of the monitor's modes, and no other.
  PlatDisplayMode mode{1024, 768, 24, 0};
  ASSERT_EQ(PlatWindowSetFullscreen(w, &mode), 0);
  PlatWindowLeaveFullscreen(w);
  PlatDisplayMode missing{800, 600, 24, 0};
  EXPECT_EQ(PlatWindowSetFullscreen(w, &missing), -1);
  EXPECT_FALSE(PlatWindowIsFullscreen(w));
}

TEST_F(MonitorTest, GeometryFromOtherThreadsWaitsForThePump) {
  std::thread t([this] {
    PlatWindowMove(w, 11, 12);
    PlatWindowSetClientSize(w, 210, 110);
    PlatWindowRaise(w);
    PlatWindowSetState(w, PLAT_STATE_NORMAL);
    i32 x, y, cw, ch;
    EXPECT_FALSE(PlatWindowClientRect(w, &x, &y, &cw, &ch)) << "main thread only";
    EXPECT_EQ(PlatWindowSetFullscreen(w, nullptr), -1) << "main thread only";
  });
  t.join();
  i32 x, y, cw, ch;
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(cw, 320);
  PlatPollEvents();
  Rect(&x, &y, &cw, &ch);
  EXPECT_EQ(x, 11);
  EXPECT_EQ(y, 12);
  EXPECT_EQ(cw, 210);
  EXPECT_EQ(ch, 110);
}

TEST_F(MonitorTest, CallsOnTheMainThreadRunThereOrNotAtAll) {
  static std::atomic<int> runs{0};
  static std::atomic<bool> on_main{false};
  runs = 0;
  auto fn = [](void* arg) {
    runs++;
    on_main = PlatIsMainThread();
    *static_cast<int*>(arg) += 1;
  };
  int value = 0;
  EXPECT_TRUE(PlatCallOnMain(fn, &value, nullptr)) << "on the main thread: at once";
  EXPECT_EQ(value, 1);

  std::atomic<u8> abort{0};
  std::atomic<int> state{0};  // 1 waiting, 2 returned true, 3 returned false
  std::thread t([&] {
    state = 1;
    state = PlatCallOnMain(fn, &value, &abort) ? 2 : 3;
  });
  while (state != 2) PlatPollEvents();
  t.join();
  EXPECT_EQ(value, 2);
  EXPECT_TRUE(on_main.load());

  // Given up before the main thread came to it: it never runs, even when the pump comes later.
  abort = 1;
  std::thread u([&] { state = PlatCallOnMain(fn, &value, &abort) ? 2 : 3; });
  u.join();
  EXPECT_EQ(state.load(), 3);
  PlatPollEvents();
  EXPECT_EQ(value, 2);
  EXPECT_EQ(runs.load(), 2);
}

TEST(MonitorNoVideo, NothingIsFoundAndCallsRunAtOnce) {
  PlatMonitor m;
  EXPECT_EQ(PlatMonitorCount(), 0);
  EXPECT_FALSE(PlatMonitorGet(0, &m));
  EXPECT_EQ(PlatMonitorNearest(0, 0), -1);
  PlatDisplayMode mode;
  EXPECT_FALSE(PlatDisplayModeGet(0, 0, &mode));
  int value = 0;
  EXPECT_TRUE(PlatCallOnMain([](void* v) { *static_cast<int*>(v) = 5; }, &value, nullptr));
  EXPECT_EQ(value, 5);
  PlatScreenSaverBlock(true);  // harmless
}
