// Runs the zephra binary headless on game folders made here, and checks what a player or a
// script runner sees: the exit status and the dialogs printed.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/hash.h"
#include "kit/demo_art.h"
#include "kit/pack_writer.h"
#include "kit/zcg_writer.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::Child;
using zephra_run::ZephraRun;

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

// A first run that finds no game says in one plain line what it looked for and where, beside the
// engine's own dialog; asked for help where there is no game, it prints the usage.
TEST_F(ZephraRun, AFirstRunWithoutAGameSaysWhatItLookedFor) {
  fs::create_directories(root / "empty");
  std::ofstream(root / "empty" / "notes.txt") << "not a game";
  struct Case {
    fs::path in;
    const char* args;
    int status;
    std::vector<std::string> shown;
    const char* not_shown;
  } cases[] = {
      {root / "empty",
       "",
       1,
       {"zephra: no game in " + (root / "empty").string() + ": looked there for a pack", "[chbin\\zpcfg.zbn]"},
       "usage"},
      {root, "empty", 1, {"zephra: no game in " + (root / "empty").string() + ": looked"}, nullptr},
      {root / "empty", "--help", 0, {"usage: zephra [GAME] [ARGS...]"}, "[error dialog]"},
      {root / "empty", "-h", 0, {"usage: zephra"}, "[error dialog]"},
      {root / "empty", "notes.txt", 1, {"zephra: notes.txt is not a game", "FS"}, nullptr},
      {root / "game", "-h", 0, {}, "usage"},  // a game's own argument
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string cmd = "cd '" + c.in.string() +
                      "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ZEPHRA_DIALOGS=stderr "
                      "ZEPHRA_EXIT_AFTER_FRAMES=5 XDG_RUNTIME_DIR='" +
                      (root / "locks").string() + "' '" + ZEPHRA_BIN + "' " + c.args + " 2>&1";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    EXPECT_EQ(WEXITSTATUS(pclose(p)), c.status) << out;
    for (const std::string& want : c.shown) EXPECT_NE(out.find(want), std::string::npos) << out;
    if (c.not_shown) EXPECT_EQ(out.find(c.not_shown), std::string::npos) << out;
    EXPECT_EQ(out.find("zephra: no game", out.find("zephra: no game") + 1), std::string::npos) << "one line";
  }
}

TEST_F(ZephraRun, SecondZephraOnTheSameFolderExitsAtOnceWithZero) {
  // The first runs until it is told to stop; its lock files show when it holds the folder.
  Child first = Start({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=10000000"}, "first");
  auto locks = [&] {
    int n = 0;
    for (auto& e : fs::directory_iterator(root / "locks")) n += e.path().extension() == ".lock";
    return n;
  };
  for (int i = 0; i < 3000 && locks() < 3 && Running(first); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(Running(first)) << ReadAll(first.err_file);
  ASSERT_EQ(locks(), 3) << "interlock, per-executable and per-folder lock";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=10000000"}, &err), 0);
  EXPECT_EQ(err.find("[message box]"), std::string::npos) << "a second start shows no box";
  EXPECT_NE(err.find("zephra: " + (root / "game").string() + " is already running"), std::string::npos) << err;
  EXPECT_TRUE(Running(first));
  // A termination request from outside goes through the quit path: a normal end.
  kill(first.pid, SIGTERM);
  EXPECT_EQ(Wait(first), 0) << ReadAll(first.err_file);
}

// A script that loops without ever waiting never ends a frame: the signal's quit request stops
// its line loop, and the run ends normally.
TEST_F(ZephraRun, QuitSignalsEndAScriptLoopThatNeverWaits) {
  TestWriteGameScripts(root / "game", "int n\n*SYSTEM_START\nmsgbox title='Looping', text='now'\nloop\n    n += 1\nendloop\n");
  for (int sig : {SIGTERM, SIGINT}) {
    Child run = Start({(root / "game").string()}, {}, "loop");
    ASSERT_TRUE(WaitPrinted(run, "[message box] Looping")) << ReadAll(run.err_file);
    kill(run.pid, sig);
    // Bounded, so that a loop the signal does not stop fails the test instead of hanging it.
    int status = 0;
    pid_t got = 0;
    for (int i = 0; i < 6000 && got == 0; i++) {
      got = waitpid(run.pid, &status, WNOHANG);
      if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (got == 0) {
      kill(run.pid, SIGKILL);
      Wait(run);
    }
    ASSERT_EQ(got, run.pid) << "signal " << sig << " did not end the loop";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(run.err_file);
  }
}

// A game is its folder's real path as the file system has it: folders that differ only in letter
// case, or only in characters without a Shift-JIS form, are two games that run side by side.
TEST_F(ZephraRun, FoldersDifferingInCaseOrInCharactersOutsideShiftJisAreTwoGames) {
  const std::pair<const char*, const char*> pairs[] = {{"Game", "game"}, {"caf\u00e9", "caf\u00e8"}};
  for (const auto& [first_name, second_name] : pairs) {
    for (const char* name : {first_name, second_name}) {
      fs::create_directories(root / name / "chbin");
      ASSERT_EQ(KitProjectConfigWrite((root / name / "chbin" / "zpcfg.zbn").string(), KitProjectConfig()), 0);
      TestWriteGameScripts(root / name, "*SYSTEM_START\nmsgbox title='Ran', text='ran'\nloop\n    wait frames=1000\nendloop\n");
    }
    Child first = Start({(root / first_name).string()}, {}, "first");
    ASSERT_TRUE(WaitPrinted(first, "[message box] Ran")) << ReadAll(first.err_file);
    std::string err;
    EXPECT_EQ(RunToEnd({(root / second_name).string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=5"}, &err), 0);
    EXPECT_NE(err.find("[message box] Ran"), std::string::npos) << second_name << " did not run:\n" << err;
    kill(first.pid, SIGTERM);
    EXPECT_EQ(Wait(first), 0);
  }
}

TEST_F(ZephraRun, TwoDifferentGamesStartedTogetherBothRun) {
  // The engine-wide interlock is held by each start for an instant: the other start waits.
  const std::string ran = "*SYSTEM_START\nmsgbox title='Ran', text='ran'\nend\n";
  fs::create_directories(root / "other" / "chbin");
  ASSERT_EQ(KitProjectConfigWrite((root / "other" / "chbin" / "zpcfg.zbn").string(), KitProjectConfig()), 0);
  TestWriteGameScripts(root / "game", ran);
  TestWriteGameScripts(root / "other", ran);
  for (int round = 0; round < 25; round++) {
    Child a = Start({(root / "game").string()}, {}, "a");
    Child b = Start({(root / "other").string()}, {}, "b");
    EXPECT_EQ(Wait(a), 0) << round;
    EXPECT_EQ(Wait(b), 0) << round;
    for (const Child* c : {&a, &b})
      ASSERT_NE(ReadAll(c->err_file).find("[message box] Ran\nran\n"), std::string::npos)
          << "round " << round << ": a start ended without running\n"
          << ReadAll(c->err_file);
  }
}

TEST_F(ZephraRun, LockFolderOfOthersOrMissingDoesNotStopARunAndAnUnmakeableLockFails) {
  const std::string ran = "*SYSTEM_START\nmsgbox title='Ran', text='ran'\nend\n";
  TestWriteGameScripts(root / "game", ran);
  const std::string own = "zephra-" + std::to_string(getuid());
  // Without $XDG_RUNTIME_DIR the locks go into a folder of the user's own under $TMPDIR.
  struct Case {
    const char* what;
    void (*prepare)(const fs::path& tmp, const std::string& own);
  } cases[] = {
      {"TMPDIR names a missing folder", [](const fs::path&, const std::string&) {}},
      {"a stale file where the lock folder goes",
       [](const fs::path& tmp, const std::string& own) {
         fs::create_directories(tmp);
         std::ofstream(tmp / own) << "stale";
       }},
      {"another user's folder of that name",
       [](const fs::path& tmp, const std::string& own) {
         fs::create_directories(tmp / own);
         ASSERT_EQ(chown((tmp / own).c_str(), 65534, 65534), 0);
         fs::permissions(tmp / own, fs::perms::owner_all);
       }},
      {"a folder of that name that others may write into",
       [](const fs::path& tmp, const std::string& own) {
         fs::create_directories(tmp / own);
         fs::permissions(tmp / own, fs::perms::all);
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    fs::path tmp = root / ("tmp" + std::to_string(n++));
    c.prepare(tmp, own);
    std::string err;
    EXPECT_EQ(RunToEnd({(root / "game").string()}, {"XDG_RUNTIME_DIR=", "TMPDIR=" + tmp.string()}, &err), 0) << c.what;
    EXPECT_NE(err.find("[message box] Ran\nran\n"), std::string::npos) << c.what << "\n" << err;
  }
  // A lock file that cannot be opened (a folder in its place) is a failed start with a reason,
  // never a silent "already running".
  const char* interlock = "zephra1";
  char name[64];
  std::snprintf(name, sizeof name, "zephra-%08x%08x.lock", HashMurmur2(interlock, 7, 0), MemCrc32(interlock, 7));
  fs::create_directories(root / "locks" / name);
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string()}, {}, &err), 1);
  EXPECT_NE(err.find("instance lock"), std::string::npos) << err;
  EXPECT_EQ(err.find("[message box] Ran"), std::string::npos) << err;
}

TEST_F(ZephraRun, AStartRemovesWhatAKilledRunLeftInTheGameFolder) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const fs::path leftover = root / "game" / (".zephra-write-" + std::to_string(gone) + "-AbC123");
  const fs::path running = root / "game" / ("save.sd.tmp-" + std::to_string(getpid()) + "-AbC123");
  std::ofstream(leftover) << "";
  std::ofstream(running) << "half";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=2"}, &err), 0) << err;
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(running)) << "a running program's file stays";
}

TEST_F(ZephraRun, AFrameDumpThatFailsSaysWhyAndKeepsTheGamesStatus) {
  std::string err;
  fs::path out = root / "no-such-folder" / "frame.png";
  EXPECT_EQ(
      RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=3", "ZEPHRA_FRAME_DUMP=" + out.string()}, &err),
      0);
  EXPECT_NE(err.find("zephra: the frame dump " + out.string() + " could not be written: No such file or directory"),
            std::string::npos)
      << err;
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
  ASSERT_EQ(
      ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()), "frame.png", &pic), 0);
  // The stand-in project has a 640 x 480 screen and no layers yet: a black picture.
  EXPECT_EQ(pic.width, 640);
  EXPECT_EQ(pic.height, 480);
  size_t lit = 0;
  for (i32 i = 0; i < pic.width * pic.height; i++)
    lit += (pic.pixels[i * 4] | pic.pixels[i * 4 + 1] | pic.pixels[i * 4 + 2]) != 0;
  EXPECT_EQ(lit, 0u);
  std::free(pic.pixels);
}

namespace {

// Writes a source folder with one script and builds it with zpkit into root / name.
fs::path WriteSource(const fs::path& root, const std::string& name, const std::string& script) {
  fs::path src = root / (name + "-src");
  fs::create_directories(src / "script");
  std::ofstream(src / "script" / "main.zs") << script;
  std::ofstream(src / "project.txt") << "width = 320\nheight = 240\ntitle = Run test\n";
  return src;
}

void BuildGame(const fs::path& root, const std::string& name, const std::string& script, const char* option = "") {
  fs::path src = WriteSource(root, name, script);
  std::string cmd =
      std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / name).string() + "' " + option;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace

TEST_F(ZephraRun, GameBuiltByTheKitLoadsItsScriptsAndRuns) {
  BuildGame(
      root, "demo",
      "global int n = 1\nglobal str s = 'a' + 'b'\n*SYSTEM_START\nfps rate=30\ncall *f, n + 1, s\nend\n*f\nreturn\n");
  EXPECT_TRUE(fs::exists(root / "demo" / "data.zpf"));
  EXPECT_FALSE(fs::exists(root / "demo" / "chbin")) << "the scripts are packed";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "demo").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
}

TEST_F(ZephraRun, AGameWithoutSystemStartEndsWithStatusOne) {
  // zpkit build refuses such a game; run from its source folder, it reaches the engine.
  fs::path src = WriteSource(root, "nostart", "*ELSEWHERE\nend\n");
  std::string err;
  EXPECT_EQ(RunToEnd({src.string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30"}, &err), 1);
  EXPECT_NE(err.find("SYSTEM_START"), std::string::npos) << err;
}

TEST_F(ZephraRun, EveryQuitAFailureCausesEndsWithStatusOne) {
  fs::create_directories(root / "game" / "cg");
  const std::vector<u8> px(8 * 8 * 4, 0x80);
  for (auto [name, side] : {std::pair{"a.bmp", 8}, std::pair{"b.bmp", 4}}) {
    const std::vector<u8> bmp = KitBmpEncode(px.data(), side, side, false);
    std::ofstream(root / "game" / "cg" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  }
  // A picture in the engine's own format (packed, as the kit packs them) whose first part no
  // longer inflates: a message box, no error number.
  KitPackEntry bad;
  bad.name = "cg\\bad.png";
  bad.type = IMAGE_TYPE_ZCG;
  ASSERT_EQ(KitZcgEncode(px.data(), 8, 8, IMAGE_ZCG_METHOD_ZLIB, KitZcgDefaultSplit(8, 8), &bad.data), 0);
  bad.data[IMAGE_ZCG_HEADER_SIZE + 2] ^= 0x55;
  std::string pack_err;
  ASSERT_EQ(KitPackWrite((root / "game" / "data.zpf").string(), {bad}, KitPackOptions(), &pack_err), 0) << pack_err;
  struct Case {
    const char* what;
    const char* lines;
    const char* box;
  } cases[] = {
      {"a picture that does not load", "layer name='W0/p', file='cg/bad', order=1\n", "Uncompress Status Error 1."},
      {"an alpha source of another size",
       "layer name='W0/a', file='cg/a.bmp', order=1\nlayer name='W0/b', file='cg/b.bmp', order=2\n"
       "layer name='W0/a', alpha_from='W0/b'\n",
       "レイヤ画像とマスクレイヤ画像のサイズが異なります。"},
  };
  for (const Case& c : cases) {
    TestWriteGameScripts(root / "game", std::string("*SYSTEM_START\n") + c.lines + "wait frames=100000\n");
    std::string err;
    EXPECT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=60", "ZEPHRA_FIXED_CLOCK=1"}, &err), 1)
        << c.what << "\n"
        << err;
    EXPECT_NE(err.find(std::string("[message box] エラー\n") + c.box), std::string::npos) << c.what << "\n" << err;
  }
}

TEST_F(ZephraRun, ADamagedScriptEndsWithStatusOneAndTheFormatError) {
  BuildGame(root, "broken", "*SYSTEM_START\nend\n", "--loose");
  std::ofstream(root / "broken" / "chbin" / "zpt00000.zbn", std::ios::binary | std::ios::trunc) << "too short";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "broken").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30"}, &err), 1);
  EXPECT_NE(err.find("zpt00000.zbn"), std::string::npos) << err;
}
