// Processor features through the platform's CPUID reader, and the kernel set choice: level 1
// plain, level 2 when SSE is present and allowed, level 3 when SSE2 is present and allowed
// (whatever level 2 said). Levels 2 and 3 install the same SIMD set.
#include "layer/cpu.h"

#include "core/config.h"
#include "core/hooks.h"
#include "platform/platform.h"

CpuFeatureFlags g_CpuFeatures;
u8 g_CpuHasAvx2 = 0;
u8 g_CpuHasAvx512 = 0;
i32 g_BlendKernelLevel = 0;

bool BlendCpuidAvailable() { return PlatCpuGetInfo().has_cpuid; }

void BlendCpuDetect() {
  g_CpuFeatures = CpuFeatureFlags{};
  g_CpuHasAvx2 = 0;
  g_CpuHasAvx512 = 0;
  if (!BlendCpuidAvailable()) return;
  const PlatCpuInfo& ci = PlatCpuGetInfo();
  g_CpuFeatures.mmx = ci.mmx;
  g_CpuFeatures.amd3dnow = ci.amd3dnow;
  g_CpuFeatures.amd3dnowext = ci.amd3dnowext;
  g_CpuFeatures.sse = ci.sse;
  g_CpuFeatures.sse2 = ci.sse2;
  g_CpuFeatures.sse3 = ci.sse3;
  g_CpuFeatures.ssse3 = ci.ssse3;
  g_CpuFeatures.sse41 = ci.sse41;
  g_CpuFeatures.sse42 = ci.sse42;
  g_CpuFeatures.sse4a = ci.sse4a;
  g_CpuFeatures.ext_bit11 = ci.ext_ecx11;
  g_CpuHasAvx2 = ci.avx2 ? 1 : 0;
  g_CpuHasAvx512 = ci.avx2 && ci.avx512bw && ci.avx512vbmi ? 1 : 0;
}

i32 BlendKernelLevelFor(const CpuFeatureFlags& features, u32 use_sse, u32 use_sse2) {
  i32 level = 1;
  if (features.sse && use_sse) level = 2;
  if (features.sse2 && use_sse2) level = 3;
  return level;
}

const PixelKernelTable& BlendKernelSetFor(i32 level, bool avx2) {
  if (level >= 2) {
    const PixelKernelTable* set = avx2 ? BlendKernelSetAvx2() : nullptr;
    if (!set) set = BlendKernelSetSse2();
    if (set) return *set;
  }
  return g_BlendKernelsPlain;
}

void BlendInitCpuKernels() {
  BlendCpuDetect();
  g_BlendKernelLevel = BlendKernelLevelFor(g_CpuFeatures, g_CfgUseSse, g_CfgUseSse2);
  g_PixelKernels = BlendKernelSetFor(g_BlendKernelLevel, g_CpuHasAvx2 != 0);
}

void BlendCpuReset() {
  g_CpuFeatures = CpuFeatureFlags{};
  g_CpuHasAvx2 = 0;
  g_CpuHasAvx512 = 0;
  g_BlendKernelLevel = 0;
  g_PixelKernels = g_BlendKernelsPlain;
}
