// The frame loop, its pacing and the optional frame thread (see frame.h). Pacing measures from
// the scheduled start of the frame with unsigned 32-bit arithmetic, so a frame that comes
// "before" its schedule after a late frame counts as late and restarts the schedule.
#include "shell/frame.h"
#include "core/config.h"

#include <string>

#include "common/types.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/compose.h"
#include "layer/layer.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "script/task.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/wincmd.h"
#include "shell/window.h"
#include "shell/window_paint.h"
#include "sound/movie.h"

static PlatThread* s_FrameThread = nullptr;

// A movie covers the picture, so frames neither compose nor present while it plays.
static bool MovieHidesPicture() {
  if (g_MovieUseDirectShow == 1) return g_MoviePlaying != 0;
  if (g_MovieUseDirectShow == 0) return g_MovieMciOpen != 0;
  return true;  // any other setting value is itself non-zero
}

i32 FrameRun() {
  g_FrameCounter++;
  if (g_FramesHeld) return 0;
  if (g_QuitRequested) return 1;
  i8 redraw = g_RedrawCountdown.load();
  if (redraw != 0) {
    g_RedrawCountdown = static_cast<i8>(redraw - 1);
    for (WindowObject* w : g_WindowObjects)
      if (w && g_WindowOpen[w->index] == 1) WinInvalidate(w);
  }
  InputUpdate();
  do {
    g_RerunRequest = 0;
    g_StepCounter++;
    g_QuitRequested.fetch_or(static_cast<u8>(TaskRunGroup(g_TaskRoot)));
    if (g_QuitRequested) return 1;
  } while (g_RerunRequest);
  LayerCommitChanges(g_LayerRoot);
  WinDragMapRefresh();
  if (!g_SkipDrawing && !MovieHidesPicture()) {
    WinInvalidateApplyPending();
    for (WindowObject* w : g_WindowObjects) {
      const i32 r = w ? LayerComposeWindow(w) : 0;
      if (r < 0) ErrQuitOnFailure();  // a picture that cannot be composed ends the run as failed
      if (r != 0) return 1;
    }
  }
  if (!g_FirstFrameDone) {
    g_FirstFrameDone = 1;
    // The window belongs to the main thread, which may not be this one: ask it to show it.
    WindowObject* main = g_WindowObjects[0];
    if (main && main->show_after_first_frame == 1) PlatPostMessage(WIN_MSG_SHOW, 0, 0);
  }
  const u32 before_wait = PlatTimeMs();
  g_SkipNext = FrameWait();
  if (MovieHidesPicture()) MovieShowFrame(PlatTimeMs() - before_wait);
  if (g_EmoteAvailable && EmoteAnyBusy()) g_D3dRedraw = 1;
  WinFullscreenMenuBar();
  if (!g_SkipDrawing && !MovieHidesPicture()) {
    for (WindowObject* w : g_WindowObjects)
      if (w && FramePaintWindow(w) != 0) return 1;
    FrameCountPresent();
    LayerResetUpdateRects(g_LayerRoot);
  }
  WinMenuPopupRun();
  g_SkipDrawing = g_SkipNext;
  if (g_FrameExitAfter != 0 && g_FrameCounter >= g_FrameExitAfter) g_QuitRequested = 1;
  return g_QuitRequested;
}

u8 FrameWait() {
  u32 step = 65536000u / static_cast<u32>(g_FrameRate);
  u32 now = PlatTimeMs();
  g_GameClock = g_RealClock = now;
  g_FramePhase = (g_FramePhase & 0xFFFFu) + step;
  u32 period = g_FramePhase >> 16;
  u32 elapsed = now - g_FrameStart;
  // The players get the time since the last hand-over (this frame's whole length, not only the
  // part of it spent working).
  if (g_EmoteAvailable) EmoteAdvanceAll(now);
  u8 skip;
  u32 t;
  if (elapsed < period) {
    g_FrameSleeping = 1;
    PlatFrameSleepMs(period - elapsed);
    g_FrameStart += period;
    now = PlatTimeMs();
    g_GameClock = g_RealClock = now;
    skip = 0;
    t = now;
  } else {
    u32 lag = elapsed - period;
    if (lag >= 250) lag = 0;  // a stall: forget it rather than rush
    skip = (lag >= 3 * period && g_FrameSkipAllowed != 0) ? 1 : 0;
    g_FrameStart = g_GameClock = now + lag;
    t = g_FrameStart;
  }
  g_FrameSleeping = 0;
  if (t / 1000 != g_FpsSecondMark / 1000) {
    g_FpsPacedLast = g_FpsPaced;
    g_FpsPresentedLast = g_FpsPresented;
    g_FpsPresented = 0;
    g_FpsPaced = 0;
    g_FpsSecondMark = t;
  }
  g_FpsPaced++;
  return skip;
}

void FrameCountPresent() { g_FpsPresented++; }

void WinRequestQuit() {
  g_QuitRequested = 1;
  g_QuitPosted = 1;
  if (WindowObject* main = g_WindowObjects[0]) main->close_state = WIN_CLOSE_QUIT;
  // Without a message queue there is nothing to close: end the loop directly.
  if (!PlatPostMessage(WIN_MSG_CLOSE, 0, 0)) g_Running = 0;
}

// ---- Frame thread ----------------------------------------------------------------------------

i32 FrameThreadStart() {
  if (!g_ThreadedMode) return 0;
  // The state is "running" before the thread exists, so a shutdown that comes at once still
  // waits for it.
  {
    EngineLockGuard lock;
    g_FrameThreadState = 0;
  }
  s_FrameThread = PlatThreadStart(FrameThreadMain, nullptr);
  if (!s_FrameThread) {
    {
      EngineLockGuard lock;
      g_FrameThreadState = 255;
    }
    static const std::string text = PlatUtf8ToSjis("[エラー]\n\nスレッドが起動できませんでした。");
    ErrMessageBoxF("", "%s", text);
    return -1;
  }
  return 0;
}

void FrameThreadMain(void*) {
  {
    EngineLockGuard lock;
    g_FrameThreadState = 0;
  }
  FrameThreadLoop();
  D3dThreadLeave();  // shutdown releases the device on the main thread
  {
    EngineLockGuard lock;
    g_FrameThreadState = 9;
  }
}

void FrameThreadLoop() {
  for (;;) {
    // While the close confirmation is open the frames wait for its answer without running or
    // being counted, so the counter goes on where it stood; a quit ends the wait.
    while (g_FramesHeld && !g_QuitRequested) PlatSleepMs(FRAME_HOLD_POLL_MS);
    if (FrameRun() != 0) break;
  }
  WinRequestQuit();
}

void FrameThreadJoin() {
  if (!s_FrameThread) return;
  for (;;) {
    {
      EngineLockGuard lock;
      if (g_FrameThreadState == 9) break;
    }
    PlatServeMainCalls();  // the frame thread may be waiting on a dialog of its own
    PlatSleepMs(1);
  }
  PlatThreadJoin(s_FrameThread);
  s_FrameThread = nullptr;
}

// ---- Inactive time ---------------------------------------------------------------------------

i32 WinPumpWait() {
  while (g_InactivePaused == 1) {
    FrameActiveTimeUpdate();
    if (PlatIsMainThread()) WinDispatchMessages();  // the main thread owns the messages
    if (!g_Running || g_QuitRequested) return 1;
    PlatSleepMs(10);
  }
  return TaskRunCurrentHandler();
}

void FrameActiveTimeUpdate() {
  if (g_RunInBackground) {
    g_InactivePaused = 0;
    return;
  }
  WindowObject* main = g_WindowObjects[0];
  if (!main) return;
  bool active = main->active != 0;
  if (!active && !g_InactivePaused) FrameActiveTimePause();
  else if (active && g_InactivePaused) FrameActiveTimeResume();
}

void FrameActiveTimePause() {
  g_InactivePaused = 1;
  g_InactiveSince = PlatTimeMs();
}

void FrameActiveTimeResume() {
  u32 d = PlatTimeMs() - g_InactiveSince;
  for (int i = 0; i < 4; i++)
    if (g_ScriptTimers.running[i]) g_ScriptTimers.start[i] += d;
  g_InactivePaused = 0;
  g_InactiveSince = 0;
}

void FrameTimerPeriodBegin() {
  g_FpsSecondMark = 0;
  g_FpsPaced = g_FpsPresented = 0;
  g_FpsPacedLast = g_FpsPresentedLast = 0;
}

void FrameTimerPeriodEnd() {}

// ---- Commands 14 and 29 ----------------------------------------------------------------------

i32 FrameProgramEnd(bool relaunch_given, i64 relaunch) {
  if (relaunch_given) g_RelaunchAtExit = static_cast<u8>(relaunch);
  g_QuitRequested = 1;
  return 0;
}

i32 FrameRateSet(bool rate_given, i64 rate, bool skip_given, i64 skip) {
  i32 r = static_cast<i32>(static_cast<u32>(rate));
  if (rate_given && r >= 1) {  // a rate below 1 would divide by zero in the pacing
    g_FrameRate = r;
    g_FpsPacedLast = g_FpsPaced;
    g_FpsPresentedLast = g_FpsPresented;
    g_FpsPaced = g_FpsPresented = 0;
    g_FpsSecondMark = PlatTimeMs();
  }
  if (skip_given) g_FrameSkipAllowed = static_cast<u32>(skip);
  return 0;
}

void FrameReset() {
  g_FrameCounter = g_StepCounter = 0;
  g_RerunRequest = 0;
  g_FrameRate = 60;
  g_FrameSkipAllowed = 1;
  g_FramePhase = g_FrameStart = 0;
  g_GameClock = g_RealClock = 0;
  g_FrameSleeping = 0;
  g_SkipDrawing = g_SkipNext = g_FirstFrameDone = 0;
  g_FramesHeld = 0;
  g_RedrawCountdown = 0;
  g_InactivePaused = 0;
  g_InactiveSince = 0;
  g_RunInBackground = 1;
  g_FrameThreadState = 255;
  FrameTimerPeriodBegin();
  g_PopupMenuRequest = {0, 0, 0};
  g_ScriptTimers = {};
  g_QuitPosted = 0;
  g_FrameExitAfter = 0;
}
