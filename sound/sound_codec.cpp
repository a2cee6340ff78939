// Decoders for the compressed WAV formats the engine meets, each writing 16-bit PCM into an
// image sized from the block count beforehand. A trailing partial block decodes as far as its
// whole groups go; a header that does not fit ends the data.
#include "sound/sound_codec.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/audio.h"

enum { kWavHeaderBytes = 44, kMaxImageBytes = 0x7FFFFFFF };

static inline i16 Rd16(const u8* p) { return static_cast<i16>(p[0] | (p[1] << 8)); }

static inline void Wr16(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
}

static inline void Wr32(u8* p, u32 v) {
  Wr16(p, v);
  Wr16(p + 2, v >> 16);
}

static inline i16 Clamp16(i32 v) { return static_cast<i16>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

void SoundWavWriteHeader(u8* out, u16 channels, u32 rate, u16 bits, u32 data_bytes) {
  const u16 align = static_cast<u16>(channels * bits / 8);
  std::memcpy(out, "RIFF", 4);
  Wr32(out + 4, 36 + data_bytes);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  Wr32(out + 16, 16);
  Wr16(out + 20, SOUND_TAG_PCM);
  Wr16(out + 22, channels);
  Wr32(out + 24, rate);
  Wr32(out + 28, rate * align);
  Wr16(out + 32, align);
  Wr16(out + 34, bits);
  std::memcpy(out + 36, "data", 4);
  Wr32(out + 40, data_bytes);
}

// ---- G.711 -----------------------------------------------------------------------------------

i16 SoundAlawToPcm(u8 a) {
  a ^= 0x55;
  i32 t = (a & 0x0F) << 4;
  const i32 seg = (a & 0x70) >> 4;
  if (seg == 0) {
    t += 8;
  } else {
    t = (t + 0x108) << (seg - 1);
  }
  return static_cast<i16>((a & 0x80) ? t : -t);
}

i16 SoundMulawToPcm(u8 u) {
  u = static_cast<u8>(~u);
  i32 t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return static_cast<i16>((u & 0x80) ? 0x84 - t : t - 0x84);
}

// ---- IMA ADPCM -------------------------------------------------------------------------------

static const i16 kImaStep[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
static const i8 kImaIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  i32 pred;
  i32 index;
};

static inline i16 ImaNibble(ImaChannel* c, u32 n) {
  const i32 step = kImaStep[c->index];
  i32 diff = step >> 3;
  if (n & 4) diff += step;
  if (n & 2) diff += step >> 1;
  if (n & 1) diff += step >> 2;
  c->pred = Clamp16((n & 8) ? c->pred - diff : c->pred + diff);
  c->index += kImaIndex[n];
  c->index = c->index < 0 ? 0 : c->index > 88 ? 88 : c->index;
  return static_cast<i16>(c->pred);
}

u32 SoundImaAdpcmFramesPerBlock(u16 block_align, u16 channels) {
  if (channels < 1 || channels > 2 || block_align <= 4u * channels) return 0;
  return 1 + (block_align - 4u * channels) / (4u * channels) * 8;
}

// Frames a block of n bytes holds (n may be short for the last block); 0 when no header fits.
static u32 ImaBlockFrames(u32 n, u16 ch) {
  if (n < 4u * ch) return 0;
  return 1 + (n - 4u * ch) / (4u * ch) * 8;
}

static bool ImaDecodeBlock(const u8* p, u32 n, u16 ch, i16* out) {
  ImaChannel c[2];
  for (u16 k = 0; k < ch; k++) {
    c[k].pred = Rd16(p + 4 * k);
    c[k].index = p[4 * k + 2];
    if (c[k].index > 88) return false;
    out[k] = static_cast<i16>(c[k].pred);
  }
  const u32 groups = (n - 4u * ch) / (4u * ch);
  const u8* body = p + 4 * ch;
  for (u32 g = 0; g < groups; g++) {
    for (u16 k = 0; k < ch; k++) {
      const u8* q = body + (g * ch + k) * 4;
      i16* o = out + (1 + g * 8) * ch + k;
      for (u32 b = 0; b < 4; b++) {
        o[(2 * b) * ch] = ImaNibble(&c[k], q[b] & 0x0F);
        o[(2 * b + 1) * ch] = ImaNibble(&c[k], q[b] >> 4);
      }
    }
  }
  return true;
}

// ---- Microsoft ADPCM -------------------------------------------------------------------------

static const i32 kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
static const i16 kMsCoefStandard[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

struct MsCoefs {
  u32 count;
  i16 c[256][2];
};

struct MsChannel {
  i32 c1, c2, delta, s1, s2;
};

// The step size grows by up to 3x a nibble: as the codec's reference decoder does, it stays at
// least 16 and is held below the point where the next growth would overflow; the prediction is
// computed in 64 bits and saturated to 16 bits.
static constexpr i64 kMsDeltaMin = 16, kMsDeltaMax = INT32_MAX / 768;

static inline i16 MsNibble(MsChannel* c, u32 n) {
  const i64 signed_n = n >= 8 ? static_cast<i64>(n) - 16 : static_cast<i64>(n);
  const i64 predicted = (i64{c->s1} * c->c1 + i64{c->s2} * c->c2) / 256 + signed_n * c->delta;
  const i32 s = predicted < -32768 ? -32768 : predicted > 32767 ? 32767 : static_cast<i32>(predicted);
  c->s2 = c->s1;
  c->s1 = s;
  const i64 delta = i64{kMsAdapt[n]} * c->delta / 256;
  c->delta = static_cast<i32>(delta < kMsDeltaMin ? kMsDeltaMin : delta > kMsDeltaMax ? kMsDeltaMax : delta);
  return static_cast<i16>(s);
}

u32 SoundMsAdpcmFramesPerBlock(u16 block_align, u16 channels) {
  if (channels < 1 || channels > 2 || block_align < 7u * channels) return 0;
  return 2 + (block_align - 7u * channels) * 2 / channels;
}

static u32 MsBlockFrames(u32 n, u16 ch) {
  if (n < 7u * ch) return 0;
  return 2 + (n - 7u * ch) * 2 / ch;
}

// The coefficient table of the format's extra data, or the standard one when it has none.
static void MsReadCoefs(const SoundWavInfo* info, MsCoefs* t) {
  t->count = 0;
  if (info->fmt_bytes >= 22) {
    const u32 count = static_cast<u16>(Rd16(info->fmt + 20));
    if (count >= 1 && count <= 256 && 22 + 4 * count <= info->fmt_bytes) {
      for (u32 i = 0; i < count; i++) {
        t->c[i][0] = Rd16(info->fmt + 22 + 4 * i);
        t->c[i][1] = Rd16(info->fmt + 24 + 4 * i);
      }
      t->count = count;
    }
  }
  if (t->count == 0) {
    std::memcpy(t->c, kMsCoefStandard, sizeof kMsCoefStandard);
    t->count = 7;
  }
}

static bool MsDecodeBlock(const u8* p, u32 n, u16 ch, const MsCoefs* t, i16* out) {
  MsChannel c[2];
  for (u16 k = 0; k < ch; k++) {
    const u32 pred = p[k];
    if (pred >= t->count) return false;
    c[k].c1 = t->c[pred][0];
    c[k].c2 = t->c[pred][1];
    c[k].delta = Rd16(p + ch + 2 * k);
    c[k].s1 = Rd16(p + 3 * ch + 2 * k);
    c[k].s2 = Rd16(p + 5 * ch + 2 * k);
    out[k] = static_cast<i16>(c[k].s2);
    out[ch + k] = static_cast<i16>(c[k].s1);
  }
  const u32 frames = MsBlockFrames(n, ch);
  const u8* body = p + 7 * ch;
  // Nibbles run high first through the interleaved samples (left, right alternate in stereo).
  const u32 nibbles = (frames - 2) * ch;
  i16* o = out + 2 * ch;
  for (u32 i = 0; i < nibbles; i++) {
    const u32 byte = body[i / 2];
    const u32 nib = (i & 1) ? byte & 0x0F : byte >> 4;
    o[i] = MsNibble(&c[i % ch], nib);
  }
  return true;
}

// ---- Dispatch --------------------------------------------------------------------------------

bool SoundWavOwnDecoder(u16 format_tag) {
  switch (format_tag) {
    case SOUND_TAG_ALAW:
    case SOUND_TAG_MULAW:
    case SOUND_TAG_IMA_ADPCM:
    case SOUND_TAG_MS_ADPCM: return true;
    default: return false;
  }
}

i32 SoundWavDecodeOther(const u8* file, u32 size, u8** image, u32* image_bytes) {
  *image = nullptr;
  *image_bytes = 0;
  PlatDecodedSound d;
  switch (PlatAudioDecodeWav(file, size, kWavHeaderBytes, kMaxImageBytes, &d)) {
    case 0: break;
    case PLAT_DECODE_NO_MEMORY: return -10220;
    case PLAT_DECODE_DAMAGED: return -10340;
    default: return -10200;
  }
  SoundWavWriteHeader(d.data, d.channels, d.rate, 16, static_cast<u32>(d.bytes));
  *image = d.data;
  *image_bytes = static_cast<u32>(kWavHeaderBytes + d.bytes);
  return 0;
}

typedef u32 (*BlockFramesFn)(u32 n, u16 ch);

i32 SoundWavDecode(const SoundWavInfo* info, const u8* data, u8** image, u32* image_bytes) {
  const SoundWaveFormat& f = info->format;
  *image = nullptr;
  *image_bytes = 0;
  if (f.channels < 1 || f.channels > 2 || f.samples_per_sec < PLAT_AUDIO_FREQ_MIN ||
      f.samples_per_sec > PLAT_AUDIO_FREQ_MAX || f.block_align == 0) {
    return -10200;
  }
  const u16 ch = f.channels;
  const u32 bytes = info->data_bytes;
  u64 frames = 0;
  BlockFramesFn block_frames = nullptr;
  switch (f.format_tag) {
    case SOUND_TAG_ALAW:
    case SOUND_TAG_MULAW:
      if (f.bits_per_sample != 8 || f.block_align != ch) return -10200;
      frames = bytes / ch;
      break;
    case SOUND_TAG_IMA_ADPCM:
      if (f.bits_per_sample != 4 || SoundImaAdpcmFramesPerBlock(f.block_align, ch) == 0) return -10200;
      block_frames = ImaBlockFrames;
      break;
    case SOUND_TAG_MS_ADPCM:
      if (f.bits_per_sample != 4 || SoundMsAdpcmFramesPerBlock(f.block_align, ch) == 0) return -10200;
      block_frames = MsBlockFrames;
      break;
    default: return -10200;
  }
  if (block_frames) {
    frames = static_cast<u64>(bytes / f.block_align) * block_frames(f.block_align, ch) +
             block_frames(bytes % f.block_align, ch);
  }
  const u64 pcm_bytes = frames * ch * 2;
  if (pcm_bytes + kWavHeaderBytes > kMaxImageBytes) return -10220;
  u8* out = static_cast<u8*>(std::malloc(kWavHeaderBytes + pcm_bytes + 1));
  if (!out) return -10220;
  SoundWavWriteHeader(out, ch, f.samples_per_sec, 16, static_cast<u32>(pcm_bytes));
  // malloc's alignment and the 44-byte header keep the samples 2-aligned; stored host-order,
  // then swapped where the host is not little-endian.
  i16* pcm = reinterpret_cast<i16*>(out + kWavHeaderBytes);
  bool ok = true;
  if (!block_frames) {
    const bool alaw = f.format_tag == SOUND_TAG_ALAW;
    for (u64 i = 0; i < frames * ch; i++) pcm[i] = alaw ? SoundAlawToPcm(data[i]) : SoundMulawToPcm(data[i]);
  } else {
    MsCoefs coefs;
    if (f.format_tag == SOUND_TAG_MS_ADPCM) MsReadCoefs(info, &coefs);
    u64 at = 0;
    for (u32 off = 0; off < bytes && ok; off += f.block_align) {
      const u32 n = bytes - off < f.block_align ? bytes - off : f.block_align;
      const u32 fr = block_frames(n, ch);
      if (fr == 0) break;
      ok = f.format_tag == SOUND_TAG_IMA_ADPCM ? ImaDecodeBlock(data + off, n, ch, pcm + at * ch)
                                               : MsDecodeBlock(data + off, n, ch, &coefs, pcm + at * ch);
      at += fr;
    }
  }
  if (!ok) {
    std::free(out);
    return -10340;
  }
  if constexpr (std::endian::native != std::endian::little) {
    for (u64 i = 0; i < frames * ch; i++) Wr16(out + kWavHeaderBytes + 2 * i, static_cast<u16>(pcm[i]));
  }
  *image = out;
  *image_bytes = static_cast<u32>(kWavHeaderBytes + pcm_bytes);
  return 0;
}
