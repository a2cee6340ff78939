// The request ring. Posting never allocates: the slots and their name buffers are made once by
// SoundRingInit and live for the whole run. Indexes and slots change only under g_EngineLock.
#include "sound/sound_ring.h"

#include <cassert>

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/sjis.h"
#include "core/err.h"
#include "core/sys.h"
#include "platform/platform.h"
#include "sound/sound_thread.h"

SoundRequestRing g_SoundRequestRing = {};
// Made with the ring and never freed: posts wake the thread through s_Posted, finished passes
// wake the senders through s_Passed.
static PlatEvent* s_Posted = nullptr;
static PlatEvent* s_Passed = nullptr;
static const i32 kSenderWaitMs = 5;
const SoundRequestHandler* g_SoundRequestHandlers = g_SoundRequestHandlerTable;

i32 SoundRingInit() {
  EngineLockGuard lock;
  SoundRequestRing& r = g_SoundRequestRing;
  if (r.done) return 0;
  r.object = static_cast<ObjNode**>(std::calloc(SOUND_RING_SLOTS, sizeof(ObjNode*)));
  r.operation = static_cast<u8*>(std::calloc(SOUND_RING_SLOTS, 1));
  r.file_name = static_cast<char**>(std::calloc(SOUND_RING_SLOTS, sizeof(char*)));
  r.argument = static_cast<i32*>(std::calloc(SOUND_RING_SLOTS, sizeof(i32)));
  char* names = static_cast<char*>(std::calloc(SOUND_RING_SLOTS, SOUND_RING_NAME_BYTES));
  std::atomic<u32>* done = new (std::nothrow) std::atomic<u32>[SOUND_RING_SLOTS];
  if (!s_Posted) s_Posted = PlatEventCreate(false, false);
  if (!s_Passed) s_Passed = PlatEventCreate(false, false);
  if (!r.object || !r.operation || !r.file_name || !r.argument || !names || !done) {
    std::free(r.object);
    std::free(r.operation);
    std::free(r.file_name);
    std::free(r.argument);
    std::free(names);
    delete[] done;
    r = {};
    return -1;
  }
  for (i32 i = 0; i < SOUND_RING_SLOTS; i++) {
    r.file_name[i] = names + static_cast<size_t>(i) * SOUND_RING_NAME_BYTES;
    done[i].store(1);
  }
  r.read_index = r.write_index = 0;
  r.done = done;
  return 0;
}

i32 SoundRingPost(ObjNode* node, u8 op, i32 argument, const char* file_name) {
  SoundRequestRing& r = g_SoundRequestRing;
  {
    EngineLockGuard lock;
    if (!r.done) return -1;
    const i32 w = r.write_index;
    assert(w >= 0 && w < SOUND_RING_SLOTS && r.read_index >= 0 && r.read_index < SOUND_RING_SLOTS);
    const i32 next = (w + 1) % SOUND_RING_SLOTS;
    // Full: this request is refused rather than the ring wrapped into an empty one.
    if (next != r.read_index) {
      r.object[w] = node;
      r.operation[w] = op;
      if (op == SOUND_OP_LOAD) StrCopySjis(r.file_name[w], SOUND_RING_NAME_BYTES, file_name ? file_name : "");
      r.argument[w] = argument;
      r.done[w].store(0);
      r.write_index = next;
      PlatEventSet(s_Posted);
      return w;
    }
  }
  // Raised outside the lock: the error dialog must not hold up the sound thread.
  ErrRaiseF(ERR_SOUND_RING_FULL, 0);
  return -1;
}

void SoundDrainRequests() {
  SoundRequestRing& r = g_SoundRequestRing;
  if (!r.done) return;
  while (r.read_index != r.write_index) {
    const i32 slot = r.read_index;
    const u8 op = r.operation[slot];
    if (r.object[slot] && op < SOUND_OP_COUNT && g_SoundRequestHandlers && g_SoundRequestHandlers[op]) {
      g_SoundRequestHandlers[op](slot);  // results are not reported
    }
    r.done[slot].store(1);
    r.read_index = (slot + 1) % SOUND_RING_SLOTS;
  }
}

bool SoundRingPending() {
  EngineLockGuard lock;
  return g_SoundRequestRing.read_index != g_SoundRequestRing.write_index;
}

i32 SoundRingWaitDone(i32 slot) {
  if (slot < 0 || slot >= SOUND_RING_SLOTS || !g_SoundRequestRing.done) return -1;
  while (g_SoundRequestRing.done[slot].load() == 0) {
    if (g_SoundThreadState.load() != SOUND_THREAD_RUNNING || g_QuitRequested.load()) return -1;
    SoundRingWaitPass();
  }
  return 0;
}

bool SoundRingWaitPost(u32 ms) {
  if (!s_Posted) {
    PlatSleepMs(ms);
    return false;
  }
  return PlatEventWait(s_Posted, static_cast<i32>(ms));
}

void SoundRingSignalPass() {
  if (s_Passed) PlatEventSet(s_Passed);
}

void SoundRingWaitPass() {
  if (!s_Passed) {
    PlatSleepMs(1);
    return;
  }
  PlatEventWait(s_Passed, kSenderWaitMs);
}

void SoundRingForget(const ObjNode* node) {
  SoundRequestRing& r = g_SoundRequestRing;
  if (!r.done || !node) return;
  for (i32 i = r.read_index; i != r.write_index; i = (i + 1) % SOUND_RING_SLOTS) {
    if (r.object[i] == node) r.object[i] = nullptr;
  }
}

void SoundRingReset() {
  EngineLockGuard lock;
  SoundRequestRing& r = g_SoundRequestRing;
  if (!r.done) return;
  for (i32 i = 0; i < SOUND_RING_SLOTS; i++) {
    r.object[i] = nullptr;
    r.operation[i] = 0;
    r.argument[i] = 0;
    r.file_name[i][0] = 0;
    r.done[i].store(1);
  }
  r.read_index = r.write_index = 0;
}
