// MT19937 as published: all 624 words are regenerated when the index runs out, then each output
// is tempered. A draw before any seeding seeds with the customary default first.
#include "common/rand.h"

u32 g_RandState[RAND_STATE_WORDS];
u32 g_RandIndex = RAND_STATE_WORDS + 1;  // not seeded yet

void SysRandomSeed(u32 seed) {
  g_RandState[0] = seed;
  for (u32 i = 1; i < RAND_STATE_WORDS; i++)
    g_RandState[i] = 1812433253u * (g_RandState[i - 1] ^ (g_RandState[i - 1] >> 30)) + i;
  g_RandIndex = RAND_STATE_WORDS;
}

static void Regenerate() {
  const u32 upper = 0x80000000u, lower = 0x7FFFFFFFu, matrix = 0x9908B0DFu;
  for (u32 i = 0; i < RAND_STATE_WORDS; i++) {
    u32 y = (g_RandState[i] & upper) | (g_RandState[(i + 1) % RAND_STATE_WORDS] & lower);
    g_RandState[i] = g_RandState[(i + 397) % RAND_STATE_WORDS] ^ (y >> 1) ^ ((y & 1) ? matrix : 0);
  }
  g_RandIndex = 0;
}

u32 RandNextU32() {
  if (g_RandIndex > RAND_STATE_WORDS) SysRandomSeed(5489);  // drawn before seeding
  if (g_RandIndex == RAND_STATE_WORDS) Regenerate();
  u32 y = g_RandState[g_RandIndex++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

void RandReset() {
  SysRandomSeed(5489);
  RandCrtSeed(1);
}

u32 g_RandCrtState = 1;

void RandCrtSeed(u32 seed) { g_RandCrtState = seed; }

i32 RandCrtNext() {
  g_RandCrtState = g_RandCrtState * 214013u + 2531011u;
  return static_cast<i32>((g_RandCrtState >> 16) & 0x7FFF);
}
