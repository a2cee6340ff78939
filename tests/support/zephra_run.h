// Runs the zephra binary headless in a fresh folder (root, with "game" a game folder holding a
// plain project configuration and compiled scripts) and reports what a player or a script runner sees: the exit
// status and what was printed to stderr (the dialog sink).
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kit/config_writer.h"
#include "support/kit_game.h"

extern char** environ;

namespace zephra_run {

namespace fs = std::filesystem;

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
    fs::create_directories(root / "game" / "chbin");
    // Every game has its project configuration; a plain one makes a 640 x 480 game.
    ASSERT_EQ(KitProjectConfigWrite((root / "game" / "chbin" / "zpcfg.zbn").string(), KitProjectConfig()), 0);
    TestWriteGameScripts(root / "game");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // Starts zephra with the given arguments and extra environment; stderr goes to a file.
  Child Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* name,
              const std::string& program = ZEPHRA_BIN) {
    Child r;
    r.err_file = root / (std::string(name) + ".err");
    std::vector<std::string> argv_s{program};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<std::string> env_s{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "ZEPHRA_DIALOGS=stderr",
                                   "XDG_RUNTIME_DIR=" + (root / "locks").string()};
    for (char** e = environ; *e; e++) {
      std::string kv = *e;
      if (kv.rfind("ZEPHRA_", 0) != 0 && kv.rfind("XDG_RUNTIME_DIR=", 0) != 0) env_s.push_back(kv);
    }
    // A given variable replaces the default of the same name (getenv finds the first).
    for (const std::string& kv : env) {
      const std::string key = kv.substr(0, kv.find('=') + 1);
      std::erase_if(env_s, [&](const std::string& e) { return e.rfind(key, 0) == 0; });
      env_s.push_back(kv);
    }
    std::vector<char*> argv, envp;
    for (std::string& s : argv_s) argv.push_back(s.data());
    for (std::string& s : env_s) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, r.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    EXPECT_EQ(posix_spawn(&r.pid, program.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    return r;
  }
  static int Wait(const Child& r) {
    int status = 0;
    while (waitpid(r.pid, &status, 0) < 0) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  static bool Running(const Child& r) {
    int status;
    return waitpid(r.pid, &status, WNOHANG) == 0;
  }
  // Waits (up to 30 s) until the running child has printed text; false when it ended first.
  static bool WaitPrinted(const Child& r, const std::string& text) {
    for (int i = 0; i < 6000 && Running(r); i++) {
      if (ReadAll(r.err_file).find(text) != std::string::npos) return true;
      usleep(5000);
    }
    return false;
  }
  static std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // A game of examples/ built as run.sh builds it: copied, with the pictures, movie, character and
  // sounds the kit makes, into root/NAME. Returns the game folder.
  fs::path BuildExample(const std::string& name) {
    const fs::path src = root / (name + "-src"), game = root / name;
    fs::copy(fs::path(ZEPHRA_SOURCE_DIR) / "examples" / name, src, fs::copy_options::recursive);
    std::string kit = std::string("'") + ZPKIT_BIN + "' ", at = " '" + src.string() + "'";
    std::string cmd = kit + "demo-art" + at + " && " + kit + "demo-chara" + at + " && " + kit + "demosounds" + at +
                      " && " + kit + "build" + at + " '" + game.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return game;
  }
  int RunToEnd(const std::vector<std::string>& args, const std::vector<std::string>& env, std::string* err,
               const std::string& program = ZEPHRA_BIN) {
    Child r = Start(args, env, "run", program);
    int status = Wait(r);
    if (err) *err = ReadAll(r.err_file);
    return status;
  }
};

}  // namespace zephra_run
