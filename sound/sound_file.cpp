// Fetching and preparing sound files. The chunk walk never trusts a length: every chunk header
// and body is checked against the end of the RIFF chunk and of the file, and the data range is
// cut to what the file holds. Ogg images are read through callbacks whose cursor stays inside
// the image.
#include "sound/sound_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "core/config.h"
#include "core/pack.h"
#include "platform/audio.h"
#include "sound/sound_codec.h"
#include "sound/sound_thread.h"

static inline u32 Rd32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}
static inline u16 Rd16u(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }

// ---- WAV -------------------------------------------------------------------------------------

static void ReadFormat(const u8* p, u32 n, SoundWaveFormat* f) {
  f->format_tag = Rd16u(p);
  f->channels = Rd16u(p + 2);
  f->samples_per_sec = Rd32(p + 4);
  f->avg_bytes_per_sec = Rd32(p + 8);
  f->block_align = Rd16u(p + 12);
  // A 14-byte chunk has no bits field: the bytes after it belong to the next chunk.
  if (n >= 16) {
    f->bits_per_sample = Rd16u(p + 14);
  } else {
    f->bits_per_sample = static_cast<u16>(f->channels ? f->block_align / f->channels * 8 : 0);
  }
  f->extra_size = n >= 18 ? Rd16u(p + 16) : 0;
}

static bool PcmFormatPlayable(const SoundWaveFormat* f) {
  return (f->channels == 1 || f->channels == 2) && (f->bits_per_sample == 8 || f->bits_per_sample == 16) &&
         f->block_align == f->channels * f->bits_per_sample / 8 && f->samples_per_sec >= PLAT_AUDIO_FREQ_MIN &&
         f->samples_per_sec <= PLAT_AUDIO_FREQ_MAX;
}

i32 SoundWavParse(const u8* image, u32 size, SoundWavInfo* info) {
  std::memset(info, 0, sizeof *info);
  if (!image || size < 12 || std::memcmp(image, "RIFF", 4) != 0) return -10040;
  if (std::memcmp(image + 8, "WAVE", 4) != 0) return -10050;
  // The chunks end with the RIFF chunk or with the file, whichever comes first.
  const u64 limit = std::min<u64>(size, 8ull + Rd32(image + 4));
  bool have_fmt = false;
  bool have_data = false;
  for (u64 at = 12; at + 8 <= limit;) {
    const u8* id = image + at;
    const u64 len = Rd32(image + at + 4);
    const u64 body = at + 8;
    if (!have_fmt && std::memcmp(id, "fmt ", 4) == 0) {
      if (body + len > limit) return -10060;
      if (len < 14) return -10090;
      info->fmt = image + body;
      info->fmt_bytes = static_cast<u32>(len);
      ReadFormat(info->fmt, info->fmt_bytes, &info->format);
      have_fmt = true;
    } else if (have_fmt && std::memcmp(id, "data", 4) == 0) {
      // A data chunk cut short by the end of the file keeps what is there.
      info->data_offset = static_cast<u32>(body);
      info->data_bytes = static_cast<u32>(std::min<u64>(len, limit - body));
      have_data = true;
      break;
    }
    at = body + len + (len & 1);
  }
  if (!have_fmt) return -10060;
  if (!have_data) return -10080;
  if (info->format.format_tag == SOUND_TAG_PCM) {
    if (!PcmFormatPlayable(&info->format)) return -10090;
    info->data_bytes -= info->data_bytes % info->format.block_align;
  }
  return 0;
}

u8* SoundSilentWavCreate() {
  u8* w = static_cast<u8*>(std::malloc(SOUND_SILENT_WAV_BYTES));
  if (!w) return nullptr;
  SoundWavWriteHeader(w, 1, 8000, 8, 4000);
  std::memset(w + 44, 128, 4000);
  return w;
}

i32 SoundWavOpen(SoundStream* s) {
  SoundWavInfo info;
  i32 r = SoundWavParse(s->file_image, s->file_size, &info);
  if (r) return r;
  if (info.format.format_tag == SOUND_TAG_PCM) {
    s->data_start = s->file_image + info.data_offset;
    s->data_bytes = info.data_bytes;
    // Our own converted image parses as PCM again after a pause; it stays "converted".
    if (s->converted != SOUND_CONVERTED_ACM) s->converted = SOUND_CONVERTED_PCM;
  } else {
    u8* image;
    u32 bytes;
    r = SoundWavOwnDecoder(info.format.format_tag)
            ? SoundWavDecode(&info, s->file_image + info.data_offset, &image, &bytes)
            : SoundWavDecodeOther(s->file_image, s->file_size, &image, &bytes);
    if (r) return r;
    std::free(s->file_image);
    s->file_image = image;
    s->file_size = bytes;
    r = SoundWavParse(image, bytes, &info);
    if (r) return r;
    s->data_start = image + info.data_offset;
    s->data_bytes = info.data_bytes;
    s->converted = SOUND_CONVERTED_ACM;
  }
  const SoundWaveFormat& f = info.format;
  const u64 per_second = static_cast<u64>(f.block_align) * f.samples_per_sec;
  s->length = per_second ? static_cast<i64>(static_cast<u64>(s->data_bytes) * 1000 / per_second) : 0;
  s->end = static_cast<i32>(s->length);
  return SoundCreateStreamBuffer(s, f.channels, f.samples_per_sec, f.avg_bytes_per_sec, f.block_align,
                                 f.bits_per_sample);
}

// ---- Ogg Vorbis ------------------------------------------------------------------------------

static size_t SoundOggRead(void* ptr, size_t size, size_t count, void* source) {
  SoundStream* s = static_cast<SoundStream*>(source);
  if (size == 0 || s->read_cursor >= s->file_size) return 0;
  const size_t avail = s->file_size - s->read_cursor;
  const size_t n = count > avail / size ? avail : size * count;
  std::memcpy(ptr, s->file_image + s->read_cursor, n);
  s->read_cursor += static_cast<u32>(n);
  return n / size;
}

static int SoundOggSeek(void* source, ogg_int64_t offset, int origin) {
  SoundStream* s = static_cast<SoundStream*>(source);
  i64 at;
  switch (origin) {
    case SEEK_SET: at = offset; break;
    case SEEK_CUR: at = static_cast<i64>(s->read_cursor) + offset; break;
    case SEEK_END: at = static_cast<i64>(s->file_size) + offset; break;
    default: return -1;
  }
  if (at < 0 || at > static_cast<i64>(s->file_size)) return -1;
  s->read_cursor = static_cast<u32>(at);
  return 0;
}

static int SoundOggClose(void*) { return 1; }

static long SoundOggTell(void* source) { return static_cast<long>(static_cast<SoundStream*>(source)->read_cursor); }

static const ov_callbacks kSoundOggCallbacks = {SoundOggRead, SoundOggSeek, SoundOggClose, SoundOggTell};

static i32 OggFail(OggVorbis_File* vf, i32 code) {
  ov_clear(vf);
  delete vf;
  return code;
}

i32 SoundOggOpen(SoundStream* s) {
  if (s->ogg) OggFail(s->ogg, 0);
  s->ogg = nullptr;
  s->read_cursor = 0;
  OggVorbis_File* vf = new (std::nothrow) OggVorbis_File;
  if (!vf) return -1030;
  if (ov_open_callbacks(s, vf, nullptr, 0, kSoundOggCallbacks) < 0) {
    delete vf;  // a failed open has cleared it already
    return -1030;
  }
  if (!ov_seekable(vf)) return OggFail(vf, -1040);
  if (ov_streams(vf) != 1) return OggFail(vf, -1045);
  const vorbis_info* vi = ov_info(vf, -1);
  if (!vi || vi->channels < 1 || vi->channels > 2 || vi->rate < PLAT_AUDIO_FREQ_MIN || vi->rate > PLAT_AUDIO_FREQ_MAX) {
    return OggFail(vf, -1050);
  }
  double total = ov_time_total(vf, -1);
  // Granule positions come from the file: keep the length a sane number of milliseconds.
  if (!(total >= 0)) return OggFail(vf, -1050);
  if (total > 2147483.0) total = 2147483.0;
  s->length = static_cast<i64>(total * 1000);
  s->end = static_cast<i32>(s->length);
  s->converted = SOUND_CONVERTED_OGG;
  s->ogg = vf;
  s->data_read_pos = 0;
  const u16 ch = static_cast<u16>(vi->channels);
  const u32 rate = static_cast<u32>(vi->rate);
  return SoundCreateStreamBuffer(s, ch, rate, rate * ch * 2, static_cast<u16>(ch * 2), 16);
}

// ---- Opening ---------------------------------------------------------------------------------

i32 SoundPrepare(SoundStream* s, u8 kind) {
  if (!g_SoundEnabled.load()) return 0;
  return kind == SOUND_KIND_OGG ? SoundOggOpen(s) : SoundWavOpen(s);
}

i32 SoundOpenImage(SoundStream* s, u8* image, u32 size, u8 kind) {
  if (s->file_image) {
    std::free(image);
    return -1010;
  }
  s->file_image = image;
  s->file_size = size;
  s->read_cursor = 0;
  const i32 r = SoundPrepare(s, kind);
  // A file that cannot be prepared leaves nothing behind, so the next load starts clean.
  if (r) SoundStreamRelease(s);
  return r;
}

i32 SoundOpenFile(SoundStream* s, const char* name, u8 kind, u64 order) {
  if (s->file_image) return -1010;
  u8* image;
  u32 size;
  if (order == SOUND_ROOT_ORDER) {
    image = SoundSilentWavCreate();
    size = SOUND_SILENT_WAV_BYTES;
    if (!image) return -1020;
  } else if (PackReadWholeFile(name, &image, &size) < 0) {
    return -1020;
  }
  return SoundOpenImage(s, image, size, kind);
}
