// Runs the zephra binary headless on game folders made here, and checks what a player or a
// script runner sees: the exit status and the dialogs printed.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "layer/image.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct Child {
  pid_t pid = -1;
  fs::path err_file;
};

struct ZephraRun : ::testing::Test {
  fs::path root;
  void SetUp() override {
    char tmpl[] = "/tmp/zephra-run-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root / "locks");
    fs::create_directories(root / "game");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // Starts zephra with the given arguments and extra environment; stderr goes to a file.
  Child Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* name) {
    Child r;
    r.err_file = root / (std::string(name) + ".err");
    std::vector<std::string> argv_s{ZEPHRA_BIN};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<std::string> env_s{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "ZEPHRA_DIALOGS=stderr",
                                   "XDG_RUNTIME_DIR=" + (root / "locks").string()};
    for (char** e = environ; *e; e++) {
      std::string kv = *e;
      if (kv.rfind("ZEPHRA_", 0) != 0 && kv.rfind("XDG_RUNTIME_DIR=", 0) != 0) env_s.push_back(kv);
    }
    env_s.insert(env_s.end(), env.begin(), env.end());
    std::vector<char*> argv, envp;
    for (std::string& s : argv_s) argv.push_back(s.data());
    for (std::string& s : env_s) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, r.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    EXPECT_EQ(posix_spawn(&r.pid, ZEPHRA_BIN, &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    return r;
  }
  static int Wait(const Child& r) {
    int status = 0;
    while (waitpid(r.pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  static bool Running(const Child& r) {
    int status;
    return waitpid(r.pid, &status, WNOHANG) == 0;
  }
  static std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  int RunToEnd(const std::vector<std::string>& args, const std::vector<std::string>& env, std::string* err) {
    Child r = Start(args, env, "run");
    int status = Wait(r);
    if (err) *err = ReadAll(r.err_file);
    return status;
  }
};

}  // namespace

TEST_F(ZephraRun, GameFolderRunsTheRequestedFramesAndEndsNormally) {
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=120", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
}

TEST_F(ZephraRun, InfoPrintsTheNoticesAndEndsTheRun) {
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string(), "/info"}, {"ZEPHRA_EXIT_AFTER_FRAMES=100000"}, &err), 0);
  EXPECT_NE(err.find("[error dialog] License Information"), std::string::npos) << err;
  EXPECT_NE(err.find("libpng"), std::string::npos);
}

TEST_F(ZephraRun, MissingGameFailsWithStatusOne) {
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "no-such-game").string()}, {}, &err), 1);
  EXPECT_NE(err.find("no-such-game"), std::string::npos) << err;
}

TEST_F(ZephraRun, SecondZephraOnTheSameFolderExitsAtOnceWithZero) {
  // The first runs until it is told to stop; its lock files show when it holds the folder.
  Child first = Start({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=10000000"}, "first");
  auto locks = [&] {
    int n = 0;
    for (auto& e : fs::directory_iterator(root / "locks")) n += e.path().extension() == ".lock";
    return n;
  };
  for (int i = 0; i < 3000 && locks() < 3 && Running(first); i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(Running(first)) << ReadAll(first.err_file);
  ASSERT_EQ(locks(), 3) << "interlock, per-executable and per-folder lock";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=10000000"}, &err), 0);
  EXPECT_EQ(err.find("[message box]"), std::string::npos) << "a second start says nothing";
  EXPECT_TRUE(Running(first));
  // A termination request from outside goes through the quit path: a normal end.
  kill(first.pid, SIGTERM);
  EXPECT_EQ(Wait(first), 0) << ReadAll(first.err_file);
}

TEST_F(ZephraRun, FrameDumpWritesTheMainWindowsLastPicture) {
  std::string err;
  fs::path out = root / "frame.png";
  EXPECT_EQ(RunToEnd({(root / "game").string()},
                     {"ZEPHRA_EXIT_AFTER_FRAMES=5", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + out.string()}, &err),
            0)
      << err;
  ASSERT_TRUE(fs::exists(out)) << err;
  EXPECT_FALSE(fs::exists(root / "frame.png.tmp"));
  std::string bytes = ReadAll(out);
  ImagePicture pic{};
  ASSERT_EQ(ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()), "frame.png", &pic),
            0);
  // The stand-in project has a 640 x 480 screen and no layers yet: a black picture.
  EXPECT_EQ(pic.width, 640);
  EXPECT_EQ(pic.height, 480);
  size_t lit = 0;
  for (i32 i = 0; i < pic.width * pic.height; i++) lit += (pic.pixels[i * 4] | pic.pixels[i * 4 + 1] | pic.pixels[i * 4 + 2]) != 0;
  EXPECT_EQ(lit, 0u);
  std::free(pic.pixels);
}
