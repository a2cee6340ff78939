// Streaming buffers: every sound plays through one voice holding one second of PCM, refilled
// half by half from the file image (WAV data in place, or Ogg Vorbis decoded through an open
// vorbisfile) while the other half plays. The decoder runs ahead of the play cursor by at most
// one half; the lap fields tell the play-position tracker which end and loop-back apply to the
// lap being heard. Runs on the sound thread inside its locked pass.
#pragma once
#include "common/types.h"

struct OggVorbis_File;
struct PlatAudioVoice;

enum { SOUND_KIND_OGG = 1, SOUND_KIND_WAV = 2 };
enum { SOUND_CONVERTED_PCM = 0, SOUND_CONVERTED_OGG = 1, SOUND_CONVERTED_ACM = 2 };
enum { SOUND_PIECE_BYTES = 4096 };

// The fields of a WAVEFORMATEX.
struct SoundWaveFormat {
  u16 format_tag;
  u16 channels;
  u32 samples_per_sec;
  u32 avg_bytes_per_sec;
  u16 block_align;
  u16 bits_per_sample;
  u16 extra_size;
};

// The streaming fields of a sound object. The lap fields come first: the object's length, end
// and loop-back live here because the decoder moves them (a loop-back past the end becomes 0,
// each lap sets the pending pair) and the tracker reads them.
struct SoundStream {
  u8 converted;           // SOUND_CONVERTED_...
  i32 loops_left;         // plays left for the decoder: 0 forever, 1 the last
  i64 length;             // ms
  i32 end;                // ms, end of play
  i32 loop_back;          // ms, where a lap continues after the end
  i32 pending_loop_back;  // loop-back of the lap being played (0 = none)
  i32 pending_end;        // end of the lap being played (0 = none)

  u8* file_image;    // the whole file (or the converted WAV), owned
  u8* decode_block;  // half + SOUND_PIECE_BYTES, one half is assembled here
  u8* carry_block;   // SOUND_PIECE_BYTES left over from the last fill
  u32 fill_offset;   // 0 or half: where the next half goes in the buffer
  u32 last_play_cursor;
  i64 decoded_bytes;  // bytes taken since the last seek, counted from the file start
  u8 half_indicator;  // 1: first half filled last, 2: second half
  i64 data_read_pos;  // WAV: byte offset into the data; Ogg: PCM frame
  i32 carry_count;
  i64 silence_to_insert;   // bytes of silence still to play before the data
  i64 bytes_per_second;    // block align x rate
  PlatAudioVoice* buffer;  // null when sound is off or released
  u32 read_cursor;         // position of the Ogg callbacks in the file image
  u32 file_size;
  const u8* data_start;    // WAV: first byte of the PCM data
  u32 data_bytes;          // WAV: bytes of PCM data, whole frames
  u32 buffer_bytes;        // one second of PCM, rounded down to two whole halves of frames
  SoundWaveFormat format;  // always PCM here: tag 1, 8 or 16 bits
  OggVorbis_File* ogg;     // open from SoundOggOpen until freed; reads through this record,
                           // which therefore must not move meanwhile
  u8 broken;               // a fill failed: the voice is stopped and never refilled
};

// Allocates carry and decode blocks and, with the mixer open, the voice. -1060/-1080 when a
// block exists already, -1070/-1090 when memory runs out, -1120 when the voice is refused.
i32 SoundCreateStreamBuffer(SoundStream* s, u16 channels, u32 rate, u32 avg_bytes, u16 block_align, u16 bits);
// Positions decoder and counters at ms (negative: that much silence first; at or past the
// length: 10 ms before the end). -2010 without an open Ogg decoder, -2020 when it cannot seek.
i32 SoundSeekMs(SoundStream* s, i64 ms);
// Assembles the next half at the fill offset: carry, silence, data up to the end position,
// laps and loop-back, then writes it into the voice. -3010, -3020 (Ogg), -3030 (broken),
// -3040 (voice), -90001 / -90002 / the library's code on a decode error (the stream breaks).
i32 SoundFillHalf(SoundStream* s);
// One refill check by the write cursor and the half indicator. -330 without a voice, -340 when
// the cursor cannot be read, else the fill's result.
i32 SoundStreamRefill(SoundStream* s);
// Start of play: seek to start_ms, fill the first half, play looping. *bytes_played receives the
// decoded-bytes counter at the start. Negative when a step fails (-1 when the voice does not play).
i32 SoundStreamStart(SoundStream* s, i64 start_ms, i64* bytes_played);
// Stops and frees the voice, the blocks, the decoder and the file image; clears the loop-back.
void SoundStreamRelease(SoundStream* s);
// As SoundStreamRelease, but keeps the file image and the positions (pause).
void SoundStreamFree(SoundStream* s);

// Buffer controls; each does nothing without a voice. Values are the engine's 0..256 volume,
// 0..512 pan and 0..512 speed.
void SoundSetBufferVolume(SoundStream* s, i32 volume);
void SoundSetBufferPan(SoundStream* s, i32 pan);
void SoundSetBufferSpeed(SoundStream* s, i32 speed);

// The formulas behind the controls.
i32 SoundVolumeToMb(i32 volume);                 // 0 -> -10000, else 4000 log10(v/256) in -10000..0
i32 SoundPanToMb(i32 pan);                       // 0 -> -10000, 256 -> 0, 512 -> 10000
u32 SoundSpeedToFrequency(u32 base, i32 speed);  // 0 -> half, 256 -> base, 512 -> 1.5 x base

// The byte the format plays as silence (0x80 for unsigned 8-bit samples).
u8 SoundSilenceByte(const SoundWaveFormat* f);
