// Movie playback speed: the player decoding and converting a 1920x1080 test movie to B, G, R, A
// pictures, beside FFmpeg's libraries driven directly to the same raw pictures (one decoding
// thread each), run by run in turns; and a 30-pictures-a-second movie played in real time, with
// the processor time it took. Goals: the player within 1.2x of the direct decode, and real-time
// playback on at most one core.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "kit/movie_writer.h"
#include "platform/movie.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The player: every picture decoded and converted.
double Player(const std::string& path, int* pictures) {
  double t0 = Now();
  PlatMovie* m = PlatMovieOpen(path.c_str());
  *pictures = m ? PlatMovieDecodeFrames(m, 1 << 20) : 0;
  PlatMovieClose(m);
  return Now() - t0;
}

// FFmpeg directly: demux, decode on one thread, convert to BGRA.
double Direct(const std::string& path, int* pictures) {
  double t0 = Now();
  *pictures = 0;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return 0;
  avformat_find_stream_info(fmt, nullptr);
  int vi = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[vi]->codecpar->codec_id);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(c, fmt->streams[vi]->codecpar);
  c->thread_count = 1;
  avcodec_open2(c, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  SwsContext* sws = nullptr;
  std::vector<u8> out;
  auto drain = [&] {
    while (avcodec_receive_frame(c, f) == 0) {
      sws = sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width, f->height,
                                 AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
      out.resize(static_cast<size_t>(f->width) * f->height * 4);
      u8* dst[4] = {out.data(), nullptr, nullptr, nullptr};
      int stride[4] = {f->width * 4, 0, 0, 0};
      sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
      (*pictures)++;
      av_frame_unref(f);
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == vi && avcodec_send_packet(c, pkt) >= 0) drain();
    av_packet_unref(pkt);
  }
  avcodec_send_packet(c, nullptr);
  drain();
  sws_freeContext(sws);
  av_frame_free(&f);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  avformat_close_input(&fmt);
  return Now() - t0;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "zephra-movie-bench";
  fs::create_directories(dir);
  const std::string big = (dir / "1080p.mpg").string();
  KitMovieSpec spec;
  spec.width = 1920;
  spec.height = 1080;
  spec.fps = 30;
  spec.seconds = 3;
  spec.colours = {0x203040, 0x806020, 0x10A0C0};
  std::string err;
  if (KitWriteTestMovie(big, spec, &err) != 0) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  std::vector<double> ours, direct;
  int n_ours = 0, n_direct = 0;
  for (int round = 0; round < 7; round++) {  // in turns, so each runs after the other as often
    if (round % 2) {
      direct.push_back(Direct(big, &n_direct));
      ours.push_back(Player(big, &n_ours));
    } else {
      ours.push_back(Player(big, &n_ours));
      direct.push_back(Direct(big, &n_direct));
    }
  }
  std::sort(ours.begin(), ours.end());
  std::sort(direct.begin(), direct.end());
  const double o = ours[ours.size() / 2], d = direct[direct.size() / 2];

  // Real time: the player's own thread paces the 3-second movie by the clock.
  double wall0 = Now(), cpu0 = CpuNow();
  PlatMovie* m = PlatMovieOpen(big.c_str());
  PlatMoviePlay(m, false);
  while (!PlatMovieEnded(m) && Now() - wall0 < 20) PlatSleepMs(5);
  const double wall = Now() - wall0, cpu = CpuNow() - cpu0;
  PlatMovieClose(m);

  int missed = 0;
  std::printf("%-34s %10s %10s %8s  %s\n", "row", "zephra ms", "ffmpeg ms", "ratio", "goal");
  const bool decode_ok = o <= d * 1.2 && n_ours == n_direct;
  missed += !decode_ok;
  std::printf("%-34s %10.1f %10.1f %8.2f  %s\n", "decode+convert 1920x1080, 90 pics", o * 1e3, d * 1e3, o / d,
              decode_ok ? "ok (within 1.2x)" : "MISSED (over 1.2x)");
  const bool realtime_ok = wall < spec.seconds + 1.0 && cpu / wall <= 1.0;
  missed += !realtime_ok;
  std::printf("%-34s %10.2f s wall, %.2f s cpu (%.2f cores)  %s\n", "real-time 1080p30 playback", wall, cpu, cpu / wall,
              realtime_ok ? "ok (at most one core)" : "MISSED");
  std::printf("goal decode: %.2fx of ffmpeg (goal 1.2x) %s\n", o / d, decode_ok ? "met" : "missed");
  std::printf("goal realtime: %.2f cores (goal 1.0) %s\n", cpu / wall, realtime_ok ? "met" : "missed");
  std::printf("\nprocessors: %u; %d goal(s) missed\n", PlatCpuCount(), missed);
  fs::remove_all(dir);
  return 0;
}
