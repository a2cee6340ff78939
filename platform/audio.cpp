// The software mixer behind PlatAudio...: voices are circular buffers read at a 32.32 fixed-point
// frame position that advances by frequency / output rate per output frame, with linear
// interpolation between neighbouring frames; gains are kept per channel and recomputed when
// volume or pan change. One mutex guards the voice list; each voice has a mutex of its own. A
// render takes the list's mutex only to copy the list and holds one voice's mutex while it mixes
// that voice, so a call on one voice never waits for the mix of all the others. A voice destroyed
// while a render may still hold it is freed when the last render ends. Nothing here calls outside
// this file while holding a mutex.
#include "platform/audio.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

struct PlatAudioVoice {
  std::mutex lock;  // everything below
  u8* data;
  u32 size;  // bytes, a whole number of frames
  u32 frames;
  u16 channels;
  u16 bits;
  u16 frame_bytes;
  u32 base_rate;
  u32 freq;
  i32 volume_mb;
  i32 pan_mb;
  float gain_l;
  float gain_r;
  u32 pos;   // frame the next output frame starts from
  u32 frac;  // fraction of a frame beyond pos, in 1/2^32
  bool playing;
  bool looping;
};

static std::mutex s_Mutex;
// In creation order, which is the order they are summed in; a destroyed voice leaves a null
// until the list is compacted.
static std::vector<PlatAudioVoice*> s_Voices;
// Where each live voice stands in s_Voices; a voice that is not here is gone (it is never read).
static std::unordered_map<const PlatAudioVoice*, size_t> s_Slots;
static size_t s_Holes = 0;
static u32 s_Rendering = 0;                   // renders between their copy of the list and their end
static std::vector<PlatAudioVoice*> s_Doomed;  // destroyed while a render ran
static bool s_Open = false;
static u32 s_OutRate = 0;
static SDL_AudioDeviceID s_Device = 0;
static PlatAudioCaptureFn s_Capture = nullptr;
static void* s_CaptureCtx = nullptr;

enum { kChunkFrames = 512 };

double PlatAudioGainFromMb(i32 mb) {
  if (mb <= PLAT_AUDIO_VOLUME_MIN) return 0.0;
  if (mb >= 0) return 1.0;
  return std::pow(10.0, mb / 2000.0);
}

static void UpdateGains(PlatAudioVoice* v) {
  double g = PlatAudioGainFromMb(v->volume_mb);
  double l = v->pan_mb > 0 ? PlatAudioGainFromMb(-v->pan_mb) : 1.0;
  double r = v->pan_mb < 0 ? PlatAudioGainFromMb(v->pan_mb) : 1.0;
  v->gain_l = static_cast<float>(g * l);
  v->gain_r = static_cast<float>(g * r);
}

// One frame as two samples in the 16-bit range (a mono frame feeds both channels).
static inline void ReadFrame(const PlatAudioVoice* v, u32 frame, float* l, float* r) {
  const u8* p = v->data + static_cast<size_t>(frame) * v->frame_bytes;
  if (v->bits == 8) {
    *l = static_cast<float>((p[0] - 128) * 256);
    *r = v->channels == 2 ? static_cast<float>((p[1] - 128) * 256) : *l;
  } else {
    *l = static_cast<float>(static_cast<i16>(p[0] | (p[1] << 8)));
    *r = v->channels == 2 ? static_cast<float>(static_cast<i16>(p[2] | (p[3] << 8))) : *l;
  }
}

static void MixVoice(PlatAudioVoice* v, float* acc, u32 frames, u32 out_rate) {
  const u64 step = (static_cast<u64>(v->freq) << 32) / out_rate;
  const float gl = v->gain_l, gr = v->gain_r;
  for (u32 i = 0; i < frames && v->playing; i++) {
    u32 next = v->pos + 1;
    if (next >= v->frames) next = v->looping ? 0 : v->pos;
    float l0, r0, l1, r1;
    ReadFrame(v, v->pos, &l0, &r0);
    ReadFrame(v, next, &l1, &r1);
    const float f = static_cast<float>(v->frac * (1.0 / 4294967296.0));
    acc[2 * i] += (l0 + (l1 - l0) * f) * gl;
    acc[2 * i + 1] += (r0 + (r1 - r0) * f) * gr;
    const u64 at = ((static_cast<u64>(v->pos) << 32) | v->frac) + step;
    v->frac = static_cast<u32>(at);
    u64 pos = at >> 32;
    if (pos >= v->frames) {
      if (v->looping) {
        pos %= v->frames;
      } else {
        v->playing = false;
        pos = 0;
        v->frac = 0;
      }
    }
    v->pos = static_cast<u32>(pos);
  }
}

static void DeleteVoice(PlatAudioVoice* v) {
  delete[] v->data;
  delete v;
}

// Drops the nulls of destroyed voices, keeping the order. Caller holds s_Mutex.
static void CompactVoices() {
  size_t k = 0;
  for (PlatAudioVoice* v : s_Voices) {
    if (!v) continue;
    s_Slots[v] = k;
    s_Voices[k++] = v;
  }
  s_Voices.resize(k);
  s_Holes = 0;
}

void PlatAudioRender(i16* out, u32 frames) {
  thread_local std::vector<PlatAudioVoice*> voices;
  PlatAudioCaptureFn capture;
  void* capture_ctx;
  u32 rate;
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    capture = s_Capture;
    capture_ctx = s_CaptureCtx;
    rate = s_OutRate;
    voices.clear();
    if (s_Open) {
      if (s_Holes > 0 && s_Rendering == 0) CompactVoices();
      for (PlatAudioVoice* v : s_Voices)
        if (v) voices.push_back(v);
    }
    s_Rendering++;
  }
  float acc[2 * kChunkFrames];
  for (u32 done = 0; done < frames;) {
    const u32 n = std::min<u32>(frames - done, kChunkFrames);
    std::memset(acc, 0, sizeof(float) * 2 * n);
    for (PlatAudioVoice* v : voices) {
      std::lock_guard<std::mutex> g(v->lock);
      if (v->playing) MixVoice(v, acc, n, rate);
    }
    for (u32 i = 0; i < 2 * n; i++) {
      const float s = std::nearbyint(acc[i]);
      out[2 * done + i] = static_cast<i16>(std::clamp(s, -32768.0f, 32767.0f));
    }
    done += n;
  }
  std::vector<PlatAudioVoice*> doomed;
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    if (--s_Rendering == 0) doomed.swap(s_Doomed);
  }
  for (PlatAudioVoice* v : doomed) DeleteVoice(v);
  if (capture) capture(capture_ctx, out, frames);
}

static void DeviceCallback(void*, Uint8* stream, int len) {
  PlatAudioRender(reinterpret_cast<i16*>(stream), static_cast<u32>(len) / 4);
}

// ALSA reports through a process-wide handler; the library stays loaded, so SDL's own load of it
// finds the handler set.
static void AlsaQuiet(const char*, int, const char*, int, const char*, ...) {}

int PlatAudioSubsystemStart() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    typedef int (*SetHandler)(void (*)(const char*, int, const char*, int, const char*, ...));
    SetHandler set = lib ? reinterpret_cast<SetHandler>(dlsym(lib, "snd_lib_error_set_handler")) : nullptr;
    if (set) set(AlsaQuiet);
  });
  return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0 ? 0 : -1;
}

void PlatAudioSubsystemStop() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

// SDL keeps per-thread state (its error text) that only its own threads release, so the
// device is opened and closed on a short-lived SDL thread whatever thread asks.
struct DeviceJob {
  u32 rate;
  i32 result;
  SDL_AudioDeviceID device;
};

static int SDLCALL OpenDevice(void* arg) {
  DeviceJob* job = static_cast<DeviceJob*>(arg);
  if (PlatAudioSubsystemStart() != 0) {
    job->result = PLAT_AUDIO_NO_DRIVER;
    return 0;
  }
  SDL_AudioSpec want, have;
  SDL_zero(want);
  want.freq = static_cast<int>(job->rate);
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = DeviceCallback;
  // No changes allowed: SDL converts to whatever the hardware takes.
  job->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (job->device == 0) {
    job->result = SDL_GetNumAudioDevices(0) > 0 ? PLAT_AUDIO_BUSY : PLAT_AUDIO_NO_DRIVER;
    PlatAudioSubsystemStop();
    return 0;
  }
  SDL_PauseAudioDevice(job->device, 0);
  job->result = PLAT_AUDIO_OK;
  return 0;
}

static int SDLCALL CloseDevice(void* arg) {
  SDL_CloseAudioDevice(static_cast<DeviceJob*>(arg)->device);
  PlatAudioSubsystemStop();
  return 0;
}

static void RunOnSdlThread(SDL_ThreadFunction fn, DeviceJob* job) {
  SDL_Thread* t = SDL_CreateThread(fn, "zephra-audio", job);
  if (!t) {
    fn(job);
    return;
  }
  SDL_WaitThread(t, nullptr);
}

i32 PlatAudioOpen(u32 out_rate, bool device) {
  if (out_rate < 8000 || out_rate > 192000) return PLAT_AUDIO_BAD_FORMAT;
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    if (s_Open) return PLAT_AUDIO_BUSY;
    s_OutRate = out_rate;
    s_Open = true;
  }
  if (!device) return PLAT_AUDIO_OK;
  DeviceJob job = {out_rate, PLAT_AUDIO_NO_DRIVER, 0};
  RunOnSdlThread(OpenDevice, &job);
  std::lock_guard<std::mutex> g(s_Mutex);
  if (job.result != PLAT_AUDIO_OK) {
    s_Open = false;
    return job.result;
  }
  s_Device = job.device;
  return PLAT_AUDIO_OK;
}

void PlatAudioClose() {
  DeviceJob job = {0, 0, 0};
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    job.device = s_Device;
    s_Device = 0;
  }
  // Outside the mutex: closing waits for a callback that may be waiting for it.
  if (job.device) RunOnSdlThread(CloseDevice, &job);
  std::vector<PlatAudioVoice*> gone;
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    for (PlatAudioVoice* v : s_Voices) {
      if (!v) continue;
      if (s_Rendering) s_Doomed.push_back(v);
      else gone.push_back(v);
    }
    s_Voices.clear();
    s_Slots.clear();
    s_Holes = 0;
    s_Open = false;
  }
  for (PlatAudioVoice* v : gone) DeleteVoice(v);
}

bool PlatAudioIsOpen() {
  std::lock_guard<std::mutex> g(s_Mutex);
  return s_Open;
}

u32 PlatAudioOutputRate() {
  std::lock_guard<std::mutex> g(s_Mutex);
  return s_Open ? s_OutRate : 0;
}

void PlatAudioSetCapture(PlatAudioCaptureFn fn, void* ctx) {
  std::lock_guard<std::mutex> g(s_Mutex);
  s_Capture = fn;
  s_CaptureCtx = ctx;
}

PlatAudioVoice* PlatAudioVoiceCreate(const PlatAudioFormat* format, u32 buffer_bytes) {
  if (!format || (format->channels != 1 && format->channels != 2) || (format->bits != 8 && format->bits != 16) ||
      format->rate < PLAT_AUDIO_FREQ_MIN || format->rate > PLAT_AUDIO_FREQ_MAX) {
    return nullptr;
  }
  const u16 frame_bytes = static_cast<u16>(format->channels * format->bits / 8);
  if (buffer_bytes == 0 || buffer_bytes % frame_bytes != 0) return nullptr;
  PlatAudioVoice* v = new (std::nothrow) PlatAudioVoice{};
  if (!v) return nullptr;
  v->data = new (std::nothrow) u8[buffer_bytes];
  if (!v->data) {
    delete v;
    return nullptr;
  }
  std::memset(v->data, format->bits == 8 ? 0x80 : 0, buffer_bytes);
  v->size = buffer_bytes;
  v->frames = buffer_bytes / frame_bytes;
  v->channels = format->channels;
  v->bits = format->bits;
  v->frame_bytes = frame_bytes;
  v->base_rate = v->freq = format->rate;
  UpdateGains(v);
  std::lock_guard<std::mutex> g(s_Mutex);
  if (!s_Open) {
    DeleteVoice(v);
    return nullptr;
  }
  s_Slots[v] = s_Voices.size();
  s_Voices.push_back(v);
  return v;
}

void PlatAudioVoiceDestroy(PlatAudioVoice* v) {
  if (!v) return;
  {
    std::lock_guard<std::mutex> g(s_Mutex);
    const auto it = s_Slots.find(v);
    if (it == s_Slots.end()) return;  // already gone with the mixer
    s_Voices[it->second] = nullptr;
    s_Slots.erase(it);
    if (++s_Holes > s_Voices.size() / 2 && s_Rendering == 0) CompactVoices();
    if (s_Rendering) {
      s_Doomed.push_back(v);
      return;
    }
  }
  DeleteVoice(v);
}

static bool RangeOk(const PlatAudioVoice* v, u32 offset, u32 bytes) { return offset < v->size && bytes <= v->size; }

i32 PlatAudioVoiceWrite(PlatAudioVoice* v, u32 offset, const void* data, u32 bytes) {
  if (!v) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  if (!RangeOk(v, offset, bytes)) return -1;
  const u32 first = std::min(bytes, v->size - offset);
  std::memcpy(v->data + offset, data, first);
  std::memcpy(v->data, static_cast<const u8*>(data) + first, bytes - first);
  return 0;
}

i32 PlatAudioVoiceRead(PlatAudioVoice* v, u32 offset, void* data, u32 bytes) {
  if (!v) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  if (!RangeOk(v, offset, bytes)) return -1;
  const u32 first = std::min(bytes, v->size - offset);
  std::memcpy(data, v->data + offset, first);
  std::memcpy(static_cast<u8*>(data) + first, v->data, bytes - first);
  return 0;
}

i32 PlatAudioVoicePlay(PlatAudioVoice* v, bool looping) {
  if (!v) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  v->looping = looping;
  v->playing = true;
  return 0;
}

i32 PlatAudioVoiceStop(PlatAudioVoice* v) {
  if (!v) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  v->playing = false;
  return 0;
}

bool PlatAudioVoiceIsPlaying(PlatAudioVoice* v) {
  if (!v) return false;
  std::lock_guard<std::mutex> g(v->lock);
  return v->playing;
}

i32 PlatAudioVoiceGetPosition(PlatAudioVoice* v, u32* play, u32* write) {
  if (!v) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  // The mixer reads a voice only inside the mutex, so everything before its position has been
  // taken and everything from it on may be rewritten: both cursors stand there.
  const u32 p = v->pos * v->frame_bytes;
  if (play) *play = p;
  if (write) *write = p;
  return 0;
}

i32 PlatAudioVoiceSetVolume(PlatAudioVoice* v, i32 mb) {
  if (!v || mb < PLAT_AUDIO_VOLUME_MIN || mb > 0) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  v->volume_mb = mb;
  UpdateGains(v);
  return 0;
}

i32 PlatAudioVoiceSetPan(PlatAudioVoice* v, i32 pan) {
  if (!v || pan < PLAT_AUDIO_PAN_LEFT || pan > PLAT_AUDIO_PAN_RIGHT) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  v->pan_mb = pan;
  UpdateGains(v);
  return 0;
}

i32 PlatAudioVoiceSetFrequency(PlatAudioVoice* v, u32 hz) {
  if (!v || (hz != 0 && (hz < PLAT_AUDIO_FREQ_MIN || hz > PLAT_AUDIO_FREQ_MAX))) return -1;
  std::lock_guard<std::mutex> g(v->lock);
  v->freq = hz ? hz : v->base_rate;
  return 0;
}
