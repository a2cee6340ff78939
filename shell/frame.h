// The frame loop: one FrameRun call is one frame (scripts, layer commit, composition, pacing,
// presentation), run by the main thread between messages or by the optional frame thread.
// Pacing keeps the period as a 16.16 fixed-point number of milliseconds so the average rate is
// exact; a late frame never catches up lost frames. Everything here belongs to the thread that
// runs frames, except the frame thread's state byte (under g_EngineLock) and the atomics.
#pragma once
#include <atomic>

#include "common/types.h"
#include "core/state.h"

// How often the frame thread looks whether the close confirmation has been answered.
enum { FRAME_HOLD_POLL_MS = 5 };

i32 FrameRun();
u8 FrameWait();
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

// Tests: back to the state before the first frame.
void FrameReset();
