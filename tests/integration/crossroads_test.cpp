// The second example, examples/crossroads, shipped as a player gets it: built by the kit,
// bundled, and run headless on the fixed clock from a folder that holds only the bundle's files.
// Its last frame matches the golden picture; a second run offers to go on from the save the
// first one wrote and ends the same way.
#include "support/golden_frame.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

using zephra_run::ZephraRun;

TEST_F(ZephraRun, CrossroadsBundledPlaysFromAnEmptyFolderAndContinuesFromItsSave) {
  const fs::path game = BuildExample("crossroads"), ship = root / "ship" / "crossroads", play = root / "play";
  ASSERT_FALSE(HasFailure());
  std::string cmd = std::string("'") + ZPKIT_BIN + "' bundle '" + ship.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  fs::create_directories(play);
  fs::copy(ship, play, fs::copy_options::recursive);
  for (const char* needed : {"crossroads", "README.txt", "libzephra_emote.so", "mv/intro.mpg"})
    EXPECT_TRUE(fs::exists(play / needed)) << needed;

  const std::string program = (play / "crossroads").string();
  const std::vector<std::string> env = {"ZEPHRA_EXIT_AFTER_FRAMES=5000", "ZEPHRA_FIXED_CLOCK=1",
                                        "ZEPHRA_FRAME_DUMP=" + (root / "first.png").string()};
  std::string err;
  ASSERT_EQ(RunToEnd({}, env, &err, program), 0) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  EXPECT_EQ(err.find("続きから"), std::string::npos) << "nothing saved yet\n" << err;
  EXPECT_TRUE(fs::exists(play / "savech" / "save01.sd"));
  // The message window's text layer in the 640 x 480 game, and where the girl stands.
  const GoldenTextArea text = {44, 368, 44 + 552, 368 + 84}, girl = {410, 190, 530, 380};
  ExpectFrameMatchesGolden(root / "first.png", "crossroads_last_frame.png", text, girl);

  std::vector<std::string> again = env;
  again.back() = "ZEPHRA_FRAME_DUMP=" + (root / "second.png").string();
  ASSERT_EQ(RunToEnd({}, again, &err, program), 0) << err;
  EXPECT_NE(err.find("続きから遊びますか？"), std::string::npos) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  // The road comes back from the save, and the last line greets the returning player: the text's
  // second line differs from the first run's.
  ExpectFrameMatchesGolden(root / "second.png", "crossroads_continued_frame.png", text, girl);
  ImagePicture first{}, second{};
  bool read = DecodePngFile(root / "first.png", &first);
  read = DecodePngFile(root / "second.png", &second) && read && first.width == 640 && second.width == 640;
  size_t changed = 0;
  for (i32 y = 392; read && y < 412; y++)
    for (i32 x = 44; x < 44 + 552; x++)
      changed += std::abs(first.pixels[(y * 640 + x) * 4] - second.pixels[(y * 640 + x) * 4]) > 64;
  EXPECT_TRUE(read);
  EXPECT_GT(changed, 200u);
  std::free(first.pixels);
  std::free(second.pixels);
}
