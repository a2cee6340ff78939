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
#include "platform/platform.h"

enum { SYS_PATH_MAX = 288, SYS_EXE_PATH_MAX = 261, SYS_EXTRA_ARGS = 8 };

extern char g_ExePath[SYS_EXE_PATH_MAX];     // lower-cased, Windows-style path of the game's executable
extern char g_ExeFolder[SYS_PATH_MAX];       // its folder, lower-cased, ending in "\"
extern char g_WorkFolder[SYS_PATH_MAX];      // working folder of the file sources
extern char g_InstanceName[SYS_PATH_MAX];    // g_ExePath with "\" turned into ":"
extern char g_FolderInstanceName[SYS_PATH_MAX];
extern char g_AppDataFolder[SYS_PATH_MAX];   // Windows-style, without a trailing "\"
extern char g_DocumentsFolder[SYS_PATH_MAX];
extern char g_GameFolderNative[4096];        // the game folder as the platform spells it (UTF-8)
extern u8 g_ScreenSaverBuild;
extern u8 g_FolderNotWritable;
extern u8 g_RelaunchAtExit;
extern std::atomic<u8> g_Running;            // the message loop runs; cleared by the quit message
extern char g_VersionMarker[10];             // "revarhpez"
extern PlatLocalTime g_StartLocalTime;       // when the run started, for the system variables

// Instance locks: 0 the start-up interlock "zephra1", 1 per executable, 2 per folder; 0 = none.
extern i32 g_InstanceMutexes[3];

// Slot 0 the program path, slots 1 to 8 the first eight game arguments ("" when not given).
extern i32 g_ExtraArgCount;
extern char* g_ExtraArgs[SYS_EXTRA_ARGS + 1];

// "zephra [GAME] [ARGS...]": GAME is taken when it names an existing folder or file; a first
// word that names nothing and looks like a switch ("/info", "-x") is an argument of a game in
// the current folder. Returns 0, or -1 after telling why (GAME missing, path too long).
i32 SysParseCommandLine(int argc, char** argv);
// Fills the path names from the parsed command line.
void SysInitPaths();
// Copies the program path and the first eight arguments (Shift-JIS) into g_ExtraArgs.
void CfgCopyExtraArgs(int argc, const char* const* argv);
// 0 run; 1 the script loading failed after the windows exist; -1 any other stop.
i32 SysStartup();
i32 SysGlobalsInit();
void SysFolderWriteTest();
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

// Second starts: nothing to bring forward here (another process's window is out of reach).
i32 WinActivateRunningInstance(const char* class_name);
void WinReleaseMutexes();

// The message loop of the main thread (WinMain step 10).
void SysMessageLoop();
// The program: zephra's main. Returns the process exit status.
int WinMain(int argc, char** argv);

// Tests: make start-up stop at this step as if it had failed (0 = never).
extern i32 g_SysStartupFailStep;
// Tests: forget everything start-up did (after SysShutdown).
void SysReset();
