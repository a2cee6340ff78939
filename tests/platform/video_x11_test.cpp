// Window features that need a display server: the integration tests run these under Xvfb with
// ZEPHRA_X11_TESTS=1 and the x11 video driver; anywhere else they are skipped.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/video.h"

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
