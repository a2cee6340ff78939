// The shared encoding step (see av_encode.h).
#include "kit/av_encode.h"

bool KitAvFail(std::string* err, const char* what) {
  *err = what;
  return false;
}

bool KitAvEncode(AVFormatContext* fmt, AVCodecContext* c, AVStream* st, AVPacket* pkt, AVFrame* f, std::string* err) {
  if (avcodec_send_frame(c, f) < 0) return KitAvFail(err, "the encoder refused a frame");
  for (;;) {
    const int r = avcodec_receive_packet(c, pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return KitAvFail(err, "the encoder failed");
    av_packet_rescale_ts(pkt, c->time_base, st->time_base);
    pkt->stream_index = st->index;
    if (av_interleaved_write_frame(fmt, pkt) < 0) return KitAvFail(err, "the file could not be written");
  }
}
