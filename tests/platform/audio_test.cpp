#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/audio.h"

namespace {

struct AudioTest : ::testing::Test {
  void SetUp() override { ASSERT_EQ(PlatAudioOpen(kRate, false), 0); }
  void TearDown() override {
    PlatAudioSetCapture(nullptr, nullptr);
    PlatAudioClose();
  }
  static constexpr u32 kRate = 44100;

  std::vector<i16> Render(u32 frames) {
    std::vector<i16> out(frames * 2);
    PlatAudioRender(out.data(), frames);
    return out;
  }
  // A voice of 16-bit frames (mono or stereo) holding the given samples, playing looped.
  PlatAudioVoice* Voice16(const std::vector<i16>& samples, u16 channels, u32 rate = kRate, bool play = true) {
    PlatAudioFormat f = {channels, 16, rate};
    PlatAudioVoice* v = PlatAudioVoiceCreate(&f, static_cast<u32>(samples.size() * 2));
    EXPECT_NE(v, nullptr);
    EXPECT_EQ(PlatAudioVoiceWrite(v, 0, samples.data(), static_cast<u32>(samples.size() * 2)), 0);
    if (play) PlatAudioVoicePlay(v, true);
    return v;
  }
};

// Without a sound card ALSA would print its own lines on the terminal; the engine says it itself.
TEST(AudioDevice, NoCardLeavesNoAlsaLinesOnTheTerminal) {
  ::setenv("SDL_AUDIODRIVER", "alsa", 1);
  ::testing::internal::CaptureStderr();
  const i32 r = PlatAudioOpen(44100, true);
  const std::string printed = ::testing::internal::GetCapturedStderr();
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  if (r == PLAT_AUDIO_OK) {
    PlatAudioClose();
    GTEST_SKIP() << "this machine has a sound card";
  }
  EXPECT_EQ(printed.find("ALSA lib"), std::string::npos) << printed;
}

i16 Scaled(double sample, double gain) { return static_cast<i16>(std::nearbyint(sample * gain)); }

TEST_F(AudioTest, VolumeAndPanScaleEachChannel) {
  struct Row {
    i32 volume, pan;
    double left, right;  // expected gains
  };
  const Row rows[] = {
      {0, 0, 1.0, 1.0},
      {-600, 0, std::pow(10.0, -0.3), std::pow(10.0, -0.3)},
      {-1204, 0, std::pow(10.0, -0.602), std::pow(10.0, -0.602)},
      {-10000, 0, 0.0, 0.0},
      {0, -10000, 1.0, 0.0},  // full left
      {0, 10000, 0.0, 1.0},   // full right
      {0, -2000, 1.0, 0.1},   // the other channel down 20 dB
      {0, 2000, 0.1, 1.0},
      {-2000, -2000, 0.1, 0.01},  // volume and pan compose
  };
  for (const Row& r : rows) {
    PlatAudioVoice* v = Voice16(std::vector<i16>(64, 20000), 1);
    ASSERT_EQ(PlatAudioVoiceSetVolume(v, r.volume), 0);
    ASSERT_EQ(PlatAudioVoiceSetPan(v, r.pan), 0);
    std::vector<i16> out = Render(16);
    EXPECT_NEAR(out[0], Scaled(20000, r.left), 1) << r.volume << " " << r.pan;
    EXPECT_NEAR(out[1], Scaled(20000, r.right), 1) << r.volume << " " << r.pan;
    PlatAudioVoiceDestroy(v);
  }
}

TEST_F(AudioTest, EightBitIsUnsignedAndStereoKeepsItsChannels) {
  PlatAudioFormat f = {2, 8, kRate};
  PlatAudioVoice* v = PlatAudioVoiceCreate(&f, 8);
  const u8 frames[8] = {0x80, 0xC0, 0x00, 0xFF, 0x80, 0xC0, 0x00, 0xFF};
  ASSERT_EQ(PlatAudioVoiceWrite(v, 0, frames, 8), 0);
  PlatAudioVoicePlay(v, true);
  std::vector<i16> out = Render(2);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 64 * 256);
  EXPECT_EQ(out[2], -32768);
  EXPECT_EQ(out[3], 127 * 256);
}

TEST_F(AudioTest, MonoFeedsBothChannels) {
  Voice16({1000, -2000, 3000, -4000}, 1);
  std::vector<i16> out = Render(4);
  EXPECT_EQ(out, (std::vector<i16>{1000, 1000, -2000, -2000, 3000, 3000, -4000, -4000}));
}

TEST_F(AudioTest, FrequencyResamplesWithLinearInterpolation) {
  std::vector<i16> ramp(1000);
  for (int i = 0; i < 1000; i++) ramp[i] = static_cast<i16>(i * 10);
  // Half the output rate: every second output frame lies halfway between two source frames.
  PlatAudioVoice* v = Voice16(ramp, 1, kRate / 2);
  std::vector<i16> out = Render(8);
  for (int i = 0; i < 8; i++) EXPECT_EQ(out[2 * i], i * 5) << i;
  // Twice the rate: every second source frame.
  ASSERT_EQ(PlatAudioVoiceSetFrequency(v, kRate * 2), 0);
  out = Render(4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(out[2 * i], 40 + i * 20) << i;
  // 0 restores the voice's own rate.
  ASSERT_EQ(PlatAudioVoiceSetFrequency(v, 0), 0);
  out = Render(2);
  EXPECT_EQ(out[0], 120);
  EXPECT_EQ(out[2], 125);
}

TEST_F(AudioTest, SumIsClippedToSixteenBits) {
  struct Row {
    std::vector<i16> voices;
    i16 expected;
  };
  const Row rows[] = {
      {{30000, 30000, -30000, -30000, -30000}, -30000},  // no clipping of the parts, only the sum
      {{30000, 30000}, 32767},
      {{-30000, -30000}, -32768},
  };
  for (const Row& r : rows) {
    std::vector<PlatAudioVoice*> made;
    for (i16 value : r.voices) made.push_back(Voice16(std::vector<i16>(8, value), 1));
    EXPECT_EQ(Render(1)[0], r.expected);
    for (PlatAudioVoice* v : made) PlatAudioVoiceDestroy(v);
  }
}

TEST_F(AudioTest, LoopingWrapsAndOneShotStopsAtTheEnd) {
  PlatAudioVoice* loop = Voice16({1, 2, 3, 4}, 1);
  std::vector<i16> out = Render(6);
  EXPECT_EQ(out[8], 1);
  EXPECT_EQ(out[10], 2);
  PlatAudioVoiceDestroy(loop);

  PlatAudioVoice* once = Voice16({1, 2, 3, 4}, 1, kRate, false);
  PlatAudioVoicePlay(once, false);
  out = Render(6);
  EXPECT_EQ(out[6], 4);
  EXPECT_EQ(out[8], 0);
  EXPECT_FALSE(PlatAudioVoiceIsPlaying(once));
  u32 play = 99, write = 99;
  ASSERT_EQ(PlatAudioVoiceGetPosition(once, &play, &write), 0);
  EXPECT_EQ(play, 0u);
}

TEST_F(AudioTest, StopKeepsThePlayCursor) {
  std::vector<i16> ramp(100);
  for (int i = 0; i < 100; i++) ramp[i] = static_cast<i16>(i);
  PlatAudioVoice* v = Voice16(ramp, 1);
  Render(10);
  PlatAudioVoiceStop(v);
  std::vector<i16> out = Render(5);
  EXPECT_EQ(out, std::vector<i16>(10, 0));
  u32 play, write;
  ASSERT_EQ(PlatAudioVoiceGetPosition(v, &play, &write), 0);
  EXPECT_EQ(play, 20u);
  EXPECT_EQ(write, play);  // a stopped voice takes nothing ahead
  PlatAudioVoicePlay(v, true);
  EXPECT_EQ(Render(1)[0], 10);
}

TEST_F(AudioTest, CursorsStandWhereTheMixerTakesNextAndWrap) {
  const u32 frames = 4096;
  std::vector<i16> ramp(frames);
  for (u32 i = 0; i < frames; i++) ramp[i] = static_cast<i16>(i);
  PlatAudioVoice* v = Voice16(ramp, 1);
  Render(frames - 100);
  u32 play, write;
  ASSERT_EQ(PlatAudioVoiceGetPosition(v, &play, &write), 0);
  EXPECT_EQ(play, (frames - 100) * 2);
  EXPECT_EQ(write, play);
  // Bytes written at the write cursor are the next ones heard.
  const i16 marker[2] = {-7, -8};
  ASSERT_EQ(PlatAudioVoiceWrite(v, write, marker, 4), 0);
  std::vector<i16> out = Render(2);
  EXPECT_EQ(out[0], -7);
  EXPECT_EQ(out[2], -8);
  Render(200);
  ASSERT_EQ(PlatAudioVoiceGetPosition(v, &play, &write), 0);
  EXPECT_EQ(play, 102u * 2);
}

TEST_F(AudioTest, WritesAndReadsWrapAroundTheBufferEnd) {
  PlatAudioFormat f = {1, 8, 8000};
  PlatAudioVoice* v = PlatAudioVoiceCreate(&f, 10);
  const u8 in[4] = {1, 2, 3, 4};
  ASSERT_EQ(PlatAudioVoiceWrite(v, 8, in, 4), 0);
  u8 out[10];
  ASSERT_EQ(PlatAudioVoiceRead(v, 0, out, 10), 0);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], 0x80);  // a new 8-bit buffer holds silence
  EXPECT_EQ(out[8], 1);
  EXPECT_EQ(out[9], 2);
  EXPECT_NE(PlatAudioVoiceWrite(v, 10, in, 1), 0);
  u8 big[11] = {};
  EXPECT_NE(PlatAudioVoiceWrite(v, 0, big, 11), 0);
}

TEST_F(AudioTest, OutOfRangeSettingsAndFormatsAreRefused) {
  PlatAudioVoice* v = Voice16({0, 0}, 1);
  EXPECT_NE(PlatAudioVoiceSetVolume(v, 1), 0);
  EXPECT_NE(PlatAudioVoiceSetVolume(v, -10001), 0);
  EXPECT_NE(PlatAudioVoiceSetPan(v, 10001), 0);
  EXPECT_NE(PlatAudioVoiceSetFrequency(v, 99), 0);
  EXPECT_NE(PlatAudioVoiceSetFrequency(v, 200001), 0);
  const PlatAudioFormat bad[] = {{3, 16, 44100}, {1, 24, 44100}, {1, 16, 50}, {0, 8, 8000}};
  for (const PlatAudioFormat& f : bad) EXPECT_EQ(PlatAudioVoiceCreate(&f, 1200), nullptr);
  const PlatAudioFormat stereo16 = {2, 16, 44100};
  EXPECT_EQ(PlatAudioVoiceCreate(&stereo16, 6), nullptr);  // not a whole number of frames
}

TEST_F(AudioTest, CaptureSeesEveryRenderedFrame) {
  struct Seen {
    u32 frames = 0;
    i32 first = 0;
  } seen;
  PlatAudioSetCapture(
      [](void* ctx, const i16* f, u32 n) {
        Seen* s = static_cast<Seen*>(ctx);
        if (s->frames == 0) s->first = f[0];
        s->frames += n;
      },
      &seen);
  Voice16({1234, 1234}, 1);
  Render(700);
  Render(300);
  EXPECT_EQ(seen.frames, 1000u);
  EXPECT_EQ(seen.first, 1234);
}

TEST_F(AudioTest, ClosedMixerRendersSilenceAndMakesNoVoices) {
  Voice16({5000, 5000}, 1);
  PlatAudioClose();
  EXPECT_FALSE(PlatAudioIsOpen());
  PlatAudioFormat f = {1, 16, 44100};
  EXPECT_EQ(PlatAudioVoiceCreate(&f, 4), nullptr);
  EXPECT_EQ(Render(4), std::vector<i16>(8, 0));
  ASSERT_EQ(PlatAudioOpen(kRate, false), 0);
}

TEST(AudioDeviceTest, OpensOnTheDummyDriverOnce) {
  ASSERT_EQ(PlatAudioOpen(44100, true), 0);
  EXPECT_EQ(PlatAudioOpen(44100, true), PLAT_AUDIO_BUSY);
  PlatAudioFormat f = {1, 16, 22050};
  PlatAudioVoice* v = PlatAudioVoiceCreate(&f, 44100);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(PlatAudioVoicePlay(v, true), 0);
  PlatAudioClose();  // destroys the voice with the mixer
  EXPECT_FALSE(PlatAudioIsOpen());
}

}  // namespace
