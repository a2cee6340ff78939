#include <SDL.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/sys.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "shell/startup.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"

namespace {

struct Ran {
  i32 slot;
  u8 op;
  i32 argument;
  std::string name;
};
std::vector<Ran> g_Ran;
std::thread::id g_RanOn;

i32 Record(i32 slot) {
  const SoundRequestRing& r = g_SoundRequestRing;
  g_Ran.push_back({slot, r.operation[slot], r.argument[slot], r.file_name[slot]});
  g_RanOn = std::this_thread::get_id();
  return 0;
}

const SoundRequestHandler kRecordAll[SOUND_OP_COUNT] = {nullptr, Record, Record, Record, Record, Record, Record, Record,
                                                        Record,  Record, Record, Record, Record, Record, Record};

int g_Objects[4];
ObjNode* Node(int i) { return reinterpret_cast<ObjNode*>(&g_Objects[i]); }

struct SoundRingTest : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(SoundRingInit(), 0);
    SoundRingReset();
    ErrReset();
    g_QuitRequested = 0;
    g_Ran.clear();
    g_SoundRequestHandlers = kRecordAll;
    SysObjReset();
    g_SoundRoot = ObjNewRoot();  // the thread drains only once the tree exists
  }
  void TearDown() override {
    g_SoundRequestHandlers = g_SoundRequestHandlerTable;
    SysObjReset();
    SoundRingReset();
    ErrReset();
    g_QuitRequested = 0;
  }
  void Drain() {
    EngineLockGuard lock;
    SoundDrainRequests();
  }
};

TEST_F(SoundRingTest, HoldsAtMost1023RequestsAndRefusesTheNext) {
  for (i32 i = 0; i < 1023; i++) ASSERT_EQ(SoundRingPost(Node(0), SOUND_OP_SET_VOLUME, i, nullptr), i);
  EXPECT_FALSE(g_ErrDialogShown);
  EXPECT_EQ(SoundRingPost(Node(1), SOUND_OP_SET_PAN, 9999, nullptr), -1);
  EXPECT_TRUE(g_ErrDialogShown);         // error 110200
  EXPECT_EQ(g_QuitRequested.load(), 0);  // not fatal
  // Nothing queued was lost or overwritten.
  Drain();
  ASSERT_EQ(g_Ran.size(), 1023u);
  for (i32 i = 0; i < 1023; i++) {
    EXPECT_EQ(g_Ran[i].argument, i);
    EXPECT_EQ(g_Ran[i].op, SOUND_OP_SET_VOLUME);
  }
  EXPECT_FALSE(SoundRingPending());
  EXPECT_GE(SoundRingPost(Node(1), SOUND_OP_SET_PAN, 1, nullptr), 0);
}

TEST_F(SoundRingTest, DrainRunsInOrderAcrossTheWrapAndSkipsEmptySlots) {
  for (i32 round = 0; round < 3; round++) {
    g_Ran.clear();
    std::vector<i32> slots;
    for (i32 i = 0; i < 700; i++)
      slots.push_back(SoundRingPost(i % 7 == 0 ? nullptr : Node(0), SOUND_OP_SET_SPEED, i, nullptr));
    EXPECT_TRUE(SoundRingPending());
    Drain();
    std::vector<i32> expected;
    for (i32 i = 0; i < 700; i++) {
      if (i % 7) expected.push_back(i);
    }
    std::vector<i32> got;
    for (const Ran& r : g_Ran) got.push_back(r.argument);
    EXPECT_EQ(got, expected);
    // Every slot is done, whether it ran or carried nothing.
    for (i32 slot : slots) EXPECT_EQ(g_SoundRequestRing.done[slot].load(), 1u);
  }
}

TEST_F(SoundRingTest, OnlyLoadCopiesTheFileNameCutAtAWholeCharacter) {
  std::string longname(254, 'a');
  longname += "\x82\xa0";  // a two-byte character across the 255-byte limit
  SoundRingPost(Node(0), SOUND_OP_LOAD, 0, longname.c_str());
  SoundRingPost(Node(0), SOUND_OP_LOAD, 0, "bgm\\title.ogg");
  SoundRingPost(Node(0), SOUND_OP_PLAY, 500, "ignored.wav");
  Drain();
  ASSERT_EQ(g_Ran.size(), 3u);
  EXPECT_EQ(g_Ran[0].name, std::string(254, 'a'));
  EXPECT_EQ(g_Ran[1].name, "bgm\\title.ogg");
  EXPECT_EQ(g_Ran[2].op, SOUND_OP_PLAY);
  EXPECT_EQ(g_Ran[2].argument, 500);
  EXPECT_EQ(g_Ran[2].name, "");  // slot 2 was never written by a load
}

TEST_F(SoundRingTest, WaitGivesUpWithoutARunningThread) {
  const i32 slot = SoundRingPost(Node(0), SOUND_OP_PAUSE, 1, nullptr);
  ASSERT_GE(slot, 0);
  g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
  EXPECT_EQ(SoundRingWaitDone(slot), -1);
  g_SoundThreadState.store(SOUND_THREAD_RUNNING);
  g_QuitRequested = 1;
  EXPECT_EQ(SoundRingWaitDone(slot), -1);
  g_QuitRequested = 0;
  g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
  Drain();
  EXPECT_EQ(SoundRingWaitDone(slot), 0);
}

// ---- The thread ------------------------------------------------------------------------------

// A post cuts the thread's sleep short (the wait here is a minute long: a lost signal would hang
// the test), and a finished pass lets a waiting sender go.
TEST_F(SoundRingTest, APostWakesTheThreadAndAPassWakesTheSender) {
  SoundRingWaitPost(0);  // a signal left by an earlier test's posts
  EXPECT_FALSE(SoundRingWaitPost(0));
  const i32 slot = SoundRingPost(Node(0), SOUND_OP_PAUSE, 1, nullptr);
  ASSERT_GE(slot, 0);
  EXPECT_TRUE(SoundRingWaitPost(60000));
  EXPECT_FALSE(SoundRingWaitPost(0));  // the signal is taken once
  g_SoundThreadState.store(SOUND_THREAD_RUNNING);
  std::atomic<i32> result{1};
  std::thread sender([&] { result = SoundRingWaitDone(slot); });
  Drain();
  SoundRingSignalPass();
  sender.join();
  EXPECT_EQ(result.load(), 0);
  g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
}

struct SoundThreadTest : SoundRingTest {
  void TearDown() override {
    g_QuitRequested = 1;
    while (g_SoundThreadState.load() == SOUND_THREAD_RUNNING) PlatSleepMs(1);
    SoundThreadJoin();
    SoundThreadReset();
    SoundRingTest::TearDown();
  }
};

TEST_F(SoundThreadTest, StartsDrainsOnItsOwnThreadAndEndsOnQuit) {
  g_SoundEnabled.store(1);
  ASSERT_EQ(SoundStartupWatchdog(), 0);
  EXPECT_EQ(g_SoundThreadState.load(), SOUND_THREAD_RUNNING);
  EXPECT_EQ(g_SoundStartReturned.load(), 1);
  EXPECT_EQ(g_SoundDevice.load(), 1);
  EXPECT_EQ(g_SoundEnabled.load(), 1);
  const i32 slot = SoundRingPost(Node(2), SOUND_OP_PLAY, 250, nullptr);
  ASSERT_EQ(SoundRingWaitDone(slot), 0);
  {
    EngineLockGuard lock;
    // The "ROOT" object's volume, load and play, posted by start-up, then this request.
    ASSERT_EQ(g_Ran.size(), 4u);
    EXPECT_EQ(g_Ran[0].op, SOUND_OP_SET_VOLUME);
    EXPECT_EQ(g_Ran[0].argument, 2);
    EXPECT_EQ(g_Ran[1].op, SOUND_OP_LOAD);
    EXPECT_EQ(g_Ran[1].name, " ");
    EXPECT_EQ(g_Ran[2].op, SOUND_OP_PLAY);
    EXPECT_EQ(g_Ran[2].argument, 0);
    EXPECT_EQ(g_Ran[3].argument, 250);
    EXPECT_NE(g_RanOn, std::this_thread::get_id());
  }
  EXPECT_NE(ObjFindNode(g_SoundRoot, "ROOT", OBJ_FIND_ITEM), nullptr);
  g_QuitRequested = 1;
  while (g_SoundThreadState.load() == SOUND_THREAD_RUNNING) PlatSleepMs(1);
  EXPECT_EQ(g_SoundThreadState.load(), SOUND_THREAD_ENDED);
  SoundThreadJoin();
  EXPECT_EQ(g_SoundDevice.load(), 0);
}

TEST_F(SoundThreadTest, SoundOffStartsTheThreadWithoutADevice) {
  g_SoundEnabled.store(0);
  ASSERT_EQ(SoundStartupWatchdog(), 0);
  EXPECT_EQ(g_SoundDevice.load(), 0);
  EXPECT_EQ(g_SoundStartReturned.load(), 0);
  EXPECT_EQ(g_SoundRoot->first_child, nullptr);  // no "ROOT" object
  const i32 slot = SoundRingPost(Node(0), SOUND_OP_SET_VOLUME, 5, nullptr);
  EXPECT_EQ(SoundRingWaitDone(slot), 0);
}

TEST_F(SoundThreadTest, MissingDriverShowsItsMessageOnceAndRunsSilent) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  g_SoundEnabled.store(1);
  ::testing::internal::CaptureStderr();
  const i32 r = SoundStartupWatchdog();
  const std::string printed = ::testing::internal::GetCapturedStderr();
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(r, 0);
  EXPECT_EQ(g_SoundEnabled.load(), 0);
  EXPECT_EQ(g_SoundDevice.load(), 0);
  const std::string text = "サウンド機能が無効になっています。";
  const size_t at = printed.find(text);
  EXPECT_NE(at, std::string::npos) << printed;
  EXPECT_EQ(printed.find(text, at + 1), std::string::npos);
  EXPECT_NE(printed.find("サウンド初期化エラー"), std::string::npos);
}

// A device that hangs while it opens (SDL's disk driver writing into a pipe nobody reads yet): a
// quit signal ends the start-up wait before the device has opened, not after the freeze time-out.
TEST_F(SoundThreadTest, QuitSignalEndsTheWaitForAHangingDevice) {
  char dir[] = "/tmp/zephra-sound-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fifo = std::string(dir) + "/out";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", fifo.c_str(), 1);
  g_SoundEnabled.store(1);
  PlatQuitSignalsInstall(&g_QuitRequested);
  std::thread signaller([] {
    PlatSleepMs(300);
    kill(getpid(), SIGTERM);
  });
  // The pipe's reader lets the device open once the wait has returned, and drains it until the
  // device closes; a wait that does not return to the signal is let go after 5 s.
  std::atomic<bool> waited{false};
  std::thread reader([&] {
    for (int i = 0; i < 500 && !waited; i++) PlatSleepMs(10);
    const int fd = open(fifo.c_str(), O_RDONLY);
    char buf[4096];
    while (fd >= 0 && read(fd, buf, sizeof buf) > 0) {
    }
    if (fd >= 0) close(fd);
  });
  const i32 r = SoundStartupWatchdog();
  const u8 opened = g_SoundStartReturned.load();
  waited = true;
  signaller.join();
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(opened, 0) << "the wait ended only when the device had opened";
  EXPECT_EQ(g_SoundThreadState.load(), SOUND_THREAD_ENDED);
  // The thread, let go by the wait, opens the device late, sees the quit and ends by itself.
  bool joined = false;
  for (int i = 0; i < 1000 && !(joined = SoundThreadJoin()); i++) PlatSleepMs(10);
  reader.join();
  EXPECT_TRUE(joined);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  ::unsetenv("SDL_DISKAUDIOFILE");
  std::remove(fifo.c_str());
  rmdir(dir);
  PlatQuitSignalledClear();
}

// With a display the box is a window, which only the main thread may show: start-up, waiting there
// for the sound thread, shows it on the thread's behalf, and the game goes on once it is answered.
TEST_F(SoundThreadTest, MissingDriverBoxIsAnsweredWhileStartUpWaits) {
  ASSERT_EQ(PlatVideoInit(), 0);
  PlatDialogsSetStderr(false);
  // The box is the next system window: its Return is queued before it opens.
  PlatWindowDesc probe{"probe", 0, 0, 10, 10, PLAT_WINDOW_FRAMED, nullptr};
  PlatWindow* w = PlatWindowCreate(&probe);
  ASSERT_NE(w, nullptr);
  const u32 box = SDL_GetWindowID(PlatWindowSdl(w)) + 1;
  PlatWindowDestroy(w);
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = box;
  e.key.keysym.sym = SDLK_RETURN;
  SDL_PushEvent(&e);
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  g_SoundEnabled.store(1);
  // A start-up that never ends is a failure, not a hang of the whole suite.
  std::atomic<bool> done{false};
  std::thread guard([&] {
    for (int i = 0; i < 2000 && !done; i++) PlatSleepMs(10);
    if (!done) {
      std::fprintf(stderr, "start-up still waits for the sound thread after 20 s\n");
      std::_Exit(1);
    }
  });
  const i32 r = SoundStartupWatchdog();
  done = true;
  guard.join();
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  PlatDialogsSetStderr(true);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g_SoundThreadState.load(), SOUND_THREAD_RUNNING);
  EXPECT_EQ(g_SoundEnabled.load(), 0);
  g_QuitRequested = 1;
  while (g_SoundThreadState.load() == SOUND_THREAD_RUNNING) PlatSleepMs(1);
  SoundThreadJoin();
  PlatVideoQuit();
}

TEST(SoundDeviceErrors, MessageChosenByResultAndRequirement) {
  EXPECT_STREQ(SoundDeviceErrorText(SOUND_DSERR_NODRIVER, 1),
               "サウンド機能が無効になっています。アプリケーション終了までサウンドは出力されません。");
  EXPECT_STREQ(
      SoundDeviceErrorText(SOUND_DSERR_NODRIVER, 2),
      "利用可能なサウンドドライバが存在しませんでした。起動にはサウンド機能が正常に動作している必要があります。");
  EXPECT_STREQ(SoundDeviceErrorText(SOUND_E_OUTOFMEMORY, 2), "メモリ不足です。");
  EXPECT_EQ(SoundDeviceErrorText(SOUND_E_FAIL, 1), nullptr);
}

}  // namespace
