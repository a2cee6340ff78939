// Processor features and the choice of pixel kernel set. The features are read once at start-up
// (after the settings file, before the system report); the chosen set is installed into
// g_PixelKernels then and never changed while the engine runs.
#pragma once
#include "common/types.h"
#include "layer/kernels.h"

// Each field 0 or 1; all 0 when the processor has no CPUID instruction.
struct CpuFeatureFlags {
  i32 mmx;          // leaf 1 EDX bit 23
  i32 amd3dnow;     // leaf 0x80000001 EDX bit 31
  i32 amd3dnowext;  // leaf 0x80000001 EDX bit 30
  i32 sse;          // leaf 1 EDX bit 25
  i32 sse2;         // leaf 1 EDX bit 26
  i32 sse3;         // leaf 1 ECX bit 0
  i32 ssse3;        // leaf 1 ECX bit 9
  i32 sse41;        // leaf 1 ECX bit 19
  i32 sse42;        // leaf 1 ECX bit 20
  i32 sse4a;        // leaf 0x80000001 ECX bit 6
  i32 ext_bit11;    // leaf 0x80000001 ECX bit 11
};
extern CpuFeatureFlags g_CpuFeatures;
// AVX2 usable (processor and operating system); picks the AVX2 members of the SIMD set.
extern u8 g_CpuHasAvx2;
// AVX-512 with byte and word operations and byte permutes usable (AVX-512BW and VBMI); picks the
// widest rows of the threaded bilinear resize.
extern u8 g_CpuHasAvx512;
// The level BlendInitCpuKernels chose: 1 plain, 2 SIMD by SSE, 3 SIMD by SSE2 (0 before).
extern i32 g_BlendKernelLevel;

// Whether the processor has CPUID (the ID flag of EFLAGS can be toggled).
bool BlendCpuidAvailable();
// Fills g_CpuFeatures, g_CpuHasAvx2 and g_CpuHasAvx512.
void BlendCpuDetect();
// The level for these features and the two settings values.
i32 BlendKernelLevelFor(const CpuFeatureFlags& features, u32 use_sse, u32 use_sse2);
// The set a level installs: the plain set for level 1, else the SIMD set (AVX2 members when
// avx2 is set and built, else SSE2; the plain set on a build without SIMD code).
const PixelKernelTable& BlendKernelSetFor(i32 level, bool avx2);
// Detects, chooses the level from g_CfgUseSse / g_CfgUseSse2 and installs the set.
void BlendInitCpuKernels();
// Tests: features cleared, plain set installed, level 0.
void BlendCpuReset();
