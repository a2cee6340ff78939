#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "kit/ogg_writer.h"
#include "platform/platform.h"
#include "sound/sound_file.h"
#include "sound/sound_stream.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct KitSoundTest : MixerFixture {
  SoundStream s{};
  void TearDown() override {
    SoundStreamRelease(&s);
    MixerFixture::TearDown();
  }
};

TEST_F(KitSoundTest, DemoSoundsAreFilesTheEngineStreams) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zephra_kit_sound_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "demosounds", dir.string()}), 0);
  EXPECT_NE(PlatSpawnWait({ZPKIT_BIN, "demosounds"}), 0);
  const Bytes music = ReadAll(dir / "bgm" / "demo.ogg");
  const Bytes chime = ReadAll(dir / "se" / "chime.wav");
  EXPECT_FALSE(std::filesystem::exists(dir / "bgm" / "demo.ogg.tmp"));
  std::filesystem::remove_all(dir);

  ASSERT_EQ(SoundOpenImage(&s, HeapCopy(music), static_cast<u32>(music.size()), SOUND_KIND_OGG), 0);
  EXPECT_EQ(s.format.channels, 2);
  EXPECT_EQ(s.format.samples_per_sec, 44100u);
  EXPECT_EQ(s.length, 8000);
  SoundStreamRelease(&s);

  ASSERT_EQ(SoundOpenImage(&s, HeapCopy(chime), static_cast<u32>(chime.size()), SOUND_KIND_WAV), 0);
  EXPECT_EQ(s.format.channels, 1);
  EXPECT_EQ(s.format.bits_per_sample, 16);
  EXPECT_EQ(s.length, 600);
  // The chime starts at once and dies away: its first tenth is louder than its last.
  const std::vector<i16> samples = FromLe16(s.data_start, s.data_bytes / 2);
  double head = 0, tail = 0;
  const size_t tenth = samples.size() / 10;
  for (size_t i = 0; i < tenth; i++) {
    head += std::abs(samples[i]);
    tail += std::abs(samples[samples.size() - tenth + i]);
  }
  EXPECT_GT(head, 5 * tail);
}

TEST(KitSoundWriters, WavRoundTripsAndOggDecodesToTheTune) {
  const std::vector<i16> tune = KitDemoMusicSamples(1);
  ASSERT_EQ(tune.size(), 2u * 44100);
  // The tune starts and ends quietly, so its loop joins without a click.
  EXPECT_LT(std::abs(tune[0]) + std::abs(tune[1]), 200);
  EXPECT_LT(std::abs(tune[tune.size() - 2]) + std::abs(tune[tune.size() - 1]), 2000);
  Bytes ogg;
  ASSERT_EQ(KitOggEncode(tune.data(), tune.size() / 2, 2, 44100, 7, 0.5f, &ogg), 0);
  const std::vector<i16> decoded = DecodeOggAll(ogg);
  ASSERT_EQ(decoded.size(), tune.size());
  // Lossy, but the bass line's crossings survive: count them on the right channel.
  const u32 a = ZeroCrossings(tune, 2, 1), b = ZeroCrossings(decoded, 2, 1);
  EXPECT_NEAR(static_cast<double>(b), static_cast<double>(a), a * 0.05);

  const Bytes eight = {0, 128, 255, 7};
  Bytes wav;
  ASSERT_EQ(KitWavEncode(eight.data(), 2, 2, 11025, 8, &wav), 0);
  SoundWavInfo info;
  ASSERT_EQ(SoundWavParse(wav.data(), static_cast<u32>(wav.size()), &info), 0);
  EXPECT_EQ(info.format.channels, 2);
  EXPECT_EQ(info.format.samples_per_sec, 11025u);
  EXPECT_EQ(Bytes(wav.begin() + info.data_offset, wav.end()), eight);
  EXPECT_EQ(KitWavEncode(eight.data(), 2, 3, 11025, 8, &wav), -1);
  EXPECT_EQ(KitOggEncode(tune.data(), 10, 0, 44100, 1, 0.5f, &ogg), -1);
}

}  // namespace
