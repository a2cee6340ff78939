// The window on a real display server: zephra under Xvfb opens the project's window, and the
// platform's and the screen modes' X11-only tests run there (the latter checking screenshots
// taken with xwd). Skipped when xvfb-run, xdotool or xwd is missing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kit/config_writer.h"
#include "support/kit_game.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

bool OnPath(const char* tool) {
  const char* path = getenv("PATH");
  std::stringstream ss(path ? path : "");
  std::string dir;
  while (std::getline(ss, dir, ':'))
    if (!dir.empty() && access((fs::path(dir) / tool).c_str(), X_OK) == 0) return true;
  return false;
}

struct XvfbRun : ::testing::Test {
  fs::path root;
  void SetUp() override {
    if (!OnPath("xvfb-run") || !OnPath("xdotool")) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    char tmpl[] = "/tmp/zephra-x11-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root / "locks");
    fs::create_directories(root / "game" / "chbin");
    // The project's window: 640 x 480, titled "Zephra".
    ASSERT_EQ(KitProjectConfigWrite((root / "game" / "chbin" / "zpcfg.zbn").string(), KitProjectConfig()), 0);
    TestWriteGameScripts(root / "game");
    // Libraries the display brings in (D-Bus, Xlib) keep a few blocks to the end of the process.
    std::ofstream(root / "lsan.supp") << "leak:libdbus-1.so\nleak:libX11.so\nleak:libxcb.so\n";
  }
  void TearDown() override {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
  static std::string ReadAll(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // Runs a shell script under xvfb-run on a 1280 x 1024 screen; its stdout and stderr go to
  // out. Returns the exit status.
  int RunOnXvfb(const std::string& script, const std::vector<std::string>& env, std::string* out) {
    fs::path log = root / "out.log";
    std::vector<std::string> argv_s{"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh", "-c", script};
    std::vector<std::string> env_s{"SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy", "ZEPHRA_DIALOGS=stderr",
                                   "XDG_RUNTIME_DIR=" + (root / "locks").string(),
                                   "LSAN_OPTIONS=suppressions=" + (root / "lsan.supp").string()};
    for (char** e = environ; *e; e++) {
      std::string kv = *e;
      if (kv.rfind("SDL_", 0) != 0 && kv.rfind("ZEPHRA_", 0) != 0 && kv.rfind("XDG_RUNTIME_DIR=", 0) != 0 &&
          kv.rfind("LSAN_OPTIONS=", 0) != 0 && kv.rfind("DISPLAY=", 0) != 0)
        env_s.push_back(kv);
    }
    env_s.insert(env_s.end(), env.begin(), env.end());
    std::vector<char*> argv, envp;
    for (std::string& s : argv_s) argv.push_back(s.data());
    for (std::string& s : env_s) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "xvfb-run", &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    *out = ReadAll(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

}  // namespace

// Until the project configuration is read, the main window is the stand-in 640 x 480 "Zephra".
TEST_F(XvfbRun, ZephraOpensTheProjectWindowCentredAndEndsOnTermination) {
  std::string script =
      "\"$ZEPHRA\" \"$GAME\" & pid=$!\n"
      "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zephra$' | head -n 1)\n"
      "echo \"id=$id\"\n"
      "[ -n \"$id\" ] && xdotool getwindowname \"$id\" | sed 's/^/name=/'\n"
      "[ -n \"$id\" ] && xdotool getwindowgeometry \"$id\"\n"
      "kill -TERM $pid\n"
      "wait $pid\n"
      "echo \"status=$?\"\n";
  std::string out;
  int rc = RunOnXvfb(script, {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "game").string(),
                              "ZEPHRA_EXIT_AFTER_FRAMES=3600"},
                     &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("name=Zephra\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Geometry: 640x480"), std::string::npos) << out;
  // Centred on the 1280 x 1024 screen (no window manager, so no panels and no frame).
  EXPECT_NE(out.find("Position: 320,272"), std::string::npos) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << "a termination is a normal end\n" << out;
}

// The platform's window tests that need a display: shapes, opacity, flashing.
TEST_F(XvfbRun, PlatformWindowTestsOnX11) {
  fs::path tests = fs::path(ZEPHRA_BIN).parent_path() / "tests" / "test_platform";
  ASSERT_TRUE(fs::exists(tests)) << tests;
  std::string out;
  int rc = RunOnXvfb("\"$TESTS\" --gtest_filter='VideoX11.*'", {"TESTS=" + tests.string(), "ZEPHRA_X11_TESTS=1"}, &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 2 tests."), std::string::npos) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
}

// Fullscreen and back, checked on screenshots of the whole screen.
TEST_F(XvfbRun, FullscreenAndBackOnScreenshots) {
  if (!OnPath("xwd")) GTEST_SKIP() << "xwd is not installed";
  fs::path tests = fs::path(ZEPHRA_BIN).parent_path() / "tests" / "test_shell";
  ASSERT_TRUE(fs::exists(tests)) << tests;
  fs::create_directories(root / "shots");
  std::string out;
  int rc = RunOnXvfb("\"$TESTS\" --gtest_filter='ScreenX11.*'",
                     {"TESTS=" + tests.string(), "ZEPHRA_X11_TESTS=1", "ZEPHRA_SCREENSHOT_DIR=" + (root / "shots").string()},
                     &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test."), std::string::npos) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
  for (const char* shot : {"1-windowed.png", "2-fullscreen.png", "3-windowed-again.png"})
    EXPECT_TRUE(fs::exists(root / "shots" / shot)) << shot;
}
