// A game plays the kit's test movie in a rectangle and waits on the playing flag, headless on the
// fixed clock: a frame dump taken while it plays shows the movie's colour inside the rectangle and
// black outside; a run to the end goes on after the movie's last picture and shows a box; the
// sound recorded by SDL's disk driver holds the movie's tone.
#include <cmath>
#include <filesystem>

#include "kit/movie_writer.h"
#include "layer/image.h"
#include "support/kit_game.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

struct MovieGame : ZephraRun {
  void Make(const char* script) {
    const fs::path game = root / "game";
    fs::create_directories(game / "mv");
    KitMovieSpec spec;  // red for a second, then green, 440 Hz
    std::string err;
    ASSERT_EQ(KitWriteTestMovie((game / "mv" / "test.mpg").string(), spec, &err), 0) << err;
    TestWriteGameScripts(game, script);
  }
};

const char kScript[] =
    "*SYSTEM_START\n"
    "    fps rate = 50\n"
    "    movie file = \"mv/test.mpg\", x = 40, y = 30, w = 160, h = 120, play = 1\n"
    "    int playing = 1\n"
    "    loop\n"
    "        movie_info playing = 0, result = playing\n"
    "        if playing == 0\n"
    "            break\n"
    "        endif\n"
    "        wait frames = 1\n"
    "    endloop\n"
    "    msgbox title = \"movie\", text = \"the movie ended\"\n"
    "    end\n";

}  // namespace

TEST_F(MovieGame, PlaysInItsRectangleOverBlackAndTheScriptGoesOnAfterIt) {
  Make(kScript);
  // Half a second in: the red second plays.
  const fs::path dump = root / "playing.png";
  std::string err;
  ASSERT_EQ(
      RunToEnd({(root / "game").string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=25", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  EXPECT_EQ(err.find("the movie ended"), std::string::npos) << "still playing at frame 25\n" << err;
  const std::string png = ReadAll(dump);
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(reinterpret_cast<const u8*>(png.data()), static_cast<u32>(png.size()), "playing.png", &shot),
            0)
      << err;
  auto px = [&](i32 x, i32 y) {
    const u8* p = shot.pixels + (static_cast<size_t>(y) * shot.width + x) * 4;
    return static_cast<u32>(p[2]) << 16 | static_cast<u32>(p[1]) << 8 | p[0];
  };
  const u32 inside = px(120, 90);
  EXPECT_GT(inside >> 16, 200u) << std::hex << inside;
  EXPECT_LT((inside >> 8) & 255, 40u) << std::hex << inside;
  EXPECT_EQ(px(10, 10), 0u) << "black outside the movie";
  EXPECT_EQ(px(300, 200), 0u);
  std::free(shot.pixels);

  // To the end in real time, with the sound recorded.
  const fs::path recording = root / "out.raw";
  ASSERT_EQ(
      RunToEnd({(root / "game").string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=1000", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording.string()},
               &err),
      0)
      << err;
  EXPECT_NE(err.find("the movie ended"), std::string::npos) << err;
  const std::string raw = ReadAll(recording);
  i64 loud = 0, crossings = 0, counted = 0;
  i16 prev = 0;
  for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
    const i16 left = static_cast<i16>(static_cast<u8>(raw[i]) | static_cast<u8>(raw[i + 1]) << 8);
    if (std::abs(left) > 3000) loud++;
    if (std::abs(left) > 300 || std::abs(prev) > 300) {
      counted++;
      if ((prev < 0) != (left < 0)) crossings++;
    }
    prev = left;
  }
  ASSERT_GT(loud, 44100 / 2) << "the movie's tone was recorded";
  EXPECT_NEAR(static_cast<double>(crossings) / 2 / (static_cast<double>(counted) / 44100), 440.0, 40.0);
}
