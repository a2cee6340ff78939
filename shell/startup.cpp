// Start-up and shutdown (see startup.h). The start-up sequence is a table of numbered steps run
// in order until one stops; shutdown looks at how far it came and undoes only those steps.
// Windows-only steps (COM, common controls, DPI awareness, desktop composition, the timer
// period, the IME) have nothing to do on this platform and are kept as documented no-ops.
#include "shell/startup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/hash.h"
#include "common/rand.h"
#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/font.h"
#include "layer/message.h"
#include "layer/worker.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/save.h"
#include "script/script.h"
#include "script/var.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/menu.h"
#include "shell/screen.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "sound/movie.h"
#include "sound/sound_thread.h"

i32 g_SysStartupFailStep = 0;

// The parsed command line.
static std::string s_GameFolder;               // absolute, UTF-8
static std::string s_ExeNative;                // the bundle, or the virtual "zephra" in the game folder
static std::string s_GameArg;                  // what a relaunch passes as GAME
static std::string s_ExeLockName, s_FolderLockName;
static bool s_ExeVirtual = false;  // a game folder: s_ExeNative is "zephra" in it, not a file
static std::vector<std::string> s_ArgsNative;  // the game's own arguments
static std::vector<std::string> s_ArgsSjis;    // program path, then the arguments, Shift-JIS

static u8 s_GlobalsDone = 0;
static i32 s_StepsDone = 0;    // the last start-up step that completed
static u8 s_StartupRan = 0;    // SysStartup ran and SysShutdown has not yet undone it
static u8 s_EndedQuietly = 0;  // "/info" or a second instance: not a failure

static std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

// ---- Command line and paths ------------------------------------------------------------------

static bool LooksLikeSwitch(const std::string& a) {
  return !a.empty() && (a[0] == '/' || a[0] == '-') && a.find('/', 1) == std::string::npos;
}

// The Windows-style spelling of a native path: Shift-JIS with every "/" turned into "\".
static std::string WindowsStyle(const std::string& native) {
  std::string s = PlatUtf8ToSjis(native);
  std::vector<char> buf(s.begin(), s.end());
  buf.push_back('\0');
  StrReplaceCharSjis(buf.data(), '/', '\\');
  return std::string(buf.data());
}

static std::string ExeFolderOf(const std::string& exe_windows) {
  const char* s = exe_windows.c_str();
  size_t cut = 0;
  for (size_t i = 0; s[i];) {
    size_t n = SjisCharLen(s + i);
    if (n == 1 && s[i] == '\\') cut = i + 1;
    i += n;
  }
  std::string folder = exe_windows.substr(0, cut);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

i32 SysParseCommandLine(int argc, char** argv) {
  s_GameFolder.clear();
  s_ExeNative.clear();
  s_ArgsNative.clear();
  int first_arg = 1;
  std::string game = argc >= 2 ? argv[1] : "";
  int kind = PlatPathKind(game);
  if (PackSelfIsStandalone()) {
    // A standalone game started directly is its own game: every argument is the game's.
    s_ExeNative = PlatAbsolutePath(PlatExecutablePath());
    s_GameFolder = s_ExeNative.substr(0, s_ExeNative.find_last_of('/'));
    if (s_GameFolder.empty()) s_GameFolder.assign(1, '/');
    s_GameArg.clear();
  } else if (argc >= 2 && (kind != 0 || !LooksLikeSwitch(game))) {
    if (kind == 0) {
      ErrMessageBoxF(Sjis("エラー").c_str(), "%s\n%s", Sjis("ゲームが見つかりません。"), Sjis(game.c_str()));
      return -1;
    }
    std::string abs = PlatAbsolutePath(game);
    if (kind == 2) {
      s_GameFolder = abs;
    } else {
      // A regular file is a standalone game; its folder is the game folder.
      s_ExeNative = abs;
      s_GameFolder = abs.substr(0, abs.find_last_of('/'));
      if (s_GameFolder.empty()) s_GameFolder.assign(1, '/');
    }
    s_GameArg = abs;
    first_arg = 2;
  } else {
    s_GameFolder = PlatAbsolutePath(PlatCurrentFolder());
    s_GameArg = s_GameFolder;
  }
  if (s_GameFolder.empty()) {
    ErrMessageBoxF(Sjis("エラー").c_str(), "%s", Sjis("ゲームが見つかりません。"));
    return -1;
  }
  s_ExeVirtual = s_ExeNative.empty();
  if (s_ExeVirtual) s_ExeNative = s_GameFolder + (s_GameFolder.back() == '/' ? "" : "/") + "zephra";
  for (int i = first_arg; i < argc; i++) s_ArgsNative.push_back(argv[i]);
  std::string exe_windows = WindowsStyle(s_ExeNative);
  if (exe_windows.size() >= SYS_EXE_PATH_MAX || ExeFolderOf(exe_windows).size() >= SYS_PATH_MAX ||
      s_GameFolder.size() >= sizeof g_GameFolderNative) {
    // The Windows-style names would be cut, and with them the identity of the game.
    ErrMessageBoxF(Sjis("エラー").c_str(), "%s\n%s", Sjis("ゲームフォルダのパスが長すぎます。"),
                   Sjis(s_GameFolder.c_str()));
    return -1;
  }
  return 0;
}

const std::vector<std::string>& SysGameArgs() { return s_ArgsNative; }
std::string SysGamePath() { return s_GameArg.empty() ? s_ExeNative : s_GameArg; }
const char* SysExeLockName() { return s_ExeLockName.c_str(); }
const char* SysFolderLockName() { return s_FolderLockName.c_str(); }

void SysInitPaths() {
  std::string exe = WindowsStyle(s_ExeNative);
  StrCopySjis(g_ExePath, sizeof g_ExePath, exe.c_str());
  StrLowerSjis(g_ExePath);
  std::string folder = ExeFolderOf(g_ExePath);
  StrCopySjis(g_ExeFolder, sizeof g_ExeFolder, folder.c_str());
  StrCopySjis(g_InstanceName, sizeof g_InstanceName, g_ExePath);
  StrReplaceCharSjis(g_InstanceName, '\\', ':');
  StrCopySjis(g_FolderInstanceName, sizeof g_FolderInstanceName, g_ExeFolder);
  StrReplaceCharSjis(g_FolderInstanceName, '\\', ':');
  StrCopySjis(g_WorkFolder, sizeof g_WorkFolder, g_ExeFolder);
  StrCopySjis(g_GameFolderNative, sizeof g_GameFolderNative, s_GameFolder.c_str());
  // Game-data names spelt below the game folder reach the native folder whatever its characters.
  PlatFileMapFolder(g_ExeFolder, s_GameFolder);
  g_PackExeNative = s_ExeNative;
  StrCopySjis(g_AppDataFolder, sizeof g_AppDataFolder, WindowsStyle(PlatFolderAppData()).c_str());
  StrCopySjis(g_DocumentsFolder, sizeof g_DocumentsFolder, WindowsStyle(PlatFolderDocuments()).c_str());
  s_ExeLockName = s_ExeNative;
  s_FolderLockName = s_GameFolder + (s_GameFolder.back() == '/' ? "" : "/");
  for (std::string* name : {&s_ExeLockName, &s_FolderLockName}) std::replace(name->begin(), name->end(), '/', ':');
  // Slot 0, the program path, is the path as it is: the real path of the standalone game or of
  // zephra, in the Windows spelling, its case kept, no character lost to "?". g_ExePath is
  // lower-cased for the instance names only.
  std::string program = s_ExeVirtual ? PlatAbsolutePath(PlatExecutablePath()) : s_ExeNative;
  std::replace(program.begin(), program.end(), '/', '\\');
  s_ArgsSjis.assign(1, PlatUtf8ToSjisKeepingOthers(program));
  for (const std::string& a : s_ArgsNative) s_ArgsSjis.push_back(PlatUtf8ToSjis(a));
}

static void FreeExtraArgs() {
  for (char*& s : g_ExtraArgs) {
    std::free(s);
    s = nullptr;
  }
  g_ExtraArgCount = 0;
}

static char* HeapText(const char* s, size_t len) {
  char* p = static_cast<char*>(std::calloc(len + 2, 1));
  if (p && len) std::memcpy(p, s, len);
  return p;
}

void CfgCopyExtraArgs(int argc, const char* const* argv) {
  FreeExtraArgs();
  i32 count = argc - 1 < SYS_EXTRA_ARGS ? argc - 1 : SYS_EXTRA_ARGS;
  if (count < 0) count = 0;
  g_ExtraArgCount = count;
  for (i32 i = 0; i <= SYS_EXTRA_ARGS; i++) {
    const char* s = i <= count && i < argc ? argv[i] : "";
    g_ExtraArgs[i] = HeapText(s, std::strlen(s));
  }
}

// ---- The start-up sequence -------------------------------------------------------------------

// Step results: 0 go on, -1 stop, 1 stop after the windows exist (the script loading failed).
typedef i32 (*SysStepFn)();

static i32 StepCopyArgs() {
  std::vector<const char*> argv;
  for (const std::string& a : s_ArgsSjis) argv.push_back(a.c_str());
  CfgCopyExtraArgs(static_cast<int>(argv.size()), argv.data());
  return 0;
}

static i32 StepEngineSettings() {
  CfgLoadEngineSettings();  // a missing file keeps the defaults
  return 0;
}

static i32 StepSaveFolder() {
  CfgLoadSaveFolder();
  return 0;
}

static i32 StepDpi() {
  WinEnableDpiAwareness();
  return 0;
}

static i32 StepCpuKernels() {
  BlendInitCpuKernels();
  return 0;
}

static i32 StepSysInfo() { return SysInfoCollect() == 0 ? 0 : -1; }

static i32 StepRefuseOldSystems() {
  u8 code = static_cast<u8>(g_OsCode);
  if (code >= 1 && code <= 19) {
    ErrMessageBoxF(Sjis("エラー").c_str(), "%s", Sjis("Windows95/NT3.5/NT4 では起動できません。"));
    return -1;
  }
  return 0;
}

static i32 StepScramble() { return PackScrambleSetup() == 0 ? 0 : -1; }

static i32 StepSettingsTool() {
  if (!StrEqualNoCaseSjis(g_ExtraArgs[1] ? g_ExtraArgs[1] : "", "/zpcfg")) return 0;
  // The engine settings tool is a Windows program of its own; there is none to start here.
  ErrMessageBoxF("", "%s", Sjis("この環境には設定ツール (/zpcfg) がありません。"));
  return -1;
}

static i32 StepNotices() {
  if (!StrEqualNoCaseSjis(g_ExtraArgs[1] ? g_ExtraArgs[1] : "", "/info")) return 0;
  g_ErrDialogCaption = "License Information";
  ErrRaise(ERR_NOTICES, 1);
  s_EndedQuietly = 1;
  return -1;
}

static i32 StepPackScan() { return PackScanAll() == 0 ? 0 : -1; }

static i32 StepFolderInstance() {
  if (g_DataInExe) return 0;
  i32 h = PlatInstanceLockAcquire(SysFolderLockName());
  if (h < 0) {
    WinReleaseMutexes();
    return -1;  // a failed start (status 1): the reason is printed
  }
  if (h == 0) {
    WinActivateRunningInstance(SysFolderLockName(), g_InstanceName);
    WinReleaseMutexes();
    s_EndedQuietly = 1;
    return -1;
  }
  g_InstanceMutexes[2] = h;
  // Loose files and packs: one instance per folder, whatever the executable.
  PlatInstanceLockRelease(g_InstanceMutexes[1]);
  g_InstanceMutexes[1] = 0;
  return 0;
}

static i32 StepWorkFolder() {
  if (g_ScriptsPacked) {
    StrCopySjis(g_WorkFolder, sizeof g_WorkFolder, g_ExeFolder);
    return 0;
  }
  if (ScriptCompilerLink() == 0) return 0;
  // Asked to quit while the compiler worked: a normal end, not a failed start-up.
  if (g_QuitRequested && !g_ErrFatalRaised) s_EndedQuietly = 1;
  return -1;
}

static i32 StepGlobals() { return SysGlobalsInit(); }

static i32 StepWriteTest() {
  SysFolderWriteTest();
  SysSaveFolderMap();
  return 0;
}

static i32 StepCommonControls() { return 0; }  // nothing to register on this platform

static i32 StepResource() {
  i32 size = SysResourceSize();
  if (size == -1 || size >= 5) {
    ErrMessageBoxF("", "IDR miss.");
    return -1;
  }
  return 0;
}

static i32 StepWindowObjects() { return WinObjsCreate() == 0 ? 0 : -1; }

static i32 StepProjectConfig() { return CfgLoadProjectConfig() == 0 ? 0 : -1; }

static i32 StepDwm() {
  WinDwmCompositionOff();
  return 0;
}

static i32 StepScreenSizes() {
  WindowObject* main = g_WindowObjects[0];
  const SizeI32 monitor = g_MonitorSize.load();
  if (g_ScreenSaverBuild) {
    main->width = monitor.width;
    main->height = monitor.height;
  }
  g_DisplaySize = SizeI32{main->width, main->height};
  if (main->width <= monitor.width && main->height <= monitor.height) {
    g_OutputSize = SizeI32{main->width, main->height};
  } else {
    g_OutputSize = SizeI32{monitor.width / 2, monitor.height / 2};
  }
  return 0;
}

static i32 StepScreenBuffer() {
  // Neither failure stops the sequence: the fatal raise has set the quit flag.
  const SizeI32 output = g_OutputSize.load();
  WinScaledBufferAlloc(output.width, output.height);
  return 0;
}

static i32 StepSetupMainScreen() {
  WindowObject* main = g_WindowObjects[0];
  WinObjSetupScreen(main, main->title);
  g_WindowOpen[0] = 1;
  return 0;
}

static i32 StepCreateMainWindow() {
  WindowObject* main = g_WindowObjects[0];
  if (!WinCreate(main, g_InstanceName, main->title)) {
    ErrMessageBoxF(Sjis("エラー").c_str(), "%s", Sjis("ウィンドウが生成できませんでした。"));
    return -1;
  }
  // A second start finds this window beside the lock this copy holds.
  for (i32 h : {g_InstanceMutexes[1], g_InstanceMutexes[2]})
    if (h > 0) PlatInstanceLockSetWindow(h, main->handle, g_InstanceName);
  return 0;
}

static i32 StepCursorAndIme() { return 0; }  // the cursor is visible already; no IME to detach

static i32 StepTimerPeriod() {
  FrameTimerPeriodBegin();
  return 0;
}

static i32 StepFullscreenDepth() {
  g_FullscreenBitsPerPixel = g_DesktopBitsPerPixel;
  return 0;
}

static i32 StepCommandWindow() { return WinCommandCreate() == 0 ? 0 : -1; }

static i32 StepTreeRoots() { return SysCreateRoots() == 0 ? 0 : -1; }

static i32 StepJoysticks() {
  g_JoystickPresent = static_cast<u8>(InputJoystickInit());
  return 0;
}

static i32 StepClocks() {
  g_GameClock = 0;
  g_RealClock = 0;
  g_StartLocalTime = PlatGetLocalTime();
  return 0;
}

static i32 StepCharacterPlayer() {
  // The player is tried when its Direct3D helper library is among the game's files or the
  // system is Vista or later; here the system always is, so the file lookup decides nothing.
  if (static_cast<u8>(g_OsCode) > 64) EmoteBridgeLoad();
  if (g_EmoteAvailable) {
    g_D3dInUse = 1;
    g_GpuDrawing = 0;
    if (g_CpuScaleFilter > 1) g_CpuScaleFilter = 1;
    g_FullscreenModeChange = 0;
  }
  return 0;
}

static i32 StepSystemReport() {
  if (g_D3dInUse || g_GpuDrawing) SysReportInfo();
  return 0;
}

static i32 StepLoadScripts() {
  if (ScriptLoadAll() != 0) {
    WinRequestQuit();
    return 1;
  }
  return 0;
}

static i32 StepWorkers() { return SysWorkerPoolStart() == 0 ? 0 : -1; }

static i32 StepSound() { return SoundStartupWatchdog() == 0 ? 0 : -1; }

static i32 StepFrameThread() { return FrameThreadStart() == 0 ? 0 : -1; }

static i32 StepWindowed() {
  WinSetFullscreen(0);  // the main window starts windowed, which it already is
  return 0;
}

static i32 StepScriptTimers() {
  u32 now = PlatTimeMs();
  for (int i = 0; i < 4; i++) {
    g_ScriptTimers.start[i] = now;
    g_ScriptTimers.running[i] = 1;
  }
  return 0;
}

static void UseCpuDrawing() {
  g_PresentFilterMode = 0;
  g_CpuScaleFilter = 1;
  g_D3dInUse = 0;
  g_GpuDrawing = 0;
}

static i32 StepDirect3d() {
  if (!g_D3dInUse && !g_GpuDrawing) return 0;
  i32 r = D3dStartup();
  if (r == 1) {
    UseCpuDrawing();
    ErrMessageBoxF("", "%s", Sjis("GPU描画が出来ませんでした。CPU描画に移行します。"));
  } else if (r < 0) {
    UseCpuDrawing();
    ErrQuitOnFailure();
    return -1;
  } else if (g_ThreadedMode) {
    D3dThreadLeave();  // the frame thread takes the device over from here
  }
  return 0;
}

struct SysStep {
  i32 number;
  SysStepFn run;
};

static const SysStep kStartupSteps[] = {
    {1, StepCopyArgs},      {2, StepEngineSettings}, {3, StepSaveFolder},       {4, StepDpi},
    {5, StepCpuKernels},    {6, StepSysInfo},        {7, StepRefuseOldSystems}, {8, StepScramble},
    {9, StepSettingsTool},  {10, StepNotices},       {11, StepPackScan},        {12, StepFolderInstance},
    {13, StepWorkFolder},   {14, StepGlobals},       {15, StepWriteTest},       {16, StepCommonControls},
    {17, StepResource},     {18, StepWindowObjects}, {19, StepProjectConfig},   {20, StepDwm},
    {21, StepScreenSizes},  {22, StepScreenBuffer},  {23, StepSetupMainScreen}, {24, StepCreateMainWindow},
    {25, StepCursorAndIme}, {26, StepTimerPeriod},   {27, StepFullscreenDepth}, {28, StepCommandWindow},
    {29, StepTreeRoots},    {30, StepJoysticks},     {31, StepClocks},          {32, StepCharacterPlayer},
    {33, StepSystemReport}, {34, StepLoadScripts},   {35, StepWorkers},         {36, StepSound},
    {37, StepFrameThread},  {38, StepWindowed},      {39, StepScriptTimers},    {40, StepDirect3d},
};

i32 SysStartup() {
  s_StartupRan = 1;
  s_StepsDone = 0;
  for (const SysStep& step : kStartupSteps) {
    if (step.number == g_SysStartupFailStep) return -1;
    // Asked to end by a signal while starting: the rest of the start-up is not waited for.
    if (PlatQuitSignalled()) return -1;
    i32 r = step.run();
    if (r != 0) return r;
    s_StepsDone = step.number;
  }
  return 0;
}

i32 SysGlobalsInit() {
  if (s_GlobalsDone) return 0;
  s_GlobalsDone = 1;
  StrCopySjis(g_VersionMarker, sizeof g_VersionMarker, "revarhpez");
  SysRandomSeed(PlatTimeMs());
  // The fixed clock repeats runs, so the C runtime generator starts from its own default then.
  RandCrtSeed(PlatClockIsFixed() ? 1u : static_cast<u32>(std::time(nullptr)));
  BlendInitTablesLater();  // the compositor's product tables first, then the blend tables
  InputInstallKeyCallbacks();
  // The script engine's accessor tables (system variables, evaluator entries) are constant
  // tables built with the program: nothing to install.
  VarInitAssignOps();
  ExprInitOpTable(1);
  std::memset(g_CmdFlags, 1, sizeof g_CmdFlags);
  if (TextMessageInit() != 0) return -1;
  FontEnumInstalledLater();  // the faces are listed when text first needs them
  i32 major = 0, minor = 0;
  char letter = 0;
  g_DxVersion = SysProbeDirectXVersion(&major, &minor, &letter) < 0 ? 0 : major;
  return 0;
}

void SysSaveFolderMap() {
  if (!g_FolderNotWritable || g_CfgSaveFolderMode != 0) return;
  // A game that cannot keep its saves beside itself keeps them in the user's data folder, one
  // folder per game folder; the scripts still name them "savech\...".
  const std::string game = g_GameFolderNative;
  const size_t slash = game.find_last_of('/');
  const std::string name = slash == std::string::npos ? game : game.substr(slash + 1);
  char hash[16];
  std::snprintf(hash, sizeof hash, "%08x", MemCrc32(game.data(), game.size()));
  // Without a home folder there is no place of the user's own: the saves stay where they cannot
  // be written, and a save reports why.
  const std::string data = PlatFolderAppData();
  if (data.empty()) return;
  const std::string native = data + "/zephra/" + (name.empty() ? "game" : name) + "-" + hash + "/savech";
  PlatFileMapFolder("savech", native);
  PlatFileMapFolder((std::string(g_ExeFolder) + "\\savech").c_str(), native);
}

void SysFolderWriteTest() {
  // The working folder is the game folder unless the compiler link handed over another one;
  // its Windows-style name is lower-cased, so the native spelling is used where it is known.
  std::string folder;
  if (std::strcmp(g_WorkFolder, g_ExeFolder) == 0) {
    folder = g_GameFolderNative;
  } else {
    folder = PlatSjisToUtf8(g_WorkFolder);
    for (char& c : folder)
      if (c == '\\') c = '/';
  }
  // What a killed run left behind in the game folder and the save folder goes first.
  PlatFolderRemoveLeftovers(folder);
  if (g_SaveFolder[0]) PlatFolderRemoveLeftovers(PlatFileResolve(g_SaveFolder));
  g_FolderNotWritable = PlatFolderWritable(folder) ? 0 : 1;
}

i32 SysResourceSize() { return PlatResourceSize("ZP_BIN", 148); }

// The eight text surfaces of the font slots: their glyph cells and fonts.
void SysFreeGdiSurfaces() { FontFreeSlots(); }

void WinEnableDpiAwareness() {}  // SDL windows are sized in pixels already
void WinDwmCompositionOff() {}   // no desktop composition switch on this platform

i32 SysLaunchProcess(const std::vector<std::string>& argv) { return PlatSpawn(argv) == 0 ? 0 : -1; }

// ---- Shutdown --------------------------------------------------------------------------------

static bool StepDone(i32 number) { return s_StepsDone >= number; }

void SysShutdown() {
  if (!s_StartupRan) return;
  s_StartupRan = 0;
  // The quit flag comes first, so every thread still running sees it and ends; waiting for
  // them before setting it could wait forever.
  g_QuitRequested = 1;
  // Movie players feed the mixer from threads of their own: they end before the sound thread
  // closes the device under them. What they last showed stays in the window for the frame dump.
  MovieShutdown();
  bool sound_started;
  {
    EngineLockGuard lock;
    sound_started = g_SoundThreadState < 255;
  }
  while (sound_started) {
    {
      EngineLockGuard lock;
      if (g_SoundThreadState != 0) break;
    }
    PlatSleepMs(1);
  }
  SoundThreadJoin();
  FrameThreadJoin();
  // No thread draws any more: the main window's last picture is final.
  // A dump that fails says why; the run's status stays the game's.
  std::string why;
  if (!g_FrameDumpPath.empty() && FrameDumpPng(g_FrameDumpPath.c_str(), &why) != 0)
    std::fprintf(stderr, "zephra: the frame dump %s could not be written: %s\n", g_FrameDumpPath.c_str(), why.c_str());
  SysWorkerPoolStop();  // also the workers of a start-up step 35 that failed half-way
  if (g_EmoteAvailable) {
    EmoteBridgeRelease();
    g_EmoteAvailable = 0;
  }
  if (StepDone(39) && (g_D3dInUse || g_GpuDrawing)) D3dReleaseAll();
  WinMenuShutdown();
  WinTrayIconRemove();
  if (g_Fullscreen && WinSetFullscreen(0)) {
    g_Fullscreen = 0;
    g_Maximised = 0;
  }
  if (StepDone(26)) FrameTimerPeriodEnd();
  if (StepDone(14)) SysFreeGdiSurfaces();
  SaveFreeAll();
  // No Flash control and no run-time libraries on this platform.
  if (StepDone(28)) WinCommandDestroy();
  // What the original leaves to the end of the process.
  WinDestroyAll();
  {
    EngineLockGuard lock;
    FramePresentForget(nullptr);
    std::free(g_ScaledFrameBuffer);
    g_ScaledFrameBuffer = nullptr;
    g_ScaledFrameBufferSize = 0;
  }
  s_StepsDone = 0;
}

i32 SysExitStatus(i32 startup_result) {
  // A signal ends the run normally, also one that stopped the start-up.
  if (s_EndedQuietly || (PlatQuitSignalled() && !g_ErrFatalRaised)) return 0;
  return (startup_result != 0 || g_ErrFatalRaised) ? 1 : 0;
}

std::vector<std::string> SysRelaunchCommand() {
  std::vector<std::string> argv{PlatExecutablePath()};
  if (!s_GameArg.empty()) argv.push_back(s_GameArg);
  argv.insert(argv.end(), s_ArgsNative.begin(), s_ArgsNative.end());
  return argv;
}

void SysReset() {
  FreeExtraArgs();
  s_GlobalsDone = 0;
  s_StepsDone = 0;
  s_StartupRan = 0;
  s_EndedQuietly = 0;
  g_FolderNotWritable = 0;
  g_RelaunchAtExit = 0;
  g_Running = 1;
  g_SysStartupFailStep = 0;
  WinReleaseMutexes();
  SysObjReset();
  ScriptReset();
  VarReset();
}
