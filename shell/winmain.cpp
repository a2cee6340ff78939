// The program's entry: one running copy per game, the paths, the start-up sequence, the message
// loop and the teardown. The instance locks are held until the very end; a second start of the
// same game brings the running copy's window to the front and ends at once with status 0.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "core/pack.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/saver.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "sound/movie.h"

i32 WinActivateRunningInstance(const char* lock_name, const char* class_name) {
  const bool raised = PlatInstanceActivate(lock_name, class_name);
  std::fprintf(stderr, "zephra: %s is already running%s\n", SysGamePath().c_str(),
               raised ? "; its window is brought to the front." : ".");
  return 0;
}

void WinReleaseMutexes() {
  for (i32& h : g_InstanceMutexes) {
    if (h > 0) PlatInstanceLockRelease(h);
    h = 0;
  }
}

void SysMessageLoop() {
  WinDispatchMessages();
  while (g_Running) {
    if (!g_QuitRequested) {
      InputPoll();
      if (!g_ThreadedMode) {
        if (FrameRun() != 0) WinRequestQuit();
      } else {
        PlatSleepMs(1);
      }
    } else {
      // A quit set outside the frame (a fatal error in start-up or in a message) still has to
      // close the main window once, or the loop would never end.
      if (!g_QuitPosted) WinRequestQuit();
      PlatSleepMs(1);
    }
    WinDispatchMessages();
  }
}

i32 SysInterlockAcquire(u32 wait_ms) {
  for (u32 waited = 0;; waited += SYS_INTERLOCK_POLL_MS) {
    i32 h = PlatInstanceLockAcquire(kSysInterlockName);
    if (h != 0) return h;
    // Held past the limit (a start that hangs): go on without it; the per-game locks still
    // keep one copy per game.
    if (waited >= wait_ms) return 0;
    PlatSleepMs(SYS_INTERLOCK_POLL_MS);
  }
}

static void ReadTestHooks() {
  if (PlatGetEnv("ZEPHRA_FIXED_CLOCK") == "1") PlatClockSetFixed(true, 0);
  std::string n = PlatGetEnv("ZEPHRA_EXIT_AFTER_FRAMES");
  if (!n.empty()) g_FrameExitAfter = std::strtoull(n.c_str(), nullptr, 10);
  g_FrameDumpPath = PlatGetEnv("ZEPHRA_FRAME_DUMP");
}

int WinMain(int argc, char** argv) {
  // First of all: a signal must end the run from every wait of the start-up too.
  PlatQuitSignalsInstall(&g_QuitRequested);
  SysInstallHooks();
  ReadTestHooks();
  if (SysParseCommandLine(argc, argv) != 0) return 1;
  // 1. The interlock keeps two starts from deciding "first" at the same instant. Any game's
  // start holds it for an instant only, so it is waited for, never taken as a reason to end.
  i32 lock = SysInterlockAcquire();
  if (lock < 0) return 1;
  g_InstanceMutexes[0] = lock;
  SysInitPaths();
  i32 h = PlatInstanceLockAcquire(SysExeLockName());
  if (h < 0) {
    WinReleaseMutexes();
    return 1;  // a lock that cannot be made is a failed start, not "already running"
  }
  if (h == 0) {
    WinActivateRunningInstance(SysExeLockName(), g_InstanceName);
    WinReleaseMutexes();
    return 0;
  }
  g_InstanceMutexes[1] = h;
  PlatInstanceLockRelease(g_InstanceMutexes[0]);
  g_InstanceMutexes[0] = 0;
  PlatSetCurrentFolder(g_GameFolderNative);
  // An unreadable game file is a failed start-up (status 1); a screen-saver switch that ends
  // the run is a normal end.
  if (PackDetectAppended() < 0) {
    WinReleaseMutexes();
    return 1;
  }
  if (g_ScreenSaverBuild && WinSaverArgs() != 0) {
    WinReleaseMutexes();
    return 0;
  }
  // The engine lock exists from the program's start; there is no COM to initialise.
  PlatVideoInit();
  i32 r = SysStartup();
  if (r == 0) SysMessageLoop();
  SysShutdown();
  PlatVideoQuit();
  WinReleaseMutexes();
  if (g_RelaunchAtExit) {
    SysLaunchProcess(SysRelaunchCommand());
  }
  return SysExitStatus(r);
}
