// The plain kernel set and the portable versions of the shared members: straight scalar code
// that works in 8-byte groups from the row's first byte and gives the bytes after the last group
// their own formula. This set is the definition the SIMD files are tested against.
#include <algorithm>
#include <cstring>

#include "layer/blend.h"
#include "layer/kernels.h"
#include "layer/lut.h"

// d + floor((t - d) * w / 256) for w in 0..256, without a signed product.
static inline int Lerp(int d, int t, int w) { return (d * (256 - w) + t * w) >> 8; }
static inline int Min255(int v) { return v > 255 ? 255 : v; }

// ---- Shared members ------------------------------------------------------------------------

void BlendKernelZero(u8* dst, i32 bytes) {
  if (bytes > 0) std::memset(dst, 0, static_cast<size_t>(bytes));
}

void BlendKernelCopy(u8* dst, const u8* src, i32 bytes) {
  // memmove: a copy within one picture may overlap.
  if (bytes > 0) std::memmove(dst, src, static_cast<size_t>(bytes));
}

void BlendKernelAdd(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) dst[i] = static_cast<u8>(Min255(dst[i] + src[i]));
}

void BlendKernelAddOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  i32 groups = bytes > 0 ? bytes & ~7 : 0;
  for (i32 i = 0; i < groups; i++) dst[i] = static_cast<u8>(Min255(dst[i] + ((src[i] * op) >> 8)));
  for (i32 i = groups; i < bytes; i++) dst[i] = static_cast<u8>(Lerp(dst[i], Min255(dst[i] + src[i]), op));
}

void BlendKernelSub(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) dst[i] = static_cast<u8>(src[i] > dst[i] ? src[i] - dst[i] : 0);
}

void BlendKernelScreenOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  for (i32 i = 0; i < bytes; i++) {
    int s = src[i], d = dst[i];
    dst[i] = static_cast<u8>(Lerp(d, s + d - g_LutProductByte[s][d], op));
  }
}

void BlendKernelLinearBurn(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) {
    int v = dst[i] + src[i] - 255;
    dst[i] = static_cast<u8>(v < 0 ? 0 : v);
  }
}

void BlendKernelLinearLight(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) {
    int v = dst[i] + 2 * src[i] - 256;
    dst[i] = static_cast<u8>(v < 0 ? 0 : Min255(v));
  }
}

// Source over with real (not premultiplied) alpha: the new alpha, then the source's share of it.
static inline void OverPixel(u8* d, const u8* s, int da) {
  int sa = s[3];
  int oa = (da + sa - g_LutProductByte[da][sa]) & 255;
  int w = g_BlendDivTable[oa][sa];
  for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(Lerp(d[c], s[c], w));
  d[3] = static_cast<u8>(oa);
}

void BlendKernelOver(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i + 4 <= bytes; i += 4) OverPixel(dst + i, src + i, dst[i + 3]);
}

void BlendKernelOverDstScaled(u8* dst, const u8* src, i32 f, i32 bytes) {
  f = BlendClampWeight(f);
  for (i32 i = 0; i + 4 <= bytes; i += 4) OverPixel(dst + i, src + i, (dst[i + 3] * f) >> 8);
}

void BlendKernelOverOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    u8* d = dst + i;
    const u8* s = src + i;
    int sa = s[3], da = d[3];
    int oa = da + (((sa - g_LutProductByte[da][sa]) * op) >> 8);
    // A low destination alpha makes the share exceed 1; past 65536 the colour would wrap.
    int w = g_BlendDivTable[oa][sa] * op;
    if (w > 65536) w = 65536;
    for (int c = 0; c < 3; c++)
      d[c] = static_cast<u8>(d[c] + static_cast<int>((static_cast<i64>(s[c] - d[c]) * w) >> 16));
    d[3] = static_cast<u8>(oa);
  }
}

void BlendKernelOverDstScaledOpacity(u8* dst, const u8* src, i32 f, i32 op, i32 bytes) {
  f = BlendClampWeight(f);
  op = BlendClampWeight(op);
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    u8* d = dst + i;
    const u8* s = src + i;
    int sa = s[3];
    int da = (d[3] * f) >> 8;
    int oa = (da + (((sa - (((sa + 1) * da) >> 8)) * op) >> 8)) & 255;
    for (int c = 0; c < 3; c++) {
      int lo = s[c] < d[c] ? s[c] : d[c], hi = s[c] < d[c] ? d[c] : s[c];
      int v = d[c] + (((s[c] - d[c]) * op) >> 8) * sa / (oa + 1);
      // A small new alpha inflates the step beyond the source; the result stays between the two.
      d[c] = static_cast<u8>(v < lo ? lo : (v > hi ? hi : v));
    }
    d[3] = static_cast<u8>(oa);
  }
}

// ---- Plain-set members ----------------------------------------------------------------------

void BlendKernelFillBytesC(u8* dst, i32 bytes, u8 value) {
  if (bytes > 0) std::memset(dst, value, static_cast<size_t>(bytes));
}

void BlendKernelFillColourC(u8* dst, i32 bytes, u32 colour) {
  u8 px[4] = {static_cast<u8>(colour), static_cast<u8>(colour >> 8), static_cast<u8>(colour >> 16),
              static_cast<u8>(colour >> 24)};
  for (i32 i = 0; i + 4 <= bytes; i += 4) std::memcpy(dst + i, px, 4);
}

void BlendKernelOpacityC(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  i32 groups = bytes > 0 ? bytes & ~7 : 0;
  // Above 128 the formula s + (d - s) * (256 - op) / 256 equals the lerp below exactly.
  for (i32 i = 0; i < groups; i++)
    dst[i] = static_cast<u8>(op == 128 ? (src[i] >> 1) + (dst[i] >> 1) : Lerp(dst[i], src[i], op));
  for (i32 i = groups; i < bytes; i++) dst[i] = static_cast<u8>(Lerp(dst[i], src[i], op));
}

void BlendKernelAlphaC(u8* dst, const u8* src, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  i32 paired = pixels & ~1;
  for (i32 p = 0; p < paired; p++) {
    u8* d = dst + 4 * p;
    const u8* s = src + 4 * p;
    int w = s[3] + 1;
    for (int c = 0; c < 4; c++) d[c] = static_cast<u8>((s[c] * w + d[c] * (257 - w)) >> 8);
  }
  if (pixels & 1) {
    u8* d = dst + 4 * paired;
    const u8* s = src + 4 * paired;
    int w = s[3] + 1;
    for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(Lerp(d[c], s[c], w));
  }
}

void BlendKernelAlphaOpacityC(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  i32 paired = pixels & ~1;
  for (i32 p = 0; p < paired; p++) {
    u8* d = dst + 4 * p;
    const u8* s = src + 4 * p;
    int k = (s[3] * op) >> 8;
    for (int c = 0; c < 4; c++) d[c] = static_cast<u8>((s[c] * (k + 1) + d[c] * (256 - k)) >> 8);
  }
  if (pixels & 1) {
    u8* d = dst + 4 * paired;
    const u8* s = src + 4 * paired;
    int k = (s[3] * op) >> 8;
    for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(((d[c] * (256 - k)) >> 8) + ((s[c] * (k + 1)) >> 8));
  }
}

void BlendMaskSoftBounds(int half_f, int c, int* skip_below, int* copy_from) {
  if (half_f == 0) {
    *skip_below = c <= 0 ? 256 : 0;
    *copy_from = c >= 255 ? 0 : 256;
    return;
  }
  // m * half_f + c <= 0 up to floor(-c / half_f); >= 255 from ceil((255 - c) / half_f).
  *skip_below = c > 0 ? 0 : std::min(255, -c / half_f) + 1;
  int need = 255 - c;
  *copy_from = need <= 0 ? 0 : std::min(256, (need + half_f - 1) / half_f);
}

void BlendMaskSoftWeights(i32 f, i32 p, i32 w[256]) {
  const i64 half_f = f >> 1, c = half_f * p - 128 * i64{f} + p;
  for (i64 m = 0; m < 256; m++) w[m] = static_cast<i32>(std::clamp<i64>(m * half_f + c, 0, 255) + 1);
}

void BlendKernelMaskCBody(u8* dst, const u8* src, const u8* mask, i32 pixels) {
  for (i32 p = 0; p < pixels; p++) {
    int w = BlendMaskWeightUsable(g_MaskWeights[mask[4 * p]]);
    if (w == 0) continue;
    u8* d = dst + 4 * p;
    const u8* s = src + 4 * p;
    for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] - (((d[c] - s[c]) * w) >> 8));
  }
}

void BlendKernelMaskC(u8* dst, const u8* src, const u8* mask, i32, i32, i32 bytes) {
  if (bytes > 0) BlendKernelMaskCBody(dst, src, mask, bytes >> 2);
}

void BlendKernelCrossFadeC(u8* dst, const u8* a, const u8* b, i32 w, i32 bytes) {
  w = BlendClampWeight(w);
  i32 groups = bytes > 0 ? bytes & ~7 : 0;
  for (i32 i = 0; i < groups; i++) dst[i] = static_cast<u8>(w == 128 ? (a[i] >> 1) + (b[i] >> 1) : Lerp(a[i], b[i], w));
  for (i32 i = groups; i < bytes; i++) dst[i] = static_cast<u8>(Lerp(a[i], b[i], w));
}

static void AddAlphaRow(u8* dst, const u8* src, i32 bytes, i32 op) {
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    u8* d = dst + i;
    const u8* s = src + i;
    int w = op < 0 ? s[3] + 1 : (s[3] * op + op) >> 8;
    for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(Lerp(d[c], Min255(d[c] + s[c]), w));
  }
}

void BlendKernelAddAlphaC(u8* dst, const u8* src, i32, i32 bytes) { AddAlphaRow(dst, src, bytes, -1); }

void BlendKernelAddAlphaOpacityC(u8* dst, const u8* src, i32 op, i32 bytes) {
  AddAlphaRow(dst, src, bytes, BlendClampWeight(op));
}

void BlendKernelMulC(u8* dst, const u8* src, i32 bytes) {
  i32 groups = bytes > 0 ? bytes & ~3 : 0;
  for (i32 i = 0; i < groups; i++) dst[i] = static_cast<u8>((dst[i] * (src[i] + 1)) >> 8);
  for (i32 i = groups; i < bytes; i++) dst[i] = g_LutProductByte[src[i]][dst[i]];
}

void BlendKernelScreenC(u8* dst, const u8* src, i32 bytes) {
  i32 groups = bytes > 0 ? bytes & ~7 : 0;
  for (i32 i = 0; i < groups; i++) {
    int s = src[i], d = dst[i];
    dst[i] = static_cast<u8>(Min255(d + s - ((d * (s + 1)) >> 8)));
  }
  for (i32 i = groups; i < bytes; i++) {
    int s = src[i], d = dst[i];
    dst[i] = static_cast<u8>(s + d - g_LutProductByte[s][d]);
  }
}

void BlendKernelLightenC(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) dst[i] = src[i] > dst[i] ? src[i] : dst[i];
}

void BlendKernelDarkenC(u8* dst, const u8* src, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) dst[i] = src[i] < dst[i] ? src[i] : dst[i];
}

void BlendKernelHalveC(u8* dst, const u8* src, i32 src_stride_px, i32 dst_pixels) {
  const u8* below = src + static_cast<ptrdiff_t>(src_stride_px) * 4;
  for (i32 p = 0; p < dst_pixels; p++)
    for (int c = 0; c < 4; c++)
      dst[4 * p + c] =
          static_cast<u8>((src[8 * p + c] + src[8 * p + 4 + c] + below[8 * p + c] + below[8 * p + 4 + c]) >> 2);
}

// clang-format off
const PixelKernelTable g_BlendKernelsPlain = {
    BlendKernelZero,          BlendKernelFillBytesC,     BlendKernelFillColourC,
    BlendKernelCopy,          BlendKernelOpacityC,       BlendKernelAlphaC,
    BlendKernelAlphaOpacityC, BlendKernelMaskC,          BlendKernelCrossFadeC,
    BlendKernelAdd,           BlendKernelAddOpacity,     BlendKernelAddAlphaC,
    BlendKernelAddAlphaOpacityC, BlendKernelSub,         BlendKernelMulC,
    BlendKernelScreenC,       BlendKernelScreenOpacity,  BlendKernelLightenC,
    BlendKernelDarkenC,       BlendKernelLinearBurn,     BlendKernelLinearLight,
    BlendKernelHalveC,        BlendKernelOver,           BlendKernelOverOpacity,
    BlendKernelOverDstScaled, BlendKernelOverDstScaledOpacity,
};
// clang-format on

PixelKernelTable g_PixelKernels = g_BlendKernelsPlain;
