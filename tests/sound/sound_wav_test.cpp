#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "kit/wav_codec_writer.h"
#include "sound/sound_codec.h"
#include "sound/sound_file.h"
#include "sound/sound_thread.h"
#include "sound_fixtures.h"

using namespace sndtest;

namespace {

Bytes Fmt16(u16 ch, u32 rate, u16 bits) { return FmtBody(1, ch, rate, static_cast<u16>(ch * bits / 8), bits); }
Bytes Data(size_t n, u8 v = 7) { return Bytes(n, v); }

TEST(SoundWavParse, RefusesDamagedFilesWithTheirCodes) {
  Bytes good = PcmWav(1, 8000, 8, Data(100));
  Bytes not_riff = good;
  not_riff[0] = 'X';
  Bytes not_wave = good;
  not_wave[8] = 'X';
  Bytes huge_chunk = Riff({Chunk("LIST", Data(4)), Chunk("fmt ", Fmt16(1, 8000, 8)), Chunk("data", Data(8))});
  huge_chunk[16] = huge_chunk[17] = huge_chunk[18] = huge_chunk[19] = 0xFF;  // LIST length 4 GB
  Bytes fmt_past_end = Riff({Chunk("fmt ", Fmt16(1, 8000, 8))});
  fmt_past_end[16] = 40;  // fmt claims 40 bytes, the file holds 16
  const Bytes fmt = Fmt16(1, 8000, 8);
  const Bytes fmt12(fmt.begin(), fmt.begin() + 12);
  struct Row {
    const char* what;
    Bytes file;
    i32 code;
  };
  const Row rows[] = {
      {"empty", {}, -10040},
      {"shorter than the header", Bytes(good.begin(), good.begin() + 11), -10040},
      {"not RIFF", not_riff, -10040},
      {"not WAVE", not_wave, -10050},
      {"no fmt", Riff({Chunk("data", Data(8))}), -10060},
      {"fmt past the end of the file", fmt_past_end, -10060},
      {"a chunk length of 4 GB ends the walk", huge_chunk, -10060},
      {"fmt of 12 bytes", Riff({Chunk("fmt ", fmt12), Chunk("data", Data(8))}), -10090},
      {"no data", Riff({Chunk("fmt ", Fmt16(1, 8000, 8))}), -10080},
      {"data only before fmt", Riff({Chunk("data", Data(8)), Chunk("fmt ", Fmt16(1, 8000, 8))}), -10080},
      {"data beyond the RIFF size", Riff({Chunk("fmt ", Fmt16(1, 8000, 8)), Chunk("data", Data(8))}, 4 + 24), -10080},
      {"24-bit PCM", Riff({Chunk("fmt ", Fmt16(1, 8000, 24)), Chunk("data", Data(9))}), -10090},
      {"three channels", Riff({Chunk("fmt ", Fmt16(3, 8000, 16)), Chunk("data", Data(12))}), -10090},
      {"block align that does not match", Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 2, 16)), Chunk("data", Data(8))}),
       -10090},
      {"rate 0", Riff({Chunk("fmt ", Fmt16(1, 0, 16)), Chunk("data", Data(8))}), -10090},
      {"rate above the mixer's range", Riff({Chunk("fmt ", Fmt16(1, 400000, 16)), Chunk("data", Data(8))}), -10090},
      {"no channels in a 14-byte fmt", Riff({Chunk("fmt ", FmtBody(1, 0, 8000, 2, 16, 14)), Chunk("data", Data(8))}),
       -10090},
  };
  for (const Row& r : rows) {
    SoundWavInfo info;
    EXPECT_EQ(SoundWavParse(r.file.empty() ? nullptr : r.file.data(), static_cast<u32>(r.file.size()), &info), r.code)
        << r.what;
  }
}

TEST(SoundWavParse, FourteenByteFmtTakesBitsFromBlockAlign) {
  // The bytes after the chunk spell "data"; they must not be read as the bits field.
  Bytes wav = Riff({Chunk("fmt ", FmtBody(1, 2, 22050, 4, 16, 14)), Chunk("data", Data(40))});
  SoundWavInfo info;
  ASSERT_EQ(SoundWavParse(wav.data(), static_cast<u32>(wav.size()), &info), 0);
  EXPECT_EQ(info.format.bits_per_sample, 16);
  EXPECT_EQ(info.format.channels, 2);
  EXPECT_EQ(info.data_bytes, 40u);
}

TEST(SoundWavParse, WalksOddChunksAndCutsDataToTheFile) {
  Bytes wav = Riff(
      {Chunk("LIST", Data(3)), Chunk("fmt ", Fmt16(2, 44100, 16)), Chunk("junk", Data(1)), Chunk("data", Data(64))});
  // Claim far more data than the file has, and leave a partial frame at its end.
  const size_t data_len_at = wav.size() - 64 - 4;
  wav[data_len_at] = 0xFF;
  wav[data_len_at + 1] = 0xFF;
  wav.resize(wav.size() - 2);
  SoundWavInfo info;
  ASSERT_EQ(SoundWavParse(wav.data(), static_cast<u32>(wav.size()), &info), 0);
  EXPECT_EQ(info.data_offset, wav.size() - 62);
  EXPECT_EQ(info.data_bytes, 60u);  // 62 bytes there, whole 4-byte frames only
}

TEST(SoundWavParse, SilentWavIsTheDocumentedFile) {
  u8* w = SoundSilentWavCreate();
  ASSERT_NE(w, nullptr);
  SoundWavInfo info;
  ASSERT_EQ(SoundWavParse(w, SOUND_SILENT_WAV_BYTES, &info), 0);
  EXPECT_EQ(info.format.channels, 1);
  EXPECT_EQ(info.format.samples_per_sec, 8000u);
  EXPECT_EQ(info.format.bits_per_sample, 8);
  EXPECT_EQ(info.data_offset + info.data_bytes, static_cast<u32>(SOUND_SILENT_WAV_BYTES));
  EXPECT_EQ(info.data_bytes, 4000u);
  u32 riff;
  std::memcpy(&riff, w + 4, 4);
  EXPECT_EQ(riff, 4036u);
  for (u32 i = 44; i < SOUND_SILENT_WAV_BYTES; i++) ASSERT_EQ(w[i], 128) << i;
  std::free(w);
}

// ---- Codecs ----------------------------------------------------------------------------------

i32 Decode(const Bytes& wav, std::vector<i16>* pcm, SoundWavInfo* out_info = nullptr) {
  SoundWavInfo info;
  i32 r = SoundWavParse(wav.data(), static_cast<u32>(wav.size()), &info);
  if (r) return r;
  u8* image;
  u32 bytes;
  r = SoundWavDecode(&info, wav.data() + info.data_offset, &image, &bytes);
  if (r) return r;
  SoundWavInfo pcm_info;
  EXPECT_EQ(SoundWavParse(image, bytes, &pcm_info), 0);  // the result is a PCM WAV of its own
  EXPECT_EQ(pcm_info.format.format_tag, SOUND_TAG_PCM);
  EXPECT_EQ(pcm_info.format.bits_per_sample, 16);
  EXPECT_EQ(pcm_info.format.channels, info.format.channels);
  EXPECT_EQ(pcm_info.format.samples_per_sec, info.format.samples_per_sec);
  *pcm = FromLe16(image + pcm_info.data_offset, pcm_info.data_bytes / 2);
  if (out_info) *out_info = pcm_info;
  std::free(image);
  return 0;
}

TEST(SoundCodec, G711KnownValues) {
  struct Row {
    u8 code;
    i16 alaw, mulaw;
  };
  const Row rows[] = {{0xD5, 8, 716},        {0x55, -8, -716},    {0xFF, 848, 0},
                      {0x00, -5504, -32124}, {0x80, 5504, 32124}, {0x7F, -848, 0}};
  for (const Row& r : rows) {
    EXPECT_EQ(SoundAlawToPcm(r.code), r.alaw) << int(r.code);
    EXPECT_EQ(SoundMulawToPcm(r.code), r.mulaw) << int(r.code);
  }
}

TEST(SoundCodec, G711FilesDecodeSampleForSample) {
  const Bytes data = {0xD5, 0x55, 0x00, 0x80};
  for (u16 tag : {SOUND_TAG_ALAW, SOUND_TAG_MULAW}) {
    std::vector<i16> pcm;
    ASSERT_EQ(Decode(CompressedWav(tag, 2, 8000, 2, 8, {}, data), &pcm), 0);
    ASSERT_EQ(pcm.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
      EXPECT_EQ(pcm[i], tag == SOUND_TAG_ALAW ? SoundAlawToPcm(data[i]) : SoundMulawToPcm(data[i]));
    }
  }
}

TEST(SoundCodec, ImaAdpcmKnownBlockLowNibbleFirst) {
  // Header: predictor 0, step index 0; then 0x07 (7, then 0) and 0x70 (0, then 7).
  const Bytes block = {0, 0, 0, 0, 0x07, 0x70, 0x00, 0x00};
  std::vector<i16> pcm;
  ASSERT_EQ(Decode(CompressedWav(SOUND_TAG_IMA_ADPCM, 1, 8000, 8, 4, {0xF9, 0x00}, block), &pcm), 0);
  ASSERT_EQ(pcm.size(), 9u);
  // 7 at step 7 adds 7 + 3 + 1 + 0 = 11 and moves to step 16; 0 adds 16 >> 3 = 2 (step 14);
  // 0 adds 1 (step 13); 7 at step 13 adds 1 + 13 + 6 + 3 = 23.
  EXPECT_EQ(pcm[0], 0);
  EXPECT_EQ(pcm[1], 11);
  EXPECT_EQ(pcm[2], 13);
  EXPECT_EQ(pcm[3], 14);
  EXPECT_EQ(pcm[4], 37);
}

TEST(SoundCodec, MsAdpcmKnownBlockHeaderSamplesFirst) {
  // Predictor 0 (256, 0), delta 16, sample1 100, sample2 50; nibbles 1 then 0.
  const Bytes block = {0, 16, 0, 100, 0, 50, 0, 0x10};
  std::vector<i16> pcm;
  ASSERT_EQ(Decode(CompressedWav(SOUND_TAG_MS_ADPCM, 1, 8000, 8, 4, {}, block), &pcm), 0);
  EXPECT_EQ(pcm, (std::vector<i16>{50, 100, 116, 116}));
}

double MeanAbsError(const std::vector<i16>& a, const std::vector<i16>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += std::abs(a[i] - b[i]);
  return sum / static_cast<double>(a.size());
}

TEST(SoundCodec, AdpcmRoundTripsStereoWithAPartialLastBlock) {
  struct Row {
    u16 tag;
    u16 channels;
    u16 align;
  };
  const Row rows[] = {{SOUND_TAG_IMA_ADPCM, 1, 256},
                      {SOUND_TAG_IMA_ADPCM, 2, 512},
                      {SOUND_TAG_MS_ADPCM, 1, 256},
                      {SOUND_TAG_MS_ADPCM, 2, 512}};
  for (const Row& r : rows) {
    const u32 per_block = r.tag == SOUND_TAG_IMA_ADPCM ? SoundImaAdpcmFramesPerBlock(r.align, r.channels)
                                                       : SoundMsAdpcmFramesPerBlock(r.align, r.channels);
    ASSERT_GT(per_block, 0u);
    const u32 frames = per_block * 10;
    std::vector<i16> src = Sine(frames, 22050, 440, 12000, r.channels, 660);
    Bytes data =
        r.tag == SOUND_TAG_IMA_ADPCM ? ImaEncode(src, r.channels, r.align) : MsAdpcmEncode(src, r.channels, r.align);
    ASSERT_EQ(data.size(), 10u * r.align);
    // Cut the last block: only its header and the first whole groups remain.
    const u32 cut = r.tag == SOUND_TAG_IMA_ADPCM ? 4u * r.channels + 8u * r.channels : 7u * r.channels + 4;
    data.resize(9u * r.align + cut);
    const u32 tail = r.tag == SOUND_TAG_IMA_ADPCM ? 1 + 16 : 2 + 4 * 2 / r.channels;
    std::vector<i16> pcm;
    ASSERT_EQ(Decode(CompressedWav(r.tag, r.channels, 22050, r.align, 4, {}, data), &pcm), 0) << r.tag;
    ASSERT_EQ(pcm.size(), static_cast<size_t>(per_block * 9 + tail) * r.channels) << r.tag;
    src.resize(pcm.size());
    EXPECT_LT(MeanAbsError(pcm, src), 12000 * 0.03) << r.tag << " " << r.channels;
    // The channels are not swapped: each carries its own tone.
    if (r.channels == 2) {
      EXPECT_NEAR(ZeroCrossings(pcm, 2, 0), ZeroCrossings(src, 2, 0), 2);
      EXPECT_NEAR(ZeroCrossings(pcm, 2, 1), ZeroCrossings(src, 2, 1), 2);
    }
  }
}

TEST(SoundCodec, MsAdpcmStepSizeStaysBoundedOnHostileBlocks) {
  // Every nibble 7 (the largest growth, x3) for thousands of nibbles, with the largest delta and
  // coefficients a header can carry: the step size saturates instead of overflowing, so the
  // samples stay pinned at full scale.
  struct Row {
    u8 delta_lo, delta_hi;
    u8 nibbles;
    i16 want;
  } rows[] = {
      {0xFF, 0x7F, 0x77, 32767}, {0x10, 0x00, 0x77, 32767}, {0x00, 0x80, 0x77, 32767}, {0xFF, 0x7F, 0x88, -32768}};
  const Bytes extra = {0xF4, 0x01, 1, 0, 0xFF, 0x7F, 0xFF, 0x7F};  // one pair (32767, 32767)
  for (const Row& r : rows) {
    Bytes block = {0, r.delta_lo, r.delta_hi, 0xFF, 0x7F, 0xFF, 0x7F};
    block.resize(4096, r.nibbles);
    std::vector<i16> pcm;
    ASSERT_EQ(Decode(CompressedWav(SOUND_TAG_MS_ADPCM, 1, 8000, 4096, 4, extra, block), &pcm), 0);
    ASSERT_EQ(pcm.size(), size_t{2 + (4096 - 7) * 2});
    EXPECT_EQ(pcm.back(), r.want) << int(r.delta_hi) << " " << int(r.nibbles);
  }
}

TEST(SoundCodec, MsAdpcmUsesTheFilesCoefficients) {
  // A one-pair table (512, -256) in the format's extra data: sample = 2 s1 - s2 for nibble 0.
  const Bytes extra = {0xF4, 0x01, 1, 0, 0x00, 0x02, 0x00, 0xFF};
  const Bytes block = {0, 16, 0, 20, 0, 10, 0, 0x00};
  std::vector<i16> pcm;
  ASSERT_EQ(Decode(CompressedWav(SOUND_TAG_MS_ADPCM, 1, 8000, 8, 4, extra, block), &pcm), 0);
  EXPECT_EQ(pcm, (std::vector<i16>{10, 20, 30, 40}));
}

TEST(SoundCodec, RefusesUnknownMalformedAndDamagedData) {
  struct Row {
    const char* what;
    Bytes wav;
    i32 code;
  };
  const Row rows[] = {
      {"MPEG layer 3", CompressedWav(0x55, 2, 44100, 1, 0, {}, Data(100)), -10200},
      {"extensible", CompressedWav(0xFFFE, 2, 44100, 4, 16, {}, Data(100)), -10200},
      {"IMA with 8 bits", CompressedWav(SOUND_TAG_IMA_ADPCM, 1, 8000, 256, 8, {}, Data(256)), -10200},
      {"IMA block without data", CompressedWav(SOUND_TAG_IMA_ADPCM, 2, 8000, 8, 4, {}, Data(8)), -10200},
      {"MS ADPCM three channels", CompressedWav(SOUND_TAG_MS_ADPCM, 3, 8000, 256, 4, {}, Data(256)), -10200},
      {"A-law with 16 bits", CompressedWav(SOUND_TAG_ALAW, 1, 8000, 2, 16, {}, Data(8)), -10200},
      {"mu-law rate 0", CompressedWav(SOUND_TAG_MULAW, 1, 0, 1, 8, {}, Data(8)), -10200},
      {"IMA step index 89", CompressedWav(SOUND_TAG_IMA_ADPCM, 1, 8000, 8, 4, {}, {0, 0, 89, 0, 0, 0, 0, 0}), -10340},
      {"MS predictor beyond the table", CompressedWav(SOUND_TAG_MS_ADPCM, 1, 8000, 8, 4, {}, {7, 16, 0, 0, 0, 0, 0, 0}),
       -10340},
  };
  for (const Row& r : rows) {
    std::vector<i16> pcm;
    EXPECT_EQ(Decode(r.wav, &pcm), r.code) << r.what;
  }
}

// A WAV opened as the sound thread opens it (sound on, no device): 0 with its samples, or the
// open's code.
i32 OpenWav(const Bytes& wav, std::vector<i16>* pcm, SoundStream* s) {
  g_SoundEnabled.store(1);
  const i32 r = SoundOpenImage(s, HeapCopy(wav), static_cast<u32>(wav.size()), SOUND_KIND_WAV);
  if (r == 0) *pcm = FromLe16(s->data_start, s->data_bytes / 2);
  return r;
}

// Format tags beyond the engine's own decoders decode through the platform's (FFmpeg's), as a
// system codec converts them: 16-bit PCM at the same channels and rate, the whole sound, and
// float data sample for sample.
TEST(SoundCodec, OtherFormatTagsDecodeToTheSamePcm) {
  struct Row {
    const char* encoder;
    u16 tag, channels;
    u32 rate;
    i64 bit_rate;
    u32 extra_frames;  // what the codec may add before and after the sound (its frames, its delay)
    double level_tolerance;
  };
  const Row rows[] = {
      {"pcm_f32le", 0xFFFE, 2, 44100, 0, 0, 0.0},  // float, written as the extensible format
      {"libmp3lame", 0x0055, 2, 22050, 64000, 2 * 1152 + 600, 0.1},
      {"libgsm_ms", 0x0031, 1, 8000, 0, 320, 0.25},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.encoder);
    const u32 frames = r.rate / 2;
    const std::vector<i16> samples = Sine(frames, r.rate, 440, 8000, r.channels, 660);
    Bytes wav;
    std::string err;
    ASSERT_EQ(KitWavEncodeWith(r.encoder, samples, r.channels, r.rate, r.bit_rate, &wav, &err), 0) << err;
    SoundWavInfo info;
    ASSERT_EQ(SoundWavParse(wav.data(), static_cast<u32>(wav.size()), &info), 0);
    ASSERT_EQ(info.format.format_tag, r.tag);
    std::vector<i16> pcm;
    SoundStream s{};
    ASSERT_EQ(OpenWav(wav, &pcm, &s), 0);
    EXPECT_EQ(s.converted, SOUND_CONVERTED_ACM);
    EXPECT_EQ(s.format.channels, r.channels);
    EXPECT_EQ(s.format.samples_per_sec, r.rate);
    EXPECT_EQ(s.format.bits_per_sample, 16);
    const u32 got = static_cast<u32>(pcm.size() / r.channels);
    EXPECT_GE(got, frames);
    EXPECT_LE(got, frames + r.extra_frames);
    EXPECT_NEAR(s.length, 500, r.extra_frames * 1000.0 / r.rate + 1);
    if (r.level_tolerance == 0) {
      EXPECT_EQ(pcm, samples);
    } else {
      // The tone over the middle quarter second, away from the codec's delay and padding.
      const u32 from = got / 2 - r.rate / 8, n = r.rate / 4;
      const std::vector<i16> middle(pcm.begin() + from * r.channels, pcm.begin() + (from + n) * r.channels);
      for (u16 c = 0; c < r.channels; c++) {
        const double hz = c ? 660 : 440;
        EXPECT_NEAR(ZeroCrossings(middle, r.channels, c), hz / 4, 2) << c;
        double level = 0;
        for (size_t k = c; k < middle.size(); k += r.channels) level += std::abs(middle[k]);
        EXPECT_NEAR(level / n, 8000 * 2 / M_PI, 8000 * 2 / M_PI * r.level_tolerance) << c;
      }
    }
    SoundStreamRelease(&s);
  }
  g_SoundEnabled.store(0);
}

// What nothing decodes, or the mixer cannot play, fails as an unconvertible format; a file cut
// short keeps the sound before the cut.
TEST(SoundCodec, OtherFormatTagsThatFailAndOneCutShort) {
  std::string err;
  Bytes three, mp3;
  ASSERT_EQ(KitWavEncodeWith("pcm_f32le", Sine(300, 8000, 440, 8000, 3), 3, 8000, 0, &three, &err), 0) << err;
  ASSERT_EQ(KitWavEncodeWith("libmp3lame", Sine(22050, 22050, 440, 8000), 1, 22050, 32000, &mp3, &err), 0) << err;
  struct Row {
    const char* what;
    Bytes wav;
    i32 code;
    u32 min_ms, max_ms;
  };
  const Row rows[] = {
      {"a tag no codec knows", CompressedWav(0x7A7A, 1, 8000, 1, 8, {}, Data(800)), -10200, 0, 0},
      {"three channels", three, -10200, 0, 0},
      {"MP3 cut in half", Bytes(mp3.begin(), mp3.begin() + static_cast<long>(mp3.size() / 2)), 0, 400, 600},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<i16> pcm;
    SoundStream s{};
    EXPECT_EQ(OpenWav(r.wav, &pcm, &s), r.code);
    if (r.code == 0) {
      EXPECT_GE(s.length, r.min_ms);
      EXPECT_LE(s.length, r.max_ms);
    }
    SoundStreamRelease(&s);
  }
  g_SoundEnabled.store(0);
}

TEST(SoundCodec, TruncatedBlockHeaderEndsTheData) {
  // Two full IMA blocks and three stray bytes: the stray bytes hold no header and give nothing.
  Bytes data = ImaEncode(Sine(2 * 9, 8000, 100, 1000), 1, 8);
  ASSERT_EQ(data.size(), 16u);
  data.insert(data.end(), {1, 2, 3});
  std::vector<i16> pcm;
  ASSERT_EQ(Decode(CompressedWav(SOUND_TAG_IMA_ADPCM, 1, 8000, 8, 4, {}, data), &pcm), 0);
  EXPECT_EQ(pcm.size(), 18u);
}

}  // namespace
