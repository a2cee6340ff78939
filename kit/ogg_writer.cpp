// Sound writers (see ogg_writer.h). The encoder is fed in blocks of 1024 frames; every packet
// goes out through one Ogg stream, so a file always holds exactly one logical stream.
#include "kit/ogg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include <vorbis/vorbisenc.h>

#include "platform/file.h"
#include "sound/sound_codec.h"

static void AppendPage(std::vector<u8>* out, const ogg_page& og) {
  out->insert(out->end(), og.header, og.header + og.header_len);
  out->insert(out->end(), og.body, og.body + og.body_len);
}

int KitOggEncode(const i16* in, size_t frames, int channels, long rate, int serial, float quality,
                 std::vector<u8>* out) {
  out->clear();
  if (channels < 1 || rate <= 0) return -1;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
    vorbis_info_clear(&vi);
    return -1;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "ENCODER", "zpkit");
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);
  ogg_packet h, hc, hcode, op;
  ogg_page og;
  vorbis_analysis_headerout(&vd, &vc, &h, &hc, &hcode);
  ogg_stream_packetin(&os, &h);
  ogg_stream_packetin(&os, &hc);
  ogg_stream_packetin(&os, &hcode);
  while (ogg_stream_flush(&os, &og)) AppendPage(out, og);
  auto drain = [&] {
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_pageout(&os, &og)) AppendPage(out, og);
      }
    }
  };
  for (size_t f0 = 0; f0 < frames; f0 += 1024) {
    const int n = static_cast<int>(std::min<size_t>(1024, frames - f0));
    float** buf = vorbis_analysis_buffer(&vd, n);
    for (int i = 0; i < n; i++) {
      for (int c = 0; c < channels; c++) buf[c][i] = in[(f0 + i) * channels + c] / 32768.0f;
    }
    vorbis_analysis_wrote(&vd, n);
    drain();
  }
  vorbis_analysis_wrote(&vd, 0);
  drain();
  while (ogg_stream_flush(&os, &og)) AppendPage(out, og);
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return 0;
}

int KitWavEncode(const void* samples, size_t frames, u16 channels, u32 rate, u16 bits, std::vector<u8>* out) {
  out->clear();
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate == 0) return -1;
  const u64 bytes = static_cast<u64>(frames) * channels * (bits / 8);
  if (bytes > 0x7FFFFFFFu - 44) return -1;
  out->resize(44 + bytes);
  SoundWavWriteHeader(out->data(), channels, rate, bits, static_cast<u32>(bytes));
  const u8* p = static_cast<const u8*>(samples);
  if (bits == 8) {
    std::copy(p, p + bytes, out->begin() + 44);
  } else {
    const i16* s = static_cast<const i16*>(samples);
    for (u64 i = 0; i < bytes / 2; i++) {
      (*out)[44 + 2 * i] = static_cast<u8>(s[i]);
      (*out)[45 + 2 * i] = static_cast<u8>(static_cast<u16>(s[i]) >> 8);
    }
  }
  return 0;
}

int KitWriteFileAtomic(const char* path, const std::vector<u8>& bytes) {
  return PlatFileWriteAtomicNative(path, bytes.data(), bytes.size()) == 0 ? 0 : -1;
}

// ---- The demo game's sounds ----------------------------------------------------------------------

static double NoteHz(int semitones_from_a4) { return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0); }

std::vector<i16> KitDemoMusicSamples(u32 seconds) {
  const u32 rate = 44100;
  // One bar a second: C, A minor, F, G, each as a bass note and an arpeggio of eighth notes.
  static const int kChords[4][3] = {{-9, -5, -2}, {0, 3, 7}, {-4, 0, 3}, {-2, 2, 5}};
  static const int kBass[4] = {-33, -24, -28, -26};
  const size_t frames = static_cast<size_t>(rate) * seconds;
  std::vector<i16> out(frames * 2);
  const double two_pi = 2.0 * M_PI;
  for (size_t i = 0; i < frames; i++) {
    const double t = static_cast<double>(i) / rate;
    const u32 bar = static_cast<u32>(t) % 4;
    const double in_bar = t - std::floor(t);
    const int step = static_cast<int>(in_bar * 8);
    const double in_step = in_bar * 8 - step;
    const int note = kChords[bar][step % 3] + (step >= 6 ? 12 : 0);
    const double lead = std::sin(two_pi * NoteHz(note) * t) * std::exp(-3.0 * in_step);
    // Short ramps at the start and end of every note keep the tune free of clicks, also where
    // it loops back to its start.
    const double edge = std::min(1.0, std::min(in_step, 1.0 - in_step) * 40.0);
    const double bar_edge = std::min(1.0, std::min(in_bar, 1.0 - in_bar) * 100.0);
    const double bass = std::sin(two_pi * NoteHz(kBass[bar]) * t) * (0.6 + 0.4 * std::exp(-3.0 * in_bar)) * bar_edge;
    const double l = 0.30 * lead * edge + 0.25 * bass;
    const double r = 0.22 * lead * edge + 0.30 * bass;
    out[2 * i] = static_cast<i16>(std::lround(l * 32767.0));
    out[2 * i + 1] = static_cast<i16>(std::lround(r * 32767.0));
  }
  return out;
}

std::vector<i16> KitDemoEffectSamples() {
  const u32 rate = 22050;
  const size_t frames = rate * 6 / 10;  // 0.6 s
  std::vector<i16> out(frames);
  for (size_t i = 0; i < frames; i++) {
    const double t = static_cast<double>(i) / rate;
    const double tone = std::sin(2 * M_PI * NoteHz(15) * t) + 0.5 * std::sin(2 * M_PI * NoteHz(22) * t);
    const double envelope = std::min(1.0, t * 200.0) * std::exp(-6.0 * t);
    out[i] = static_cast<i16>(std::lround(0.5 * tone * envelope * 32767.0 / 1.5));
  }
  return out;
}

int KitDemoSoundsWrite(const char* folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path root(folder);
  fs::create_directories(root / "bgm", ec);
  fs::create_directories(root / "se", ec);
  if (ec) return -1;
  std::vector<u8> bytes;
  const std::vector<i16> music = KitDemoMusicSamples(8);
  if (KitOggEncode(music.data(), music.size() / 2, 2, 44100, 1, 0.3f, &bytes) != 0) return -1;
  if (KitWriteFileAtomic((root / "bgm" / "demo.ogg").string().c_str(), bytes) != 0) return -1;
  const std::vector<i16> chime = KitDemoEffectSamples();
  if (KitWavEncode(chime.data(), chime.size(), 1, 22050, 16, &bytes) != 0) return -1;
  return KitWriteFileAtomic((root / "se" / "chime.wav").string().c_str(), bytes);
}
