// Compressed test WAVs (see wav_codec_writer.h).
#include "kit/wav_codec_writer.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>

#include "kit/av_encode.h"

namespace {

struct Writer {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* enc = nullptr;
  AVStream* st = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  ~Writer() {
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&enc);
    if (fmt) {
      if (fmt->pb) {
        u8* buf = nullptr;
        avio_close_dyn_buf(fmt->pb, &buf);
        av_free(buf);
      }
      avformat_free_context(fmt);
    }
  }
};

// Sample k of channel c, as the encoder's sample format stores it.
void Put(AVFrame* f, AVSampleFormat sf, int channels, int k, int c, i16 v) {
  const bool planar = av_sample_fmt_is_planar(sf);
  const int at = planar ? k : k * channels + c;
  u8* base = f->data[planar ? c : 0];
  switch (av_get_packed_sample_fmt(sf)) {
    case AV_SAMPLE_FMT_S16: reinterpret_cast<i16*>(base)[at] = v; break;
    case AV_SAMPLE_FMT_S32: reinterpret_cast<i32*>(base)[at] = static_cast<i32>(v) * 65536; break;
    case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(base)[at] = static_cast<float>(v) / 32768.0f; break;
    case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(base)[at] = v / 32768.0; break;
    default: break;
  }
}

bool Write(Writer* w, const char* encoder, const std::vector<i16>& samples, u16 channels, u32 rate, i64 bit_rate,
           std::string* err) {
  if (channels < 1 || channels > 8 || rate == 0 || samples.size() % channels) return KitAvFail(err, "bad sound shape");
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (!codec) return KitAvFail(err, "no such encoder");
  AVSampleFormat sf = AV_SAMPLE_FMT_NONE;
  for (const AVSampleFormat* p = codec->sample_fmts; p && *p != AV_SAMPLE_FMT_NONE && sf == AV_SAMPLE_FMT_NONE; p++)
    if (av_get_packed_sample_fmt(*p) != AV_SAMPLE_FMT_U8 && av_get_packed_sample_fmt(*p) != AV_SAMPLE_FMT_S64) sf = *p;
  if (sf == AV_SAMPLE_FMT_NONE) return KitAvFail(err, "no sample format the writer fills");
  if (avformat_alloc_output_context2(&w->fmt, nullptr, "wav", nullptr) < 0 || !w->fmt) return KitAvFail(err, "no WAV muxer");
  w->st = avformat_new_stream(w->fmt, nullptr);
  w->enc = avcodec_alloc_context3(codec);
  w->frame = av_frame_alloc();
  w->pkt = av_packet_alloc();
  if (!w->st || !w->enc || !w->frame || !w->pkt) return KitAvFail(err, "out of memory");
  w->enc->sample_fmt = sf;
  w->enc->sample_rate = static_cast<int>(rate);
  av_channel_layout_default(&w->enc->ch_layout, channels);
  if (bit_rate > 0) w->enc->bit_rate = bit_rate;
  w->enc->time_base = AVRational{1, static_cast<int>(rate)};
  if (avcodec_open2(w->enc, codec, nullptr) < 0 || avcodec_parameters_from_context(w->st->codecpar, w->enc) < 0)
    return KitAvFail(err, "the encoder did not open for these channels and rate");
  w->st->time_base = w->enc->time_base;
  if (avio_open_dyn_buf(&w->fmt->pb) < 0) return KitAvFail(err, "out of memory");
  if (avformat_write_header(w->fmt, nullptr) < 0) return KitAvFail(err, "the WAV muxer takes no such stream");
  // An encoder of fixed frames gets its last one padded with silence; any other, the rest as it is.
  const bool fixed = w->enc->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int per = w->enc->frame_size > 0 ? w->enc->frame_size : 1024;
  const i64 frames = static_cast<i64>(samples.size() / channels);
  for (i64 done = 0; done < frames; done += per) {
    av_frame_unref(w->frame);
    w->frame->format = sf;
    w->frame->sample_rate = static_cast<int>(rate);
    av_channel_layout_copy(&w->frame->ch_layout, &w->enc->ch_layout);
    w->frame->nb_samples = fixed ? per : static_cast<int>(std::min<i64>(per, frames - done));
    if (av_frame_get_buffer(w->frame, 0) < 0) return KitAvFail(err, "out of memory");
    for (int k = 0; k < w->frame->nb_samples; k++)
      for (int c = 0; c < channels; c++) {
        const i64 at = done + k;
        Put(w->frame, sf, channels, k, c, at < frames ? samples[static_cast<size_t>(at * channels + c)] : 0);
      }
    w->frame->pts = done;
    if (!KitAvEncode(w->fmt, w->enc, w->st, w->pkt, w->frame, err)) return false;
  }
  if (!KitAvEncode(w->fmt, w->enc, w->st, w->pkt, nullptr, err)) return false;
  if (av_write_trailer(w->fmt) < 0) return KitAvFail(err, "the WAV could not be finished");
  return true;
}

}  // namespace

int KitWavEncodeWith(const char* encoder, const std::vector<i16>& interleaved, u16 channels, u32 rate, i64 bit_rate,
                     std::vector<u8>* out, std::string* err) {
  Writer w;
  if (!Write(&w, encoder, interleaved, channels, rate, bit_rate, err)) return -1;
  u8* buf = nullptr;
  const int n = avio_close_dyn_buf(w.fmt->pb, &buf);
  w.fmt->pb = nullptr;
  out->assign(buf, buf + std::max(n, 0));
  av_free(buf);
  return 0;
}
