// Commands 71 to 73 and 23 to 25 on a script: the movie's play, query and stop (which resets the
// volume), the MPEG sniff relative to the work folder, and the Flash host's queries with and
// without a movie, through a test double of the player library that counts its calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/config.h"
#include "core/state.h"
#include "kit/movie_writer.h"
#include "platform/file.h"
#include "platform/flash.h"
#include "script/cmd_game.h"
#include "sound/movie.h"

namespace fs = std::filesystem;

namespace {

struct FlashDouble {
  i32 created = 0, loaded = 0, played = 0, released = 0;
} g_Flash;

const PlatFlashApi kFlashDouble = {
    [](i32, i32, i32, i32) -> void* { return g_Flash.created++, &g_Flash; },
    [](void*, const char*) { return g_Flash.loaded++, 0; },
    [](void*) { return 42; },
    [](void*) { return g_Flash.played++, 0; },
    [](void*) { return 1; },
    [](void*) { return 17; },
    [](void*, const char*, i64* v) { return *v = 7, 0; },
    [](void*, i32, i32, i32, i32) {},
    [](void*) { g_Flash.released++; },
};

struct MovieCmdTest : CmdGameTest {
  fs::path dir = fs::temp_directory_path() / ("zephra-moviecmd-" + std::to_string(::getpid()));
  std::string saved;
  void SetUp() override {
    fs::create_directories(dir / "mv");
    std::string err;
    KitMovieSpec spec;
    spec.seconds = 1;
    ASSERT_EQ(KitWriteTestMovie((dir / "mv" / "a.mpg").string(), spec, &err), 0) << err;
    std::ofstream(dir / "mv" / "h.bin", std::ios::binary).write("\x00\x00\x01\xBA\x44", 5);
    std::ofstream(dir / "mv" / "a.swf") << "FWS";
    saved = fs::current_path().string();
    PlatSetCurrentFolder(dir.string());
    PlatFlashSetForTests(&kFlashDouble);
    g_WorkFolder[0] = '\0';
    plain_codes = {101510, 101520};
    named_codes = {104060};
  }
  void TearDown() override {
    MovieReset();
    PlatFlashSetForTests(nullptr);
    CmdGameTest::TearDown();
    PlatSetCurrentFolder(saved);
    fs::remove_all(dir);
  }
  i64 R() { return VarGetIntElement(1000, 0); }
};

}  // namespace

TEST_F(MovieCmdTest, PlayQueryStopAndTheFlashHost) {
  Load(
      "*SYSTEM_START\n"
      "int r = 0\n"
      "movie file = \"MV/A.mpg\", x = 8, w += 2, volume = 128, play = 1\n"  // 0
      "movie_info playing = 0, result = r\n"                                // 1
      "movie_info w = 0, result = r\n"                                      // 2
      "movie_info volume = 0, result = r\n"                                 // 3
      "movie_stop\n"                                                        // 4
      "movie_info volume = 0, result = r\n"                                 // 5
      "movie_info playing = 0, result = r\n"                                // 6
      "movie_info mpeg = \"mv/h.bin\", result = r\n"                        // 7
      "movie_info mpeg = \"mv/none.bin\", result = r\n"                     // 8
      "movie file = \"mv/missing.mpg\"\n"                                   // 9
      "flash_info frame = 0, result = r\n"                                  // 10
      "flash_close\n"                                                       // 11
      "flash file = \"mv/a.swf\", play = 1, arg = 5\n"                      // 12
      "flash_info frames = 0, result = r\n"                                 // 13
      "flash_info value = 0, result = r\n"                                  // 14
      "flash_info arg = 0, result = r\n"                                    // 15
      "flash_close\n"                                                       // 16
      "flash_info frames = 0, result = r\n");                               // 17
  RunAll(0, 0);
  EXPECT_EQ(g_MoviePlaying.load(), 1);
  EXPECT_STREQ(g_MovieFileName, "mv\\a.mpg") << "lower-cased, with backslashes";
  EXPECT_EQ(g_MovieRect.x, 8);
  EXPECT_EQ(g_MovieRect.w, 2) << "given, so kept";
  EXPECT_EQ(g_MovieRect.h, 0) << "not given with the file: the game's height (no window here)";
  RunAll(1, 1);
  EXPECT_EQ(R(), 1);
  RunAll(3, 3);
  EXPECT_EQ(R(), 128);
  RunAll(4, 5);
  EXPECT_EQ(R(), 256) << "the stop resets the volume";
  RunAll(6, 6);
  EXPECT_EQ(R(), 0);
  RunAll(7, 7);
  EXPECT_EQ(R(), 2);
  RunAll(8, 8);
  EXPECT_EQ(R(), 0) << "a file that does not open";
  EXPECT_EQ(w.Run(9), -1);
  EXPECT_NE(std::string(g_ErrLastText).find("missing.mpg"), std::string::npos) << g_ErrLastText;

  SetErrTexts();
  RunAll(10, 11);
  EXPECT_EQ(R(), 0) << "no Flash movie open";
  RunAll(12, 15);
  EXPECT_EQ(R(), 5);
  EXPECT_EQ(g_Flash.created, 1);
  EXPECT_EQ(g_Flash.loaded, 1);
  EXPECT_EQ(g_Flash.played, 1);
  RunAll(16, 17);
  EXPECT_EQ(R(), 0);
  EXPECT_EQ(g_Flash.released, 1);
}

TEST_F(MovieCmdTest, CompletionAndFailedOpensInBothModes) {
  Load("*SYSTEM_START\nmovie file = \"mv/a.mpg\", play = 1\nmovie file = \"mv/a.swf\", play = 1\n");
  // The graph mode: the one-second movie runs on the real clock; its completion releases it.
  RunAll(0, 0);
  EXPECT_EQ(g_MoviePlaying.load(), 1);
  for (int i = 0; i < 500 && g_MoviePlaying; i++) {
    PlatSleepMs(10);
    MovieGraphDrainEvents();  // what the completion message runs on the main thread
  }
  EXPECT_EQ(g_MoviePlaying.load(), 0);
  EXPECT_EQ(w.Run(1), -1) << "a file that is no movie";
  EXPECT_NE(std::string(g_ErrLastText).find("E101520"), std::string::npos) << g_ErrLastText;
  EXPECT_EQ(g_MoviePlaying.load(), 0);

  // The MCI mode keeps its device open; a device that does not open leaves nothing playing.
  g_MovieUseDirectShow = 0;
  SetErrTexts();
  RunAll(0, 0);
  EXPECT_EQ(g_MovieMciOpen.load(), 1u);
  EXPECT_EQ(g_MoviePlaying.load(), 1);
  RunAll(1, 1);
  EXPECT_EQ(g_MovieMciOpen.load(), 0u);
  EXPECT_EQ(g_MoviePlaying.load(), 0) << "nothing would ever clear it";
  g_MovieUseDirectShow = 1;
}
