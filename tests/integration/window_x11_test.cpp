// The window on a real display server: zephra under Xvfb opens the project's window and a key
// sent with xdotool reaches a game's script, and the platform's and the screen modes' X11-only
// tests run there (the latter checking screenshots taken with xwd). Skipped when xvfb-run,
// xdotool or xwd is missing. Every run is bounded: a display server that never comes up or a
// program that never ends is killed, never waited for.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kit/config_writer.h"
#include "platform/platform.h"
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
  // out. The server never resets: by default it does when its last client leaves, and a
  // program connecting during the reset (the next test in a row, slowed by a busy machine)
  // finds no display. Returns the exit status, or -1 when xvfb-run could not be started. xvfb-run -a picks
  // its display number by looking for lock files, so a server started at the same moment by
  // another build on this machine can take the number first: Xvfb then fails to start, and
  // the run is tried again. A run still going after limit_s seconds is killed with everything
  // it started (its own process group) and reported as killed by SIGKILL.
  int RunOnXvfb(const std::string& script, const std::vector<std::string>& env, std::string* out,
                int limit_s = 300) {
    int rc = -1;
    for (int attempt = 0; attempt < 4; attempt++) {
      rc = RunOnXvfbOnce(script, env, out, limit_s);
      if (rc != 1 || out->find("Xvfb failed to start") == std::string::npos) break;
      sleep(1 + attempt);
    }
    return rc;
  }
  int RunOnXvfbOnce(const std::string& script, const std::vector<std::string>& env, std::string* out, int limit_s) {
    fs::path log = root / "out.log";
    std::vector<std::string> argv_s{"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset", "sh", "-c", script};
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
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "xvfb-run", &fa, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    for (;;) {
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (r < 0 && errno != EINTR) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(-pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      usleep(50 * 1000);
    }
    *out = ReadAll(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

}  // namespace

// A plain project configuration: the main window is 640 x 480, titled "Zephra".
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

// A game of its own size and title waits in its script for A, then for Return, saying through
// message boxes what reached it. The keys go in through the X server as a player's would (the
// window has the focus, so xdotool sends them with XTEST), one at a time, each only once the
// script has shown that it waits for it.
TEST_F(XvfbRun, KeysSentToTheProjectWindowReachTheScript) {
  KitProjectConfig cfg;
  cfg.width = 320;
  cfg.height = 200;
  cfg.title = PlatUtf8ToSjis("Zephra キー");
  ASSERT_EQ(KitProjectConfigWrite((root / "game" / "chbin" / "zpcfg.zbn").string(), cfg), 0);
  // k 36 is A and k 9 Return: @274 + k counts the presses, @140 + k is the counter.
  TestWriteGameScripts(root / "game",
                       "*SYSTEM_START\n"
                       "msgbox title='Keys', text='waiting for A'\n"
                       "loop\n    if @310 > 0\n        break\n    endif\n    wait frames=1\nendloop\n"
                       "msgbox title='Keys', text='A reached the script: ' + str(@310) + ' press, Return ' + str(@283)\n"
                       "loop\n    if @283 > 0\n        break\n    endif\n    wait frames=1\nendloop\n"
                       "msgbox title='Keys', text='Return reached the script: ' + str(@283) + ' press, A ' + "
                       "str(@310) + ', counter ' + str(@176)\n"
                       "end\n");
  // Each wait is bounded; a step that does not come names itself in "step=" and ends zephra.
  // zephra's own stderr (the message boxes) goes to $ERR, the script's lines to the log. The
  // window is found by the ASCII start of its title (xdotool matches names in the C locale) and
  // its whole title then read back.
  std::string script = R"sh(
wait_for() {
  n=0
  until grep -qF "$1" "$ERR"; do
    n=$((n + 1))
    [ "$n" -gt $(($2 * 10)) ] && return 1
    sleep 0.1
  done
}
stop() {
  echo "step=$1"
  kill -TERM "$pid"
  wait "$pid"
  exit 0
}
timeout --foreground -k 10 240 "$ZEPHRA" "$GAME" 2>"$ERR" & pid=$!
id=$(timeout --foreground 90 xdotool search --sync --onlyvisible --name '^Zephra ' | head -n 1)
[ -n "$id" ] || stop window
echo "name=$(xdotool getwindowname "$id")"
xdotool getwindowgeometry "$id"
wait_for 'waiting for A' 90 || stop ready
timeout --foreground 30 xdotool windowfocus --sync "$id" || stop focus
echo "before A: $(grep -c 'reached the script' "$ERR")"
xdotool key --window "$id" a
wait_for 'A reached the script' 60 || stop A
echo "before Return: $(grep -c 'Return reached the script' "$ERR")"
xdotool key --window "$id" Return
wait_for 'Return reached the script' 60 || stop Return
wait "$pid"
echo "status=$?"
echo "step=done"
)sh";
  const fs::path err = root / "zephra.err";
  std::string out;
  int rc = RunOnXvfb(script, {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "game").string(),
                              "ERR=" + err.string()},
                     &out);
  const std::string boxes = ReadAll(err);
  ASSERT_EQ(rc, 0) << out << boxes;
  EXPECT_NE(out.find("name=Zephra キー\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Geometry: 320x200\n"), std::string::npos) << out;
  // Centred on the 1280 x 1024 screen.
  EXPECT_NE(out.find("Position: 480,412"), std::string::npos) << out;
  ASSERT_NE(out.find("step=done\n"), std::string::npos) << "the step named did not come\n" << out << boxes;
  EXPECT_NE(out.find("before A: 0\n"), std::string::npos) << "the script went on before any key\n" << out << boxes;
  EXPECT_NE(out.find("before Return: 0\n"), std::string::npos) << "A passed the wait for Return\n" << out << boxes;
  EXPECT_NE(boxes.find("[message box] Keys\nA reached the script: 1 press, Return 0\n"), std::string::npos) << boxes;
  // The tap is long over: the counter has gone negative with the release.
  EXPECT_NE(boxes.find("[message box] Keys\nReturn reached the script: 1 press, A 1, counter -"), std::string::npos)
      << boxes;
  EXPECT_NE(out.find("status=0\n"), std::string::npos) << "the script's end is a normal end\n" << out << boxes;
  EXPECT_EQ(boxes.find("[error dialog]"), std::string::npos) << boxes;
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
