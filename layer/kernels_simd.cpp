// The SIMD kernel set and SIMD blend-mode kernels built for SSE2, which every x86-64 processor
// has; on other processors this file provides no set and the plain set is used.
#include "layer/blend.h"
#include "layer/kernels.h"

#if defined(__SSE2__)
#define ZP_SIMD_NS zp_sse2
#include "layer/blend_simd_impl.h"
#include "layer/kernels_simd_impl.h"

const PixelKernelTable* BlendKernelSetSse2() { return &zp_sse2::kKernelSet<zp_sse2::VecSse2>; }

bool BlendModeKernelsSse2(BlendModeKernelSet* set) {
  zp_sse2::FillModeKernels<zp_sse2::VecSse2>(set);
  return true;
}
#else
const PixelKernelTable* BlendKernelSetSse2() { return nullptr; }
bool BlendModeKernelsSse2(BlendModeKernelSet*) { return false; }
#endif
