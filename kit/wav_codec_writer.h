// Test sounds in compressed WAV formats (MP3, GSM 6.10, float and whatever else libavcodec
// encodes and the WAV muxer tags), written with libavcodec's encoders and libavformat's WAV muxer,
// so the runtime's decoding of formats beyond its own can be checked.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// Encodes frames of interleaved 16-bit samples with the named encoder ("libmp3lame",
// "libgsm_ms", "pcm_f32le", ...) into a WAV file in memory; bit_rate 0 leaves the encoder's
// default. 0, or -1 with *err (no such encoder, or it refuses the channels or the rate).
int KitWavEncodeWith(const char* encoder, const std::vector<i16>& interleaved, u16 channels, u32 rate, i64 bit_rate,
                     std::vector<u8>* out, std::string* err);
