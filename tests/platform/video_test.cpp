#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/video.h"

namespace {

std::vector<PlatMsg> g_Seen;
void Record(const PlatMsg* m) { g_Seen.push_back(*m); }

struct VideoTest : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(PlatVideoInit(), 0);
    g_Seen.clear();
    PlatSetMessageHandler(Record);
  }
  void TearDown() override {
    PlatSetMessageHandler(nullptr);
    PlatVideoQuit();
  }
};

}  // namespace

TEST_F(VideoTest, WindowsOpenShowBlackAndClose) {
  int user = 7;
  PlatWindowDesc d{"\x83\x65\x83\x58\x83\x67", PLAT_WINDOW_CENTERED, PLAT_WINDOW_CENTERED, 320, 240,
                   PLAT_WINDOW_FRAMED, &user};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(PlatWindowUser(w), &user);
  EXPECT_FALSE(PlatWindowShown(w));
  PlatWindowShow(w, true);
  EXPECT_TRUE(PlatWindowShown(w));
  EXPECT_EQ(PlatWindowCount(), 1);
  PlatWindowDestroy(w);
  PlatWindowDestroy(w);  // a second destroy of the same window is ignored
  EXPECT_EQ(PlatWindowCount(), 0);
}

TEST_F(VideoTest, MessagesPostedFromAnyThreadArriveInOrderOnThePump) {
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED, nullptr};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(PlatIsMainThread());
  std::thread t([w] {
    EXPECT_FALSE(PlatIsMainThread());
    PlatPostMessage(0x10, 3, -4);
    PlatWindowShow(w, true);  // carried out by the main thread
    PlatPostQuit();
  });
  t.join();
  EXPECT_FALSE(PlatWindowShown(w));
  PlatPollEvents();
  std::vector<PlatMsg> mine;
  for (const PlatMsg& m : g_Seen)
    if (m.kind == PLAT_MSG_POSTED || m.kind == PLAT_MSG_QUIT) mine.push_back(m);
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].kind, PLAT_MSG_POSTED);
  EXPECT_EQ(mine[0].code, 0x10u);
  EXPECT_EQ(mine[0].a, 3);
  EXPECT_EQ(mine[0].b, -4);
  EXPECT_EQ(mine[1].kind, PLAT_MSG_QUIT);
  EXPECT_TRUE(PlatWindowShown(w));
  PlatWindowDestroy(w);
}

TEST_F(VideoTest, NothingWorksBeforeVideoStartsAndNothingBreaks) {
  PlatVideoQuit();
  EXPECT_FALSE(PlatPostQuit());
  EXPECT_FALSE(PlatPostMessage(1, 0, 0));
  PlatWindowDesc d{"w", 0, 0, 64, 64, 0, nullptr};
  EXPECT_EQ(PlatWindowCreate(&d), nullptr);
  PlatDesktop desk;
  EXPECT_FALSE(PlatDesktopGet(&desk));
  EXPECT_EQ(desk.width, 640);
  EXPECT_EQ(PlatPollEvents(), 0);
  ASSERT_EQ(PlatVideoInit(), 0);
  EXPECT_TRUE(PlatDesktopGet(&desk));
  EXPECT_GT(desk.work_width, 0);
}

TEST(Resources, RuntimeMarkerExistsAndIsSmall) {
  EXPECT_EQ(PlatResourceSize("ZP_BIN", 148), 4);
  EXPECT_NE(PlatResourceData("ZP_BIN", 148), nullptr);
  EXPECT_EQ(PlatResourceSize("ZP_BIN", 149), -1);
  EXPECT_EQ(PlatResourceData("NOPE", 148), nullptr);
}
