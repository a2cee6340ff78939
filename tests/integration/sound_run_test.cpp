// A game written in the script text plays music with a fade-in and an effect on top of it, run
// by the zephra binary headless on the real clock (fades follow it). SDL's disk driver records
// the mixer's output (44100 Hz, 16-bit stereo) to a file, which is checked for pitch and level.
// The music is panned hard left and the effect hard right, so each channel holds one sound.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/ogg_writer.h"
#include "support/zephra_run.h"

namespace {

namespace fs = std::filesystem;
using zephra_run::ZephraRun;

constexpr double kRate = 44100;
constexpr size_t kMs = 44;  // frames per millisecond, rounded down

std::vector<i16> Sine(size_t frames, int channels, double rate, double hz, double amplitude) {
  std::vector<i16> out(frames * channels);
  for (size_t i = 0; i < frames; i++) {
    const i16 v = static_cast<i16>(std::lround(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
    for (int c = 0; c < channels; c++) out[i * channels + c] = v;
  }
  return out;
}

// First frame from `from` on where the channel's magnitude passes `threshold`.
size_t Onset(const std::vector<i16>& f, int channel, size_t from, int threshold = 300) {
  for (size_t i = from; i < f.size() / 2; i++) {
    if (std::abs(f[2 * i + channel]) > threshold) return i;
  }
  return f.size() / 2;
}

// Frequency (rising zero crossings per second) and RMS of a channel over frames [a, b).
void Measure(const std::vector<i16>& f, int channel, size_t a, size_t b, double* hz, double* rms) {
  u32 crossings = 0;
  double sum = 0;
  for (size_t i = a; i < b; i++) {
    const i16 s = f[2 * i + channel];
    sum += static_cast<double>(s) * s;
    if (i > a && f[2 * (i - 1) + channel] < 0 && s >= 0) crossings++;
  }
  *hz = crossings * kRate / static_cast<double>(b - a);
  *rms = std::sqrt(sum / static_cast<double>(b - a));
}

struct SoundRun : ZephraRun {};

// Tolerances: pitch within 2 % (a window's crossing count is off by at most one; the resampler
// keeps pitch); level within 12 % (Vorbis is lossy). Only sample counts inside the recording are
// used, never wall time, so a slow machine only makes the recording longer.
TEST_F(SoundRun, MusicFadesInAndAnEffectPlaysOnTopOfIt) {
  const fs::path game = root / "game";
  fs::create_directories(game / "bgm");
  fs::create_directories(game / "se");
  std::vector<u8> ogg, wav;
  const std::vector<i16> tone = Sine(44100 * 6, 2, kRate, 440, 12000);
  ASSERT_EQ(KitOggEncode(tone.data(), tone.size() / 2, 2, 44100, 1, 0.6f, &ogg), 0);
  ASSERT_EQ(KitWriteFileAtomic((game / "bgm" / "tone.ogg").c_str(), ogg), 0);
  const std::vector<i16> beep = Sine(11025, 1, 22050, 1000, 8000);
  ASSERT_EQ(KitWavEncode(beep.data(), beep.size(), 1, 22050, 16, &wav), 0);
  ASSERT_EQ(KitWriteFileAtomic((game / "se" / "beep.wav").c_str(), wav), 0);
  TestWriteGameScripts(game,
                       "*SYSTEM_START\n"
                       "    fps rate = 60\n"
                       "    sound name = \"bgm\", file = \"bgm/tone\", volume = 256, pan = 0, play = 1, fade = 500\n"
                       "    wait ms = 1500\n"
                       "    sound name = \"se\", file = \"se/beep\", pan = 512, loops = 1, play = 1\n"
                       "    loop\n"
                       "        wait frames = 1000\n"
                       "    endloop\n");
  const fs::path recording = root / "out.raw";
  std::string err;
  // About 4 s at 60 frames a second; a loaded machine takes longer and records more.
  ASSERT_EQ(
      RunToEnd({game.string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=240", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording.string()},
               &err),
      0)
      << err;
  const std::string raw = ReadAll(recording);
  std::vector<i16> f(raw.size() / 2);
  for (size_t i = 0; i < f.size(); i++) {
    f[i] = static_cast<i16>(static_cast<u8>(raw[2 * i]) | (static_cast<u8>(raw[2 * i + 1]) << 8));
  }
  ASSERT_GT(f.size() / 2, 2000 * kMs) << err;

  const size_t music = Onset(f, 0, 0);
  ASSERT_LT(music + 1200 * kMs, f.size() / 2) << "no music in the recording";
  double hz, rms, early_hz, early_rms;
  Measure(f, 0, music, music + 20 * kMs, &early_hz, &early_rms);
  Measure(f, 0, music + 700 * kMs, music + 1200 * kMs, &hz, &rms);
  EXPECT_NEAR(hz, 440.0, 8.8);
  EXPECT_NEAR(rms, 12000 / std::sqrt(2.0), 1000);
  EXPECT_LT(early_rms, rms * 0.5);  // the fade-in starts quiet

  const size_t effect = Onset(f, 1, 0);
  ASSERT_LT(effect + 450 * kMs, f.size() / 2) << "no effect in the recording";
  Measure(f, 1, effect + 50 * kMs, effect + 450 * kMs, &hz, &rms);
  EXPECT_NEAR(hz, 1000.0, 20.0);
  EXPECT_NEAR(rms, 8000 / std::sqrt(2.0), 680);
  Measure(f, 1, music, music + 300 * kMs, &hz, &rms);
  EXPECT_LT(rms, 5.0);  // the music, panned left, leaves the right channel silent
}

}  // namespace
