#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "platform/audio.h"
#include "sound/sound_codec.h"
#include "sound/sound_file.h"
#include "sound/sound_stream.h"
#include "sound/sound_thread.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

struct SoundStreamTest : MixerFixture {
  SoundStream s{};
  void TearDown() override {
    SoundStreamRelease(&s);
    g_SoundEnabled.store(1);
    MixerFixture::TearDown();
  }
  i32 Open(const Bytes& file, u8 kind = SOUND_KIND_WAV) {
    return SoundOpenImage(&s, HeapCopy(file), static_cast<u32>(file.size()), kind);
  }
  Bytes VoiceBytes() {
    Bytes b(s.buffer_bytes);
    EXPECT_EQ(PlatAudioVoiceRead(s.buffer, 0, b.data(), s.buffer_bytes), 0);
    return b;
  }
  Bytes FirstHalf() {
    Bytes b = VoiceBytes();
    b.resize(s.buffer_bytes / 2);
    return b;
  }
  i32 Start(i64 ms) {
    i64 played = 0;
    return SoundStreamStart(&s, ms, &played);
  }
  // Plays through the mixer with a refill check every 10 ms; returns the interleaved output.
  std::vector<i16> Play(u32 frames) {
    std::vector<i16> out;
    for (u32 done = 0; done < frames; done += 441) {
      std::vector<i16> part = Render(441);
      out.insert(out.end(), part.begin(), part.end());
      EXPECT_EQ(SoundStreamRefill(&s), 0);
    }
    return out;
  }
};

Bytes Pattern(size_t n, u32 mul = 7) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = static_cast<u8>(1 + (i * mul) % 120);  // never 0x80 or 0
  return b;
}

std::vector<i16> Left(const std::vector<i16>& stereo) {
  std::vector<i16> l(stereo.size() / 2);
  for (size_t i = 0; i < l.size(); i++) l[i] = stereo[2 * i];
  return l;
}

TEST_F(SoundStreamTest, PcmWavGetsOneSecondBufferOfWholeHalves) {
  struct Row {
    u16 ch;
    u32 rate;
    u16 bits;
    u32 buffer_bytes;
  };
  const Row rows[] = {{1, 8000, 8, 8000}, {2, 22050, 16, 88200}, {1, 11025, 8, 11024}, {2, 11025, 16, 44096}};
  for (const Row& r : rows) {
    const u32 align = r.ch * r.bits / 8;
    ASSERT_EQ(Open(PcmWav(r.ch, r.rate, r.bits, Pattern(align * r.rate * 2))), 0);
    EXPECT_EQ(s.bytes_per_second, static_cast<i64>(align) * r.rate);
    EXPECT_EQ(s.buffer_bytes, r.buffer_bytes);
    EXPECT_EQ(s.buffer_bytes / 2 % align, 0u);
    EXPECT_EQ(s.length, 2000);
    EXPECT_EQ(s.end, 2000);
    EXPECT_EQ(s.converted, SOUND_CONVERTED_PCM);
    EXPECT_NE(s.buffer, nullptr);
    SoundStreamRelease(&s);
    EXPECT_EQ(s.file_image, nullptr);
    EXPECT_EQ(s.buffer, nullptr);
  }
}

TEST_F(SoundStreamTest, HalvesFillInTurnByTheWriteCursor) {
  const Bytes data = Pattern(16000);
  ASSERT_EQ(Open(PcmWav(1, 8000, 8, data)), 0);
  ASSERT_EQ(Start(0), 0);
  EXPECT_EQ(FirstHalf(), Bytes(data.begin(), data.begin() + 4000));
  // Playing the first half: the second half is filled next, and only once.
  ASSERT_EQ(SoundStreamRefill(&s), 0);
  EXPECT_EQ(s.half_indicator, 2);
  Bytes whole = VoiceBytes();
  EXPECT_EQ(whole, Bytes(data.begin(), data.begin() + 8000));
  const i64 decoded = s.decoded_bytes;
  ASSERT_EQ(SoundStreamRefill(&s), 0);
  EXPECT_EQ(s.decoded_bytes, decoded);
}

TEST_F(SoundStreamTest, NegativeStartPlaysSilenceFirst) {
  struct Row {
    u16 bits;
    i64 ms;
    u32 silent_bytes;
    u8 silence;
  };
  const Row rows[] = {{16, -100, 1600, 0x00}, {8, -250, 2000, 0x80}};
  for (const Row& r : rows) {
    const Bytes data = Pattern(16000);
    ASSERT_EQ(Open(PcmWav(1, 8000, r.bits, data)), 0);
    i64 played = 0;
    ASSERT_EQ(SoundStreamStart(&s, r.ms, &played), 0);
    EXPECT_EQ(played, -static_cast<i64>(r.silent_bytes));
    Bytes half = FirstHalf();
    EXPECT_EQ(Bytes(half.begin(), half.begin() + r.silent_bytes), Bytes(r.silent_bytes, r.silence));
    EXPECT_EQ(Bytes(half.begin() + r.silent_bytes, half.end()),
              Bytes(data.begin(), data.begin() + (half.size() - r.silent_bytes)));
    SoundStreamRelease(&s);
  }
}

TEST_F(SoundStreamTest, SeekAtOrPastTheLengthLandsTenMsBeforeTheEnd) {
  ASSERT_EQ(Open(PcmWav(1, 8000, 16, Pattern(16000))), 0);  // 1000 ms
  for (i64 ms : {1000, 5000}) {
    ASSERT_EQ(SoundSeekMs(&s, ms), 0);
    EXPECT_EQ(s.data_read_pos, 990 * 16);
    EXPECT_EQ(s.decoded_bytes, 990 * 16);
  }
}

TEST_F(SoundStreamTest, EndBetweenFramesStopsOnTheFrameBelow) {
  // Stereo 16-bit at 22050 Hz: 5 ms are 441 bytes, which ends inside a frame.
  const Bytes data = Pattern(88200);
  ASSERT_EQ(Open(PcmWav(2, 22050, 16, data)), 0);
  s.end = 5;
  s.loops_left = 1;
  ASSERT_EQ(Start(0), 0);
  Bytes half = FirstHalf();
  EXPECT_EQ(Bytes(half.begin(), half.begin() + 440), Bytes(data.begin(), data.begin() + 440));
  EXPECT_EQ(Bytes(half.begin() + 440, half.end()), Bytes(half.size() - 440, 0));
}

TEST_F(SoundStreamTest, LapsRepeatFromTheLoopBackAndTheLastOnePadsWithSilence) {
  const Bytes data = Pattern(400);  // 50 ms at 8000 Hz, 8-bit mono
  struct Row {
    i32 loops;
    i32 loop_back_ms;
    i32 expected_loops_left;
  };
  const Row rows[] = {{1, 0, 1}, {3, 0, 1}, {3, 25, 1}, {0, 0, 0}, {0, 25, 0}, {2, 200, 1}};
  for (const Row& r : rows) {
    ASSERT_EQ(Open(PcmWav(1, 8000, 8, data)), 0);
    s.loops_left = r.loops;
    s.loop_back = r.loop_back_ms;
    ASSERT_EQ(Start(0), 0);
    // What the half must hold: the first lap, then laps from the loop-back (0 when it lies at
    // or past the end), then silence once the laps are used up.
    const size_t from = r.loop_back_ms >= 50 ? 0 : static_cast<size_t>(r.loop_back_ms) * 8;
    Bytes expected = data;
    for (i32 lap = 2; (r.loops == 0 || lap <= r.loops) && expected.size() < 4000; lap++) {
      expected.insert(expected.end(), data.begin() + from, data.end());
    }
    expected.resize(4000, 0x80);
    EXPECT_EQ(FirstHalf(), expected) << r.loops << " " << r.loop_back_ms;
    EXPECT_EQ(s.loops_left, r.expected_loops_left);
    if (r.loops != 1) {
      EXPECT_EQ(s.pending_end, 50);
      EXPECT_EQ(s.pending_loop_back, static_cast<i32>(from / 8));
      EXPECT_EQ(s.loop_back, static_cast<i32>(from / 8));
    }
    SoundStreamRelease(&s);
  }
}

TEST_F(SoundStreamTest, LapWithoutBytesEndsTheFill) {
  ASSERT_EQ(Open(PcmWav(1, 8000, 8, Pattern(400))), 0);
  s.end = 0;  // every lap is empty; looping forever must not spin
  s.loops_left = 0;
  ASSERT_EQ(Start(0), 0);
  EXPECT_EQ(FirstHalf(), Bytes(4000, 0x80));
}

TEST_F(SoundStreamTest, SilentRootWavLoopsForever) {
  ASSERT_EQ(SoundOpenFile(&s, " ", SOUND_KIND_WAV, SOUND_ROOT_ORDER), 0);
  EXPECT_EQ(s.length, 500);
  EXPECT_EQ(s.buffer_bytes, 8000u);
  ASSERT_EQ(Start(0), 0);
  for (int i = 0; i < 6; i++) {
    s.fill_offset = (i & 1) ? 0 : 4000;
    ASSERT_EQ(SoundFillHalf(&s), 0);
    EXPECT_EQ(s.pending_end, 500);  // each half of 4000 bytes wraps the 4000-byte lap once
    EXPECT_LT(s.decoded_bytes, 4000 + 1);
  }
  EXPECT_EQ(VoiceBytes(), Bytes(8000, 0x80));
}

TEST_F(SoundStreamTest, FileSourcesAndRepeatedLoads) {
  EXPECT_EQ(SoundOpenFile(&s, "bgm\\none.wav", SOUND_KIND_WAV, 1), -1020);
  // A file that cannot be prepared leaves the object free for the next load.
  Bytes bad = PcmWav(1, 8000, 8, Pattern(100));
  bad[8] = 'X';
  EXPECT_EQ(Open(bad), -10050);
  EXPECT_EQ(s.file_image, nullptr);
  ASSERT_EQ(Open(PcmWav(1, 8000, 8, Pattern(100))), 0);
  EXPECT_EQ(Open(PcmWav(1, 8000, 8, Pattern(100))), -1010);
  EXPECT_EQ(SoundOpenFile(&s, " ", SOUND_KIND_WAV, SOUND_ROOT_ORDER), -1010);
}

TEST_F(SoundStreamTest, SoundOffLoadsTheImageWithoutABuffer) {
  g_SoundEnabled.store(0);
  ASSERT_EQ(Open(PcmWav(1, 8000, 8, Pattern(100))), 0);
  EXPECT_NE(s.file_image, nullptr);
  EXPECT_EQ(s.buffer, nullptr);
  SoundSetBufferVolume(&s, 100);
  SoundSetBufferPan(&s, 0);
  SoundSetBufferSpeed(&s, 0);
  EXPECT_EQ(SoundStreamRefill(&s), -330);
}

TEST_F(SoundStreamTest, CompressedWavIsConvertedAndSurvivesAPause) {
  const std::vector<i16> src = Sine(505 * 4, 22050, 440, 8000);
  ASSERT_EQ(Open(CompressedWav(SOUND_TAG_IMA_ADPCM, 1, 22050, 256, 4, {0xF9, 0x01}, ImaEncode(src, 1, 256))), 0);
  EXPECT_EQ(s.converted, SOUND_CONVERTED_ACM);
  EXPECT_EQ(s.format.bits_per_sample, 16);
  EXPECT_EQ(s.data_bytes, 505u * 4 * 2);
  const i64 length = s.length;
  // Pause frees the playback blocks and keeps the image; resume prepares it again.
  SoundStreamFree(&s);
  EXPECT_EQ(s.buffer, nullptr);
  ASSERT_EQ(SoundPrepare(&s, SOUND_KIND_WAV), 0);
  EXPECT_EQ(s.converted, SOUND_CONVERTED_ACM);
  EXPECT_EQ(s.length, length);
  EXPECT_NE(s.buffer, nullptr);
}

TEST_F(SoundStreamTest, PlaysTheFileThroughTheMixerAcrossRefills) {
  struct Row {
    i32 loops;
    i32 laps_heard;
  };
  for (const Row& r : {Row{1, 1}, Row{2, 2}}) {
    // 16-bit mono at the output rate, so output frames are the file's samples.
    std::vector<i16> src(44100 * 7 / 10);
    for (size_t i = 0; i < src.size(); i++) src[i] = static_cast<i16>(static_cast<int>(i * 37 % 20000) - 10000);
    ASSERT_EQ(Open(PcmWav(1, 44100, 16, Le16(src))), 0);
    s.loops_left = r.loops;
    ASSERT_EQ(Start(0), 0);
    const std::vector<i16> out = Left(Play(44100 * 2));
    std::vector<i16> expected;
    for (i32 lap = 0; lap < r.laps_heard; lap++) expected.insert(expected.end(), src.begin(), src.end());
    expected.resize(out.size(), 0);
    ASSERT_EQ(out.size(), expected.size());
    size_t first_diff = 0;
    while (first_diff < out.size() && out[first_diff] == expected[first_diff]) first_diff++;
    EXPECT_EQ(first_diff, out.size()) << "loops " << r.loops;
    SoundStreamRelease(&s);
  }
}

TEST_F(SoundStreamTest, VolumePanAndSpeedReachTheMixer) {
  std::vector<i16> src(44100, 16000);
  ASSERT_EQ(Open(PcmWav(1, 44100, 16, Le16(src))), 0);
  ASSERT_EQ(Start(0), 0);
  struct Row {
    i32 volume, pan;
    double left, right;
  };
  const Row rows[] = {
      {256, 256, 1.0, 1.0}, {128, 256, 0.25, 0.25}, {64, 256, 0.0625, 0.0625},
      {0, 256, 0, 0},       {256, 0, 1.0, 0.0},     {256, 512, 0.0, 1.0},
      {256, 600, 1.0, 1.0}, {256, 128, 1.0, 0.25},  {256, 384, 0.25, 1.0},
  };
  for (const Row& r : rows) {
    SoundSetBufferVolume(&s, r.volume);
    SoundSetBufferPan(&s, r.pan);
    const std::vector<i16> out = Render(4);
    EXPECT_NEAR(out[0], 16000 * r.left, 16000 * 0.002 + 1) << r.volume << " " << r.pan;
    EXPECT_NEAR(out[1], 16000 * r.right, 16000 * 0.002 + 1) << r.volume << " " << r.pan;
  }
  // Speed 0 plays at half the rate: the play cursor moves half as far.
  u32 before, after, write;
  PlatAudioVoiceGetPosition(s.buffer, &before, &write);
  SoundSetBufferSpeed(&s, 0);
  Render(1000);
  PlatAudioVoiceGetPosition(s.buffer, &after, &write);
  EXPECT_EQ(after - before, 500u * 2);
}

TEST(SoundFormulas, VolumePanAndSpeedAtTheirBounds) {
  struct VolumeRow {
    i32 volume, mb;
  };
  for (const VolumeRow& r : {VolumeRow{0, -10000}, VolumeRow{-5, -10000}, VolumeRow{1, -9632}, VolumeRow{64, -2408},
                             VolumeRow{128, -1204}, VolumeRow{256, 0}, VolumeRow{300, 0}}) {
    EXPECT_EQ(SoundVolumeToMb(r.volume), r.mb) << r.volume;
  }
  struct PanRow {
    i32 pan, mb;
  };
  for (const PanRow& r : {PanRow{0, -10000}, PanRow{128, -1204}, PanRow{256, 0}, PanRow{257, 6}, PanRow{384, 1204},
                          PanRow{512, 10000}, PanRow{600, 0}, PanRow{-1, 0}}) {
    EXPECT_EQ(SoundPanToMb(r.pan), r.mb) << r.pan;
  }
  struct SpeedRow {
    u32 base;
    i32 speed;
    u32 hz;
  };
  for (const SpeedRow& r : {SpeedRow{44100, 0, 22050}, SpeedRow{44100, 128, 33075}, SpeedRow{44100, 256, 44100},
                            SpeedRow{44100, 512, 66150}, SpeedRow{44100, 513, 44100}, SpeedRow{44100, -1, 44100},
                            SpeedRow{11025, 0, 5513}, SpeedRow{11025, 512, 16537}}) {
    EXPECT_EQ(SoundSpeedToFrequency(r.base, r.speed), r.hz) << r.base << " " << r.speed;
  }
}

}  // namespace
