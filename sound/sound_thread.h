// The sound thread: it owns the audio device, drains the request ring and runs the tree's
// fades, position tracking and refills, each pass entirely under g_EngineLock. It passes every
// 3 ms while requests wait and every 20 ms otherwise; a request posted in between runs at once,
// in a turn of its own that only drains the ring. Start-up waits for its device set-up at most
// 30 s. State bytes are atomics so that waiting senders may poll them unlocked.
#pragma once
#include <atomic>

#include "common/types.h"

enum { SOUND_THREAD_RUNNING = 0, SOUND_THREAD_ENDED = 1, SOUND_THREAD_NEVER_STARTED = 255 };
enum { SOUND_OUTPUT_RATE = 44100, SOUND_WATCHDOG_MS = 30000 };
enum { ERR_SOUND_DEVICE_LEVEL = 110010 };

// Device results, as DirectSound's HRESULTs (they choose the message shown).
constexpr i32 SOUND_DSERR_ALLOCATED = static_cast<i32>(0x8878000Au);
constexpr i32 SOUND_DSERR_NODRIVER = static_cast<i32>(0x88780078u);
constexpr i32 SOUND_E_OUTOFMEMORY = static_cast<i32>(0x8007000Eu);
constexpr i32 SOUND_E_INVALIDARG = static_cast<i32>(0x80070057u);
constexpr i32 SOUND_CLASS_E_NOAGGREGATION = static_cast<i32>(0x80040110u);
constexpr i32 SOUND_E_FAIL = static_cast<i32>(0x80004005u);

extern std::atomic<u8> g_SoundThreadState;    // SOUND_THREAD_...
extern std::atomic<u8> g_SoundStartReturned;  // 1 once the device set-up has returned
extern std::atomic<u8> g_SoundDevice;         // 1 while the engine's mixer is open
extern u8 g_SoundFocusMuted;                  // the tree is paused for the lost focus (g_EngineLock)

// Start-up: ring, thread, and the wait for the thread's device set-up. 0 go on, -1 start-up
// fails (time-out, a quit signal, or the "ROOT" object cannot be made).
i32 SoundStartupWatchdog();
// The object "ROOT" under the tree root, looping the generated silence from start-up to shutdown
// so the output never stops: its requests are posted without waiting. 0, or -1 after error
// 100010.
i32 SoundRootCreate();
// One pass of the thread, all under g_EngineLock: focus mute, requests, fades, positions,
// refills. Returns the quit flag as the pass saw it.
u8 SoundThreadPass();
// A turn between passes, under g_EngineLock: the waiting requests only. Returns the quit flag.
u8 SoundDrainPass();
// Pauses the tree when the main window loses the focus (or the frames pause for it) and resumes
// it when the focus comes back; with the game running in the background only the frames' pause
// counts. The caller holds g_EngineLock.
void SoundFocusMute();
// Starts the thread; a thread that cannot be made is reported and left to the watchdog.
i32 SoundThreadStart();
void SoundThreadMain(void* arg);
// Opens the mixer on the audio device: 0, or a device result.
i32 SoundCreateDevice();
void SoundReleaseDevice();
// End of the thread: let a pass in flight finish, then release every stream of the tree.
void SoundReleaseAll();
// The message for a device result (UTF-8), or null when none is shown.
const char* SoundDeviceErrorText(i32 result, u8 enabled);
// Waits for a thread that has ended by itself and frees its handle (shutdown, tests). False while
// a thread is left that has not finished (one the start-up wait gave up on).
bool SoundThreadJoin();

// Tests: the state of a run that has not started the thread (after SoundThreadJoin).
void SoundThreadReset();
