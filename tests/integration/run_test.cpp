// Runs the zephra binary headless on game folders made here, and checks what a player or a
// script runner sees: the exit status and the dialogs printed.
#include <chrono>
#include <cstdlib>
#include <thread>

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

namespace {

// Writes a source folder with one script and builds it with zpkit into root / name.
void BuildGame(const fs::path& root, const std::string& name, const std::string& script, const char* option = "") {
  fs::path src = root / (name + "-src");
  fs::create_directories(src / "script");
  std::ofstream(src / "script" / "main.zs") << script;
  std::ofstream(src / "project.txt") << "width = 320\nheight = 240\ntitle = Run test\n";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / name).string() + "' " + option;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace

TEST_F(ZephraRun, GameBuiltByTheKitLoadsItsScriptsAndRuns) {
  BuildGame(root, "demo", "global int n = 1\nglobal str s = 'a' + 'b'\n*SYSTEM_START\nfps rate=30\ncall *f, n + 1, s\nend\n*f\nreturn\n");
  EXPECT_TRUE(fs::exists(root / "demo" / "data.zpf"));
  EXPECT_FALSE(fs::exists(root / "demo" / "chbin")) << "the scripts are packed";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "demo").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
}

TEST_F(ZephraRun, AGameWithoutSystemStartEndsWithStatusOne) {
  BuildGame(root, "nostart", "*ELSEWHERE\nend\n");
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "nostart").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30"}, &err), 1);
  EXPECT_NE(err.find("SYSTEM_START"), std::string::npos) << err;
}

TEST_F(ZephraRun, ADamagedScriptEndsWithStatusOneAndTheFormatError) {
  BuildGame(root, "broken", "*SYSTEM_START\nend\n", "--loose");
  std::ofstream(root / "broken" / "chbin" / "zpt00000.zbn", std::ios::binary | std::ios::trunc) << "too short";
  std::string err;
  EXPECT_EQ(RunToEnd({(root / "broken").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=30"}, &err), 1);
  EXPECT_NE(err.find("zpt00000.zbn"), std::string::npos) << err;
}
