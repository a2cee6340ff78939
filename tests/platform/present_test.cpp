// Presentation into windows: copies and nearest stretches of a picture, pictures handed over
// from another thread without waiting for the main thread, and a destroyed window's picture.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/present.h"
#include "platform/video.h"

namespace {

struct PresentTest : ::testing::Test {
  PlatWindow* w = nullptr;
  void SetUp() override {
    ASSERT_EQ(PlatVideoInit(), 0);
    PlatWindowDesc d{"present", PLAT_WINDOW_CENTERED, PLAT_WINDOW_CENTERED, 16, 12, PLAT_WINDOW_FRAMED, nullptr};
    w = PlatWindowCreate(&d);
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override { PlatVideoQuit(); }

  std::vector<u8> Shown(i32* width, i32* height) {
    std::vector<u8> px;
    EXPECT_TRUE(PlatPresentSnapshot(w, &px, width, height));
    return px;
  }
};

u32 At(const std::vector<u8>& p, i32 w, i32 x, i32 y) {
  u32 v;
  std::memcpy(&v, p.data() + (static_cast<size_t>(y) * w + x) * 4, 4);
  return v;
}

TEST_F(PresentTest, CopiesAndStretchesByNearestNeighbour) {
  const u32 pic[2 * 2 + 2 + 1] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
  const u8* px = reinterpret_cast<const u8*>(pic);
  PlatPresent(w, px, 2, 2, 1, 1, 2, 2, 0, 0, 2, 2);  // 1:1 at (1, 1)
  i32 cw, ch;
  std::vector<u8> shown = Shown(&cw, &ch);
  EXPECT_EQ(At(shown, cw, 1, 1), 0xFF0000FFu);
  EXPECT_EQ(At(shown, cw, 2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(At(shown, cw, 0, 0), 0u);
  PlatPresent(w, px, 2, 2, 0, 0, 8, 6, 0, 0, 2, 2);  // stretched to 8 x 6
  shown = Shown(&cw, &ch);
  for (i32 y = 0; y < 6; y++)
    for (i32 x = 0; x < 8; x++) EXPECT_EQ(At(shown, cw, x, y), pic[(y / 3) * 2 + x / 4]) << x << "," << y;
  // Source pixels outside the picture show black; the client area's edge clips.
  PlatPresent(w, px, 2, 2, -1, 0, 4, 1, 0, 0, 4, 1);
  shown = Shown(&cw, &ch);
  EXPECT_EQ(At(shown, cw, 0, 0), 0xFF00FF00u);
  EXPECT_EQ(At(shown, cw, 1, 0), 0u);
  EXPECT_EQ(At(shown, cw, 2, 0), 0u);
}

TEST_F(PresentTest, OtherThreadsNeverWaitForTheMainThread) {
  std::vector<u8> pic(4 * 4 * 4 + 4 * 4 + 4, 0x5A);
  std::atomic<int> done{0};
  // The main thread does not pump while the presenter runs: every presentation still returns.
  std::thread t([&] {
    for (int i = 0; i < 200; i++) PlatPresent(w, pic.data(), 4, 4, 0, 0, 4, 4, 0, 0, 4, 4);
    done = 1;
  });
  t.join();
  EXPECT_EQ(done, 1);
  i32 cw, ch;
  std::vector<u8> shown = Shown(&cw, &ch);
  EXPECT_EQ(At(shown, cw, 3, 3), 0x5A5A5A5Au);
  PlatPollEvents();  // the main thread puts it on the window
  PlatPresentFlush();
}

TEST_F(PresentTest, ADestroyedWindowForgetsItsPicture) {
  u32 pic[2] = {0xFFFFFFFF, 0};
  PlatPresent(w, reinterpret_cast<const u8*>(pic), 1, 1, 0, 0, 1, 1, 0, 0, 1, 1);
  std::vector<u8> px;
  i32 cw, ch;
  EXPECT_TRUE(PlatPresentSnapshot(w, &px, &cw, &ch));
  PlatWindowDestroy(w);
  EXPECT_FALSE(PlatPresentSnapshot(w, &px, &cw, &ch));
  w = nullptr;
  PlatPresent(nullptr, reinterpret_cast<const u8*>(pic), 1, 1, 0, 0, 1, 1, 0, 0, 1, 1);  // ignored
}

}  // namespace
