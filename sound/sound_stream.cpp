// Streaming buffers. A half is assembled in the decode block from the carry, pending silence
// and pieces of at most SOUND_PIECE_BYTES; whatever passes the half goes back to the carry, so
// the block never holds more than half + one piece. Every lap that reaches the end either pads
// the half with silence (last lap, or a lap that gave nothing) or seeks to the loop-back, so a
// fill always ends.
#include "sound/sound_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "platform/audio.h"
#include "sound/sound_codec.h"
#include "sound/sound_thread.h"

u8 SoundSilenceByte(const SoundWaveFormat* f) { return f->bits_per_sample == 8 ? 0x80 : 0x00; }

i32 SoundCreateStreamBuffer(SoundStream* s, u16 channels, u32 rate, u32 avg_bytes, u16 block_align, u16 bits) {
  s->format = {SOUND_TAG_PCM, channels, rate, avg_bytes, block_align, bits, 0};
  s->bytes_per_second = static_cast<i64>(block_align) * rate;
  // Both halves hold whole frames, so the second one never starts inside a frame.
  const i64 pair = 2 * static_cast<i64>(block_align ? block_align : 1);
  s->buffer_bytes = static_cast<u32>(s->bytes_per_second / pair * pair);
  if (s->carry_block) return -1060;
  s->carry_block = static_cast<u8*>(std::malloc(SOUND_PIECE_BYTES));
  if (!s->carry_block) return -1070;
  if (s->decode_block) return -1080;
  s->decode_block = static_cast<u8*>(std::calloc(1, s->buffer_bytes / 2 + SOUND_PIECE_BYTES));
  if (!s->decode_block) return -1090;
  s->carry_count = 0;
  if (!g_SoundDevice.load()) return 0;
  const PlatAudioFormat pf = {channels, bits, rate};
  s->buffer = PlatAudioVoiceCreate(&pf, s->buffer_bytes);
  return s->buffer ? 0 : -1120;
}

i32 SoundSeekMs(SoundStream* s, i64 ms) {
  if (ms >= s->length) ms = s->length - 10;
  const i64 bps = s->bytes_per_second;
  const i64 align = std::max<i64>(1, s->format.block_align);
  if (ms < 0) s->silence_to_insert = (s->silence_to_insert + (-ms) * bps / 1000) / align * align;
  s->decoded_bytes = ms * bps / 1000;
  const i64 from = std::max<i64>(ms, 0);
  if (s->converted == SOUND_CONVERTED_OGG) {
    if (!s->ogg) return -2010;
    if (ov_time_seek(s->ogg, static_cast<double>(from) / 1000.0) != 0) return -2020;
    s->data_read_pos = ov_pcm_tell(s->ogg);
  } else {
    i64 pos = from * bps / 1000 / align * align;
    if (pos >= s->data_bytes) pos = std::max<i64>(0, static_cast<i64>(s->data_bytes) - align);
    s->data_read_pos = pos;
  }
  return 0;
}

// A decode error: the voice stops and the stream is never filled again.
static i32 Break(SoundStream* s, i32 code) {
  s->broken = 1;
  if (s->buffer) PlatAudioVoiceStop(s->buffer);
  return code;
}

i32 SoundFillHalf(SoundStream* s) {
  const u32 h = s->buffer_bytes / 2;
  if (s->broken || !s->decode_block || !s->carry_block || h == 0) return -3030;
  const bool ogg = s->converted == SOUND_CONVERTED_OGG;
  if (ogg && !s->ogg) return -3010;
  u8* dst = s->decode_block;
  u32 have = static_cast<u32>(s->carry_count);
  std::memcpy(dst, s->carry_block, have);
  s->carry_count = 0;
  const u8 silence = SoundSilenceByte(&s->format);
  const i64 align = std::max<i64>(1, s->format.block_align);
  const i64 bps = s->bytes_per_second;
  i64 taken = 0;      // bytes of this round, counted on from the decoded-bytes counter
  i64 lap_bytes = 1;  // bytes since the last loop-back; the lap in progress may have played before
  while (have < h) {
    if (s->silence_to_insert > 0) {
      const u32 k = static_cast<u32>(std::min<i64>(s->silence_to_insert, h - have));
      std::memset(dst + have, silence, k);
      s->silence_to_insert -= k;
      have += k;
      taken += k;
      lap_bytes += k;
      continue;
    }
    const i64 end_bytes = static_cast<i64>(s->end) * bps / 1000;
    i64 n = SOUND_PIECE_BYTES;
    if (s->decoded_bytes + taken + SOUND_PIECE_BYTES >= end_bytes) {
      n = end_bytes - s->decoded_bytes - taken;
      n = n > 0 ? n / align * align : 0;
    }
    i64 got = 0;
    if (ogg) {
      if (n >= 32) {
        int section;
        const long r = ov_read(s->ogg, reinterpret_cast<char*>(dst + have), static_cast<int>(n), 0, 2, 1, &section);
        if (r < 0) return Break(s, r == OV_HOLE ? -90001 : r == OV_EBADLINK ? -90002 : static_cast<i32>(r));
        got = r;
      }
    } else {
      const i64 avail = static_cast<i64>(s->data_bytes) - s->data_read_pos;
      got = std::max<i64>(0, std::min(n, avail));
      std::memcpy(dst + have, s->data_start + s->data_read_pos, static_cast<size_t>(got));
      s->data_read_pos += got;
    }
    if (got > 0) {
      have += static_cast<u32>(got);
      taken += got;
      lap_bytes += got;
      continue;
    }
    // The end of a lap.
    if (s->loops_left == 1 || lap_bytes == 0) {
      std::memset(dst + have, silence, h - have);
      have = h;
      break;
    }
    if (s->loops_left > 1) s->loops_left--;
    if (s->loop_back >= s->end) s->loop_back = 0;
    s->pending_end = s->end;
    s->pending_loop_back = s->loop_back;
    const i32 r = SoundSeekMs(s, s->loop_back);
    if (r) return Break(s, r);
    taken = 0;
    lap_bytes = 0;
  }
  s->decoded_bytes += taken;
  if (ogg) s->data_read_pos = ov_pcm_tell(s->ogg);
  if (have > h) {
    s->carry_count = static_cast<i32>(have - h);
    std::memcpy(s->carry_block, dst + h, have - h);
  }
  if (!s->buffer || PlatAudioVoiceWrite(s->buffer, s->fill_offset, dst, h) != 0) return -3040;
  return 0;
}

i32 SoundStreamRefill(SoundStream* s) {
  if (!s->buffer) return -330;
  if (s->broken) return 0;
  u32 play, write;
  if (PlatAudioVoiceGetPosition(s->buffer, &play, &write) != 0) return -340;
  const u32 h = s->buffer_bytes / 2;
  if (s->half_indicator == 1 && write < h) {
    s->fill_offset = h;
    s->half_indicator = 2;
    return SoundFillHalf(s);
  }
  if (s->half_indicator == 2 && write > h) {
    s->fill_offset = 0;
    s->half_indicator = 1;
    return SoundFillHalf(s);
  }
  return 0;
}

i32 SoundStreamStart(SoundStream* s, i64 start_ms, i64* bytes_played) {
  i32 r = SoundSeekMs(s, start_ms);
  if (r) return r;
  *bytes_played = s->decoded_bytes;
  s->half_indicator = 1;
  s->fill_offset = 0;
  r = SoundFillHalf(s);
  if (r) return r;
  if (!s->buffer || PlatAudioVoicePlay(s->buffer, true) != 0) return -1;
  return 0;
}

static void FreePlayback(SoundStream* s) {
  if (s->buffer) {
    PlatAudioVoiceStop(s->buffer);
    PlatAudioVoiceDestroy(s->buffer);
    s->buffer = nullptr;
  }
  std::free(s->decode_block);
  s->decode_block = nullptr;
  std::free(s->carry_block);
  s->carry_block = nullptr;
  s->carry_count = 0;
  if (s->ogg) {
    ov_clear(s->ogg);
    delete s->ogg;
    s->ogg = nullptr;
  }
  s->broken = 0;
}

void SoundStreamRelease(SoundStream* s) {
  FreePlayback(s);
  std::free(s->file_image);
  s->file_image = nullptr;
  s->file_size = 0;
  s->data_start = nullptr;
  s->data_bytes = 0;
  s->read_cursor = 0;
  s->loop_back = 0;
  s->converted = SOUND_CONVERTED_PCM;
}

void SoundStreamFree(SoundStream* s) { FreePlayback(s); }

// ---- Buffer controls -------------------------------------------------------------------------

i32 SoundVolumeToMb(i32 volume) {
  if (volume <= 0) return PLAT_AUDIO_VOLUME_MIN;
  const i32 mb = static_cast<i32>(4000.0 * std::log10(volume / 256.0));
  return std::clamp(mb, static_cast<i32>(PLAT_AUDIO_VOLUME_MIN), 0);
}

i32 SoundPanToMb(i32 pan) {
  if (pan < 0 || pan > 512) pan = 256;
  const bool right = pan >= 257;
  const i32 q = right ? 512 - pan : pan;
  i32 mb = q == 0 ? PLAT_AUDIO_VOLUME_MIN : static_cast<i32>(4000.0 * std::log10(q / 256.0));
  mb = std::clamp(mb, static_cast<i32>(PLAT_AUDIO_VOLUME_MIN), 0);
  return right ? -mb : mb;
}

u32 SoundSpeedToFrequency(u32 base, i32 speed) {
  if (speed < 0 || speed > 512) speed = 256;
  return static_cast<u32>(static_cast<i64>(base) + (static_cast<i64>(speed - 256) * (base / 2)) / 256);
}

void SoundSetBufferVolume(SoundStream* s, i32 volume) {
  if (s->buffer) PlatAudioVoiceSetVolume(s->buffer, SoundVolumeToMb(volume));
}

void SoundSetBufferPan(SoundStream* s, i32 pan) {
  if (s->buffer && g_SoundDevice.load()) PlatAudioVoiceSetPan(s->buffer, SoundPanToMb(pan));
}

void SoundSetBufferSpeed(SoundStream* s, i32 speed) {
  if (!s->buffer) return;
  const u32 hz = SoundSpeedToFrequency(s->format.samples_per_sec, speed);
  PlatAudioVoiceSetFrequency(s->buffer, std::clamp<u32>(hz, PLAT_AUDIO_FREQ_MIN, PLAT_AUDIO_FREQ_MAX));
}
