// FFmpeg's libraries loaded on first use (see ffmpeg.h), with the memory source and the decoder
// opening that movies and sound data share.
#include "platform/ffmpeg.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#define PLAT_FFMPEG_SONAME(lib, major) "lib" #lib ".so." AV_STRINGIFY(major)

static PlatFfmpegApi LoadFfmpeg() {
  PlatFfmpegApi api;
  // Each library brings the ones it depends on; a symbol is looked up in all of them.
  static const char* const kNames[] = {
      PLAT_FFMPEG_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR),     PLAT_FFMPEG_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR),
      PLAT_FFMPEG_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR), PLAT_FFMPEG_SONAME(swscale, LIBSWSCALE_VERSION_MAJOR),
      PLAT_FFMPEG_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR),
  };
  void* libs[std::size(kNames)] = {};
  for (size_t i = 0; i < std::size(kNames); i++) {
    libs[i] = dlopen(kNames[i], RTLD_NOW | RTLD_LOCAL);
    if (!libs[i]) return api;  // kept loaded: nothing of a partly found set is used
  }
  auto find = [&libs](const char* name) -> void* {
    for (void* lib : libs) {
      if (void* sym = dlsym(lib, name)) return sym;
    }
    return nullptr;
  };
  bool all = true;
#define PLAT_FFMPEG_FIND(name)                                 \
  api.name = reinterpret_cast<decltype(&::name)>(find(#name)); \
  all = all && api.name != nullptr;
  PLAT_FFMPEG_FUNCTIONS(PLAT_FFMPEG_FIND)
#undef PLAT_FFMPEG_FIND
  api.loaded = all;
  if (all) api.av_log_set_level(AV_LOG_QUIET);
  return api;
}

const PlatFfmpegApi& PlatFfmpeg() {
  static const PlatFfmpegApi api = LoadFfmpeg();
  return api;
}

bool PlatFfmpegReady() { return PlatFfmpeg().loaded; }

// ---- Memory source -------------------------------------------------------------------------------

enum { FFMPEG_IO_BUFFER = 32768 };

static int MemRead(void* opaque, u8* buf, int size) {
  PlatFfmpegMemSource* s = static_cast<PlatFfmpegMemSource*>(opaque);
  if (s->pos >= s->size) return AVERROR_EOF;
  size_t n = std::min(static_cast<size_t>(size), s->size - s->pos);
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return static_cast<int>(n);
}

static i64 MemSeek(void* opaque, i64 offset, int whence) {
  PlatFfmpegMemSource* s = static_cast<PlatFfmpegMemSource*>(opaque);
  if (whence & AVSEEK_SIZE) return static_cast<i64>(s->size);
  i64 base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<i64>(s->pos); break;
    case SEEK_END: base = static_cast<i64>(s->size); break;
    default: return -1;
  }
  if (offset > static_cast<i64>(s->size) || offset < -base) return -1;
  i64 p = base + offset;
  if (p < 0 || p > static_cast<i64>(s->size)) return -1;
  s->pos = static_cast<size_t>(p);
  return p;
}

static void FreeIo(AVIOContext** io) {
  if (!*io) return;
  PlatFfmpeg().av_freep(&(*io)->buffer);
  PlatFfmpeg().avio_context_free(io);
}

AVFormatContext* PlatFfmpegOpenMemory(PlatFfmpegMemSource* src, const AVInputFormat* fmt) {
  const PlatFfmpegApi& ff = PlatFfmpeg();
  if (!ff.loaded || !src->data || src->size == 0) return nullptr;
  src->pos = 0;
  u8* buf = static_cast<u8*>(ff.av_malloc(FFMPEG_IO_BUFFER));
  AVIOContext* io = buf ? ff.avio_alloc_context(buf, FFMPEG_IO_BUFFER, 0, src, MemRead, nullptr, MemSeek) : nullptr;
  if (!io) {
    ff.av_free(buf);
    return nullptr;
  }
  AVFormatContext* ctx = ff.avformat_alloc_context();
  if (!ctx) {
    FreeIo(&io);
    return nullptr;
  }
  ctx->pb = io;
  if (ff.avformat_open_input(&ctx, nullptr, fmt, nullptr) < 0) {  // frees ctx, not the I/O context
    FreeIo(&io);
    return nullptr;
  }
  return ctx;
}

void PlatFfmpegCloseMemory(AVFormatContext** ctx) {
  if (!*ctx) return;
  AVIOContext* io = (*ctx)->pb;
  PlatFfmpeg().avformat_close_input(ctx);
  FreeIo(&io);
}

AVCodecContext* PlatFfmpegOpenDecoder(const AVStream* st) {
  const PlatFfmpegApi& ff = PlatFfmpeg();
  const AVCodec* codec = ff.avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* c = ff.avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  c->thread_count = 1;
  if (ff.avcodec_parameters_to_context(c, st->codecpar) < 0 || ff.avcodec_open2(c, codec, nullptr) < 0) {
    ff.avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}
