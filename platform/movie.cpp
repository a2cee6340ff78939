// Movie player (see movie.h). One thread per movie runs Pump: it keeps a few decoded pictures and
// a little converted sound ahead, feeds the mixer voice (a looping ring that the thread keeps
// ahead of the play cursor, silence after the sound's end), and converts the newest picture whose
// time has come. Every FFmpeg result is checked; any failure ends the movie.
#include "platform/movie.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>

#include "platform/audio.h"
#include "platform/ffmpeg.h"
#include "platform/platform.h"
#include "platform/video.h"

static const PlatFfmpegApi& Ff() { return PlatFfmpeg(); }

enum {
  MOVIE_PICTURES_AHEAD = 4,    // decoded pictures kept before their time
  MOVIE_SOUND_AHEAD_MS = 300,  // converted sound kept ready
  MOVIE_VOICE_MS = 500,        // the voice's ring
  MOVIE_SIDE_MAX = 8192,
  MOVIE_QUEUE_BYTES = 64 << 20,  // decoded pictures held while the sound is read ahead of them
};

struct PlatMovie {
  // Owned by the thread that pumps (the movie's thread, or the caller of PlatMovieDecodeFrames).
  AVFormatContext* fmt = nullptr;
  bool from_memory = false;  // fmt reads mem
  PlatFfmpegMemSource mem{};
  AVCodecContext* vdec = nullptr;
  AVCodecContext* adec = nullptr;
  int vidx = -1, aidx = -1;
  SwsContext* sws = nullptr;
  SwrContext* swr = nullptr;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  bool eof = false, failed = false;
  std::deque<AVFrame*> pictures;  // decoded, waiting for their time
  std::vector<u8> spare;          // the next picture's buffer
  std::vector<i16> sound;         // converted stereo frames not yet in the voice
  size_t sound_pos = 0;
  u32 rate = 0;  // of the converted sound (the mixer's)
  u32 voice_bytes = 0, write_pos = 0, last_play = 0;
  u64 written = 0, played = 0, sound_end = 0;  // bytes; sound_end set once the sound is all written
  u64 sound_frames = 0;                        // converted so far
  bool voice_running = false;
  std::atomic<u32> wall_start{0}, wall_before{0};  // the monotonic clock's part while not paced

  PlatAudioVoice* voice = nullptr;
  std::atomic<bool> stop{false}, playing{false}, paced{false}, ended{false};
  std::atomic<u64> engine_ms{0};
  std::atomic<u32> end_code{0};
  std::atomic<i64> end_a{0};
  std::atomic<bool> end_posted{false};
  PlatThread* thread = nullptr;

  std::mutex lock;  // the newest picture
  std::vector<u8> picture;
  i32 width = 0, height = 0;
  u64 serial = 0;
};

static double TimeMs(const PlatMovie* m, const AVFrame* f) {
  const AVStream* s = m->fmt->streams[m->vidx];
  i64 ts = f->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = f->pts;
  if (ts == AV_NOPTS_VALUE) return 0;
  if (s->start_time != AV_NOPTS_VALUE) ts -= s->start_time;
  return static_cast<double>(ts) * av_q2d(s->time_base) * 1000.0;
}

static void FreeAll(PlatMovie* m) {
  for (AVFrame* f : m->pictures) Ff().av_frame_free(&f);
  m->pictures.clear();
  Ff().av_frame_free(&m->frame);
  Ff().av_packet_free(&m->pkt);
  Ff().sws_freeContext(m->sws);
  Ff().swr_free(&m->swr);
  Ff().avcodec_free_context(&m->vdec);
  Ff().avcodec_free_context(&m->adec);
  if (m->from_memory) PlatFfmpegCloseMemory(&m->fmt);
  else if (m->fmt) Ff().avformat_close_input(&m->fmt);
  if (m->voice) PlatAudioVoiceDestroy(m->voice);
  m->voice = nullptr;
}

static PlatMovie* Finish(PlatMovie* m) {
  if (Ff().avformat_find_stream_info(m->fmt, nullptr) < 0) {
    FreeAll(m);
    delete m;
    return nullptr;
  }
  m->vidx = Ff().av_find_best_stream(m->fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  m->aidx = Ff().av_find_best_stream(m->fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (m->vidx >= 0) {
    m->vdec = PlatFfmpegOpenDecoder(m->fmt->streams[m->vidx]);
    if (!m->vdec) m->vidx = -1;
  }
  if (m->aidx >= 0) {
    m->adec = PlatFfmpegOpenDecoder(m->fmt->streams[m->aidx]);
    if (!m->adec) m->aidx = -1;
  }
  m->pkt = Ff().av_packet_alloc();
  m->frame = Ff().av_frame_alloc();
  if ((m->vidx < 0 && m->aidx < 0) || !m->pkt || !m->frame) {
    FreeAll(m);
    delete m;
    return nullptr;
  }
  if (m->aidx >= 0 && PlatAudioIsOpen()) {
    m->rate = PlatAudioOutputRate();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (m->rate > 0 &&
        Ff().swr_alloc_set_opts2(&m->swr, &stereo, AV_SAMPLE_FMT_S16, static_cast<int>(m->rate), &m->adec->ch_layout,
                                 m->adec->sample_fmt, m->adec->sample_rate, 0, nullptr) >= 0 &&
        Ff().swr_init(m->swr) >= 0) {
      PlatAudioFormat f{2, 16, m->rate};
      m->voice_bytes = static_cast<u32>(static_cast<u64>(m->rate) * MOVIE_VOICE_MS / 1000) * 4;
      m->voice = PlatAudioVoiceCreate(&f, m->voice_bytes);
    }
    if (!m->voice) Ff().swr_free(&m->swr);  // no mixer to play through: the movie runs silent
  }
  return m;
}

PlatMovie* PlatMovieOpen(const char* native_path) {
  if (!native_path || !*native_path || !PlatFfmpegReady()) return nullptr;
  PlatMovie* m = new PlatMovie;
  if (Ff().avformat_open_input(&m->fmt, native_path, nullptr, nullptr) < 0) {
    delete m;
    return nullptr;
  }
  return Finish(m);
}

PlatMovie* PlatMovieOpenMemory(const u8* data, size_t size) {
  if (!data || size == 0 || !PlatFfmpegReady()) return nullptr;
  PlatMovie* m = new PlatMovie;
  m->mem = {data, size, 0};
  m->fmt = PlatFfmpegOpenMemory(&m->mem, nullptr);
  if (!m->fmt) {
    delete m;
    return nullptr;
  }
  m->from_memory = true;
  return Finish(m);
}

// ---- Decoding ------------------------------------------------------------------------------------

static void TakeSound(PlatMovie* m, AVFrame* f) {
  if (!m->swr) return;
  int out = Ff().swr_get_out_samples(m->swr, f->nb_samples);
  if (out <= 0) return;
  size_t at = m->sound.size();
  m->sound.resize(at + static_cast<size_t>(out) * 2);
  u8* dst = reinterpret_cast<u8*>(m->sound.data() + at);
  int n = Ff().swr_convert(m->swr, &dst, out, const_cast<const u8**>(f->extended_data), f->nb_samples);
  m->sound.resize(at + static_cast<size_t>(std::max(n, 0)) * 2);
  m->sound_frames += static_cast<u64>(std::max(n, 0));
}

// Drains one decoder: pictures queued, sound converted. False after a decoding error.
static bool Receive(PlatMovie* m, AVCodecContext* c, bool video) {
  for (;;) {
    int r = Ff().avcodec_receive_frame(c, m->frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    if (video) {
      if (m->frame->width <= 0 || m->frame->height <= 0 || m->frame->width > MOVIE_SIDE_MAX ||
          m->frame->height > MOVIE_SIDE_MAX) {
        Ff().av_frame_unref(m->frame);
        return false;
      }
      AVFrame* keep = Ff().av_frame_clone(m->frame);
      Ff().av_frame_unref(m->frame);
      if (!keep) return false;
      m->pictures.push_back(keep);
    } else {
      TakeSound(m, m->frame);
      Ff().av_frame_unref(m->frame);
    }
  }
}

// Reads and decodes one packet (or flushes the decoders at the end). False when nothing more
// will come.
static bool ReadOne(PlatMovie* m) {
  if (m->eof) return false;
  int r = Ff().av_read_frame(m->fmt, m->pkt);
  if (r < 0) {
    m->eof = true;
    if (m->vdec && Ff().avcodec_send_packet(m->vdec, nullptr) >= 0) Receive(m, m->vdec, true);
    if (m->adec && Ff().avcodec_send_packet(m->adec, nullptr) >= 0) Receive(m, m->adec, false);
    if (r != AVERROR_EOF) m->failed = m->pictures.empty();  // a break-off ends after what was decoded
    return false;
  }
  bool ok = true;
  if (m->pkt->stream_index == m->vidx) {
    ok = Ff().avcodec_send_packet(m->vdec, m->pkt) >= 0 && Receive(m, m->vdec, true);
  } else if (m->pkt->stream_index == m->aidx && m->swr) {
    ok = Ff().avcodec_send_packet(m->adec, m->pkt) >= 0 && Receive(m, m->adec, false);
  }
  Ff().av_packet_unref(m->pkt);
  if (!ok) {
    // Damaged data: what was decoded still shows, then the movie ends.
    m->eof = true;
  }
  return ok;
}

static bool Convert(PlatMovie* m, AVFrame* f) {
  const i32 w = f->width, h = f->height;
  m->sws = Ff().sws_getCachedContext(m->sws, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_BGRA,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!m->sws) return false;
  // Into the spare buffer (the last picture's, once taken over), then swapped in: no allocation
  // and no clearing per picture. The alpha bytes are not shown.
  std::vector<u8>& out = m->spare;
  out.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  u8* dst[4] = {out.data(), nullptr, nullptr, nullptr};
  int stride[4] = {w * 4, 0, 0, 0};
  if (Ff().sws_scale(m->sws, f->data, f->linesize, 0, h, dst, stride) != h) return false;
  std::lock_guard<std::mutex> g(m->lock);
  m->picture.swap(out);
  m->width = w;
  m->height = h;
  m->serial++;
  return true;
}

// ---- Sound into the voice ------------------------------------------------------------------------

static void FeedVoice(PlatMovie* m) {
  if (!m->voice) return;
  u32 play = 0, write = 0;
  if (PlatAudioVoiceGetPosition(m->voice, &play, &write) != 0) return;
  if (m->voice_running) m->played += (play + m->voice_bytes - m->last_play) % m->voice_bytes;
  m->last_play = play;
  if (m->played > m->written) m->played = m->written;  // underrun: the ring looped over old bytes
  u64 ahead = m->written - m->played;
  u64 room = m->voice_bytes > ahead + 4 ? m->voice_bytes - ahead - 4 : 0;
  while (room >= 4) {
    size_t avail = (m->sound.size() - m->sound_pos) * 2;  // bytes
    bool silence = avail == 0 && m->eof;
    if (avail == 0 && !silence) break;
    u32 chunk = static_cast<u32>(std::min<u64>(room, silence ? room : avail));
    chunk -= chunk % 4;
    chunk = std::min(chunk, m->voice_bytes - m->write_pos);
    if (chunk == 0) break;
    if (silence) {
      if (m->sound_end == 0) m->sound_end = m->written;
      std::vector<u8> zero(chunk, 0);
      PlatAudioVoiceWrite(m->voice, m->write_pos, zero.data(), chunk);
    } else {
      PlatAudioVoiceWrite(m->voice, m->write_pos, m->sound.data() + m->sound_pos, chunk);
      m->sound_pos += chunk / 2;
    }
    m->write_pos = (m->write_pos + chunk) % m->voice_bytes;
    m->written += chunk;
    room -= chunk;
  }
  if (m->sound_pos > 65536 && m->sound_pos * 2 > m->sound.size()) {
    m->sound.erase(m->sound.begin(), m->sound.begin() + static_cast<std::ptrdiff_t>(m->sound_pos));
    m->sound_pos = 0;
  }
  if (!m->voice_running && m->written > 0 && m->playing.load()) {
    PlatAudioVoicePlay(m->voice, true);
    m->voice_running = true;
  }
}

static double ClockMs(PlatMovie* m);

// Paced by the engine, the sound is over when the engine's clock has passed its length, so a run
// ends the movie at the same frame whatever the device has taken; else when it has been played.
static bool SoundDone(PlatMovie* m) {
  if (!m->voice) return true;
  if (!m->eof) return false;
  if (m->paced.load()) return ClockMs(m) * m->rate >= static_cast<double>(m->sound_frames) * 1000.0;
  return m->sound_pos >= m->sound.size() && m->sound_end != 0 && m->played >= m->sound_end;
}

static double ClockMs(PlatMovie* m) {
  if (m->paced.load()) return static_cast<double>(m->engine_ms.load());
  if (m->voice && m->rate) return static_cast<double>(m->played / 4) * 1000.0 / m->rate;
  return static_cast<double>(m->wall_before.load() + (PlatTimeMs() - m->wall_start.load()));
}

static void PostEnd(PlatMovie* m) {
  if (m->ended.exchange(true)) return;
  u32 code = m->end_code.load();
  if (code && !m->end_posted.exchange(true)) PlatPostMessage(code, m->end_a.load(), 0);
}

static size_t QueuedBytes(const PlatMovie* m) {
  size_t n = 0;
  for (const AVFrame* f : m->pictures) n += static_cast<size_t>(f->width) * static_cast<size_t>(f->height) * 2;
  return n;
}

// One turn of the player: more data, sound fed, the newest due picture shown. Returns the
// milliseconds until something is due (at most a few).
static i32 Pump(PlatMovie* m) {
  const bool need_pictures = m->vidx >= 0;
  while (!m->eof) {
    bool want_sound =
        m->swr && (m->sound.size() - m->sound_pos) / 2 < static_cast<size_t>(m->rate) * MOVIE_SOUND_AHEAD_MS / 1000;
    bool want_pictures = need_pictures && m->pictures.size() < MOVIE_PICTURES_AHEAD;
    if (!want_sound && !want_pictures) break;
    if (QueuedBytes(m) > MOVIE_QUEUE_BYTES) break;  // the sound lies far behind its pictures in the file
    ReadOne(m);
  }
  FeedVoice(m);
  const double now = ClockMs(m);
  AVFrame* due = nullptr;
  while (!m->pictures.empty() && TimeMs(m, m->pictures.front()) <= now) {
    if (due) Ff().av_frame_free(&due);  // late: only the newest due picture is converted
    due = m->pictures.front();
    m->pictures.pop_front();
  }
  if (due) {
    if (!Convert(m, due)) m->failed = true;
    Ff().av_frame_free(&due);
  }
  if (m->failed || (m->eof && m->pictures.empty() && SoundDone(m))) {
    if (m->voice_running) PlatAudioVoiceStop(m->voice);
    m->voice_running = false;
    PostEnd(m);
    return 10;
  }
  if (!m->pictures.empty()) {
    double wait = TimeMs(m, m->pictures.front()) - now;
    return static_cast<i32>(std::clamp(wait, 1.0, 5.0));
  }
  return 2;
}

static void Run(void* arg) {
  PlatMovie* m = static_cast<PlatMovie*>(arg);
  while (!m->stop.load()) {
    if (!m->playing.load() || m->ended.load()) {
      if (m->voice_running) PlatAudioVoiceStop(m->voice);
      m->voice_running = false;
      PlatSleepMs(5);
      continue;
    }
    PlatSleepMs(static_cast<u32>(Pump(m)));
  }
}

// ---- Control -------------------------------------------------------------------------------------

void PlatMoviePlay(PlatMovie* m, bool paced_by_engine) {
  if (!m) return;
  m->paced = paced_by_engine;
  m->wall_start = PlatTimeMs();
  m->playing = true;
  // A paced movie is pumped by PlatMovieAdvance on the engine's thread, so a run repeats exactly.
  if (!m->thread && !paced_by_engine) m->thread = PlatThreadStart(Run, m);
}

void PlatMoviePause(PlatMovie* m) {
  if (!m || !m->playing.exchange(false)) return;
  m->wall_before += PlatTimeMs() - m->wall_start.load();  // the thread stops the voice
}

void PlatMovieAdvance(PlatMovie* m, u32 ms) {
  if (!m) return;
  m->engine_ms += ms;
  if (m->paced.load() && !m->thread && m->playing.load() && !m->ended.load()) Pump(m);
}

void PlatMovieSetVolume(PlatMovie* m, i32 mb) {
  if (m && m->voice) PlatAudioVoiceSetVolume(m->voice, std::clamp(mb, -10000, 0));
}

void PlatMovieSetEndMessage(PlatMovie* m, u32 code, i64 a) {
  if (!m) return;
  m->end_a = a;
  m->end_code = code;
}

bool PlatMovieEnded(PlatMovie* m) { return !m || m->ended.load(); }

bool PlatMovieTakeFrame(PlatMovie* m, std::vector<u8>* out, i32* width, i32* height, u64* serial) {
  if (!m) return false;
  std::lock_guard<std::mutex> g(m->lock);
  if (m->serial == *serial || m->picture.empty()) return false;
  *out = m->picture;
  *width = m->width;
  *height = m->height;
  *serial = m->serial;
  return true;
}

i32 PlatMovieDecodeFrames(PlatMovie* m, i32 count) {
  if (!m || m->thread) return 0;
  i32 made = 0;
  while (made < count && !m->failed) {
    if (m->pictures.empty()) {
      if (m->eof) break;
      ReadOne(m);
      continue;
    }
    AVFrame* f = m->pictures.front();
    m->pictures.pop_front();
    if (Convert(m, f)) made++;
    else m->failed = true;
    Ff().av_frame_free(&f);
  }
  return made;
}

void PlatMovieClose(PlatMovie* m) {
  if (!m) return;
  m->stop = true;
  if (m->thread) PlatThreadJoin(m->thread);
  FreeAll(m);
  delete m;
}
