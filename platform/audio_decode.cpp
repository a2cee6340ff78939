// Compressed WAV data decoded whole through FFmpeg (see audio.h). Every size is bounded before it
// is used: the samples may not pass the caller's limit nor a ratio to the file's size that no
// codec reaches, so a hostile file cannot make the decoder fill memory.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/audio.h"
#include "platform/ffmpeg.h"

namespace {

// Bytes of 16-bit samples a byte of compressed data may give (the thriftiest speech codecs come
// to a few hundred).
constexpr u64 kMaxRatio = 1024;

struct Decoding {
  const PlatFfmpegApi& ff = PlatFfmpeg();
  PlatFfmpegMemSource src{};
  AVFormatContext* fmt = nullptr;
  AVCodecContext* dec = nullptr;
  SwrContext* swr = nullptr;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  // The samples so far.
  u8* data = nullptr;
  u64 head = 0, bytes = 0, capacity = 0, max = 0;
  u16 channels = 0;
  u32 rate = 0;
  int sample_format = -1;
  i32 failure = 0;  // why the samples ended early (0: they did not)

  ~Decoding() {
    ff.av_frame_free(&frame);
    ff.av_packet_free(&pkt);
    ff.swr_free(&swr);
    ff.avcodec_free_context(&dec);
    PlatFfmpegCloseMemory(&fmt);
    std::free(data);
  }

  // Room for n more bytes of samples.
  bool Reserve(u64 n) {
    if (head + bytes + n > max) {
      failure = PLAT_DECODE_NO_MEMORY;
      return false;
    }
    if (head + bytes + n <= capacity) return true;
    u64 want = capacity ? capacity * 2 : head + 65536;
    if (want < head + bytes + n) want = head + bytes + n;
    if (want > max) want = max;
    u8* p = static_cast<u8*>(std::realloc(data, static_cast<size_t>(want)));
    if (!p) {
      failure = PLAT_DECODE_NO_MEMORY;
      return false;
    }
    data = p;
    capacity = want;
    return true;
  }

  // The first frame fixes the shape of the samples; a frame of another shape ends them.
  bool Take(AVFrame* f) {
    const int ch = f->ch_layout.nb_channels;
    if (f->nb_samples <= 0) return true;
    if (sample_format < 0) {
      if (ch < 1 || ch > 2 || f->sample_rate < PLAT_AUDIO_FREQ_MIN || f->sample_rate > PLAT_AUDIO_FREQ_MAX) {
        failure = PLAT_DECODE_NO_DECODER;
        return false;
      }
      channels = static_cast<u16>(ch);
      rate = static_cast<u32>(f->sample_rate);
      sample_format = f->format;
      if (sample_format != AV_SAMPLE_FMT_S16 &&
          (ff.swr_alloc_set_opts2(&swr, &f->ch_layout, AV_SAMPLE_FMT_S16, f->sample_rate, &f->ch_layout,
                                  static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr) < 0 ||
           ff.swr_init(swr) < 0)) {
        failure = PLAT_DECODE_NO_DECODER;
        return false;
      }
    } else if (ch != channels || static_cast<u32>(f->sample_rate) != rate || f->format != sample_format) {
      failure = PLAT_DECODE_DAMAGED;
      return false;
    }
    const u64 frame_bytes = 2u * channels;
    if (!swr) {
      const u64 n = static_cast<u64>(f->nb_samples) * frame_bytes;
      if (!Reserve(n)) return false;
      std::memcpy(data + head + bytes, f->data[0], static_cast<size_t>(n));
      bytes += n;
      return true;
    }
    const int out = ff.swr_get_out_samples(swr, f->nb_samples);
    if (out <= 0) return true;
    if (!Reserve(static_cast<u64>(out) * frame_bytes)) return false;
    u8* dst = data + head + bytes;
    const int got = ff.swr_convert(swr, &dst, out, const_cast<const u8**>(f->extended_data), f->nb_samples);
    if (got < 0) {
      failure = PLAT_DECODE_DAMAGED;
      return false;
    }
    bytes += static_cast<u64>(got) * frame_bytes;
    return true;
  }

  // Every frame the decoder has ready. False when the samples end here.
  bool Drain() {
    for (;;) {
      const int r = ff.avcodec_receive_frame(dec, frame);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) {
        failure = PLAT_DECODE_DAMAGED;
        return false;
      }
      const bool ok = Take(frame);
      ff.av_frame_unref(frame);
      if (!ok) return false;
    }
  }

  i32 Run(const u8* wav, size_t size) {
    const AVInputFormat* wav_reader = ff.av_find_input_format("wav");
    src = {wav, size, 0};
    fmt = wav_reader ? PlatFfmpegOpenMemory(&src, wav_reader) : nullptr;
    if (!fmt) return PLAT_DECODE_NO_DECODER;
    ff.avformat_find_stream_info(fmt, nullptr);  // what the header left out; the header alone may do
    stream = ff.av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0) return PLAT_DECODE_NO_DECODER;
    dec = PlatFfmpegOpenDecoder(fmt->streams[stream]);
    pkt = ff.av_packet_alloc();
    frame = ff.av_frame_alloc();
    if (!dec) return PLAT_DECODE_NO_DECODER;
    if (!pkt || !frame) return PLAT_DECODE_NO_MEMORY;
    bool going = true;
    while (going && ff.av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == stream) {
        const int r = ff.avcodec_send_packet(dec, pkt);
        // A packet the decoder refuses ends the samples (AVERROR(EAGAIN) cannot come: every
        // frame is drained after each packet).
        if (r < 0) failure = PLAT_DECODE_DAMAGED;
        going = r >= 0 && Drain();
      }
      ff.av_packet_unref(pkt);
    }
    if (going && ff.avcodec_send_packet(dec, nullptr) >= 0) Drain();
    // A break-off keeps what came before it; a shape or size the engine cannot take keeps nothing.
    if (failure == PLAT_DECODE_NO_DECODER || failure == PLAT_DECODE_NO_MEMORY) return failure;
    if (failure && bytes == 0) return failure;
    if (sample_format < 0) {
      // No frame at all: the channels and rate the header gives.
      const AVCodecParameters* par = fmt->streams[stream]->codecpar;
      const int ch = par->ch_layout.nb_channels;
      if (ch < 1 || ch > 2 || par->sample_rate < PLAT_AUDIO_FREQ_MIN || par->sample_rate > PLAT_AUDIO_FREQ_MAX)
        return PLAT_DECODE_NO_DECODER;
      channels = static_cast<u16>(ch);
      rate = static_cast<u32>(par->sample_rate);
      if (!Reserve(0)) return failure;
    }
    return 0;
  }
};

}  // namespace

i32 PlatAudioDecodeWav(const u8* wav, size_t size, size_t head, u64 max_bytes, PlatDecodedSound* out) {
  *out = PlatDecodedSound{};
  if (!wav || size == 0 || !PlatFfmpegReady()) return PLAT_DECODE_NO_DECODER;
  Decoding d;
  d.head = head;
  d.max = max_bytes;
  const u64 plausible = head + static_cast<u64>(size) * kMaxRatio;
  if (d.max > plausible) d.max = plausible;
  const i32 r = d.Run(wav, size);
  if (r != 0) return r;
  if (!d.data && !d.Reserve(1)) return d.failure;  // an empty sound still gets its head
  if constexpr (std::endian::native != std::endian::little) {
    for (u64 i = 0; i < d.bytes; i += 2) std::swap(d.data[d.head + i], d.data[d.head + i + 1]);
  }
  out->data = d.data;
  out->bytes = d.bytes;
  out->channels = d.channels;
  out->rate = d.rate;
  d.data = nullptr;
  return 0;
}
