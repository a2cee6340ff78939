#include "sound_fixtures.h"
#include "core/config.h"
#include "shell/startup.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "kit/ogg_writer.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "sound/sound_file.h"
#include "support/memory_file.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"

namespace sndtest {

static void Put16(Bytes& b, u32 v) {
  b.push_back(static_cast<u8>(v));
  b.push_back(static_cast<u8>(v >> 8));
}
static void Put32(Bytes& b, u32 v) {
  Put16(b, v);
  Put16(b, v >> 16);
}

Bytes Chunk(const char* id, const Bytes& body) {
  Bytes b(id, id + 4);
  Put32(b, static_cast<u32>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() & 1) b.push_back(0);
  return b;
}

Bytes Riff(const std::vector<Bytes>& chunks, i64 riff_size) {
  Bytes all;
  for (const Bytes& c : chunks) all.insert(all.end(), c.begin(), c.end());
  Bytes b = {'R', 'I', 'F', 'F'};
  Put32(b, riff_size < 0 ? static_cast<u32>(all.size() + 4) : static_cast<u32>(riff_size));
  b.insert(b.end(), {'W', 'A', 'V', 'E'});
  b.insert(b.end(), all.begin(), all.end());
  return b;
}

Bytes FmtBody(u16 tag, u16 channels, u32 rate, u16 align, u16 bits, u32 fmt_bytes, const Bytes& extra) {
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * align);
  Put16(b, align);
  Put16(b, bits);
  Put16(b, static_cast<u32>(extra.size()));
  b.insert(b.end(), extra.begin(), extra.end());
  b.resize(fmt_bytes, 0);
  return b;
}

Bytes PcmWav(u16 channels, u32 rate, u16 bits, const Bytes& data) {
  const u16 align = static_cast<u16>(channels * bits / 8);
  return Riff({Chunk("fmt ", FmtBody(1, channels, rate, align, bits)), Chunk("data", data)});
}

Bytes Le16(const std::vector<i16>& samples) {
  Bytes b;
  for (i16 s : samples) Put16(b, static_cast<u16>(s));
  return b;
}

std::vector<i16> FromLe16(const u8* p, size_t count) {
  std::vector<i16> v(count);
  for (size_t i = 0; i < count; i++) v[i] = static_cast<i16>(p[2 * i] | (p[2 * i + 1] << 8));
  return v;
}

u8* HeapCopy(const Bytes& b) {
  u8* p = static_cast<u8*>(std::malloc(b.size() ? b.size() : 1));
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  return p;
}

void AddMemoryFile(const char* name, u8 type, const Bytes& data) { TestAddMemoryFile(name, type, data); }

std::vector<i16> Sine(u32 frames, u32 rate, double hz, double amplitude, u16 channels, double hz_right) {
  std::vector<i16> v(static_cast<size_t>(frames) * channels);
  for (u32 i = 0; i < frames; i++) {
    v[i * channels] = static_cast<i16>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    if (channels == 2)
      v[i * 2 + 1] = static_cast<i16>(std::lround(amplitude * std::sin(2 * M_PI * hz_right * i / rate)));
  }
  return v;
}

// ---- IMA ADPCM encoder -----------------------------------------------------------------------

static const int kStep[89] = {7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
                              25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
                              88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
                              307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
                              1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
                              3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
                              12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
static const int kIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

static int ImaEncodeSample(int x, int* pred, int* index) {
  int step = kStep[*index];
  int delta = x - *pred;
  int nib = 0;
  if (delta < 0) {
    nib = 8;
    delta = -delta;
  }
  int diff = step >> 3;
  if (delta >= step) {
    nib |= 4;
    delta -= step;
    diff += step;
  }
  step >>= 1;
  if (delta >= step) {
    nib |= 2;
    delta -= step;
    diff += step;
  }
  step >>= 1;
  if (delta >= step) {
    nib |= 1;
    diff += step;
  }
  *pred += (nib & 8) ? -diff : diff;
  *pred = *pred < -32768 ? -32768 : *pred > 32767 ? 32767 : *pred;
  *index += kIndex[nib];
  *index = *index < 0 ? 0 : *index > 88 ? 88 : *index;
  return nib;
}

Bytes ImaEncode(const std::vector<i16>& in, u16 ch, u16 align) {
  const size_t frames = in.size() / ch;
  const size_t per_block = 1 + (align - 4u * ch) / (4u * ch) * 8;
  Bytes out;
  int pred[2] = {0, 0}, index[2] = {0, 0};
  for (size_t f0 = 0; f0 < frames; f0 += per_block) {
    for (u16 c = 0; c < ch; c++) {
      pred[c] = in[f0 * ch + c];
      Put16(out, static_cast<u16>(pred[c]));
      out.push_back(static_cast<u8>(index[c]));
      out.push_back(0);
    }
    for (size_t g = 0; 1 + g * 8 < per_block; g++) {
      for (u16 c = 0; c < ch; c++) {
        for (int b = 0; b < 4; b++) {
          int nib[2];
          for (int k = 0; k < 2; k++) {
            const size_t f = f0 + 1 + g * 8 + b * 2 + k;
            const int x = f < frames ? in[f * ch + c] : 0;
            nib[k] = ImaEncodeSample(x, &pred[c], &index[c]);
          }
          out.push_back(static_cast<u8>(nib[0] | (nib[1] << 4)));
        }
      }
    }
  }
  return out;
}

// ---- Microsoft ADPCM encoder -----------------------------------------------------------------

static const int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
static const int kCoef[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

Bytes MsAdpcmEncode(const std::vector<i16>& in, u16 ch, u16 align) {
  const size_t frames = in.size() / ch;
  const size_t per_block = 2 + (align - 7u * ch) * 2 / ch;
  auto at = [&](size_t f, u16 c) -> int { return f < frames ? in[f * ch + c] : 0; };
  Bytes out;
  size_t block = 0;
  for (size_t f0 = 0; f0 < frames; f0 += per_block, block++) {
    const int pi = static_cast<int>(block % 7);  // exercise every coefficient pair
    int delta[2], s1[2], s2[2];
    for (u16 c = 0; c < ch; c++) out.push_back(static_cast<u8>(pi));
    for (u16 c = 0; c < ch; c++) {
      delta[c] = std::max(16, std::abs(at(f0 + 2, c) - at(f0 + 1, c)) / 2);
      Put16(out, static_cast<u16>(delta[c]));
    }
    for (u16 c = 0; c < ch; c++) {
      s1[c] = at(f0 + 1, c);
      Put16(out, static_cast<u16>(s1[c]));
    }
    for (u16 c = 0; c < ch; c++) {
      s2[c] = at(f0, c);
      Put16(out, static_cast<u16>(s2[c]));
    }
    int pending = -1;
    for (size_t i = 0; i < (per_block - 2) * ch; i++) {
      const u16 c = static_cast<u16>(i % ch);
      const int x = at(f0 + 2 + i / ch, c);
      const int predicted = (s1[c] * kCoef[pi][0] + s2[c] * kCoef[pi][1]) / 256;
      int nib = static_cast<int>(std::lround(static_cast<double>(x - predicted) / delta[c]));
      nib = std::clamp(nib, -8, 7);
      int s = predicted + nib * delta[c];
      s = std::clamp(s, -32768, 32767);
      s2[c] = s1[c];
      s1[c] = s;
      const int code = nib & 15;
      delta[c] = std::max(16, kAdapt[code] * delta[c] / 256);
      if (pending < 0) {
        pending = code;
      } else {
        out.push_back(static_cast<u8>((pending << 4) | code));
        pending = -1;
      }
    }
  }
  return out;
}

Bytes CompressedWav(u16 tag, u16 ch, u32 rate, u16 align, u16 bits, const Bytes& extra, const Bytes& data) {
  return Riff({Chunk("fmt ", FmtBody(tag, ch, rate, align, bits, 18 + static_cast<u32>(extra.size()), extra)),
               Chunk("data", data)});
}

// ---- Ogg Vorbis ------------------------------------------------------------------------------

Bytes EncodeOgg(const std::vector<i16>& in, int ch, long rate, int serial, float quality) {
  Bytes out;
  KitOggEncode(in.data(), in.size() / ch, ch, rate, serial, quality, &out);
  return out;
}

struct MemFile {
  const Bytes* b;
  size_t pos;
};

static size_t MemRead(void* p, size_t size, size_t n, void* src) {
  MemFile* m = static_cast<MemFile*>(src);
  const size_t bytes = std::min(size * n, m->b->size() - m->pos);
  std::memcpy(p, m->b->data() + m->pos, bytes);
  m->pos += bytes;
  return size ? bytes / size : 0;
}

static int MemSeek(void* src, ogg_int64_t off, int whence) {
  MemFile* m = static_cast<MemFile*>(src);
  const i64 base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<i64>(m->pos)
                                        : static_cast<i64>(m->b->size());
  const i64 at = base + off;
  if (at < 0 || at > static_cast<i64>(m->b->size())) return -1;
  m->pos = static_cast<size_t>(at);
  return 0;
}

static long MemTell(void* src) { return static_cast<long>(static_cast<MemFile*>(src)->pos); }

std::vector<i16> DecodeOggAll(const Bytes& ogg) {
  std::vector<i16> out;
  MemFile m = {&ogg, 0};
  OggVorbis_File vf;
  const ov_callbacks cb = {MemRead, MemSeek, nullptr, MemTell};
  if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) < 0) return out;
  char buf[4096];
  int section;
  long r;
  while ((r = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &section)) > 0) {
    for (long i = 0; i + 1 < r; i += 2) out.push_back(static_cast<i16>(static_cast<u8>(buf[i]) | (buf[i + 1] << 8)));
  }
  ov_clear(&vf);
  return out;
}

u32 ZeroCrossings(const std::vector<i16>& frames, u16 channels, u16 channel) {
  u32 n = 0;
  for (size_t i = channels; i < frames.size(); i += channels) {
    if (frames[i - channels + channel] < 0 && frames[i + channel] >= 0) n++;
  }
  return n;
}

// ---- Fixture ---------------------------------------------------------------------------------

void MixerFixture::SetUp() {
  ASSERT_EQ(PlatAudioOpen(44100, false), 0);
  g_SoundEnabled.store(1);
  g_SoundDevice.store(1);
}

void MixerFixture::TearDown() {
  g_SoundDevice.store(0);
  PlatAudioClose();
}

std::vector<i16> MixerFixture::Render(u32 frames) {
  std::vector<i16> out(static_cast<size_t>(frames) * 2);
  PlatAudioRender(out.data(), frames);
  return out;
}

void TreeFixture::SetUp() {
  MixerFixture::SetUp();
  ASSERT_EQ(SoundRingInit(), 0);
  SoundRingReset();
  g_SoundRequestHandlers = g_SoundRequestHandlerTable;
  PlatClockSetFixed(true, 5000);
  ErrReset();
  g_QuitRequested = 0;
  g_SoundFocusMuted = 0;
  SysObjReset();
  g_SoundRoot = ObjNewRoot();
  ASSERT_NE(g_SoundRoot, nullptr);
}

void TreeFixture::TearDown() {
  SysObjReset();
  SoundRingReset();
  PlatClockSetFixed(false);
  g_QuitRequested = 0;
  g_SoundFocusMuted = 0;
  ErrReset();
  MixerFixture::TearDown();
}

ObjNode* TreeFixture::Add(const char* name, ObjNode* parent, bool folder) {
  ObjNode* node = ObjCreateNode(parent ? parent : g_SoundRoot, name, folder ? OBJ_FOLDER : OBJ_ITEM, 1);
  EXPECT_NE(node, nullptr);
  EXPECT_NE(SoundObjectNew(node), nullptr);
  return node;
}

SoundObject* TreeFixture::Obj(ObjNode* node) { return SoundObjectOf(node); }

void TreeFixture::Load(ObjNode* node, const Bytes& file, u8 kind) {
  SoundObject* o = Obj(node);
  o->kind = kind;
  StrCopySjis(o->file_name, sizeof o->file_name, "test");
  o->pan = o->speed = 256;
  ASSERT_EQ(SoundOpenImage(&o->stream, HeapCopy(file), static_cast<u32>(file.size()), kind), 0);
  o->stream.half_indicator = 1;
  o->state = SOUND_LOADED;
}

i32 TreeFixture::Post(ObjNode* node, u8 op, i32 argument) { return SoundRingPost(node, op, argument, nullptr); }

void TreeFixture::Pass() { SoundThreadPass(); }

std::vector<i16> TreeFixture::Run(u32 ms) {
  std::vector<i16> out;
  for (u32 t = 0; t < ms; t += 10) {
    std::vector<i16> part = Render(441);
    out.insert(out.end(), part.begin(), part.end());
    PlatClockAdvance(10);
    SoundThreadPass();
  }
  return out;
}

double MeanLevel(const std::vector<i16>& stereo, u32 channel, size_t from, size_t to) {
  const size_t frames = stereo.size() / 2;
  if (to > frames) to = frames;
  if (from >= to) return 0;
  double sum = 0;
  for (size_t i = from; i < to; i++) sum += std::abs(stereo[2 * i + channel]);
  return sum / static_cast<double>(to - from);
}

Bytes ConstWav(u32 ms, i16 value, u32 rate) {
  const std::vector<i16> samples(static_cast<size_t>(rate) * ms / 1000, value);
  return PcmWav(1, rate, 16, Le16(samples));
}

}  // namespace sndtest
