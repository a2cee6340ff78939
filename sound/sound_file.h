// Sound files: fetching a sound file whole and preparing its stream. WAV goes through an own
// RIFF chunk walk that checks every size against the file before it is used; compressed WAV
// data is converted once to 16-bit PCM (sound_codec); Ogg Vorbis must be exactly one seekable
// logical stream, read by vorbisfile through callbacks over the image in memory.
#pragma once
#include "common/types.h"
#include "sound/sound_stream.h"

enum { SOUND_ROOT_ORDER = 999999999 };
enum { SOUND_SILENT_WAV_BYTES = 4044 };

// What the chunk walk found. The data range lies inside the file; for PCM it holds whole frames.
struct SoundWavInfo {
  SoundWaveFormat format;  // bits taken from block align and channels for a 14-byte chunk
  const u8* fmt;           // the "fmt " chunk's bytes (the codecs read their extra data there)
  u32 fmt_bytes;
  u32 data_offset;
  u32 data_bytes;
};

// Walks the RIFF chunks of a WAV image. -10040 not RIFF, -10050 not WAVE, -10060 no usable
// "fmt " chunk, -10080 no "data" chunk after it, -10090 a format chunk that is too short or a
// PCM format the mixer cannot play.
i32 SoundWavParse(const u8* image, u32 size, SoundWavInfo* info);

// Fetches the named file (the silent WAV for the order value SOUND_ROOT_ORDER) and prepares
// it. -1010 when an image is already there, -1020 when the file cannot be found or read.
i32 SoundOpenFile(SoundStream* s, const char* name, u8 kind, u64 order);
// Takes ownership of a heap image (malloc'd) and prepares it; -1010 when one is there already.
i32 SoundOpenImage(SoundStream* s, u8* image, u32 size, u8 kind);
// Parses the image and creates the stream buffer; 0 at once while sound is off.
i32 SoundPrepare(SoundStream* s, u8 kind);
i32 SoundWavOpen(SoundStream* s);
i32 SoundOggOpen(SoundStream* s);

// The 4044-byte WAV of half a second of 8-bit silence at 8000 Hz that keeps the output running.
// Returns a malloc'd block.
u8* SoundSilentWavCreate();
