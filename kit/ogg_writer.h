// The kit's sound writers: Ogg Vorbis through libvorbisenc (one logical stream, as the runtime
// requires) and PCM WAV with the runtime's own 44-byte header, plus the demo game's generated
// music and sound effect. Files are written through a temporary file renamed into place.
#pragma once
#include <vector>

#include "common/types.h"

// Encodes frames of interleaved 16-bit samples (any channel count) as one logical Ogg Vorbis
// stream with the given serial number; quality -0.1 .. 1.0. 0, or -1 when the encoder refuses.
int KitOggEncode(const i16* interleaved, size_t frames, int channels, long rate, int serial, float quality,
                 std::vector<u8>* out);
// A PCM WAV of 8-bit (unsigned) or 16-bit samples.
int KitWavEncode(const void* samples, size_t frames, u16 channels, u32 rate, u16 bits, std::vector<u8>* out);

// Writes bytes to path through path + ".tmp". 0 or -1.
int KitWriteFileAtomic(const char* path, const std::vector<u8>& bytes);

// The demo game's sounds: a looping stereo tune of `seconds` (whole bars of a simple
// four-chord progression at 44100 Hz) and a short chime effect (mono, 22050 Hz, 16-bit).
std::vector<i16> KitDemoMusicSamples(u32 seconds);
std::vector<i16> KitDemoEffectSamples();
// Writes "bgm\demo.ogg" and "se\chime.wav" (as bgm/demo.ogg and se/chime.wav) under folder.
int KitDemoSoundsWrite(const char* folder);
