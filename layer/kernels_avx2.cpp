// The SIMD kernel set and SIMD blend-mode kernels built for AVX2 (32 bytes a step). The build
// compiles this whole file for AVX2, so nothing here may run before the processor check: it
// holds no dynamic initialisation, and its two entry points are called only when
// g_CpuHasAvx2 is set. Everything else lives in its own namespace (no shared inline copies).
#include "layer/blend.h"
#include "layer/kernels.h"

#if defined(__AVX2__)
#define ZP_SIMD_NS zp_avx2
#include "layer/blend_simd_impl.h"
#include "layer/kernels_simd_impl.h"

const PixelKernelTable* BlendKernelSetAvx2() { return &zp_avx2::kKernelSet<zp_avx2::VecAvx2>; }

bool BlendModeKernelsAvx2(BlendModeKernelSet* set) {
  zp_avx2::FillModeKernels<zp_avx2::VecAvx2>(set);
  return true;
}
#else
const PixelKernelTable* BlendKernelSetAvx2() { return nullptr; }
bool BlendModeKernelsAvx2(BlendModeKernelSet*) { return false; }
#endif
