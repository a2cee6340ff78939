// The pixel row kernels: 26 slots, filled once at start-up from the plain set or the SIMD set and
// read-only afterwards. Pixels are B, G, R, A bytes; counts are bytes (4 per pixel) except for
// slot 21. Kernels need no alignment and keep no state; a count of 0 or less does nothing, and
// opacities and factors are clamped to 0..256.
#pragma once
#include "common/types.h"

// Where a slot works in 8-byte groups, the plain set starts its groups at the row's first byte;
// the SIMD set first brings the destination to an 8-byte boundary with a head computed like the
// bytes after the last group. Byte-wise slots (4, 8, 15) take head bytes up to that boundary;
// pixel-wise slots (5, 6, 7) take one head pixel when bit 2 of the destination address is set.
// Slot 14 works in 4-byte groups, so its SIMD head pixel is a group of its own. Results of those
// slots therefore depend on the destination's position mod 8, as intended. Slot 21 of the SIMD
// set takes the rounding average of each column's two rows, then of the two columns.

typedef void (*KernelZeroFn)(u8* dst, i32 bytes);
typedef void (*KernelFillBytesFn)(u8* dst, i32 bytes, u8 value);
typedef void (*KernelFillColourFn)(u8* dst, i32 bytes, u32 colour);
typedef void (*KernelRowFn)(u8* dst, const u8* src, i32 bytes);
typedef void (*KernelRowOpFn)(u8* dst, const u8* src, i32 op, i32 bytes);
typedef void (*KernelMaskFn)(u8* dst, const u8* src, const u8* mask, i32 progress, i32 softness, i32 bytes);
typedef void (*KernelCrossFadeFn)(u8* dst, const u8* a, const u8* b, i32 w, i32 bytes);
typedef void (*KernelHalveFn)(u8* dst, const u8* src, i32 src_stride_px, i32 dst_pixels);
typedef void (*KernelRowFactorOpFn)(u8* dst, const u8* src, i32 f, i32 op, i32 bytes);

// In slot order; see the slot numbers.
struct PixelKernelTable {
  KernelZeroFn zero;                            // 0  every byte 0
  KernelFillBytesFn fill_bytes;                 // 1  every byte = value
  KernelFillColourFn fill_colour;               // 2  every whole pixel = colour
  KernelRowFn copy;                             // 3  d = s
  KernelRowOpFn opacity;                        // 4  d + (s - d) * op / 256
  KernelRowFn alpha;                            // 5  weight sa + 1
  KernelRowOpFn alpha_opacity;                  // 6  weight (sa * op >> 8) + 1
  KernelMaskFn mask;                            // 7  rule mask, g_MaskWeights
  KernelCrossFadeFn cross_fade;                 // 8  dst = a + (b - a) * w / 256
  KernelRowFn add;                              // 9  min(d + s, 255)
  KernelRowOpFn add_opacity;                    // 10
  KernelRowOpFn add_alpha;                      // 11 (op ignored)
  KernelRowOpFn add_alpha_opacity;              // 12
  KernelRowFn sub;                              // 13 max(s - d, 0)
  KernelRowFn mul;                              // 14
  KernelRowFn screen;                           // 15
  KernelRowOpFn screen_opacity;                 // 16
  KernelRowFn lighten;                          // 17 max(s, d)
  KernelRowFn darken;                           // 18 min(s, d)
  KernelRowFn linear_burn;                      // 19 max(d + s - 255, 0)
  KernelRowFn linear_light;                     // 20 clamp(d + 2s - 256, 0, 255)
  KernelHalveFn halve;                          // 21 2 x 2 box (SIMD: rows, then columns)
  KernelRowFn over;                             // 22 source over, real alpha
  KernelRowOpFn over_opacity;                   // 23
  KernelRowOpFn over_dst_scaled;                // 24 (op = destination alpha factor f)
  KernelRowFactorOpFn over_dst_scaled_opacity;  // 25
};
static_assert(sizeof(PixelKernelTable) == 26 * sizeof(void*), "26 slots");

// The installed set; every pixel operation of the engine goes through it.
extern PixelKernelTable g_PixelKernels;

// The plain set (portable scalar code, groups from the row start).
extern const PixelKernelTable g_BlendKernelsPlain;
// The SIMD set built with SSE2 or with AVX2 members; nullptr where this build has no such code.
const PixelKernelTable* BlendKernelSetSse2();
const PixelKernelTable* BlendKernelSetAvx2();

// For a soft-edged mask, whose weight is clamp(m * half_f + c, 0, 255) + 1 for mask byte m
// (half_f 0..127, |c| within 16 bits): every byte below *skip_below weighs 1 and every byte
// from *copy_from on weighs 256 (each bound 0..256).
void BlendMaskSoftBounds(int half_f, int c, int* skip_below, int* copy_from);
// The same weight for every mask byte m, for any softness f and progress p (0..256): w[m] =
// clamp(m * (f >> 1) + (f >> 1) * p - 128 * f + p, 0, 255) + 1, worked out in 64 bits.
void BlendMaskSoftWeights(i32 f, i32 p, i32 w[256]);

// Members that both sets share, portable versions (the SIMD files carry their own copies of
// the same arithmetic).
void BlendKernelZero(u8* dst, i32 bytes);
void BlendKernelCopy(u8* dst, const u8* src, i32 bytes);
void BlendKernelAdd(u8* dst, const u8* src, i32 bytes);
void BlendKernelAddOpacity(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelSub(u8* dst, const u8* src, i32 bytes);
void BlendKernelScreenOpacity(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelLinearBurn(u8* dst, const u8* src, i32 bytes);
void BlendKernelLinearLight(u8* dst, const u8* src, i32 bytes);
void BlendKernelOver(u8* dst, const u8* src, i32 bytes);
void BlendKernelOverOpacity(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelOverDstScaled(u8* dst, const u8* src, i32 f, i32 bytes);
void BlendKernelOverDstScaledOpacity(u8* dst, const u8* src, i32 f, i32 op, i32 bytes);

// Plain-set members.
void BlendKernelFillBytesC(u8* dst, i32 bytes, u8 value);
void BlendKernelFillColourC(u8* dst, i32 bytes, u32 colour);
void BlendKernelOpacityC(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelAlphaC(u8* dst, const u8* src, i32 bytes);
void BlendKernelAlphaOpacityC(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelMaskC(u8* dst, const u8* src, const u8* mask, i32 progress, i32 softness, i32 bytes);
void BlendKernelMaskCBody(u8* dst, const u8* src, const u8* mask, i32 pixels);
void BlendKernelCrossFadeC(u8* dst, const u8* a, const u8* b, i32 w, i32 bytes);
void BlendKernelAddAlphaC(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelAddAlphaOpacityC(u8* dst, const u8* src, i32 op, i32 bytes);
void BlendKernelMulC(u8* dst, const u8* src, i32 bytes);
void BlendKernelScreenC(u8* dst, const u8* src, i32 bytes);
void BlendKernelLightenC(u8* dst, const u8* src, i32 bytes);
void BlendKernelDarkenC(u8* dst, const u8* src, i32 bytes);
void BlendKernelHalveC(u8* dst, const u8* src, i32 src_stride_px, i32 dst_pixels);

// Clamps an opacity or factor to 0..256 before it weights or indexes anything.
static inline i32 BlendClampWeight(i32 v) { return v < 0 ? 0 : (v > 256 ? 256 : v); }
// A mask weight as the kernels use it: 0 (pixel untouched) for weights of 1 or less, at most 256.
static inline i32 BlendMaskWeightUsable(i32 w) { return w <= 1 ? 0 : (w > 256 ? 256 : w); }
