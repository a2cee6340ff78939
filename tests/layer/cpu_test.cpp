#include <gtest/gtest.h>

#include <cstring>

#include "core/config.h"
#include "display/gpu.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "platform/platform.h"
#include "script/save.h"
#include "shell/menu.h"
#include "sound/movie.h"

namespace {

struct CpuTest : ::testing::Test {
  void SetUp() override { BlendCpuReset(); }
  void TearDown() override {
    g_CfgUseSse = 1;
    g_CfgUseSse2 = 1;
    BlendCpuReset();
  }
};

TEST_F(CpuTest, LevelFollowsFeaturesAndSettings) {
  struct Case {
    int sse, sse2;
    u32 use_sse, use_sse2;
    int level;
  };
  const Case cases[] = {
      {0, 0, 1, 1, 1}, {1, 0, 1, 1, 2}, {1, 0, 0, 1, 1}, {1, 1, 1, 1, 3}, {1, 1, 0, 1, 3},
      {1, 1, 1, 0, 2}, {1, 1, 0, 0, 1}, {0, 1, 0, 1, 3}, {0, 1, 1, 0, 1}, {1, 1, 7, 9, 3},
  };
  for (const Case& c : cases) {
    CpuFeatureFlags f{};
    f.sse = c.sse;
    f.sse2 = c.sse2;
    EXPECT_EQ(BlendKernelLevelFor(f, c.use_sse, c.use_sse2), c.level)
        << c.sse << c.sse2 << " " << c.use_sse << c.use_sse2;
  }
  // A processor without CPUID has every flag 0 and gets the plain set.
  EXPECT_EQ(BlendKernelLevelFor(CpuFeatureFlags{}, 1, 1), 1);
  EXPECT_EQ(&BlendKernelSetFor(1, true), &g_BlendKernelsPlain);
}

TEST_F(CpuTest, DetectCopiesTheProcessorsFlags) {
  BlendCpuDetect();
  const PlatCpuInfo& ci = PlatCpuGetInfo();
  EXPECT_EQ(g_CpuFeatures.sse2, ci.has_cpuid && ci.sse2 ? 1 : 0);
  EXPECT_EQ(g_CpuFeatures.sse42, ci.has_cpuid && ci.sse42 ? 1 : 0);
  EXPECT_EQ(g_CpuFeatures.sse4a, ci.has_cpuid && ci.sse4a ? 1 : 0);
  const i32* fields = &g_CpuFeatures.mmx;
  for (int i = 0; i < 11; i++) EXPECT_TRUE(fields[i] == 0 || fields[i] == 1) << i;
}

// Every settings combination on this processor installs the set its level names.
TEST_F(CpuTest, InitInstallsTheChosenSetForEverySettingsCombination) {
  for (u32 use_sse = 0; use_sse < 2; use_sse++) {
    for (u32 use_sse2 = 0; use_sse2 < 2; use_sse2++) {
      g_CfgUseSse = use_sse;
      g_CfgUseSse2 = use_sse2;
      BlendInitCpuKernels();
      int want = 1;
      if (g_CpuFeatures.sse && use_sse) want = 2;
      if (g_CpuFeatures.sse2 && use_sse2) want = 3;
      EXPECT_EQ(g_BlendKernelLevel, want) << use_sse << use_sse2;
      const PixelKernelTable* simd = g_CpuHasAvx2 && BlendKernelSetAvx2() ? BlendKernelSetAvx2() : BlendKernelSetSse2();
      const PixelKernelTable& expect = want == 1 || !simd ? g_BlendKernelsPlain : *simd;
      EXPECT_EQ(0, std::memcmp(&g_PixelKernels, &expect, sizeof expect)) << use_sse << use_sse2;
      // The sets differ in the slots that have two members and share the rest.
      EXPECT_EQ(g_PixelKernels.alpha == g_BlendKernelsPlain.alpha, want == 1 || !simd);
    }
  }
}

TEST_F(CpuTest, SseAloneStillSelectsTheSimdSet) {
  // With SSE2 allowed off but SSE on, level 2 installs the same SIMD set as level 3.
  if (!BlendKernelSetSse2()) GTEST_SKIP() << "no SIMD set in this build";
  EXPECT_EQ(&BlendKernelSetFor(2, false), &BlendKernelSetFor(3, false));
  EXPECT_NE(&BlendKernelSetFor(2, false), &g_BlendKernelsPlain);
}

}  // namespace
