// Test files made in-process: RIFF/WAV chunks, PCM and ADPCM encoders, Ogg Vorbis through
// libvorbisenc, and a fixture with the mixer open without a device, so streams render
// deterministically.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/types.h"

namespace sndtest {

using Bytes = std::vector<u8>;

Bytes Chunk(const char* id, const Bytes& body);
// "RIFF" + size + "WAVE" + chunks; riff_size < 0 writes the true size.
Bytes Riff(const std::vector<Bytes>& chunks, i64 riff_size = -1);
// A "fmt " body: the first fmt_bytes of tag, channels, rate, average bytes, align, bits,
// extra size and extra.
Bytes FmtBody(u16 tag, u16 channels, u32 rate, u16 align, u16 bits, u32 fmt_bytes = 16,
              const Bytes& extra = {});
Bytes PcmWav(u16 channels, u32 rate, u16 bits, const Bytes& data);
Bytes Le16(const std::vector<i16>& samples);
std::vector<i16> FromLe16(const u8* p, size_t count);
// A malloc'd copy, as the file sources hand out.
u8* HeapCopy(const Bytes& b);

// Interleaved sine waves (right channel at hz_right when stereo).
std::vector<i16> Sine(u32 frames, u32 rate, double hz, double amplitude, u16 channels = 1,
                      double hz_right = 0);

// Encoders that follow the formats' standard block layouts.
Bytes ImaEncode(const std::vector<i16>& interleaved, u16 channels, u16 block_align);
Bytes MsAdpcmEncode(const std::vector<i16>& interleaved, u16 channels, u16 block_align);
// A WAV with a compressed format and its encoded data.
Bytes CompressedWav(u16 tag, u16 channels, u32 rate, u16 align, u16 bits, const Bytes& extra,
                    const Bytes& data);

// One logical Ogg Vorbis stream of the samples.
Bytes EncodeOgg(const std::vector<i16>& interleaved, int channels, long rate, int serial,
                float quality = 0.4f);
// Every sample of an Ogg image decoded straight through vorbisfile.
std::vector<i16> DecodeOggAll(const Bytes& ogg);

// Rising-edge zero crossings of one channel of interleaved frames.
u32 ZeroCrossings(const std::vector<i16>& frames, u16 channels, u16 channel);

// The mixer open without a device at the given rate, sound on, mixer usable by streams.
struct MixerFixture : ::testing::Test {
  void SetUp() override;
  void TearDown() override;
  // Renders frames of stereo output.
  std::vector<i16> Render(u32 frames);
};

}  // namespace sndtest
