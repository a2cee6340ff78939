// The window on a real display server: zephra under Xvfb opens the project's window, a key
// sent with xdotool reaches a game's script, the platform's and the screen modes' X11-only tests
// run there (the latter checking screenshots taken with xwd), and a game switches its window to
// fullscreen and back. Skipped when xvfb-run, xdotool or xwd is missing. Every run is bounded: a
// display server that never comes up or a program that never ends is killed, never waited for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kit/config_writer.h"
#include "kit/demo_art.h"
#include "platform/platform.h"
#include "support/kit_game.h"
#include "support/xwd_shot.h"

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
  int RunOnXvfb(const std::string& script, const std::vector<std::string>& env, std::string* out, int limit_s = 300) {
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
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
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
  int rc = RunOnXvfb(
      script,
      {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "game").string(), "ZEPHRA_EXIT_AFTER_FRAMES=3600"}, &out);
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
  TestWriteGameScripts(
      root / "game",
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
  int rc = RunOnXvfb(
      script, {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "game").string(), "ERR=" + err.string()}, &out);
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

// The debug corner detector: in a debug-mode game the cursor visiting the four corners of the
// display (moved by xdotool as a mouse moves it, in relative steps that stop at the screen's
// edges; a warp of the pointer is no movement of the mouse) brings up the question whether to
// quit, whose default answer ends the game; a game without debug mode never asks. The script
// runs some 1,500 lines a frame, so the detector looks at the cursor many times a frame.
TEST_F(XvfbRun, DebugModeAsksToQuitAfterTheCursorVisitsTheFourCorners) {
  for (u32 debug : {1u, 0u}) {
    SCOPED_TRACE(debug);
    KitProjectConfig cfg;
    cfg.debug = debug;
    ASSERT_EQ(KitProjectConfigWrite((root / "game" / "chbin" / "zpcfg.zbn").string(), cfg), 0);
    TestWriteGameScripts(root / "game",
                         "*SYSTEM_START\n"
                         "msgbox title='Corners', text='running'\n"
                         "loop\n    loop 500\n        @138 += 1\n    endloop\n    wait frames=1\nendloop\n");
    std::string script = R"sh(
wait_for() {
  n=0
  until grep -qF "$1" "$ERR"; do
    n=$((n + 1))
    [ "$n" -gt $(($2 * 10)) ] && return 1
    sleep 0.1
  done
}
timeout --foreground -k 10 240 "$ZEPHRA" "$GAME" 2>"$ERR" & pid=$!
wait_for 'running' 90 || echo "step=not running"
for step in "-2000 -2000" "0 2000" "2000 -2000" "0 2000" "-600 -500"; do
  xdotool mousemove_relative -- $step
  sleep 0.5
done
if wait_for 'マウスによる画面四隅への移動を検出しました' "$LIMIT"; then
  wait "$pid"
  echo "asked, status=$?"
else
  echo "not asked"
  kill -TERM "$pid"
  wait "$pid"
fi
)sh";
    const fs::path err = root / "zephra.err";
    std::string out;
    int rc = RunOnXvfb(script,
                       {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "game").string(), "ERR=" + err.string(),
                        debug ? "LIMIT=60" : "LIMIT=4"},
                       &out);
    const std::string boxes = ReadAll(err);
    ASSERT_EQ(rc, 0) << out << boxes;
    EXPECT_EQ(out.find("step="), std::string::npos) << out << boxes;
    if (debug) {
      EXPECT_NE(out.find("asked, status=0\n"), std::string::npos) << "the default answer ends the game\n"
                                                                  << out << boxes;
      EXPECT_NE(
          boxes.find(
              "[message box] "
              "[デバッグ機能]\nマウスによる画面四隅への移動を検出しました。\n\n強制的に終了します。よろしいですか？\n"),
          std::string::npos)
          << boxes;
    } else {
      EXPECT_NE(out.find("not asked\n"), std::string::npos) << out << boxes;
      EXPECT_EQ(boxes.find("[デバッグ機能]"), std::string::npos) << boxes;
    }
  }
}

// The platform's window tests that need a display: shapes, opacity, flashing, stacking.
TEST_F(XvfbRun, PlatformWindowTestsOnX11) {
  fs::path tests = fs::path(ZEPHRA_BIN).parent_path() / "tests" / "test_platform";
  ASSERT_TRUE(fs::exists(tests)) << tests;
  std::string out;
  int rc = RunOnXvfb("\"$TESTS\" --gtest_filter='VideoX11.*'", {"TESTS=" + tests.string(), "ZEPHRA_X11_TESTS=1"}, &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 3 tests."), std::string::npos) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
}

// Fullscreen and back, checked on screenshots of the whole screen.
TEST_F(XvfbRun, FullscreenAndBackOnScreenshots) {
  if (!OnPath("xwd")) GTEST_SKIP() << "xwd is not installed";
  fs::path tests = fs::path(ZEPHRA_BIN).parent_path() / "tests" / "test_shell";
  ASSERT_TRUE(fs::exists(tests)) << tests;
  fs::create_directories(root / "shots");
  std::string out;
  int rc = RunOnXvfb(
      "\"$TESTS\" --gtest_filter='ScreenX11.*'",
      {"TESTS=" + tests.string(), "ZEPHRA_X11_TESTS=1", "ZEPHRA_SCREENSHOT_DIR=" + (root / "shots").string()}, &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test."), std::string::npos) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
  for (const char* shot : {"1-windowed.png", "2-fullscreen.png", "3-windowed-again.png"})
    EXPECT_TRUE(fs::exists(root / "shots" / shot)) << shot;
}

// A game switches its window to fullscreen and back through the window command; screenshots of
// the whole screen, taken while xdotool sees each state, show its picture centred and scaled
// with black bands in fullscreen and at 1:1 in the window.
TEST_F(XvfbRun, GameSwitchesToFullscreenAndBackOnScreenshots) {
  if (!OnPath("xwd")) GTEST_SKIP() << "xwd is not installed";
  // A 16:10 game on the 5:4 screen: fitted to the width at 4x, 1280 x 800, with bands of 112 rows.
  const i32 W = 320, H = 200, kScale = 4, kBand = 112;
  // Yellow border 10 pixels wide, blue inside, a green square in the upper left to catch a flip.
  auto colour = [](i32 x, i32 y) -> u32 {
    if (x < 10 || y < 10 || x >= 310 || y >= 190) return 0xFFFF00;
    if (x >= 40 && x < 80 && y >= 30 && y < 70) return 0x00FF00;
    return 0x3060C0;
  };
  std::vector<u8> bgra(static_cast<size_t>(W) * H * 4);
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++) {
      const u32 v = 0xFF000000u | colour(x, y);
      for (int c = 0; c < 4; c++) bgra[(static_cast<size_t>(y) * W + x) * 4 + c] = static_cast<u8>(v >> (8 * c));
    }
  fs::path src = root / "full-src";
  fs::create_directories(src / "cg");
  fs::create_directories(src / "script");
  const std::vector<u8> bmp = KitBmpEncode(bgra.data(), W, H, false);
  std::ofstream(src / "cg" / "pic.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  std::ofstream(src / "project.txt") << "width = 320\nheight = 200\ntitle = Fullscreen test\n";
  // Long waits in each state: a slow machine only stretches them, and the shots need just one
  // presented frame of each.
  std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\n"
                                               "fps rate = 60\n"
                                               "layer name = 'W0/pic', file = 'cg/pic.bmp', order = 1\n"
                                               "wait frames = 30\n"
                                               "window index = 0, fullscreen = 1\n"
                                               "wait frames = 300\n"
                                               "window index = 0, fullscreen = 0\n"
                                               "wait frames = 300\n"
                                               "end\n";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / "full").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  fs::create_directories(root / "shots");

  // In each state, up to 6 shots 0.3 s apart; a shot counts when the state still holds after it
  // (the window's geometry is printed with it). Every wait is bounded.
  std::string script =
      "timeout 120 \"$ZEPHRA\" \"$GAME\" & pid=$!\n"
      "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Fullscreen test$' | head -n 1)\n"
      "echo \"id=$id\"\n"
      "geo() { xdotool getwindowgeometry --shell \"$id\" 2>/dev/null | tr '\\n' ' '; }\n"
      "shots() {\n"
      "  i=0; while [ $i -lt 300 ] && ! geo | grep -q \"WIDTH=$2 HEIGHT=$3 \"; do sleep 0.1; i=$((i+1)); done\n"
      "  n=0; while [ $n -lt 6 ]; do\n"
      "    xwd -root -silent -out \"$SHOTS/$1-$n.xwd\"\n"
      "    g=$(geo); echo \"$1-$n $g\"\n"
      "    echo \"$g\" | grep -q \"WIDTH=$2 HEIGHT=$3 \" || { rm -f \"$SHOTS/$1-$n.xwd\"; break; }\n"
      "    n=$((n+1)); sleep 0.3\n"
      "  done\n"
      "}\n"
      "[ -n \"$id\" ] && shots full 1280 1024 && shots win 320 200\n"
      "wait $pid\n"
      "echo \"status=$?\"\n";
  std::string out;
  int rc = RunOnXvfb(script,
                     {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "full").string(),
                      "SHOTS=" + (root / "shots").string(), "ZEPHRA_EXIT_AFTER_FRAMES=3600"},
                     &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << "the game ends by its script\n" << out;
  EXPECT_EQ(out.find("[error dialog]"), std::string::npos) << out;

  // Fullscreen: black bands above and below, the picture 4x at (0, 112); probes stay away from
  // colour edges, where the filter blends, and allow the filter's rounding.
  auto full_ok = [&](const Shot& s, std::string* why) {
    if (s.width != 1280 || s.height != 1024) return *why = "screen size", false;
    for (i32 py : {0, 50, kBand - 2, kBand + H * kScale + 1, 980, 1023})
      for (i32 px = 0; px < 1280; px += 9)
        if (s.At(px, py) != 0) return *why = "band at " + std::to_string(px) + "," + std::to_string(py), false;
    for (i32 py = 2; py < H * kScale; py += 37)
      for (i32 px = 2; px < W * kScale; px += 37) {
        const i32 gx = px / kScale, gy = py / kScale;
        // Skip game pixels next to a colour edge.
        const u32 c = colour(gx, gy);
        if (colour(gx - 1, gy - 1) != c || colour(gx + 1, gy - 1) != c || colour(gx - 1, gy + 1) != c ||
            colour(gx + 1, gy + 1) != c)
          continue;
        if (!Near(s.At(px, kBand + py), colour(gx, gy)))
          return *why = "picture at " + std::to_string(px) + "," + std::to_string(kBand + py) + ": " +
                        std::to_string(s.At(px, kBand + py)),
                 false;
      }
    return true;
  };
  // In the window: every pixel of the picture 1:1 where the window stands.
  auto win_ok = [&](const Shot& s, i32 x, i32 y, std::string* why) {
    if (x < 0 || y < 0 || x + W > s.width || y + H > s.height) return *why = "window off screen", false;
    for (i32 py = 0; py < H; py++)
      for (i32 px = 0; px < W; px++)
        if (s.At(x + px, y + py) != colour(px, py))
          return *why = "pixel " + std::to_string(px) + "," + std::to_string(py), false;
    return true;
  };
  // A value of xdotool's --shell geometry, printed on one line after the shot's name.
  auto field = [](const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size() + 2);
  };
  i32 full_shots = 0, win_shots = 0, full_good = 0, win_good = 0;
  std::string why_full = "no shot", why_win = "no shot";
  std::stringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const bool full = line.rfind("full-", 0) == 0, win = line.rfind("win-", 0) == 0;
    if (!full && !win) continue;
    Shot s;
    const fs::path file = root / "shots" / (line.substr(0, line.find(' ')) + ".xwd");
    if (!fs::exists(file)) continue;
    ASSERT_TRUE(ReadXwd(file.string(), &s)) << file;
    if (full) {
      full_shots++;
      EXPECT_EQ(field(line, "X"), 0) << line;
      EXPECT_EQ(field(line, "Y"), 0) << line;
      full_good += full_ok(s, &why_full);
    } else {
      win_shots++;
      win_good += win_ok(s, field(line, "X"), field(line, "Y"), &why_win);
    }
  }
  EXPECT_GT(full_shots, 0) << out;
  EXPECT_GT(win_shots, 0) << out;
  // The first shot of a state may precede the first frame presented in it.
  EXPECT_GT(full_good, 0) << why_full << "\n" << out;
  EXPECT_GT(win_good, 0) << why_win << "\n" << out;
}

// The demo shows its scene in fullscreen for a while and returns to its window before it ends.
TEST_F(XvfbRun, DemoSwitchesToFullscreenAndBack) {
  fs::path src = root / "demo-src";
  fs::copy(ZEPHRA_SOURCE_DIR "/examples/demo", src, fs::copy_options::recursive);
  std::string cmd = std::string("'") + ZPKIT_BIN + "' demo-art '" + src.string() + "' && '" + ZPKIT_BIN +
                    "' demo-chara '" + src.string() + "' && '" + ZPKIT_BIN + "' build '" + src.string() + "' '" +
                    (root / "demo").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  // Prints the window's size each time it changes, until the program ends (at most 2 minutes).
  std::string script =
      "timeout 120 \"$ZEPHRA\" \"$GAME\" & pid=$!\n"
      "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zephra demo$' | head -n 1)\n"
      "last=\n"
      "while [ -n \"$id\" ] && kill -0 $pid 2>/dev/null; do\n"
      "  g=$(xdotool getwindowgeometry --shell \"$id\" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=' | tr '\\n' ' ')\n"
      "  [ -n \"$g\" ] && [ \"$g\" != \"$last\" ] && echo \"size $g\" && last=$g\n"
      "  sleep 0.05\n"
      "done\n"
      "wait $pid\n"
      "echo \"status=$?\"\n";
  std::string out;
  int rc = RunOnXvfb(script, {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "demo").string()}, &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << out;
  const size_t windowed = out.find("size WIDTH=640 HEIGHT=480 ");
  const size_t full = out.find("size WIDTH=1280 HEIGHT=1024 ", windowed == std::string::npos ? 0 : windowed);
  EXPECT_NE(windowed, std::string::npos) << out;
  ASSERT_NE(full, std::string::npos) << out;
  EXPECT_NE(out.find("size WIDTH=640 HEIGHT=480 ", full), std::string::npos) << "back in the window\n" << out;
}

// A screen-saver build run by a screen-saver chooser: "/p ID" draws the preview at 1:1 inside the
// chooser's window (here an xlogo window) and ends when that window goes.
TEST_F(XvfbRun, SaverPreviewDrawsInsideTheGivenWindowAndEndsWithIt) {
  if (!OnPath("xlogo") || !OnPath("xwd")) GTEST_SKIP() << "xlogo or xwd is not installed";
  // The preview: 41 x 30 (rows padded in the BMP file), red in its top-left 10 x 10, else blue.
  const i32 w = 41, h = 30;
  std::vector<u8> px(static_cast<size_t>(w) * h * 4);
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) {
      u8* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[x < 10 && y < 10 ? 2 : 0] = 255;
      p[3] = 255;
    }
  std::vector<u8> bmp = KitBmpEncode(px.data(), w, h, false);
  std::ofstream(root / "preview.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), bmp.size());
  std::string kit = std::string("'") + ZPKIT_BIN + "' ";
  fs::path src = root / "src";
  fs::create_directories(src / "script");
  std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\nend\n";
  std::string cmd = kit + "build '" + src.string() + "' '" + (root / "built").string() + "' && " + kit + "bundle '" +
                    (root / "saver").string() + "' '" + (root / "built" / "data.zpf").string() + "' --saver '" +
                    (root / "preview.bmp").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::string script =
      "xlogo -bw 0 -geometry 300x200+100+50 & x=$!\n"
      "id=$(timeout 30 xdotool search --sync --onlyvisible --class xlogo | head -n 1)\n"
      "echo \"id=$id\"\n"
      "\"$SAVER\" /p \"$id\" & pid=$!\n"
      "sleep 2\n"
      "xwd -root -silent -out \"$SHOT\"\n"
      "kill $x\n"
      "n=0; while kill -0 $pid 2>/dev/null && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done\n"
      "kill -0 $pid 2>/dev/null && { echo still-running; kill -9 $pid; }\n"
      "wait $pid\n"
      "echo \"status=$?\"\n"
      "\"$SAVER\" /p 4194303; echo \"no-window=$?\"\n";
  std::string out;
  int rc = RunOnXvfb(script, {"SAVER=" + (root / "saver").string(), "SHOT=" + (root / "shot.xwd").string()}, &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << "the preview ends with its window\n" << out;
  EXPECT_NE(out.find("no-window=0"), std::string::npos) << "an id that names no window ends the run quietly\n" << out;
  EXPECT_EQ(out.find("still-running"), std::string::npos) << out;
  Shot s;
  ASSERT_TRUE(ReadXwd((root / "shot.xwd").string(), &s)) << out;
  EXPECT_TRUE(Near(s.At(100, 50), 0xFF0000)) << std::hex << s.At(100, 50);
  EXPECT_TRUE(Near(s.At(109, 59), 0xFF0000)) << std::hex << s.At(109, 59);
  EXPECT_TRUE(Near(s.At(110, 50), 0x0000FF)) << std::hex << s.At(110, 50);
  EXPECT_TRUE(Near(s.At(100 + w - 1, 50 + h - 1), 0x0000FF)) << std::hex << s.At(140, 79);
  EXPECT_TRUE(Near(s.At(100 + w, 50 + h), 0x000000)) << "the preview window is black beyond its picture";
}

// Run by xscreensaver ("-root", its window named in XSCREENSAVER_WINDOW), a screen-saver build
// draws the game into that window as into a whole screen of its size.
TEST_F(XvfbRun, SaverRunByXscreensaverFillsItsWindow) {
  if (!OnPath("xlogo") || !OnPath("xwd") || !OnPath("xwininfo"))
    GTEST_SKIP() << "xlogo, xwd or xwininfo is not installed";
  const i32 w = 320, h = 240;
  fs::path src = root / "src";
  fs::create_directories(src / "script");
  fs::create_directories(src / "cg");
  std::vector<u8> px(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < px.size(); i += 4) px[i + 2] = px[i + 3] = 255;
  std::vector<u8> bmp = KitBmpEncode(px.data(), w, h, false);
  std::ofstream(src / "cg" / "red.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), bmp.size());
  std::ofstream(src / "project.txt") << "width = 640\nheight = 480\n";
  std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\n    layer name = \"W0/red\", file = \"cg/red.bmp\", "
                                               "order = 1\n    wait frames = 100000\n    end\n";
  std::string kit = std::string("'") + ZPKIT_BIN + "' ";
  std::string cmd = kit + "build '" + src.string() + "' '" + (root / "built").string() + "' && " + kit + "bundle '" +
                    (root / "saver").string() + "' '" + (root / "built" / "data.zpf").string() + "' --saver '" +
                    (src / "cg" / "red.bmp").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::string script =
      "xlogo -bw 0 -geometry 320x240+100+50 & x=$!\n"
      "id=$(timeout 30 xdotool search --sync --onlyvisible --class xlogo | head -n 1)\n"
      // The shell window is covered by its one child, the logo, which stands in for
      // xscreensaver's window.
      "child=$(xwininfo -children -id \"$id\" | awk '/^ +0x/ {print $1; exit}')\n"
      "XSCREENSAVER_WINDOW=$child \"$SAVER\" -root & pid=$!\n"
      "sleep 3\n"
      "xwd -root -silent -out \"$SHOT\"\n"
      "kill -TERM $pid\n"
      "wait $pid\n"
      "echo \"status=$?\"\n"
      "kill $x\n";
  std::string out;
  int rc = RunOnXvfb(script, {"SAVER=" + (root / "saver").string(), "SHOT=" + (root / "shot.xwd").string()}, &out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << out;
  Shot s;
  ASSERT_TRUE(ReadXwd((root / "shot.xwd").string(), &s)) << out;
  for (auto [x, y] : {std::pair{100, 50}, {419, 50}, {100, 289}, {419, 289}, {260, 170}})
    EXPECT_TRUE(Near(s.At(x, y), 0xFF0000)) << x << "," << y << ": " << std::hex << s.At(x, y) << "\n" << out;
  EXPECT_FALSE(Near(s.At(420, 290), 0xFF0000)) << "nothing is drawn outside the window";
}

// A game with a menu bar, a popup and the text-entry window, played with xdotool. The script
// says where it stands through its window title (and opens the popup at the cursor once A is
// pressed, so the pointer is in place); the dialogs are the engine's own windows (not
// the stderr sink). Screenshots show the bar above the picture at 1:1 and the open popup; the
// choices reach the script as @125 and the typed text comes back cut at the maximum length.
TEST_F(XvfbRun, MenuBarPopupAndTextEntryWithXdotool) {
  if (!OnPath("xwd")) GTEST_SKIP() << "xwd is not installed";
  const i32 W = 320, H = 200, kBar = 20;
  auto colour = [](i32 x, i32 y) -> u32 { return (x / 20 + y / 20) % 2 ? 0x3060C0u : 0xE0A020u; };
  std::vector<u8> bgra(static_cast<size_t>(W) * H * 4);
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++)
      for (int c = 0; c < 4; c++)
        bgra[(static_cast<size_t>(y) * W + x) * 4 + c] = static_cast<u8>((0xFF000000u | colour(x, y)) >> (8 * c));
  fs::path src = root / "menu-src";
  fs::create_directories(src / "cg");
  fs::create_directories(src / "script");
  const std::vector<u8> bmp = KitBmpEncode(bgra.data(), W, H, false);
  std::ofstream(src / "cg" / "pic.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  std::ofstream(src / "project.txt") << "width = 320\nheight = 200\ntitle = state start\n";
  std::ofstream(src / "script" / "main.zs")
      << "global str s\n"
         "*SYSTEM_START\n"
         "layer name = 'W0/pic', file = 'cg/pic.bmp', order = 1\n"
         "menu path='main/', text='main', order=1\n"
         "menu path='main/file/', text='ファイル(&F)', order=1\n"
         "menu path='main/file/open', text='開く(&O)', order=1, id=101\n"
         "menu path='main/file/quit', text='終了(&X)', order=2, id=102\n"
         "menu path='pop/', text='pop', order=1\n"
         "menu path='pop/one', text='一つ目', order=1, id=301\n"
         "menu path='pop/two', text='二つ目', order=2, id=302\n"
         "window index=0, menu='main'\n"
         "wait frames=10\n"
         "window index=0, title='state ready'\n"
         "loop\n    if @125 > 0\n        break\n    endif\n    wait frames=1\nendloop\n"
         "window index=0, title='state bar ' + str(@125)\n"
         "@125 = 0\n"
         "loop\n    if @310 > 0\n        break\n    endif\n    wait frames=1\nendloop\n"
         "menu_popup path='pop', show=1\n"
         "loop\n    if @125 > 0\n        break\n    endif\n    wait frames=1\nendloop\n"
         "window index=0, title='state popup ' + str(@125)\n"
         "msgbox title='Input', text='名前は？', input=1, max_length=5, input_result=s\n"
         "window index=0, title='state typed [' + s + ']'\n"
         "wait frames=30\n"
         "end\n";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / "menu").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  fs::create_directories(root / "shots");
  // Each step waits (bounded) for the title of the state before it acts.
  std::string script = R"sh(
ZEPHRA_DIALOGS=show timeout 120 "$ZEPHRA" "$GAME" 2>"$SHOTS/zephra.err" & pid=$!
# A modal dialog keeps a termination waiting: a failed step ends the program for good.
state() { timeout 30 xdotool search --sync --name "^state $1" >/dev/null 2>&1 || { echo "no state $1"; kill -KILL $pid; wait $pid; echo "zephra ended $?"; exit 0; }; }
state ready
id=$(xdotool search --name '^state ready$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$id")"
echo "window $X $Y $WIDTH $HEIGHT"
sleep 0.5
xwd -root -silent -out "$SHOTS/bar.xwd"
xdotool mousemove $((X + 20)) $((Y + 10)) click 1
sleep 0.5
xdotool mousemove $((X + 40)) $((Y + 20 + 13)) click 1
state 'bar '
xdotool getwindowname "$id"
xdotool mousemove $((X + 100)) $((Y + 120))
timeout 30 xdotool windowfocus --sync "$id"
xdotool key a
sleep 1
xwd -root -silent -out "$SHOTS/popup.xwd"
xdotool key Down
sleep 0.2
xdotool key Down
sleep 0.2
xdotool key Return
state 'popup '
xdotool getwindowname "$id"
did=$(timeout 30 xdotool search --sync --name '^Input$' | head -n 1)
xdotool mousemove --window "$did" 30 30
timeout 30 xdotool windowfocus --sync "$did"
xdotool type --delay 60 abcdefgh
xdotool key Return
state 'typed '
xdotool getwindowname "$id"
wait $pid
echo "status=$?"
)sh";
  std::string out;
  int rc = RunOnXvfb(script,
                     {std::string("ZEPHRA=") + ZEPHRA_BIN, "GAME=" + (root / "menu").string(),
                      "SHOTS=" + (root / "shots").string(), "ZEPHRA_EXIT_AFTER_FRAMES=6000"},
                     &out);
  ASSERT_EQ(rc, 0) << out;
  out += ReadAll(root / "shots" / "zephra.err");
  EXPECT_NE(out.find("state bar 101\n"), std::string::npos) << "a click on the drop-down's item\n" << out;
  EXPECT_NE(out.find("state popup 302\n"), std::string::npos) << "Down, Down, Return in the popup\n" << out;
  EXPECT_NE(out.find("state typed [abcde]\n"), std::string::npos) << "cut at the maximum length\n" << out;
  EXPECT_NE(out.find("status=0"), std::string::npos) << out;

  i32 x = -1, y = -1, width = 0, height = 0;
  const size_t at = out.find("window ");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at, "window %d %d %d %d", &x, &y, &width, &height), 4);
  EXPECT_EQ(width, W);
  EXPECT_EQ(height, H + kBar) << "the window grows by the bar";
  Shot bar, popup;
  ASSERT_TRUE(ReadXwd((root / "shots" / "bar.xwd").string(), &bar));
  ASSERT_TRUE(x >= 0 && y >= 0 && x + W <= bar.width && y + H + kBar <= bar.height);
  for (i32 py = 0; py < H; py += 3)
    for (i32 px = 0; px < W; px += 3)
      ASSERT_EQ(bar.At(x + px, y + kBar + py), colour(px, py))
          << "the picture at 1:1 below the bar: " << px << "," << py;
  // The bar: light, with dark text in its first item.
  size_t ink = 0;
  for (i32 py = 0; py < kBar - 1; py++)
    for (i32 px = 0; px < 80; px++) {
      const u32 v = bar.At(x + px, y + py);
      ink += ((v & 0xFF) + ((v >> 8) & 0xFF) + ((v >> 16) & 0xFF)) < 200;
    }
  EXPECT_GT(ink, 30u) << "the bar's text";
  EXPECT_EQ(bar.At(x + W - 2, y + 2), 0xFFFFFFu) << "the bar's empty end";
  // The popup at the cursor: the menu's face where the picture was.
  ASSERT_TRUE(ReadXwd((root / "shots" / "popup.xwd").string(), &popup));
  EXPECT_EQ(popup.At(x + 100 + 10, y + 120 + 1), 0xF0F0F0u) << "the popup opens at the cursor";
  EXPECT_EQ(popup.At(x + 100 - 3, y + 120 - 3), colour(97, 120 - 3 - kBar)) << "the picture around it";
}
