#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/audio.h"
#include "sound/sound_file.h"
#include "sound/sound_stream.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

struct SoundOggTest : MixerFixture {
  SoundStream s{};
  void TearDown() override {
    SoundStreamRelease(&s);
    MixerFixture::TearDown();
  }
  i32 Open(const Bytes& file) {
    return SoundOpenImage(&s, HeapCopy(file), static_cast<u32>(file.size()), SOUND_KIND_OGG);
  }
  // Output frames of the mixer with a refill check every 10 ms, as interleaved stereo.
  std::vector<i16> Play(u32 frames) {
    std::vector<i16> out;
    for (u32 done = 0; done < frames; done += 441) {
      std::vector<i16> part = Render(441);
      out.insert(out.end(), part.begin(), part.end());
      last_refill = SoundStreamRefill(&s);
      if (last_refill != 0) break;
    }
    return out;
  }
  i32 last_refill = 0;
};

// A two-tone stereo file at the output rate, so frames pass the mixer unchanged.
const Bytes& StereoOgg() {
  static const Bytes ogg = EncodeOgg(Sine(44100 * 6 / 5, 44100, 440, 12000, 2, 1000), 2, 44100, 1);
  return ogg;
}

TEST_F(SoundOggTest, OpensOneSeekableStreamAsSixteenBitPcm) {
  ASSERT_EQ(Open(StereoOgg()), 0);
  EXPECT_EQ(s.converted, SOUND_CONVERTED_OGG);
  EXPECT_EQ(s.format.channels, 2);
  EXPECT_EQ(s.format.bits_per_sample, 16);
  EXPECT_EQ(s.format.samples_per_sec, 44100u);
  EXPECT_EQ(s.bytes_per_second, 176400);
  EXPECT_NEAR(static_cast<double>(s.length), 1200, 1);
  EXPECT_EQ(s.end, s.length);
}

TEST_F(SoundOggTest, RefusesFilesItCannotStream) {
  Bytes two = StereoOgg();
  const Bytes second = EncodeOgg(Sine(22050, 44100, 300, 8000, 2, 300), 2, 44100, 2);
  two.insert(two.end(), second.begin(), second.end());
  const Bytes garbage(5000, 0x42);
  const Bytes three_channels = EncodeOgg(std::vector<i16>(3 * 4410, 0), 3, 44100, 3);
  struct Row {
    const char* what;
    const Bytes* file;
    i32 code;
  };
  const Row rows[] = {
      {"two logical streams", &two, -1045}, {"not Ogg", &garbage, -1030}, {"three channels", &three_channels, -1050}};
  for (const Row& r : rows) {
    ASSERT_FALSE(r.file->empty()) << r.what;
    EXPECT_EQ(Open(*r.file), r.code) << r.what;
    EXPECT_EQ(s.file_image, nullptr) << r.what;
    EXPECT_EQ(s.ogg, nullptr) << r.what;
  }
}

TEST_F(SoundOggTest, PlaysExactlyWhatVorbisfileDecodes) {
  const std::vector<i16> reference = DecodeOggAll(StereoOgg());
  ASSERT_GT(reference.size(), 44100u * 2);
  ASSERT_EQ(Open(StereoOgg()), 0);
  s.loops_left = 1;
  i64 played = -1;
  ASSERT_EQ(SoundStreamStart(&s, 0, &played), 0);
  EXPECT_EQ(played, 0);
  const std::vector<i16> out = Play(44100 * 2);
  ASSERT_EQ(last_refill, 0);
  // The end position is whole milliseconds; past it the last lap pads with silence.
  const size_t heard = static_cast<size_t>(s.end) * 44100 / 1000 * 2;
  ASSERT_LE(heard, reference.size());
  size_t same = 0;
  while (same < heard && out[same] == reference[same]) same++;
  EXPECT_GE(same + 16, heard);  // a last piece under 32 bytes is not decoded
  for (size_t i = heard + 64; i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
  // Left and right keep their own tones.
  const std::vector<i16> first(out.begin(), out.begin() + 44100 * 2);
  EXPECT_NEAR(ZeroCrossings(first, 2, 0), 440, 3);
  EXPECT_NEAR(ZeroCrossings(first, 2, 1), 1000, 3);
}

TEST_F(SoundOggTest, NegativeStartIsSilenceThenTheFile) {
  const std::vector<i16> reference = DecodeOggAll(StereoOgg());
  ASSERT_EQ(Open(StereoOgg()), 0);
  i64 played = 0;
  ASSERT_EQ(SoundStreamStart(&s, -50, &played), 0);
  EXPECT_EQ(played, -8820);  // 50 ms of 176400 bytes per second
  const std::vector<i16> out = Play(44100);
  const size_t silent = 8820 / 2;
  for (size_t i = 0; i < silent; i++) ASSERT_EQ(out[i], 0) << i;
  for (size_t i = silent; i < out.size(); i++) ASSERT_EQ(out[i], reference[i - silent]) << i;
}

TEST_F(SoundOggTest, SeekLandsOnThePcmFrameAndLoopsRestartThere) {
  ASSERT_EQ(Open(StereoOgg()), 0);
  ASSERT_EQ(SoundSeekMs(&s, 500), 0);
  EXPECT_EQ(s.data_read_pos, 22050);
  EXPECT_EQ(s.decoded_bytes, 88200);
  // A lap from 1000 ms to the end (200 ms), looping back to 1000 ms, forever.
  const std::vector<i16> reference = DecodeOggAll(StereoOgg());
  s.loop_back = 1000;
  s.loops_left = 0;
  i64 played = 0;
  ASSERT_EQ(SoundStreamStart(&s, 1000, &played), 0);
  const std::vector<i16> out = Play(44100);
  // The lap is the 200 ms to the end, less at most the 31 bytes a final piece is too short for.
  const size_t full_lap = (static_cast<size_t>(s.end) * 44100 / 1000 - 44100) * 2;
  size_t lap = full_lap - 16;
  while (lap <= full_lap && !std::equal(out.begin() + lap, out.begin() + lap + 200, reference.begin() + 88200)) lap++;
  ASSERT_LE(lap, full_lap);
  for (size_t i = 0; i < out.size(); i++) {
    ASSERT_EQ(out[i], reference[88200 + i % lap]) << i;
  }
  EXPECT_EQ(s.pending_loop_back, 1000);
}

TEST_F(SoundOggTest, DecodeErrorStopsTheStreamForGood) {
  // A damaged page in the middle of a long file: its checksum fails and vorbisfile reports a hole.
  Bytes ogg = EncodeOgg(Sine(44100 * 4, 44100, 440, 12000, 2, 1000), 2, 44100, 5);
  for (size_t i = ogg.size() / 2; i < ogg.size() / 2 + 64; i++) ogg[i] ^= 0x5A;
  ASSERT_EQ(Open(ogg), 0);
  i64 played = 0;
  ASSERT_EQ(SoundStreamStart(&s, 0, &played), 0);
  Play(44100 * 4);
  EXPECT_LT(last_refill, 0);
  EXPECT_EQ(s.broken, 1);
  EXPECT_FALSE(PlatAudioVoiceIsPlaying(s.buffer));
  EXPECT_EQ(SoundStreamRefill(&s), 0);  // never refilled again
  EXPECT_EQ(SoundFillHalf(&s), -3030);
}

}  // namespace
