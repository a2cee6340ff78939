// Test movies (see movie_writer.h).
#include "kit/movie_writer.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>

#include "kit/av_encode.h"

namespace {

struct Writer {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* venc = nullptr;
  AVCodecContext* aenc = nullptr;
  AVStream* vst = nullptr;
  AVStream* ast = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  ~Writer() {
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&venc);
    avcodec_free_context(&aenc);
    if (fmt) {
      if (fmt->pb) avio_closep(&fmt->pb);
      avformat_free_context(fmt);
    }
  }
};

void Rgb2Yuv(u32 rgb, u8* y, u8* u, u8* v) {
  const double r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
  *y = static_cast<u8>(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * b));
  *u = static_cast<u8>(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * b));
  *v = static_cast<u8>(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * b));
}

bool Write(Writer* w, const std::string& path, const KitMovieSpec& s, std::string* err) {
  if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2 || s.fps <= 0 || s.seconds <= 0 || s.colours.empty())
    return KitAvFail(err, "bad movie size, rate, length or colours");
  if (avformat_alloc_output_context2(&w->fmt, nullptr, "mpeg", path.c_str()) < 0 || !w->fmt)
    return KitAvFail(err, "no MPEG program stream muxer");
  const AVCodec* vc = avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO);
  if (!vc) return KitAvFail(err, "no MPEG-1 video encoder");
  w->vst = avformat_new_stream(w->fmt, nullptr);
  w->venc = avcodec_alloc_context3(vc);
  if (!w->vst || !w->venc) return KitAvFail(err, "out of memory");
  w->venc->width = s.width;
  w->venc->height = s.height;
  w->venc->time_base = AVRational{1, s.fps};
  w->venc->framerate = AVRational{s.fps, 1};
  w->venc->pix_fmt = AV_PIX_FMT_YUV420P;
  w->venc->gop_size = s.fps;
  w->venc->bit_rate = 2000000;
  w->venc->qmin = w->venc->qmax = 2;  // solid colours come out exact
  if (w->fmt->oformat->flags & AVFMT_GLOBALHEADER) w->venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(w->venc, vc, nullptr) < 0 || avcodec_parameters_from_context(w->vst->codecpar, w->venc) < 0)
    return KitAvFail(err, "the video encoder did not open");
  w->vst->time_base = w->venc->time_base;
  if (s.tone_hz > 0) {
    const AVCodec* ac = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!ac) return KitAvFail(err, "no MPEG audio encoder");
    w->ast = avformat_new_stream(w->fmt, nullptr);
    w->aenc = avcodec_alloc_context3(ac);
    if (!w->ast || !w->aenc) return KitAvFail(err, "out of memory");
    w->aenc->sample_fmt = AV_SAMPLE_FMT_S16;
    w->aenc->sample_rate = s.sample_rate;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&w->aenc->ch_layout, &stereo);
    w->aenc->bit_rate = 192000;
    w->aenc->time_base = AVRational{1, s.sample_rate};
    if (avcodec_open2(w->aenc, ac, nullptr) < 0 || avcodec_parameters_from_context(w->ast->codecpar, w->aenc) < 0)
      return KitAvFail(err, "the audio encoder did not open");
    w->ast->time_base = w->aenc->time_base;
  }
  if (avio_open(&w->fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return KitAvFail(err, "cannot create the file");
  if (avformat_write_header(w->fmt, nullptr) < 0) return KitAvFail(err, "cannot write the header");
  w->frame = av_frame_alloc();
  w->pkt = av_packet_alloc();
  if (!w->frame || !w->pkt) return KitAvFail(err, "out of memory");

  const i32 frames = s.fps * s.seconds;
  const i64 samples_total = i64{s.sample_rate} * s.seconds;
  i64 samples_done = 0;
  for (i32 i = 0; i < frames; i++) {
    av_frame_unref(w->frame);
    w->frame->format = AV_PIX_FMT_YUV420P;
    w->frame->width = s.width;
    w->frame->height = s.height;
    if (av_frame_get_buffer(w->frame, 0) < 0) return KitAvFail(err, "out of memory");
    const u32 rgb = s.colours[std::min<size_t>(static_cast<size_t>(i / s.fps), s.colours.size() - 1)];
    u8 y, u, v;
    Rgb2Yuv(rgb, &y, &u, &v);
    for (i32 row = 0; row < s.height; row++) std::fill_n(w->frame->data[0] + row * w->frame->linesize[0], s.width, y);
    for (i32 row = 0; row < s.height / 2; row++) {
      std::fill_n(w->frame->data[1] + row * w->frame->linesize[1], s.width / 2, u);
      std::fill_n(w->frame->data[2] + row * w->frame->linesize[2], s.width / 2, v);
    }
    w->frame->pts = i;
    if (!KitAvEncode(w->fmt, w->venc, w->vst, w->pkt, w->frame, err)) return false;
    // Sound up to the end of this picture's time, in the encoder's frame size.
    const i64 sound_until = i64{i + 1} * s.sample_rate / s.fps;
    while (w->aenc && samples_done < std::min(sound_until, samples_total)) {
      av_frame_unref(w->frame);
      w->frame->format = AV_SAMPLE_FMT_S16;
      w->frame->sample_rate = s.sample_rate;
      av_channel_layout_copy(&w->frame->ch_layout, &w->aenc->ch_layout);
      w->frame->nb_samples = w->aenc->frame_size;
      if (av_frame_get_buffer(w->frame, 0) < 0) return KitAvFail(err, "out of memory");
      i16* out = reinterpret_cast<i16*>(w->frame->data[0]);
      for (i32 k = 0; k < w->aenc->frame_size; k++) {
        const double t = static_cast<double>(samples_done + k) / s.sample_rate;
        const i16 val = static_cast<i16>(std::lround(12000.0 * std::sin(2 * M_PI * s.tone_hz * t)));
        out[2 * k] = out[2 * k + 1] = val;
      }
      w->frame->pts = samples_done;
      samples_done += w->aenc->frame_size;
      if (!KitAvEncode(w->fmt, w->aenc, w->ast, w->pkt, w->frame, err)) return false;
    }
  }
  if (!KitAvEncode(w->fmt, w->venc, w->vst, w->pkt, nullptr, err)) return false;
  if (w->aenc && !KitAvEncode(w->fmt, w->aenc, w->ast, w->pkt, nullptr, err)) return false;
  if (av_write_trailer(w->fmt) < 0) return KitAvFail(err, "cannot finish the file");
  return true;
}

}  // namespace

int KitWriteTestMovie(const std::string& path, const KitMovieSpec& spec, std::string* err) {
  av_log_set_level(AV_LOG_ERROR);
  Writer w;
  return Write(&w, path, spec, err) ? 0 : -1;
}
