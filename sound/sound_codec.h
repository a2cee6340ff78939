// Compressed WAV data converted once to 16-bit PCM: IMA ADPCM, Microsoft ADPCM, G.711 A-law and
// mu-law by the engine's own decoders, every other format tag by the platform's (FFmpeg's), as a
// system codec would. Every block header and size is checked against the chunk; the output size
// is known before decoding, so a decoder never writes past its buffer.
#pragma once
#include "common/types.h"
#include "sound/sound_file.h"

enum {
  SOUND_TAG_PCM = 0x0001,
  SOUND_TAG_MS_ADPCM = 0x0002,
  SOUND_TAG_ALAW = 0x0006,
  SOUND_TAG_MULAW = 0x0007,
  SOUND_TAG_IMA_ADPCM = 0x0011,
};

// Converts the data chunk of a compressed WAV into a complete 16-bit PCM WAV image (malloc'd,
// so it can be parsed again after a pause). -10200 for a format that is not one of the four or
// is malformed, -10220 when memory runs out or the result would exceed 2 GB, -10340 for a
// damaged block.
i32 SoundWavDecode(const SoundWavInfo* info, const u8* data, u8** image, u32* image_bytes);
// Whether SoundWavDecode is the decoder of a format tag.
bool SoundWavOwnDecoder(u16 format_tag);
// Any other compressed WAV: the whole file image decoded by the platform into a 16-bit PCM WAV
// image at the decoder's channels and rate, with the same results: -10200 when nothing decodes or
// plays the format, -10220 memory or size, -10340 data that broke off before any sound.
i32 SoundWavDecodeOther(const u8* file, u32 size, u8** image, u32* image_bytes);

// 16-bit frames that one block of block_align bytes yields (0 when the format is malformed).
u32 SoundImaAdpcmFramesPerBlock(u16 block_align, u16 channels);
u32 SoundMsAdpcmFramesPerBlock(u16 block_align, u16 channels);

// One G.711 byte as a 16-bit sample.
i16 SoundAlawToPcm(u8 a);
i16 SoundMulawToPcm(u8 u);

// The 44-byte header of a PCM WAV with data_bytes of data.
void SoundWavWriteHeader(u8* out, u16 channels, u32 rate, u16 bits, u32 data_bytes);
