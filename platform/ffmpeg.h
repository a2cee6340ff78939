// FFmpeg's libraries, loaded with dlopen on first use by whatever in platform/ needs them (movies,
// compressed WAV data): they and what they pull in are most of the program's shared libraries,
// and binding them would cost every start tens of milliseconds in the dynamic loader. The names
// are the ones the headers were built against (same major versions), so the calls are exactly the
// linked ones. Only platform/ includes this header.
#pragma once
#include "common/types.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswresample/version.h>
#include <libswscale/swscale.h>
#include <libswscale/version.h>
}

#define PLAT_FFMPEG_FUNCTIONS(X)   \
  X(av_find_best_stream)           \
  X(av_find_input_format)          \
  X(av_frame_alloc)                \
  X(av_frame_clone)                \
  X(av_frame_free)                 \
  X(av_frame_unref)                \
  X(av_free)                       \
  X(av_freep)                      \
  X(av_log_set_level)              \
  X(av_malloc)                     \
  X(av_packet_alloc)               \
  X(av_packet_free)                \
  X(av_packet_unref)               \
  X(av_read_frame)                 \
  X(avcodec_alloc_context3)        \
  X(avcodec_find_decoder)          \
  X(avcodec_free_context)          \
  X(avcodec_open2)                 \
  X(avcodec_parameters_to_context) \
  X(avcodec_receive_frame)         \
  X(avcodec_send_packet)           \
  X(avformat_alloc_context)        \
  X(avformat_close_input)          \
  X(avformat_find_stream_info)     \
  X(avformat_open_input)           \
  X(avio_alloc_context)            \
  X(avio_context_free)             \
  X(swr_alloc_set_opts2)           \
  X(swr_convert)                   \
  X(swr_free)                      \
  X(swr_get_out_samples)           \
  X(swr_init)                      \
  X(sws_freeContext)               \
  X(sws_getCachedContext)          \
  X(sws_scale)

struct PlatFfmpegApi {
  bool loaded = false;
#define PLAT_FFMPEG_POINTER(name) decltype(&::name) name = nullptr;
  PLAT_FFMPEG_FUNCTIONS(PLAT_FFMPEG_POINTER)
#undef PLAT_FFMPEG_POINTER
};

// Loaded once per run, on the first call (thread-safe); the libraries stay loaded. loaded is
// false when any of them or any function is missing: then nothing of them may be used.
const PlatFfmpegApi& PlatFfmpeg();
// FFmpeg's own messages would reach stderr beside the engine's dialogs: what FFmpeg cannot read
// is the engine's to report. False when the libraries are not there.
bool PlatFfmpegReady();

// A memory source for libavformat: its read and seek callbacks keep the position inside the data.
struct PlatFfmpegMemSource {
  const unsigned char* data;
  size_t size, pos;
};
// An AVFormatContext reading src (which outlives it) through a fresh I/O context; fmt, when not
// null, forces the input format. Null on failure (nothing left behind).
AVFormatContext* PlatFfmpegOpenMemory(PlatFfmpegMemSource* src, const AVInputFormat* fmt);
// Closes what PlatFfmpegOpenMemory opened, its I/O context and buffer included.
void PlatFfmpegCloseMemory(AVFormatContext** ctx);
// The decoder of a stream opened on one thread; null when there is none or it does not open.
AVCodecContext* PlatFfmpegOpenDecoder(const AVStream* st);
