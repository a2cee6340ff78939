// A game run straight from its source folder: zephra starts the kit's compiler beside it, which
// hands the compiled scripts over in memory. No build step between an edit and the next run.
#include <cstdlib>

#include "kit/demo_art.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

struct SourceRun : ZephraRun {
  fs::path src;
  void SetUp() override {
    ZephraRun::SetUp();
    src = root / "src";
    fs::create_directories(src / "script");
    fs::create_directories(src / "cg");
    std::ofstream(src / "project.txt") << "width = 160\nheight = 120\ntitle = Source run\n";
    std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\n    call *place\n    wait frames = 3\n    end\n";
    Place(10);
    std::vector<u8> red(8 * 8 * 4);
    for (size_t i = 0; i < red.size(); i += 4) red[i + 2] = red[i + 3] = 255;
    std::vector<u8> bmp = KitBmpEncode(red.data(), 8, 8, false);
    std::ofstream(src / "cg" / "red.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), bmp.size());
  }
  void Place(int x) {
    std::ofstream(src / "script" / "place.zs")
        << "*place\n    layer name = \"W0/red\", file = \"cg/red.bmp\", order = 1, x = " << x
        << ", y = 20\n    return\n";
  }
  // Runs the game and returns the red channel at (x, 20) of its last picture (-1: no picture).
  int RedAt(const fs::path& game, int x, std::string* err, const std::string& program = ZEPHRA_BIN) {
    fs::path out = root / "frame.png";
    fs::remove(out);
    int status = RunToEnd({game.string()}, {"ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + out.string()}, err, program);
    EXPECT_EQ(status, 0) << *err;
    std::string bytes = ReadAll(out);
    ImagePicture pic{};
    if (ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()), "frame.png", &pic) !=
        0)
      return -1;
    int red = pic.pixels[(20 * pic.width + x) * 4 + 2];
    std::free(pic.pixels);
    return red;
  }
  void Kit(const std::string& args) {
    std::string cmd = std::string("'") + ZPKIT_BIN + "' " + args;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
};

}  // namespace

TEST_F(SourceRun, EditedScriptsRunAgainWithoutABuildStep) {
  std::string err;
  EXPECT_EQ(RedAt(src, 12, &err), 255) << err;
  Place(100);
  EXPECT_EQ(RedAt(src, 12, &err), 0) << "the edit is seen at once\n" << err;
  EXPECT_EQ(RedAt(src, 102, &err), 255) << err;
  EXPECT_FALSE(fs::exists(src / "chbin")) << "nothing compiled is written into the source folder";
}

TEST_F(SourceRun, ScriptErrorShowsTheCompilersMessageAndEndsWithOne) {
  std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\n    call *place\n    layer name =\n    end\n";
  std::string err;
  EXPECT_EQ(RunToEnd({src.string()}, {}, &err), 1);
  EXPECT_NE(err.find("main.zs:3"), std::string::npos) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << "the runtime adds nothing of its own\n" << err;
}

// Away from the kit a source folder cannot run (the notices, status 1), but the packed build of
// the same folder does; a build with loose compiled files runs beside the kit.
TEST_F(SourceRun, PackedAndLooseBuildsRunWhereTheSourceCannot) {
  fs::create_directories(root / "away");
  fs::copy_file(ZEPHRA_BIN, root / "away" / "zephra");
  fs::permissions(root / "away" / "zephra", fs::perms::owner_exec, fs::perm_options::add);
  std::string away = (root / "away" / "zephra").string();
  std::string err;
  EXPECT_EQ(RunToEnd({src.string()}, {}, &err, away), 1);
  EXPECT_NE(err.find("[error dialog] License Information"), std::string::npos) << err;
  Kit("build '" + src.string() + "' '" + (root / "packed").string() + "'");
  EXPECT_EQ(RedAt(root / "packed", 12, &err, away), 255) << err;
  Kit("build '" + src.string() + "' '" + (root / "loose").string() + "' --loose");
  EXPECT_EQ(RedAt(root / "loose", 12, &err), 255) << err;
}

// SIGTERM while the compiler works (here one that never answers) ends the compiler with the run,
// a normal end.
TEST_F(SourceRun, TerminationDuringTheLinkEndsTheCompilerToo) {
  fs::create_directories(root / "hung");
  fs::copy_file(ZEPHRA_BIN, root / "hung" / "zephra");
  std::ofstream(root / "hung" / "zpkit") << "#!/bin/sh\necho $$ > '" << (root / "compiler.pid").string()
                                         << "'\nexec sleep 600\n";
  fs::permissions(root / "hung" / "zephra", fs::perms::owner_exec, fs::perm_options::add);
  fs::permissions(root / "hung" / "zpkit", fs::perms::owner_all, fs::perm_options::add);
  zephra_run::Child run = Start({src.string()}, {}, "hung", (root / "hung" / "zephra").string());
  // The file exists before the shell has written the number into it: wait for the number.
  int compiler = 0;
  for (int i = 0; i < 3000 && compiler <= 0; i++) {
    usleep(5000);
    std::ifstream(root / "compiler.pid") >> compiler;
  }
  if (compiler <= 0) kill(run.pid, SIGKILL);  // never leave a hung run behind for the test runner
  ASSERT_GT(compiler, 0) << ReadAll(run.err_file);
  kill(run.pid, SIGTERM);
  EXPECT_EQ(Wait(run), 0) << ReadAll(run.err_file);
  EXPECT_TRUE(kill(compiler, 0) != 0 && errno == ESRCH) << "the compiler outlived the run";
}
