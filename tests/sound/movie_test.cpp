// Movies: the place of the picture in both modes, the MPEG sniff and the volume mappings, and the
// player on the kit's test movie (its pictures' colours, its tone through the mixer, damaged
// copies ending cleanly).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/movie_writer.h"
#include "platform/audio.h"
#include "platform/movie.h"
#include "platform/platform.h"
#include "sound/movie.h"

namespace fs = std::filesystem;

TEST(Movie, ScreenRectInBothModesAndFitModeTwo) {
  const MovieRect r = {10, 20, 320, 240};
  struct Case {
    bool mci;
    i32 fit;
    SizeI32 game, display, output;
    PointI32 offset;
    MovieRect want;
  } const cases[] = {
      {false, 0, {640, 480}, {640, 480}, {640, 480}, {0, 0}, {10, 20, 320, 240}},
      {false, 1, {640, 480}, {1280, 1024}, {1280, 960}, {0, 32}, {10, 52, 640, 480}},  // offset added unscaled
      {true, 1, {640, 480}, {1280, 1024}, {1280, 960}, {0, 32}, {10, 52, 640, 480}},
      // Fit mode 2 in MCI mode: 1920 x 1080 holds a 1440 x 1080 picture, centred.
      {true, 2, {640, 480}, {1920, 1080}, {1920, 1440}, {0, -180}, {250, 20, 720, 540}},
      // A display taller than the game's aspect: full width, centred vertically.
      {true, 2, {640, 480}, {800, 1000}, {800, 600}, {0, 0}, {10, 220, 400, 300}},
      {false, 2, {640, 480}, {1920, 1080}, {1920, 1440}, {0, -180}, {10, -160, 960, 720}},
      {false, 0, {0, 0}, {640, 480}, {640, 480}, {0, 0}, {10, 20, 320, 240}},  // no game size: no scaling
  };
  for (const Case& c : cases) {
    MovieRect got = MovieScreenRect(r, c.mci, c.fit, c.game, c.display, c.output, c.offset);
    EXPECT_EQ(got.x, c.want.x);
    EXPECT_EQ(got.y, c.want.y);
    EXPECT_EQ(got.w, c.want.w);
    EXPECT_EQ(got.h, c.want.h);
  }
}

TEST(Movie, MpegSniffAndVolumeMappings) {
  const u8 mpeg2[] = {0, 0, 1, 0xBA, 0x44}, mpeg1[] = {0, 0, 1, 0xBA, 0x21}, other[] = {0, 0, 1, 0xB3, 0x44};
  EXPECT_EQ(MovieMpegType(mpeg2, 5), 2);
  EXPECT_EQ(MovieMpegType(mpeg1, 5), 1);
  EXPECT_EQ(MovieMpegType(other, 5), 255);
  EXPECT_EQ(MovieMpegType(mpeg1, 4), 255) << "too short to tell";
  EXPECT_EQ(MovieGraphVolumeMb(128), -1204);
  EXPECT_EQ(MovieGraphVolumeMb(256), 0);
  EXPECT_EQ(MovieGraphVolumeMb(0), -10000);
  EXPECT_EQ(MovieGraphVolumeMb(-5), -10000) << "limited to 0..256 first";
  EXPECT_EQ(MovieGraphVolumeMb(1), -9632);
  EXPECT_EQ(MovieMciVolumeValue(128), 500);
  EXPECT_EQ(MovieMciVolumeValue(256), 1000);
  EXPECT_EQ(MovieMciVolumeValue(300), 1000);
}

namespace {

struct MoviePlayerTest : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("zephra-movie-" + std::to_string(::getpid()));
  fs::path movie = dir / "test.mpg";
  std::vector<u8> bytes;
  void SetUp() override {
    fs::create_directories(dir);
    KitMovieSpec spec;  // 160 x 120, 25 pictures a second, red then green, 440 Hz
    std::string err;
    ASSERT_EQ(KitWriteTestMovie(movie.string(), spec, &err), 0) << err;
    std::ifstream in(movie, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void TearDown() override {
    PlatAudioClose();
    fs::remove_all(dir);
  }
  static u32 Centre(const std::vector<u8>& px, i32 w, i32 h) {
    const u8* p = px.data() + (static_cast<size_t>(h / 2) * w + w / 2) * 4;
    return static_cast<u32>(p[2]) << 16 | static_cast<u32>(p[1]) << 8 | p[0];
  }
  static bool Near(u32 got, u32 want) {
    for (int s = 0; s < 24; s += 8)
      if (std::abs(static_cast<int>((got >> s) & 255) - static_cast<int>((want >> s) & 255)) > 6) return false;
    return true;
  }
};

}  // namespace

TEST_F(MoviePlayerTest, DecodesEveryPictureInItsColour) {
  PlatMovie* m = PlatMovieOpen(movie.string().c_str());
  ASSERT_NE(m, nullptr);
  std::vector<u8> px;
  i32 w = 0, h = 0;
  u64 serial = 0;
  ASSERT_EQ(PlatMovieDecodeFrames(m, 1), 1);
  ASSERT_TRUE(PlatMovieTakeFrame(m, &px, &w, &h, &serial));
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_TRUE(Near(Centre(px, w, h), 0xFF0000)) << std::hex << Centre(px, w, h);
  EXPECT_EQ(PlatMovieDecodeFrames(m, 1000), 49) << "two seconds at 25 pictures";
  ASSERT_TRUE(PlatMovieTakeFrame(m, &px, &w, &h, &serial));
  EXPECT_TRUE(Near(Centre(px, w, h), 0x00FF00)) << std::hex << Centre(px, w, h);
  EXPECT_FALSE(PlatMovieTakeFrame(m, &px, &w, &h, &serial)) << "nothing newer";
  PlatMovieClose(m);
}

TEST_F(MoviePlayerTest, SoundGoesThroughTheMixerAtTheMoviesPitch) {
  ASSERT_EQ(PlatAudioOpen(44100, false), 0);
  PlatMovie* m = PlatMovieOpen(movie.string().c_str());
  ASSERT_NE(m, nullptr);
  PlatMoviePlay(m, true);
  std::vector<i16> heard;
  std::vector<i16> block(2 * 441);
  for (int i = 0; i < 200 && !PlatMovieEnded(m); i++) {  // 10 ms blocks, the clock kept beside them
    PlatMovieAdvance(m, 10);                             // decodes and feeds the voice on this thread
    PlatAudioRender(block.data(), 441);
    heard.insert(heard.end(), block.begin(), block.end());
  }
  PlatMovieClose(m);
  // Zero crossings of the left channel over the loud part give the pitch.
  i64 crossings = 0, loud = 0;
  for (size_t i = 2; i < heard.size(); i += 2) {
    if (std::abs(heard[i]) > 2000) loud++;
    if ((heard[i - 2] < 0) != (heard[i] < 0)) crossings++;
  }
  ASSERT_GT(loud, 44100 / 2) << "the tone was heard";
  const double seconds = static_cast<double>(heard.size()) / 2 / 44100;
  const double hz = static_cast<double>(crossings) / 2 / seconds;
  EXPECT_NEAR(hz, 440.0, 60.0) << "crossings " << crossings << " over " << seconds << " s";
}

TEST_F(MoviePlayerTest, DamagedAndCutCopiesEndCleanly) {
  // Every cut either fails to open or decodes what it holds and ends; garbage in the middle too.
  for (size_t cut : {size_t{1}, size_t{4}, size_t{100}, size_t{2048}, bytes.size() / 3, bytes.size() - 7}) {
    SCOPED_TRACE(cut);
    PlatMovie* m = PlatMovieOpenMemory(bytes.data(), cut);
    if (!m) continue;
    EXPECT_LE(PlatMovieDecodeFrames(m, 1000), 50);
    PlatMovieClose(m);
  }
  std::vector<u8> bad = bytes;
  for (size_t i = bad.size() / 4; i < bad.size(); i += 97) bad[i] ^= 0x5A;
  PlatMovie* m = PlatMovieOpenMemory(bad.data(), bad.size());
  if (m) {
    EXPECT_LE(PlatMovieDecodeFrames(m, 1000), 60);
    PlatMovieClose(m);
  }
  std::vector<u8> noise(4096);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = static_cast<u8>(i * 2654435761u >> 13);
  EXPECT_EQ(PlatMovieOpenMemory(noise.data(), noise.size()), nullptr);
}
