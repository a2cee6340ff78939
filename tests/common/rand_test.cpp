#include <gtest/gtest.h>

#include <random>

#include "common/rand.h"

TEST(Rand, SeedingAndOutputsMatchThePublishedGenerator) {
  for (u32 seed : {0u, 1u, 5489u, 0xDEADBEEFu}) {
    SysRandomSeed(seed);
    EXPECT_EQ(g_RandIndex, 624u);
    std::mt19937 ref(seed);
    for (int i = 0; i < 2000; i++) ASSERT_EQ(RandNextU32(), ref()) << "seed " << seed << " draw " << i;
  }
  RandReset();
  EXPECT_EQ(RandNextU32(), 3499211612u);  // the first output for the default seed
}

TEST(Rand, SeedStateFollowsTheRecurrence) {
  SysRandomSeed(19650218u);
  EXPECT_EQ(g_RandState[0], 19650218u);
  for (u32 i = 1; i < 624; i++)
    ASSERT_EQ(g_RandState[i], 1812433253u * (g_RandState[i - 1] ^ (g_RandState[i - 1] >> 30)) + i);
}
