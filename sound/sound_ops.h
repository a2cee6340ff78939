// The sound request handlers: what the sound thread runs for each operation of the request
// ring, by the object's play state. Each takes a ring slot and reads its node, argument and file
// name; each returns 0 for a slot without an object, and ops 7 to 12 and 14 return 1 without
// doing anything while the object is unloaded. Results are not reported.
#pragma once
#include "common/types.h"

i32 SoundOpLoad(i32 slot);           // 1: load the slot's file, or unload a loaded object
i32 SoundOpPlay(i32 slot);           // 2: play with a fade-in of argument ms
i32 SoundOpPause(i32 slot);          // 3: paused byte := argument; pause or resume (subtree)
i32 SoundOpFadeOut(i32 slot);        // 4: fade to silence over argument ms, then unload
i32 SoundOpSetVolume(i32 slot);      // 5: volume now
i32 SoundOpSetNextVolume(i32 slot);  // 6: volume that the next play fades to
i32 SoundOpSetLoopCount(i32 slot);   // 7: plays left for the decoder
i32 SoundOpSetEnd(i32 slot);         // 8: end, ms
i32 SoundOpSetStart(i32 slot);       // 9: start, ms
i32 SoundOpSetLoopPoint(i32 slot);   // 10: loop-back, ms
i32 SoundOpSetPan(i32 slot);         // 11
i32 SoundOpSetSpeed(i32 slot);       // 12
i32 SoundOpNop(i32 slot);            // 13: nothing
i32 SoundOpUnload(i32 slot);         // 14
