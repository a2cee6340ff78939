// Audio: an own software mixer on one SDL audio device that behaves as DirectSound secondary
// buffers do. Each voice is a circular PCM buffer (8/16-bit, mono/stereo, any rate) with a play
// cursor that the mixer advances; everything before it in the current lap has been taken.
// Voices carry volume and pan in hundredths of a decibel and a frequency reached by resampling;
// the sum is clipped to 16-bit stereo. All voice state sits behind the mixer's own locks, which are
// never held while calling into the engine.
#pragma once
#include "common/types.h"

enum {
  PLAT_AUDIO_OK = 0,
  PLAT_AUDIO_NO_DRIVER = -1,  // no audio subsystem or driver
  PLAT_AUDIO_BUSY = -2,       // the driver could not open its device
  PLAT_AUDIO_NO_MEMORY = -3,
  PLAT_AUDIO_BAD_FORMAT = -4,
  PLAT_AUDIO_NOT_OPEN = -5,
};

// Volume and pan limits in hundredths of a decibel, as DirectSound's.
enum { PLAT_AUDIO_VOLUME_MIN = -10000, PLAT_AUDIO_PAN_LEFT = -10000, PLAT_AUDIO_PAN_RIGHT = 10000 };
enum { PLAT_AUDIO_FREQ_MIN = 100, PLAT_AUDIO_FREQ_MAX = 200000 };

struct PlatAudioFormat {
  u16 channels;  // 1 or 2
  u16 bits;      // 8 (unsigned) or 16 (signed little-endian)
  u32 rate;      // frames per second, PLAT_AUDIO_FREQ_MIN..MAX
};

struct PlatAudioVoice;

// Opens the mixer with 16-bit stereo output at out_rate. With device set, one SDL audio device
// pulls frames on its own thread; without it frames come only from PlatAudioRender, so tests
// render deterministically. Opening an open mixer fails with PLAT_AUDIO_BUSY.
i32 PlatAudioOpen(u32 out_rate, bool device);
// SDL's audio subsystem, counted like SDL_InitSubSystem: 0 or -1. ALSA's own error lines (a
// machine without a sound card) are silenced first: the engine reports a missing device itself.
int PlatAudioSubsystemStart();
void PlatAudioSubsystemStop();
// Closes the device and destroys every voice left.
void PlatAudioClose();
bool PlatAudioIsOpen();
u32 PlatAudioOutputRate();

// Renders frames of 16-bit stereo (interleaved left, right) from the current voices into out and
// advances them, as the device's thread does. Silence when the mixer is closed.
void PlatAudioRender(i16* out, u32 frames);
// Called with every rendered block, on the thread that rendered it (end-to-end tests).
typedef void (*PlatAudioCaptureFn)(void* ctx, const i16* frames, u32 count);
void PlatAudioSetCapture(PlatAudioCaptureFn fn, void* ctx);

// A stopped voice with its buffer of buffer_bytes (a whole number of frames) filled with the
// format's silence, play cursor 0, volume 0 mB, pan 0, frequency = the format's rate.
// Null when the mixer is closed, the format is not supported or memory runs out.
PlatAudioVoice* PlatAudioVoiceCreate(const PlatAudioFormat* format, u32 buffer_bytes);
void PlatAudioVoiceDestroy(PlatAudioVoice* v);

// Copies bytes into (or out of) the circular buffer from offset on, wrapping at its end.
// Fails when offset or bytes exceed the buffer.
i32 PlatAudioVoiceWrite(PlatAudioVoice* v, u32 offset, const void* data, u32 bytes);
i32 PlatAudioVoiceRead(PlatAudioVoice* v, u32 offset, void* data, u32 bytes);

// Starts playing from the play cursor; a looping voice wraps at the end of its buffer, another
// one stops there with its play cursor back at 0. Stop keeps the play cursor.
i32 PlatAudioVoicePlay(PlatAudioVoice* v, bool looping);
i32 PlatAudioVoiceStop(PlatAudioVoice* v);
bool PlatAudioVoiceIsPlaying(PlatAudioVoice* v);
// Play and write cursor: the byte the mixer takes next. The mixer reads voices only under its
// lock, so the bytes before the cursor (this lap) are taken and those from it on may be written.
i32 PlatAudioVoiceGetPosition(PlatAudioVoice* v, u32* play, u32* write);

// Volume: -10000 (silent) .. 0 mB, gain 10^(mB/2000). Pan: -10000 (left only) .. 10000 (right
// only); the other channel is attenuated by |pan| mB. Frequency: 0 resets to the format's
// rate, else PLAT_AUDIO_FREQ_MIN..MAX. Values outside fail and change nothing.
i32 PlatAudioVoiceSetVolume(PlatAudioVoice* v, i32 mb);
i32 PlatAudioVoiceSetPan(PlatAudioVoice* v, i32 pan);
i32 PlatAudioVoiceSetFrequency(PlatAudioVoice* v, u32 hz);

// Gain of an attenuation in hundredths of a decibel (0 at -10000 and below).
double PlatAudioGainFromMb(i32 mb);

// ---- Compressed sound data -------------------------------------------------------------------
// A WAV file in memory whose data is decoded whole by FFmpeg (its WAV reader and the decoder of
// the format tag, as a system codec converts any installed format): 16-bit signed little-endian
// samples, interleaved, at the decoder's channel count (1 or 2) and rate. The samples start head
// bytes into data (malloc'd; the first head bytes are the caller's, for a header).
struct PlatDecodedSound {
  u8* data;
  u64 bytes;  // of samples, after the head
  u16 channels;
  u32 rate;
};
enum {
  PLAT_DECODE_NO_DECODER = -1,  // FFmpeg missing, or nothing reads or plays the format
  PLAT_DECODE_NO_MEMORY = -2,   // memory ran out, or the samples would pass max_bytes
  PLAT_DECODE_DAMAGED = -3,     // the data broke off before anything was decoded
};
// 0 with *out filled (a break-off later keeps what was decoded), or one of the codes above with
// nothing left behind.
i32 PlatAudioDecodeWav(const u8* wav, size_t size, size_t head, u64 max_bytes, PlatDecodedSound* out);
