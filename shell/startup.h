// Start-up and shutdown: the program's entry, the start-up sequence and the teardown, and the
// paths and flags that the rest of the engine reads. The game folder plays the role of the
// executable's folder; the "executable path" is the standalone bundle when one runs, else a
// virtual "zephra" file inside the game folder. Teardown releases only what start-up created,
// each thing once, however far start-up came.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "common/types.h"
#include "core/state.h"
#include "platform/platform.h"

// "zephra [GAME] [ARGS...]": GAME is taken when it names an existing folder or file; a first
// word that names nothing and looks like a switch ("/info", "-x") is an argument of a game in
// the current folder. Returns 0, or -1 after telling why (GAME missing, path too long).
i32 SysParseCommandLine(int argc, char** argv);
// The game's own arguments as given (UTF-8), without the program and the game.
const std::vector<std::string>& SysGameArgs();
// The game as the run names it for a person: the standalone game or the game folder (native).
std::string SysGamePath();
// Fills the path names from the parsed command line.
void SysInitPaths();
// Copies the program path and the first eight arguments (Shift-JIS) into g_ExtraArgs.
void CfgCopyExtraArgs(int argc, const char* const* argv);
// 0 run; 1 the script loading failed after the windows exist; -1 any other stop.
i32 SysStartup();
i32 SysGlobalsInit();
void SysFolderWriteTest();
// Mode 0 saves of a game folder that is not writable: "savech" mapped to a folder of the game's
// own under the user's data folder.
void SysSaveFolderMap();
i32 SysResourceSize();
void WinEnableDpiAwareness();
void WinDwmCompositionOff();
// Starts a program with an argument vector; 0 when started.
i32 SysLaunchProcess(const std::vector<std::string>& argv);
void SysShutdown();
void SysFreeGdiSurfaces();
// Exit status of the run: 0 after a normal end, the notices switch or a second instance; 1 after
// a fatal error or a failed start-up.
i32 SysExitStatus(i32 startup_result);
// What a relaunch at exit starts: zephra again, with the same game and arguments.
std::vector<std::string> SysRelaunchCommand();

// A second start of a running game: says so on stderr (one line) and brings the running copy's
// main window (kept beside the lock it holds, with class_name) to the front. Always 0.
i32 WinActivateRunningInstance(const char* lock_name, const char* class_name);
// The names of the per-executable and per-folder locks: the native real paths exactly as the file
// system has them (every "/" turned into ":"), so folders that differ only in letter case or in
// characters without a Shift-JIS form are different games.
const char* SysExeLockName();
const char* SysFolderLockName();
void WinReleaseMutexes();

// The message loop of the main thread (WinMain step 10).
void SysMessageLoop();
// The program: zephra's main. Returns the process exit status.
int WinMain(int argc, char** argv);
// The engine-wide start-up interlock (WinMain step 1), waited for up to wait_ms: a handle > 0,
// 0 when it stayed held that long (the start goes on without it), -1 when it cannot be made.
enum { SYS_INTERLOCK_WAIT_MS = 5000, SYS_INTERLOCK_POLL_MS = 5 };
inline constexpr const char* kSysInterlockName = "zephra1";
i32 SysInterlockAcquire(u32 wait_ms = SYS_INTERLOCK_WAIT_MS);

// Tests: make start-up stop at this step as if it had failed (0 = never).
extern i32 g_SysStartupFailStep;
// Tests: forget everything start-up did (after SysShutdown).
void SysReset();

// Start-up step 13: the compiler link for games run from their script source.
i32 ScriptCompilerLink();
// The screen-saver switches of a screen-saver build.
i32 WinSaverArgs();

// Installs every hook of core/hooks.h (start-up, before anything runs; the tests' main too).
void SysInstallHooks();
// The four object-tree roots, the main window's root layer, the thread "SYSTEM" and the first
// menu item. 0, or -1 after an error.
i32 SysCreateRoots();
// Frees the four trees with their payloads and clears the base paths (shutdown and tests).
void SysObjReset();
// Tests: every module's globals back to their values before start-up (threads stopped first).
void SysResetAll();
