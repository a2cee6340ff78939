// The engine's one random generator: MT19937 (624-word state, the standard constants and
// tempering). Seeded once at engine initialisation; the math command draws from it. Used only by
// the thread that runs frames.
#pragma once
#include "common/types.h"

enum { RAND_STATE_WORDS = 624 };

extern u32 g_RandState[RAND_STATE_WORDS];
extern u32 g_RandIndex;  // next word to temper; RAND_STATE_WORDS means "regenerate first"

// state[0] = seed, state[i] = 1812433253 * (state[i-1] ^ (state[i-1] >> 30)) + i, index = 624.
void SysRandomSeed(u32 seed);
// The next 32-bit output.
u32 RandNextU32();
// Tests: the state as after SysRandomSeed(5489), the generator's customary default (and the
// C runtime generator below seeded with 1).
void RandReset();

// The C runtime's rand() as the Windows runtime computes it, kept here so that every build draws
// the same numbers (the scatter effect uses it): state = state * 214013 + 2531011, result
// (state >> 16) & 0x7FFF. Seeded at engine initialisation; 1 until then.
extern u32 g_RandCrtState;
void RandCrtSeed(u32 seed);
i32 RandCrtNext();  // 0..32767
