#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/sys.h"
#include "display/gpu.h"
#include "platform/platform.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/window.h"
#include "sound/movie.h"

namespace {

struct FrameTest : ::testing::Test {
  void SetUp() override {
    FrameReset();
    g_QuitRequested = 0;
    PlatClockSetFixed(true, 100000);
    g_FrameStart = PlatTimeMs();
  }
  void TearDown() override {
    FrameReset();
    WinReset();
    g_QuitRequested = 0;
    PlatClockSetFixed(false);
  }
};

}  // namespace

TEST_F(FrameTest, SixtyFramesPerSecondPacesSixteenAndSeventeen) {
  std::vector<u32> periods;
  for (int i = 0; i < 9; i++) {
    u32 before = PlatTimeMs();
    EXPECT_EQ(FrameWait(), 0);
    periods.push_back(PlatTimeMs() - before);
    EXPECT_EQ(g_FrameStart, PlatTimeMs());  // on time: the schedule moves by exactly the period
  }
  EXPECT_EQ(periods, (std::vector<u32>{16, 17, 16, 17, 17, 16, 17, 17, 16}));
  // The fraction carries, so the average stays exact: 3000 frames take 50 s less a rounding.
  u32 start = PlatTimeMs();
  for (int i = 0; i < 3000; i++) FrameWait();
  u32 took = PlatTimeMs() - start;
  EXPECT_GE(took, 49999u);
  EXPECT_LE(took, 50000u);
}

TEST_F(FrameTest, LatenessSkipsOnlyBeyondThreePeriodsAndDropsStalls) {
  struct Case {
    u32 late_ms;
    u32 skip_allowed;
    u8 skip;
    u32 lag;  // how far the next schedule lies ahead of now
  } cases[] = {
      {40, 1, 0, 23},  // lag 23 < 3 periods
      {70, 1, 1, 53},  // lag 53 >= 51
      {70, 0, 0, 53},  // skipping not allowed
      {300, 1, 0, 0},  // a stall: the lag is dropped and nothing skips
      {267, 1, 0, 0},  // lag exactly 250 is dropped too
      {266, 1, 1, 249},
  };
  for (const Case& c : cases) {
    FrameReset();
    PlatClockSetFixed(true, 5000);
    g_FrameStart = 5000;
    g_FrameSkipAllowed = c.skip_allowed;
    g_FramePhase = 43690;  // the next period is 17 ms
    PlatClockAdvance(c.late_ms);
    u32 now = PlatTimeMs();
    EXPECT_EQ(FrameWait(), c.skip) << c.late_ms;
    EXPECT_EQ(PlatTimeMs(), now) << "a late frame never sleeps";
    EXPECT_EQ(g_FrameStart, now + c.lag) << c.late_ms;
    EXPECT_EQ(g_GameClock, now + c.lag);
    EXPECT_EQ(g_RealClock, now);
  }
}

TEST_F(FrameTest, FrameBeforeTheShiftedScheduleRestartsItWithoutSleeping) {
  g_FramePhase = 43690;
  PlatClockAdvance(40);  // lag 23
  FrameWait();
  u32 ahead = g_FrameStart;
  PlatClockAdvance(5);  // within the lag: "before" the schedule
  u32 now = PlatTimeMs();
  ASSERT_LT(now, ahead);
  EXPECT_EQ(FrameWait(), 0);
  EXPECT_EQ(PlatTimeMs(), now);
  EXPECT_EQ(g_FrameStart, now);
}

TEST_F(FrameTest, PerSecondCountersRollOverOnWholeSeconds) {
  // From 100000 ms frame k ends at 100000 + floor(k * 1092266 / 65536): 60 frames take a hair
  // under 1000 ms, so frame 61 (101016) opens the second that frames 61 to 120 fill and frame
  // 121 (102016) closes.
  int frames = 0;
  while (PlatTimeMs() < 102000) {
    FrameWait();
    FrameCountPresent();
    frames++;
  }
  EXPECT_EQ(frames, 121);
  EXPECT_EQ(g_FpsPacedLast, 60u);
  EXPECT_EQ(g_FpsPresentedLast, 60u);
  EXPECT_EQ(g_FpsPaced, 1u);
  EXPECT_EQ(g_FpsPresented, 1u);  // cleared at the rollover, then this frame presented
  EXPECT_EQ(g_FpsSecondMark, 102016u);
}

TEST_F(FrameTest, FrameRateBelowOneIsIgnored) {
  g_FpsPaced = 7;
  g_FpsPresented = 5;
  for (i64 bad : {i64{0}, i64{-5}, i64{1} << 32}) {
    FrameRateSet(true, bad, false, 0);
    EXPECT_EQ(g_FrameRate, 60) << bad;
    EXPECT_EQ(g_FpsPaced, 7u) << "an ignored rate leaves the counters alone";
  }
  PlatClockAdvance(123);
  FrameRateSet(true, (i64{1} << 32) + 30, true, 0);  // the low 32 bits count
  EXPECT_EQ(g_FrameRate, 30);
  EXPECT_EQ(g_FpsPacedLast, 7u);
  EXPECT_EQ(g_FpsPresentedLast, 5u);
  EXPECT_EQ(g_FpsPaced, 0u);
  EXPECT_EQ(g_FpsSecondMark, PlatTimeMs());
  EXPECT_EQ(g_FrameSkipAllowed, 0u);
  g_FrameStart = PlatTimeMs();
  u32 before = PlatTimeMs();
  FrameWait();
  EXPECT_EQ(PlatTimeMs() - before, 33u);  // 65536000 / 30 = 33.33 ms
}

TEST_F(FrameTest, ProgramEndKeepsTheLowByteOfTheRelaunchValue) {
  EXPECT_EQ(FrameProgramEnd(true, 0x101), 0);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  extern u8 g_RelaunchAtExit;
  EXPECT_EQ(g_RelaunchAtExit, 1);
  g_RelaunchAtExit = 0;
  g_QuitRequested = 0;
  FrameProgramEnd(false, 5);
  EXPECT_EQ(g_RelaunchAtExit, 0);
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

TEST_F(FrameTest, RunStopsOnQuitHoldsAndExitAfterFrames) {
  g_FrameExitAfter = 3;
  EXPECT_EQ(FrameRun(), 0);
  g_FramesHeld = 1;
  EXPECT_EQ(FrameRun(), 0);  // held: counted, nothing else
  EXPECT_EQ(g_StepCounter, 1u);
  g_FramesHeld = 0;
  EXPECT_EQ(FrameRun(), 1);  // the third frame asks to quit
  EXPECT_EQ(g_FrameCounter, 3u);
  EXPECT_EQ(FrameRun(), 1);  // and every later one returns at once
  EXPECT_EQ(g_StepCounter, 2u);
}

// The frame thread waits while the close confirmation is open: no frame runs or counts meanwhile.
TEST_F(FrameTest, FrameThreadWaitsUncountedWhileTheCloseBoxIsOpen) {
  g_FramesHeld = 1;
  std::thread frames(FrameThreadLoop);
  PlatSleepMs(100);
  g_QuitRequested = 1;
  g_FramesHeld = 0;
  frames.join();
  EXPECT_LE(g_FrameCounter, 2u);
  g_Running = 1;
}

TEST_F(FrameTest, RedrawCountdownAndPopupRequestEndWithinFrames) {
  g_RedrawCountdown = 2;
  g_PopupMenuRequest = {1, 10, 20};
  FrameRun();
  EXPECT_EQ(g_RedrawCountdown.load(), 1);
  EXPECT_EQ(g_PopupMenuRequest.set, 0);
  FrameRun();
  FrameRun();
  EXPECT_EQ(g_RedrawCountdown.load(), 0);
}

TEST_F(FrameTest, SkipDecidedByPacingAppliesToTheNextFrame) {
  FrameRun();
  EXPECT_EQ(g_SkipDrawing, 0);
  g_FramePhase = 43690;
  PlatClockAdvance(100);  // far beyond three periods
  FrameRun();
  EXPECT_EQ(g_SkipDrawing, 1);
  FrameRun();  // on time again
  EXPECT_EQ(g_SkipDrawing, 0);
}

TEST_F(FrameTest, InactiveWindowPausesAndResumeShiftsRunningTimers) {
  ASSERT_EQ(WinObjsCreate(), 0);
  WindowObject* main = g_WindowObjects[0];
  g_ScriptTimers = {{1000, 2000, 3000, 4000}, {1, 0, 1, 0}, {}};
  main->active = 0;
  FrameActiveTimeUpdate();  // running in the background: no pause
  EXPECT_EQ(g_InactivePaused.load(), 0);
  g_RunInBackground = 0;
  FrameActiveTimeUpdate();
  EXPECT_EQ(g_InactivePaused.load(), 1);
  EXPECT_EQ(g_InactiveSince, PlatTimeMs());
  PlatClockAdvance(500);
  FrameActiveTimeUpdate();  // still inactive: the pause goes on from its start
  EXPECT_EQ(g_InactiveSince, PlatTimeMs() - 500);
  main->active = 1;
  FrameActiveTimeUpdate();
  EXPECT_EQ(g_InactivePaused.load(), 0);
  EXPECT_EQ(g_InactiveSince, 0u);
  EXPECT_EQ(g_ScriptTimers.start[0], 1500u);
  EXPECT_EQ(g_ScriptTimers.start[1], 2000u);
  EXPECT_EQ(g_ScriptTimers.start[2], 3500u);
  EXPECT_EQ(g_ScriptTimers.start[3], 4000u);
}

TEST_F(FrameTest, PumpWaitEndsOnQuitWhilePaused) {
  ASSERT_EQ(WinObjsCreate(), 0);
  g_RunInBackground = 0;
  g_WindowObjects[0]->active = 0;
  FrameActiveTimeUpdate();
  ASSERT_EQ(g_InactivePaused.load(), 1);
  g_QuitRequested = 1;
  EXPECT_EQ(WinPumpWait(), 1);
}
