#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/err.h"
#include "core/pack.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "display/present.h"
#include "kit/config_writer.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/cmd.h"
#include "script/save.h"
#include "shell/complink.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "sound/movie.h"
#include "support/kit_game.h"

namespace fs = std::filesystem;

namespace {

struct StartupTest : ::testing::Test {
  fs::path root;
  std::string saved_cwd;

  void SetUp() override {
    saved_cwd = PlatCurrentFolder();
    char tmpl[] = "/tmp/zephra-startup-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root / "locks");
    setenv("XDG_RUNTIME_DIR", (root / "locks").c_str(), 1);
    WriteProject(0);
    ResetAll();
    g_ScriptCompilerPath = ZPKIT_BIN;  // the game's scripts are loose: the kit's compiler links them
    ASSERT_EQ(PlatVideoInit(), 0);
    TestWriteGameScripts(root);
  }
  void TearDown() override {
    SysShutdown();
    WinReleaseMutexes();
    ResetAll();
    g_ScriptCompilerPath.clear();
    PlatVideoQuit();
    PlatDialogsSetAnswer(0);
    PlatSetCurrentFolder(saved_cwd);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  // The game's project configuration: a silent 640 x 480 game, frames on their own thread or not.
  void WriteProject(u32 threaded) {
    fs::create_directories(root / "chbin");
    KitProjectConfig cfg;
    cfg.sound = 0;
    cfg.threaded = threaded;
    ASSERT_EQ(KitProjectConfigWrite((root / "chbin" / "zpcfg.zbn").string(), cfg), 0);
  }
  static void ResetAll() { SysResetAll(); }
  // Parses "zephra GAME ARGS..." and fills the paths, as WinMain does.
  void Prepare(const fs::path& game, std::vector<std::string> args = {}) {
    std::vector<std::string> words{"zephra", game.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    ASSERT_EQ(SysParseCommandLine(static_cast<int>(argv.size()), argv.data()), 0);
    SysInitPaths();
    PlatSetCurrentFolder(g_GameFolderNative);
  }
};

}  // namespace

TEST(ExtraArgs, KeepsTheFirstEightAndFillsTheRestWithEmptyStrings) {
  struct Case {
    std::vector<const char*> argv;
    i32 count;
  } cases[] = {
      {{"prog"}, 0},
      {{"prog", "a", "b"}, 2},
      {{"prog", "1", "2", "3", "4", "5", "6", "7", "8"}, 8},
      {{"prog", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, 8},
  };
  for (const Case& c : cases) {
    CfgCopyExtraArgs(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(g_ExtraArgCount, c.count);
    for (i32 i = 0; i <= SYS_EXTRA_ARGS; i++) {
      ASSERT_NE(g_ExtraArgs[i], nullptr);
      std::string want = i <= c.count ? c.argv[i] : "";
      EXPECT_EQ(std::string(g_ExtraArgs[i]), want) << "slot " << i << " of " << c.argv.size();
    }
  }
  SysReset();
}

TEST_F(StartupTest, PathsAreWindowsStyleLowerCasedShiftJis) {
  fs::path game = root / "My Game" / "ゲーム";
  fs::create_directories(game);
  Prepare(game, {"Hello"});
  std::string base = root.string();
  for (char& c : base) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  // The trail byte 0x51 ('Q') of the katakana ゲ stays as it is.
  std::string lower = base + "\\my game\\\x83Q\x81[\x83\x80";
  EXPECT_EQ(std::string(g_ExeFolder), lower + "\\");
  EXPECT_EQ(std::string(g_ExePath), lower + "\\zephra");
  EXPECT_EQ(std::string(g_WorkFolder), std::string(g_ExeFolder));
  std::string instance = g_ExePath;
  for (char& c : instance)
    if (c == '\\') c = ':';
  EXPECT_EQ(std::string(g_InstanceName), instance);
  EXPECT_EQ(std::string(g_FolderInstanceName).back(), ':');
  EXPECT_EQ(std::string(g_GameFolderNative), game.string());  // the native spelling keeps its case
  g_SysStartupFailStep = 2;                                   // run only the argument copy
  EXPECT_EQ(SysStartup(), -1);
  EXPECT_EQ(g_ExtraArgCount, 1);
  EXPECT_STREQ(g_ExtraArgs[1], "Hello");
}

// @12[0] is the program as it is: zephra's real path for a game folder, the standalone game's
// for a bundle; its case kept, and a character without a Shift-JIS form kept too (not "?").
TEST_F(StartupTest, ProgramPathIsTheRealPathAsItIs) {
  auto windows = [](std::string native) {
    for (char& c : native)
      if (c == '/') c = '\\';
    return native;
  };
  struct Case {
    fs::path game;
    std::string program;  // Shift-JIS
  } cases[] = {
      {root, windows(PlatAbsolutePath(PlatExecutablePath()))},
      {root / "Dir" / "Game.Bundle", windows((root / "Dir").string()) + "\\Game.Bundle"},
      {root / "Dir" / "\u30b2\u30fc\u30e0 caf\u00e9.bin", windows((root / "Dir").string()) + "\\\x83Q\x81[\x83\x80 caf\xc3\xa9.bin"},
  };
  fs::create_directories(root / "Dir");
  for (const Case& c : cases) {
    if (c.game != root) std::ofstream(c.game) << "x";
    Prepare(c.game);
    g_SysStartupFailStep = 2;  // run only the argument copy
    EXPECT_EQ(SysStartup(), -1);
    EXPECT_EQ(std::string(g_ExtraArgs[0]), c.program) << c.game;
  }
}

TEST_F(StartupTest, GameArgumentIsAFolderABundleFileOrMissing) {
  fs::create_directories(root / "g");
  std::ofstream(root / "g" / "Game.Bundle") << "x";
  Prepare(root / "g" / "Game.Bundle");
  EXPECT_EQ(std::string(g_GameFolderNative), (root / "g").string());
  EXPECT_TRUE(std::string(g_ExePath).ends_with("\\g\\game.bundle"));
  EXPECT_TRUE(std::string(g_ExeFolder).ends_with("\\g\\"));
  // A relaunch starts zephra again on the same game.
  EXPECT_EQ(SysRelaunchCommand(),
            (std::vector<std::string>{PlatExecutablePath(), (root / "g" / "Game.Bundle").string()}));

  // A first word that names nothing and looks like a switch belongs to a game in this folder.
  ASSERT_TRUE(PlatSetCurrentFolder((root / "g").string()));
  std::vector<std::string> words{"zephra", "/info", "x"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  ASSERT_EQ(SysParseCommandLine(3, argv.data()), 0);
  SysInitPaths();
  EXPECT_EQ(std::string(g_GameFolderNative), (root / "g").string());
  g_SysStartupFailStep = 2;
  SysStartup();
  EXPECT_STREQ(g_ExtraArgs[1], "/info");
  EXPECT_STREQ(g_ExtraArgs[2], "x");

  // Anything else that names nothing is refused.
  std::vector<std::string> bad{"zephra", (root / "nope" / "x").string()};
  std::vector<char*> badv{bad[0].data(), bad[1].data()};
  testing::internal::CaptureStderr();
  EXPECT_EQ(SysParseCommandLine(2, badv.data()), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("nope"), std::string::npos);
}

TEST_F(StartupTest, WholeStartupOpensTheMainWindowAndShutdownClosesIt) {
  Prepare(root);
  ASSERT_EQ(SysStartup(), 0);
  WindowObject* main = g_WindowObjects[0];
  ASSERT_NE(main, nullptr);
  EXPECT_NE(main->handle, nullptr);
  EXPECT_EQ(g_WindowOpen[0].load(), 1);
  EXPECT_EQ(main->close_state.load(), WIN_CLOSE_CONFIRM);
  EXPECT_EQ(g_OutputSize.load().width, main->width);
  EXPECT_EQ(g_ScaledFrameBufferSize, u64(main->width) * 4 * main->height + main->width * 4 + 4);
  EXPECT_STREQ(g_VersionMarker, "revarhpez");
  for (u8 f : g_CmdFlags) EXPECT_EQ(f, 1);
  EXPECT_EQ(g_DxVersion, 9);
  EXPECT_EQ(g_ScriptTimers.running[3], 1);
  EXPECT_EQ(g_InstanceMutexes[1], 0) << "loose files: the per-folder lock replaces the per-executable one";
  EXPECT_GT(g_InstanceMutexes[2], 0);
  EXPECT_EQ(PlatWindowCount(), 1);
  SysShutdown();
  EXPECT_EQ(PlatWindowCount(), 0);
  EXPECT_EQ(g_ScaledFrameBuffer, nullptr);
  EXPECT_EQ(SysExitStatus(0), 0);
}

// Start-up stopped at every step in turn (and not at all): the teardown releases exactly what
// was made, once, and a second teardown does nothing.
TEST_F(StartupTest, TeardownAfterAStopAtAnyStepReleasesWhatWasMade) {
  for (i32 stop = 1; stop <= 41; stop++) {
    ResetAll();
    g_ThreadedMode = 1;  // so the frame thread is among the things to undo
    WriteProject(1);     // (the project configuration sets the mode again)
    Prepare(root);
    g_SysStartupFailStep = stop;
    i32 r = SysStartup();
    EXPECT_EQ(r, stop <= 40 ? -1 : 0) << stop;
    if (stop > 37) {
      EngineLockGuard lock;
      EXPECT_EQ(g_FrameThreadState, 0) << stop;
    }
    SysShutdown();
    SysShutdown();
    EXPECT_EQ(PlatWindowCount(), 0) << stop;
    EXPECT_NE(g_FrameThreadState, 0) << stop;
    EXPECT_EQ(g_ScaledFrameBuffer, nullptr) << stop;
    WinReleaseMutexes();
    i32 lock = PlatInstanceLockAcquire(SysFolderLockName());
    EXPECT_GT(lock, 0) << "the folder lock is free again after stop " << stop;
    PlatInstanceLockRelease(lock);
  }
}

TEST_F(StartupTest, SecondInstanceOnTheSameFolderStopsQuietly) {
  Prepare(root);
  i32 held = PlatInstanceLockAcquire(SysFolderLockName());
  ASSERT_GT(held, 0);
  EXPECT_EQ(SysStartup(), -1);
  EXPECT_EQ(PlatWindowCount(), 0);
  EXPECT_EQ(SysExitStatus(-1), 0);
  PlatInstanceLockRelease(held);
}

TEST_F(StartupTest, InfoShowsTheNoticesAndEndsTheRun) {
  Prepare(root, {"/INFO"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(SysStartup(), -1);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("[error dialog] License Information"), std::string::npos);
  EXPECT_NE(out.find("zlib"), std::string::npos);
  EXPECT_EQ(g_WindowObjects[0], nullptr) << "no window is made";
  EXPECT_EQ(SysExitStatus(-1), 0);
}

TEST_F(StartupTest, SettingsToolSwitchSaysItIsMissingAndFails) {
  Prepare(root, {"/zpcfg", "more"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(SysStartup(), -1);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("[message box]"), std::string::npos);
  EXPECT_NE(out.find("/zpcfg"), std::string::npos);
  EXPECT_EQ(PlatWindowCount(), 0);
  EXPECT_EQ(SysExitStatus(-1), 1);
}

TEST_F(StartupTest, UnwritableFolderSetsTheFlagAndStartupGoesOn) {
  Prepare(root);
  std::strcpy(g_GameFolderNative, "/proc");
  SysFolderWriteTest();
  EXPECT_EQ(g_FolderNotWritable, 1);
  Prepare(root);
  SysFolderWriteTest();
  EXPECT_EQ(g_FolderNotWritable, 0);
}

TEST_F(StartupTest, QuitSetOutsideTheFrameStillEndsTheLoop) {
  Prepare(root);
  ASSERT_EQ(SysStartup(), 0);
  g_QuitRequested = 1;  // as a fatal error in a message handler would, without any close posted
  SysMessageLoop();
  EXPECT_EQ(g_Running.load(), 0);
  EXPECT_EQ(PlatWindowCount(), 0);
  EXPECT_EQ(g_WindowOpen[0].load(), -1);
}

TEST_F(StartupTest, QuitWithoutAMainWindowStillEndsTheLoop) {
  ASSERT_EQ(WinObjsCreate(), 0);  // objects, but no window: start-up stopped before it
  WinRequestQuit();
  SysMessageLoop();
  EXPECT_EQ(g_Running.load(), 0);
  // Without any message queue at all the request ends the loop directly.
  PlatVideoQuit();
  g_Running = 1;
  WinRequestQuit();
  EXPECT_EQ(g_Running.load(), 0);
}

TEST_F(StartupTest, CloseButtonAsksFirstAndNoKeepsTheGame) {
  PlatClockSetFixed(true, 0);
  g_FrameExitAfter = 1000000;
  Prepare(root);
  ASSERT_EQ(SysStartup(), 0);
  WindowObject* main = g_WindowObjects[0];
  PlatMsg close{PLAT_MSG_CLOSE_REQUEST, main->handle, main, 0, 0, 0, nullptr};
  PlatDialogsSetAnswer(PLAT_IDNO);
  testing::internal::CaptureStderr();
  WinMainDispatch(&close);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("[message box] Zephra"), std::string::npos);
  EXPECT_EQ(g_QuitRequested.load(), 0);
  EXPECT_NE(main->handle, nullptr);
  EXPECT_EQ(g_FramesHeld.load(), 0);
  // Answering yes ends the run through the normal quit path.
  PlatDialogsSetAnswer(PLAT_IDYES);
  testing::internal::CaptureStderr();
  WinMainDispatch(&close);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_QuitRequested.load(), 1);
  SysMessageLoop();
  EXPECT_EQ(g_Running.load(), 0);
  EXPECT_EQ(PlatWindowCount(), 0);
  PlatClockSetFixed(false);
}

TEST_F(StartupTest, ThreadedModeEndsThroughTheFrameThread) {
  PlatClockSetFixed(true, 0);
  g_ThreadedMode = 1;
  WriteProject(1);
  g_FrameExitAfter = 30;
  Prepare(root);
  ASSERT_EQ(SysStartup(), 0);
  SysMessageLoop();  // the frame thread asks to quit after 30 frames
  EXPECT_GE(g_FrameCounter, 30u);
  SysShutdown();
  EXPECT_EQ(g_FrameThreadState, 9);
  EXPECT_EQ(SysExitStatus(0), 0);
  PlatClockSetFixed(false);
}
