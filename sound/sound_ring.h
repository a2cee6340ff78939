// The sound request ring: 1024 preallocated slots that script commands and start-up fill under
// g_EngineLock and the sound thread drains in its locked pass. At most 1023 requests wait: a
// post that would make the write index meet the read index is refused (error 110200) and the
// waiting requests stay as they are. Done flags are atomics, so senders poll them unlocked.
#pragma once
#include <atomic>

#include "common/types.h"

struct ObjNode;

enum { SOUND_RING_SLOTS = 1024, SOUND_RING_NAME_BYTES = 256 };
enum { ERR_SOUND_RING_FULL = 110200 };

// Operation codes; the handler of op n is entry n of the handler table.
enum {
  SOUND_OP_LOAD = 1,
  SOUND_OP_PLAY = 2,
  SOUND_OP_PAUSE = 3,
  SOUND_OP_FADE_OUT = 4,
  SOUND_OP_SET_VOLUME = 5,
  SOUND_OP_SET_NEXT_VOLUME = 6,
  SOUND_OP_SET_LOOP_COUNT = 7,
  SOUND_OP_SET_END = 8,
  SOUND_OP_SET_START = 9,
  SOUND_OP_SET_LOOP_POINT = 10,
  SOUND_OP_SET_PAN = 11,
  SOUND_OP_SET_SPEED = 12,
  SOUND_OP_NOP = 13,
  SOUND_OP_UNLOAD = 14,
  SOUND_OP_COUNT = 15,
};

struct SoundRequestRing {
  i32 read_index;
  i32 write_index;
  ObjNode** object;  // null: the slot carries nothing
  u8* operation;
  char** file_name;  // each a preallocated SOUND_RING_NAME_BYTES buffer (op 1)
  i32* argument;
  std::atomic<u32>* done;  // 0 when posted, 1 once run or skipped
};

extern SoundRequestRing g_SoundRequestRing;

// A request handler takes the slot index and reads object, argument and name from the slot.
typedef i32 (*SoundRequestHandler)(i32 slot);
// The handlers of ops 1 to 14 at their codes (sound_ops.cpp).
extern const SoundRequestHandler g_SoundRequestHandlerTable[SOUND_OP_COUNT];
// The table the drain uses: g_SoundRequestHandlerTable (tests put their own in); a null table or
// entry runs nothing.
extern const SoundRequestHandler* g_SoundRequestHandlers;

// Allocates the ring once; later calls keep it. -1 when memory runs out.
i32 SoundRingInit();
// Posts one request (takes g_EngineLock). Returns the slot, or -1 when the ring is full (error
// 110200 raised, not fatal) or not initialised.
i32 SoundRingPost(ObjNode* node, u8 op, i32 argument, const char* file_name);
// Runs every waiting slot in order and marks it done. The caller holds g_EngineLock.
void SoundDrainRequests();
// True while requests wait (takes g_EngineLock).
bool SoundRingPending();
// Waits without the lock until the slot is done, sleeping on the pass event between looks.
// Gives up (-1) when the sound thread is not running or quit is requested, so a sender never
// hangs on a dead thread.
i32 SoundRingWaitDone(i32 slot);
// The sound thread's sleep between passes: at most ms, cut short by the next post. False on
// time-out.
bool SoundRingWaitPost(u32 ms);
// Tells waiting senders that a pass (or the thread) has finished: they look again at once.
void SoundRingSignalPass();
// A sender's sleep until the next finished pass, at most a few milliseconds (it then looks at
// its flags again, so a missed signal costs only that much).
void SoundRingWaitPass();
// Clears the object of every waiting slot that names node, so the drain skips them (a node about
// to be freed). The caller holds g_EngineLock.
void SoundRingForget(const ObjNode* node);

// Tests: an empty ring (the slots' buffers stay allocated).
void SoundRingReset();
