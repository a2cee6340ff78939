// The frame loop: one FrameRun call is one frame (scripts, layer commit, composition, pacing,
// presentation), run by the main thread between messages or by the optional frame thread.
// Pacing keeps the period as a 16.16 fixed-point number of milliseconds so the average rate is
// exact; a late frame never catches up lost frames. Everything here belongs to the thread that
// runs frames, except the frame thread's state byte (under g_EngineLock) and the atomics.
#pragma once
#include <atomic>

#include "common/types.h"

extern u64 g_FrameCounter;          // every FrameRun call
extern u64 g_StepCounter;           // every scheduler pass
extern u32 g_RerunRequest;          // a command asks for another pass in this frame
extern i32 g_FrameRate;             // frames per second, 60
extern u32 g_FrameSkipAllowed;      // 1
extern u32 g_FramePhase;            // 16.16 accumulator of frame periods
extern u32 g_FrameStart;            // scheduled start of the current frame
extern u32 g_GameClock, g_RealClock;
extern u32 g_FrameSleeping;
extern u8 g_SkipDrawing, g_SkipNext, g_FirstFrameDone;
extern std::atomic<u8> g_FramesHeld;        // frames do nothing while the close box is open
extern std::atomic<i8> g_RedrawCountdown;   // frames that still redraw every window first
extern std::atomic<u8> g_InactivePaused;   // also read by the sound thread
extern u32 g_InactiveSince;
extern std::atomic<u8> g_RunInBackground;  // 1; also read by the sound thread
extern u8 g_FrameThreadState;               // 255 never started, 0 running, 9 finished

// Per-second counters, read by the system variables.
extern u32 g_FpsSecondMark;       // time of the last rollover
extern u32 g_FpsPaced, g_FpsPresented;          // in the current second
extern u32 g_FpsPacedLast, g_FpsPresentedLast;  // totals of the last whole second

struct FramePopupRequest {
  u8 set;  // menu set index, 0 = none
  i32 x, y;
};
extern FramePopupRequest g_PopupMenuRequest;

struct FrameScriptTimers {
  u32 start[4];
  u8 running[4];
  u32 stopped_at[4];  // when a stopped timer stopped (command 91)
};
extern FrameScriptTimers g_ScriptTimers;

// The quit path has posted its close (so the message loop does not post it again).
extern std::atomic<u8> g_QuitPosted;

i32 FrameRun();
u8 FrameWait();
// Restarts the frame schedule at the current time and returns it: called after a picture was
// loaded, so the loading time does not count as a late frame.
u32 FrameStampTime();
void FrameCountPresent();
// Ends the program: quit flag, the main window's close state 2, and its close posted.
void WinRequestQuit();
i32 FrameThreadStart();
void FrameThreadMain(void* arg);
void FrameThreadLoop();
// Waits for the frame thread to finish (after the quit flag is set) and frees it.
void FrameThreadJoin();
// The wait routine of the script loader: runs while the inactive pause lasts.
i32 WinPumpWait();
void FrameActiveTimeUpdate();
void FrameActiveTimePause();
void FrameActiveTimeResume();
// The start and end of the fine timer period around the run (nothing to change here: sleeps
// are precise already); the begin also clears the per-second counters.
void FrameTimerPeriodBegin();
void FrameTimerPeriodEnd();

// The bodies of command 14 (end the program, optionally starting it again) and command 29 (the
// frame rate and frame skipping), taking already decoded arguments. A rate below 1 is ignored.
i32 FrameProgramEnd(bool relaunch_given, i64 relaunch);
i32 FrameRateSet(bool rate_given, i64 rate, bool skip_given, i64 skip);

// ZEPHRA_EXIT_AFTER_FRAMES: ask to quit after this many frames (0 = never).
extern u64 g_FrameExitAfter;

// Tests: back to the state before the first frame.
void FrameReset();
