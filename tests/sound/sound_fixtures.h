// Test files made in-process: RIFF/WAV chunks, PCM and ADPCM encoders, Ogg Vorbis through
// libvorbisenc; a fixture with the mixer open without a device, so streams render
// deterministically, and one that adds a sound tree driven pass by pass on the fixed clock.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/types.h"

struct ObjNode;
struct SoundObject;

namespace sndtest {

using Bytes = std::vector<u8>;

Bytes Chunk(const char* id, const Bytes& body);
// "RIFF" + size + "WAVE" + chunks; riff_size < 0 writes the true size.
Bytes Riff(const std::vector<Bytes>& chunks, i64 riff_size = -1);
// A "fmt " body: the first fmt_bytes of tag, channels, rate, average bytes, align, bits,
// extra size and extra.
Bytes FmtBody(u16 tag, u16 channels, u32 rate, u16 align, u16 bits, u32 fmt_bytes = 16, const Bytes& extra = {});
Bytes PcmWav(u16 channels, u32 rate, u16 bits, const Bytes& data);
Bytes Le16(const std::vector<i16>& samples);
std::vector<i16> FromLe16(const u8* p, size_t count);
// A malloc'd copy, as the file sources hand out.
u8* HeapCopy(const Bytes& b);
// A file of the first memory list (the first file source); PackMemoryListsFree forgets them.
void AddMemoryFile(const char* name, u8 type, const Bytes& data);

// Interleaved sine waves (right channel at hz_right when stereo).
std::vector<i16> Sine(u32 frames, u32 rate, double hz, double amplitude, u16 channels = 1, double hz_right = 0);

// Encoders that follow the formats' standard block layouts.
Bytes ImaEncode(const std::vector<i16>& interleaved, u16 channels, u16 block_align);
Bytes MsAdpcmEncode(const std::vector<i16>& interleaved, u16 channels, u16 block_align);
// A WAV with a compressed format and its encoded data.
Bytes CompressedWav(u16 tag, u16 channels, u32 rate, u16 align, u16 bits, const Bytes& extra, const Bytes& data);

// One logical Ogg Vorbis stream of the samples.
Bytes EncodeOgg(const std::vector<i16>& interleaved, int channels, long rate, int serial, float quality = 0.4f);
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

// A sound tree under a fresh g_SoundRoot, the request ring with the real handlers, and the fixed
// clock. Run renders the output 10 ms at a time, each followed by one pass of the sound thread
// (run on the test's thread), as the thread does every 20 ms or less.
struct TreeFixture : MixerFixture {
  void SetUp() override;
  void TearDown() override;
  // A node (folder or object) with its record under parent (the tree root when null).
  ObjNode* Add(const char* name, ObjNode* parent = nullptr, bool folder = false);
  SoundObject* Obj(ObjNode* node);
  // What op 1 does, with the image given here instead of read from the file sources.
  void Load(ObjNode* node, const Bytes& file, u8 kind);
  i32 Post(ObjNode* node, u8 op, i32 argument = 0);
  // One pass without moving the clock or the output.
  void Pass();
  // ms (a multiple of 10) of output; passes after each 10 ms.
  std::vector<i16> Run(u32 ms);
};

// Mean absolute value of one channel of interleaved stereo frames, from frame `from` on.
double MeanLevel(const std::vector<i16>& stereo, u32 channel, size_t from = 0, size_t to = SIZE_MAX);
// A mono 16-bit WAV holding a constant sample, at 8000 Hz.
Bytes ConstWav(u32 ms, i16 value, u32 rate = 8000);

}  // namespace sndtest
