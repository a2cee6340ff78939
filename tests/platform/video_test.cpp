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
  PlatWindowDesc d{
      "\x83\x65\x83\x58\x83\x67", PLAT_WINDOW_CENTERED, PLAT_WINDOW_CENTERED, 320, 240, PLAT_WINDOW_FRAMED, &user};
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

// A display named but not there: SDL would go on with its offscreen driver, where nothing shows.
TEST_F(VideoTest, ADisplayThatCannotBeOpenedIsAFailedStart) {
  PlatVideoQuit();
  const std::string driver = PlatGetEnv("SDL_VIDEODRIVER"), display = PlatGetEnv("DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
  setenv("DISPLAY", ":65000", 1);  // no server listens there
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlatVideoInit(), -1);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("DISPLAY=:65000 could not be opened"), std::string::npos) << said;
  EXPECT_FALSE(PlatVideoReady());
  for (auto [name, value] : {std::pair{"SDL_VIDEODRIVER", &driver}, std::pair{"DISPLAY", &display}}) {
    if (value->empty()) unsetenv(name);
    else setenv(name, value->c_str(), 1);
  }
  ASSERT_EQ(PlatVideoInit(), 0);
}

TEST_F(VideoTest, InjectedSystemEventsArriveAsTheirMessages) {
  int user = 1;
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED, &user};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  PlatPollEvents();
  g_Seen.clear();
  struct Step {
    u32 kind, code;
    i64 a, b;
  } steps[] = {
      {PLAT_MSG_MINIMIZE, 0, 0, 0}, {PLAT_MSG_RESTORE, 0, 0, 0},  // back from the icon
      {PLAT_MSG_MAXIMIZE, 0, 0, 0}, {PLAT_MSG_RESTORE, 0, 0, 0},  // back from maximised
      {PLAT_MSG_SIZE, 0, 100, 80},  {PLAT_MSG_MOVE, 0, 10, 20},  {PLAT_MSG_ACTIVATE, 0, 1, 0},
  };
  for (const Step& s : steps) ASSERT_TRUE(PlatInjectEvent(w, s.kind, s.code, s.a, s.b));
  ASSERT_TRUE(PlatInjectDrop(w, {"/tmp/x y", "/tmp/ü"}));
  PlatPollEvents();
  struct Want {
    u32 kind, code;
    i64 a, b;
  } want[] = {
      {PLAT_MSG_MINIMIZE, 0, 0, 0}, {PLAT_MSG_RESTORE, 0, 1, 0},    {PLAT_MSG_MAXIMIZE, 0, 0, 0},
      {PLAT_MSG_RESTORE, 0, 0, 0},  {PLAT_MSG_SIZE, 0, 100, 80},    {PLAT_MSG_MOVE, 0, 10, 20},
      {PLAT_MSG_ACTIVATE, 0, 1, 0}, {PLAT_MSG_DROP_FILES, 0, 2, 0},
  };
  ASSERT_EQ(g_Seen.size(), ZP_COUNTOF(want));
  for (size_t i = 0; i < g_Seen.size(); i++) {
    EXPECT_EQ(g_Seen[i].kind, want[i].kind) << i;
    EXPECT_EQ(g_Seen[i].code, want[i].code) << i;
    EXPECT_EQ(g_Seen[i].a, want[i].a) << i;
    EXPECT_EQ(g_Seen[i].b, want[i].b) << i;
    EXPECT_EQ(g_Seen[i].user, &user) << i;
  }
  PlatWindowDestroy(w);
}

namespace {
std::vector<std::string> g_DropSeen;
void RecordDrop(const PlatMsg* m) {
  if (m->kind == PLAT_MSG_DROP_FILES)
    for (i64 i = 0; i < m->a; i++) g_DropSeen.push_back(m->paths[i]);
}
}  // namespace

TEST_F(VideoTest, DropIsOneMessageWithEveryPath) {
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED, nullptr};
  PlatWindow* w = PlatWindowCreate(&d);
  PlatSetMessageHandler(RecordDrop);
  g_DropSeen.clear();
  ASSERT_TRUE(PlatInjectDrop(w, {"/a", "/b/c", "/d/"}));
  ASSERT_TRUE(PlatInjectDrop(w, {}));  // a drop of nothing says nothing
  PlatPollEvents();
  EXPECT_EQ(g_DropSeen, (std::vector<std::string>{"/a", "/b/c", "/d/"}));
  PlatWindowDestroy(w);
}

TEST_F(VideoTest, WindowOperationsFromOtherThreadsRunOnThePump) {
  PlatWindowDesc d{"w", 0, 0, 64, 64, PLAT_WINDOW_FRAMED, nullptr};
  PlatWindow* w = PlatWindowCreate(&d);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(PlatWindowFlags(w), u32{PLAT_WINDOW_FRAMED});
  PlatRect r{0, 0, 8, 8};
  std::thread t([w, r] {
    PlatWindowSetFlags(w, PLAT_WINDOW_RESIZABLE | PLAT_WINDOW_SHOWN);
    PlatWindowSetTitle(w, "\x83\x65");
    EXPECT_EQ(PlatWindowSetShape(w, &r, 1), 0);  // queued: the answer comes later
    EXPECT_EQ(PlatWindowSetShape(w, &r, 1), 0);
  });
  t.join();
  EXPECT_EQ(PlatWindowFlags(w), u32{PLAT_WINDOW_FRAMED}) << "nothing before the pump";
  PlatPollEvents();  // runs the first three; the dummy driver cannot shape windows
  EXPECT_EQ(PlatWindowFlags(w), u32{PLAT_WINDOW_RESIZABLE}) << "only the frame flags are kept";
  EXPECT_FALSE(PlatWindowShaped(w));
  EXPECT_EQ(PlatWindowCount(), 1);
  std::thread t2([w, r] { PlatWindowSetShape(w, &r, 1); });
  t2.join();
  // Video stops with the shape still queued: its copy of the rectangles is freed (leak check).
}

TEST(Resources, RuntimeMarkerExistsAndIsSmall) {
  EXPECT_EQ(PlatResourceSize("ZP_BIN", 148), 4);
  EXPECT_NE(PlatResourceData("ZP_BIN", 148), nullptr);
  EXPECT_EQ(PlatResourceSize("ZP_BIN", 149), -1);
  EXPECT_EQ(PlatResourceData("NOPE", 148), nullptr);
}
