// The SIMD kernel set and the SIMD copies of the shared members, written once over a vector
// type V (VecSse2 or VecAvx2) and compiled by kernels_simd.cpp and kernels_avx2.cpp inside
// their own namespaces. Each slot computes exactly the bytes kernels_plain.cpp defines for it,
// apart from the differences of the SIMD set; vectors cover whole 8-byte groups, and groups
// that do not fill a vector run through a small bounce buffer with the same code.
#pragma once
#include <cstdint>
#include <cstring>

#include "layer/blend.h"
#include "layer/kernels.h"
#include "layer/lut.h"
#include "layer/simd_vec.h"

namespace ZP_SIMD_NS {

// ---- Scalar pieces (heads, tails, bytes outside the groups) --------------------------------

static inline int Lerp(int d, int t, int w) { return (d * (256 - w) + t * w) >> 8; }
static inline int Min255(int v) { return v > 255 ? 255 : v; }

// Bytes before the destination's next 8-byte boundary (byte-wise slots).
static inline i32 HeadBytes(const u8* d, i32 n) {
  i32 h = static_cast<i32>((8 - (reinterpret_cast<uintptr_t>(d) & 7)) & 7);
  return h < n ? h : n;
}
// One head pixel when bit 2 of the destination address is set (pixel-wise slots).
static inline i32 HeadPixels(const u8* d, i32 pixels) {
  return (reinterpret_cast<uintptr_t>(d) & 4) && pixels > 0 ? 1 : 0;
}

// ---- Drivers --------------------------------------------------------------------------------

// op(d, s) processes V::kBytes bytes; a last partial vector goes through a bounce buffer.
template <class V, class Op>
static inline void Run2(u8* d, const u8* s, i32 len, const Op& op) {
  i32 i = 0;
  for (; i + V::kBytes <= len; i += V::kBytes) op(d + i, s + i);
  if (i < len) {
    alignas(32) u8 bd[V::kBytes] = {}, bs[V::kBytes] = {};
    size_t rest = static_cast<size_t>(len - i);
    std::memcpy(bd, d + i, rest);
    std::memcpy(bs, s + i, rest);
    op(bd, bs);
    std::memcpy(d + i, bd, rest);
  }
}

template <class V, class Op>
static inline void Run3(u8* d, const u8* a, const u8* b, i32 len, const Op& op) {
  i32 i = 0;
  for (; i + V::kBytes <= len; i += V::kBytes) op(d + i, a + i, b + i);
  if (i < len) {
    alignas(32) u8 bd[V::kBytes] = {}, ba[V::kBytes] = {}, bb[V::kBytes] = {};
    size_t rest = static_cast<size_t>(len - i);
    std::memcpy(bd, d + i, rest);
    std::memcpy(ba, a + i, rest);
    std::memcpy(bb, b + i, rest);
    op(bd, ba, bb);
    std::memcpy(d + i, bd, rest);
  }
}

// ---- Vector pieces ---------------------------------------------------------------------------

template <class V> static inline typename V::R Lo(typename V::R x) { return V::UnpackLo8(x, V::Zero()); }
template <class V> static inline typename V::R Hi(typename V::R x) { return V::UnpackHi8(x, V::Zero()); }

// d + floor((t - d) * w / 256) per word, w in 0..256.
template <class V>
static inline typename V::R Lerp16(typename V::R d, typename V::R t, typename V::R w) {
  return V::template Srli16<8>(
      V::Add16(V::Mullo16(d, V::Sub16(V::Set16(256), w)), V::Mullo16(t, w)));
}

template <class V> static inline typename V::R ColourWords() { return V::Set64(0x0000FFFFFFFFFFFFll); }

// floor(x / 255) per word, for x up to 65535.
template <class V> static inline typename V::R Div255(typename V::R x) {
  return V::template Srli16<7>(V::Mulhi16u(x, V::Set16(0x8081)));
}

// A 32-bit value per pixel (pixel order) spread to the four words of each pixel of the low or
// high byte half, matching Lo / Hi.
template <class V> static inline typename V::R SpreadLo(typename V::R w32) {
  typename V::R w2 = V::Or(w32, V::template Slli32<16>(w32));
  return V::UnpackLo32(w2, w2);
}
template <class V> static inline typename V::R SpreadHi(typename V::R w32) {
  typename V::R w2 = V::Or(w32, V::template Slli32<16>(w32));
  return V::UnpackHi32(w2, w2);
}

// floor(x * v / 65536) per word of one byte half, v (0..65536) per pixel given as
// k = (v >> 2) | ((v & 3) << 16) in pixel order; hi selects the high half's pixels.
template <class V>
static inline typename V::R MulWide(typename V::R x, typename V::R k, bool hi) {
  typename V::R kk = hi ? V::UnpackHi32(k, k) : V::UnpackLo32(k, k);
  typename V::R k0 = V::UnpackLo64(kk, kk), k1 = V::UnpackHi64(kk, kk);
  typename V::R x4 = V::template Slli16<2>(x);
  typename V::R p0 = V::Madd16(V::UnpackLo16(x4, x), k0);
  typename V::R p1 = V::Madd16(V::UnpackHi16(x4, x), k1);
  return V::Packs32(V::template Srai32<16>(p0), V::template Srai32<16>(p1));
}

template <class V> static inline typename V::R WideWeight(typename V::R v) {
  return V::Or(V::template Srli32<2>(v), V::template Slli32<16>(V::And(v, V::Set32(3))));
}

// Alpha byte of every pixel all 255 / all 0.
template <class V> static inline bool AllOpaque(typename V::R s) {
  return V::AllOnes(V::Cmpeq8(V::Or(s, V::Set32(0x00FFFFFF)), V::Set8(-1)));
}
template <class V> static inline bool AllClear(typename V::R s) {
  return V::AllOnes(V::Cmpeq8(V::And(s, V::Set32(static_cast<int>(0xFF000000u))), V::Zero()));
}

// ---- Fills and copies -----------------------------------------------------------------------

static void KernelZero(u8* dst, i32 bytes) {
  if (bytes > 0) std::memset(dst, 0, static_cast<size_t>(bytes));
}

static void KernelCopy(u8* dst, const u8* src, i32 bytes) {
  if (bytes > 0) std::memmove(dst, src, static_cast<size_t>(bytes));
}

static void KernelFillBytes(u8* dst, i32 bytes, u8 value) {
  if (bytes > 0) std::memset(dst, value, static_cast<size_t>(bytes));
}

template <class V>
static void KernelFillColour(u8* dst, i32 bytes, u32 colour) {
  if (bytes < 4) return;
  i32 len = bytes & ~3;
  typename V::R c = V::Set32(static_cast<int>(colour));
  i32 i = 0;
  for (; i + 4 * V::kBytes <= len; i += 4 * V::kBytes) {
    V::Store(dst + i, c);
    V::Store(dst + i + V::kBytes, c);
    V::Store(dst + i + 2 * V::kBytes, c);
    V::Store(dst + i + 3 * V::kBytes, c);
  }
  for (; i + V::kBytes <= len; i += V::kBytes) V::Store(dst + i, c);
  if (i < len) {
    alignas(32) u8 tmp[V::kBytes];
    V::Store(tmp, c);
    std::memcpy(dst + i, tmp, static_cast<size_t>(len - i));
  }
}

// ---- Slot 4 opacity and slot 8 cross-fade ---------------------------------------------------

template <class V> struct OpLerp {
  typename V::R w;
  void operator()(u8* d, const u8* a, const u8* b) const {
    typename V::R A = V::Load(a), B = V::Load(b);
    V::Store(d, V::PackUs16(Lerp16<V>(Lo<V>(A), Lo<V>(B), w), Lerp16<V>(Hi<V>(A), Hi<V>(B), w)));
  }
};
template <class V> struct OpAvg {
  void operator()(u8* d, const u8* a, const u8* b) const {
    V::Store(d, V::Avg8u(V::Load(a), V::Load(b)));
  }
};

// dst = a + (b - a) * w / 256 with the SIMD set's head, groups (rounding average at 128) and tail.
template <class V>
static void CrossFadeRow(u8* dst, const u8* a, const u8* b, i32 w, i32 n) {
  if (n <= 0) return;
  i32 h = HeadBytes(dst, n);
  for (i32 i = 0; i < h; i++) dst[i] = static_cast<u8>(Lerp(a[i], b[i], w));
  i32 len = (n - h) & ~7;
  if (w == 128) Run3<V>(dst + h, a + h, b + h, len, OpAvg<V>{});
  else Run3<V>(dst + h, a + h, b + h, len, OpLerp<V>{V::Set16(w)});
  for (i32 i = h + len; i < n; i++) dst[i] = static_cast<u8>(Lerp(a[i], b[i], w));
}

template <class V>
static void KernelOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  if (op == 0 || bytes <= 0) return;
  if (op == 256) return KernelCopy(dst, src, bytes);  // every part of the row gives s
  CrossFadeRow<V>(dst, dst, src, op, bytes);
}

template <class V>
static void KernelCrossFade(u8* dst, const u8* a, const u8* b, i32 w, i32 bytes) {
  CrossFadeRow<V>(dst, a, b, BlendClampWeight(w), bytes);
}

// ---- Slots 5 and 6: source alpha ------------------------------------------------------------

template <class V> struct OpAlpha {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllClear<V>(S)) return;
    if (AllOpaque<V>(S)) return V::Store(d, S);
    typename V::R D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R a = V::Broadcast16W3(s16);
      typename V::R ps = V::template Srli16<8>(V::Mullo16(s16, V::Add16(a, V::Set16(1))));
      typename V::R pd = V::template Srli16<8>(V::Mullo16(d16, V::Sub16(V::Set16(256), a)));
      r[h] = V::Add16(ps, pd);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));  // the pack saturates: min(..., 255)
  }
};

static inline void AlphaEdgePixel(u8* d, const u8* s) {
  int w = s[3] + 1;
  for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(Lerp(d[c], s[c], w));
}

template <class V>
static void KernelAlpha(u8* dst, const u8* src, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  i32 h = HeadPixels(dst, pixels);
  if (h) AlphaEdgePixel(dst, src);
  i32 pairs = (pixels - h) >> 1;
  Run2<V>(dst + 4 * h, src + 4 * h, pairs * 8, OpAlpha<V>{});
  if ((pixels - h) & 1) AlphaEdgePixel(dst + 4 * (pixels - 1), src + 4 * (pixels - 1));
}

template <class V> struct OpAlphaOpacity {
  typename V::R op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllClear<V>(S)) return;
    typename V::R D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R k = V::template Srli16<8>(V::Mullo16(V::Broadcast16W3(s16), op));
      typename V::R ps = V::template Srli16<8>(V::Mullo16(s16, V::Add16(k, V::Set16(1))));
      typename V::R pd = V::template Srli16<8>(V::Mullo16(d16, V::Sub16(V::Set16(256), k)));
      r[h] = V::Add16(ps, pd);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

static inline void AlphaOpacityEdgePixel(u8* d, const u8* s, int op) {
  int k = (s[3] * op) >> 8;
  for (int c = 0; c < 3; c++)
    d[c] = static_cast<u8>(((d[c] * (256 - k)) >> 8) + ((s[c] * (k + 1)) >> 8));
}

template <class V>
static void KernelAlphaOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  if (op == 0) return;  // k = 0 leaves every byte
  i32 h = HeadPixels(dst, pixels);
  if (h) AlphaOpacityEdgePixel(dst, src, op);
  i32 pairs = (pixels - h) >> 1;
  Run2<V>(dst + 4 * h, src + 4 * h, pairs * 8, OpAlphaOpacity<V>{V::Set16(op)});
  if ((pixels - h) & 1)
    AlphaOpacityEdgePixel(dst + 4 * (pixels - 1), src + 4 * (pixels - 1), op);
}

// ---- Slot 7: mask ---------------------------------------------------------------------------

// Weights g_MaskWeights[mask B] (usable form) of V::kBytes / 4 pixels, pixel order.
template <class V> static inline typename V::R GatherMaskWeights(const u8* m) {
  alignas(32) i32 w[V::kBytes / 4];
  for (int j = 0; j < V::kBytes / 4; j++) w[j] = BlendMaskWeightUsable(g_MaskWeights[m[4 * j]]);
  return V::Load(w);
}

// Colour bytes d - floor((d - s) * w / 256) = (d * (256 - w) + s * w + 255) >> 8; weight 0
// (and the alpha word) gives d back exactly.
template <class V> struct OpMaskTable {
  void operator()(u8* d, const u8* s, const u8* m) const {
    typename V::R W = GatherMaskWeights<V>(m);
    if (V::AllOnes(V::Cmpeq8(W, V::Zero()))) return;
    typename V::R S = V::Load(s), D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R w = V::And(h ? SpreadHi<V>(W) : SpreadLo<V>(W), ColourWords<V>());
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R sum = V::Add16(V::Mullo16(d16, V::Sub16(V::Set16(256), w)), V::Mullo16(s16, w));
      r[h] = V::template Srli16<8>(V::Add16(sum, V::Set16(255)));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

// Soft edge from the mask byte itself: w = clamp(m * (f >> 1) + c, 0, 255) + 1, every byte.
template <class V> struct OpMaskSoft {
  typename V::R half_f, c;
  void operator()(u8* d, const u8* s, const u8* m) const {
    typename V::R S = V::Load(s), D = V::Load(d), M = V::Load(m);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R m16 = V::Broadcast16W0(h ? Hi<V>(M) : Lo<V>(M));
      typename V::R w = V::Adds16(V::Mullo16(m16, half_f), c);
      w = V::Add16(V::Min16(V::Max16(w, V::Zero()), V::Set16(255)), V::Set16(1));
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Sub16(V::Add16(d16, V::template Srli16<8>(V::Mullo16(s16, w))),
                      V::template Srli16<8>(V::Mullo16(d16, w)));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

static inline void MaskTablePixel(u8* d, const u8* s, const u8* m) {
  int w = BlendMaskWeightUsable(g_MaskWeights[m[0]]);
  if (w == 0) return;
  for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] - (((d[c] - s[c]) * w) >> 8));
}

template <class V>
static void KernelMask(u8* dst, const u8* src, const u8* mask, i32 progress, i32 softness,
                       i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  i32 p = BlendClampWeight(progress), f = BlendClampWeight(softness);
  if (f == 256) return Run3<V>(dst, src, mask, pixels * 4, OpMaskTable<V>{});
  i32 h = HeadPixels(dst, pixels);
  if (h) MaskTablePixel(dst, src, mask);
  i32 pairs = (pixels - h) >> 1;
  int c = (f >> 1) * p - 128 * f + p;
  Run3<V>(dst + 4 * h, src + 4 * h, mask + 4 * h, pairs * 8, OpMaskSoft<V>{V::Set16(f >> 1), V::Set16(c)});
  if ((pixels - h) & 1) {
    i32 o = 4 * (pixels - 1);
    MaskTablePixel(dst + o, src + o, mask + o);
  }
}

// ---- Slots 9 to 20 --------------------------------------------------------------------------

template <class V> struct OpAdd {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Adds8u(V::Load(d), V::Load(s))); }
};
template <class V> struct OpSub {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Subs8u(V::Load(s), V::Load(d))); }
};
template <class V> struct OpMax {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Max8u(V::Load(d), V::Load(s))); }
};
template <class V> struct OpMin {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Min8u(V::Load(d), V::Load(s))); }
};
template <class V> struct OpLinearBurn {
  void operator()(u8* d, const u8* s) const {
    V::Store(d, V::Subs8u(V::Load(s), V::Xor(V::Load(d), V::Set8(-1))));
  }
};
template <class V> struct OpLinearLight {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Sub16(V::Add16(d16, V::Add16(s16, s16)), V::Set16(256));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));  // saturation is the clamp to 0..255
  }
};

template <class V> static void KernelAdd(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpAdd<V>{}); }
template <class V> static void KernelSub(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpSub<V>{}); }
template <class V> static void KernelLighten(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpMax<V>{}); }
template <class V> static void KernelDarken(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpMin<V>{}); }
template <class V> static void KernelLinearBurn(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpLinearBurn<V>{}); }
template <class V> static void KernelLinearLight(u8* d, const u8* s, i32 n) { Run2<V>(d, s, n, OpLinearLight<V>{}); }

template <class V> struct OpAddOpacity {
  typename V::R op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Add16(d16, V::template Srli16<8>(V::Mullo16(s16, op)));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

template <class V>
static void KernelAddOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  if (bytes <= 0) return;
  i32 len = bytes & ~7;
  Run2<V>(dst, src, len, OpAddOpacity<V>{V::Set16(op)});
  for (i32 i = len; i < bytes; i++) dst[i] = static_cast<u8>(Lerp(dst[i], Min255(dst[i] + src[i]), op));
}

// Slots 11 and 12 of the SIMD set: w = min(sa + 1, 255), times op for slot 12.
template <class V> struct OpAddAlpha {
  typename V::R op;
  bool with_op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), T = V::Adds8u(D, S), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R w = V::Min16(V::Add16(V::Broadcast16W3(s16), V::Set16(1)), V::Set16(255));
      if (with_op) w = V::template Srli16<8>(V::Mullo16(w, op));
      w = V::And(w, ColourWords<V>());
      r[h] = Lerp16<V>(d16, h ? Hi<V>(T) : Lo<V>(T), w);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

template <class V>
static void KernelAddAlpha(u8* dst, const u8* src, i32, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  Run2<V>(dst, src, pixels * 4, OpAddAlpha<V>{V::Zero(), false});
}

template <class V>
static void KernelAddAlphaOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  Run2<V>(dst, src, pixels * 4, OpAddAlpha<V>{V::Set16(BlendClampWeight(op)), true});
}

template <class V> struct OpMul {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::template Srli16<8>(V::Mullo16(d16, V::Add16(s16, V::Set16(1))));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

// 4-byte groups: a head pixel is a group of its own, so the result does not depend on position.
template <class V>
static void KernelMul(u8* dst, const u8* src, i32 bytes) {
  if (bytes <= 0) return;
  i32 len = bytes & ~3;
  Run2<V>(dst, src, len, OpMul<V>{});
  for (i32 i = len; i < bytes; i++) dst[i] = g_LutProductByte[src[i]][dst[i]];
}

template <class V> struct OpScreenGroup {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R prod = V::template Srli16<8>(V::Mullo16(d16, V::Add16(s16, V::Set16(1))));
      r[h] = V::Sub16(V::Add16(d16, s16), prod);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

template <class V>
static void KernelScreen(u8* dst, const u8* src, i32 bytes) {
  if (bytes <= 0) return;
  i32 h = HeadBytes(dst, bytes);
  for (i32 i = 0; i < h; i++) dst[i] = static_cast<u8>(src[i] + dst[i] - g_LutProductByte[src[i]][dst[i]]);
  i32 len = (bytes - h) & ~7;
  Run2<V>(dst + h, src + h, len, OpScreenGroup<V>{});
  for (i32 i = h + len; i < bytes; i++)
    dst[i] = static_cast<u8>(src[i] + dst[i] - g_LutProductByte[src[i]][dst[i]]);
}

template <class V> struct OpScreenOpacity {
  typename V::R op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R t = V::Sub16(V::Add16(s16, d16), Div255<V>(V::Mullo16(s16, d16)));
      r[h] = Lerp16<V>(d16, t, op);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

template <class V>
static void KernelScreenOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  Run2<V>(dst, src, bytes, OpScreenOpacity<V>{V::Set16(BlendClampWeight(op))});
}

// ---- Slot 21: halving -----------------------------------------------------------------------

template <class V>
static void KernelHalve(u8* dst, const u8* src, i32 src_stride_px, i32 dst_pixels) {
  const u8* below = src + static_cast<ptrdiff_t>(src_stride_px) * 4;
  const i32 per = V::kBytes / 4;
  i32 p = 0;
  for (; p + per <= dst_pixels; p += per) {
    const u8* t = src + 8 * p;
    const u8* b = below + 8 * p;
    typename V::R v0 = V::Avg8u(V::Load(t), V::Load(b));
    typename V::R v1 = V::Avg8u(V::Load(t + V::kBytes), V::Load(b + V::kBytes));
    V::Store(dst + 4 * p, V::Avg8u(V::Even32(v0, v1), V::Odd32(v0, v1)));
  }
  for (; p < dst_pixels; p++)
    for (int c = 0; c < 4; c++) {
      int v0 = (src[8 * p + c] + below[8 * p + c] + 1) >> 1;
      int v1 = (src[8 * p + 4 + c] + below[8 * p + 4 + c] + 1) >> 1;
      dst[4 * p + c] = static_cast<u8>((v0 + v1 + 1) >> 1);
    }
}

// ---- Slots 22 to 25: source over ------------------------------------------------------------

// New alpha oa = da + sa - da * sa / 255 and the source's share w = sa * 256 / oa (0 when oa is
// 0, like the division table's row 0), per pixel in 32-bit lanes. The float quotient is exact
// enough that truncating it gives the division table's value.
template <class V>
static inline typename V::R OverAlpha(typename V::R sa, typename V::R da) {
  typename V::R q = V::template Srli16<7>(V::Mulhi16u(V::Mullo16(sa, da), V::Set32(0x8081)));
  return V::Sub32(V::Add32(da, sa), q);
}
template <class V>
static inline typename V::R ShareOf(typename V::R sa, typename V::R oa) {
  typename V::F num = V::ToF(V::template Slli32<8>(sa));
  typename V::R w = V::TruncF(V::DivF(num, V::MaxF(V::ToF(oa), V::SetF(1.0f))));
  return V::AndNot(V::Cmpeq32(oa, V::Zero()), w);
}

// Colour bytes lerped by w (32-bit per pixel, 0..256), alpha replaced by oa.
template <class V>
static inline typename V::R OverColour(typename V::R S, typename V::R D, typename V::R w,
                                       typename V::R oa) {
  typename V::R wl = V::And(SpreadLo<V>(w), ColourWords<V>());
  typename V::R wh = V::And(SpreadHi<V>(w), ColourWords<V>());
  typename V::R r = V::PackUs16(Lerp16<V>(Lo<V>(D), Lo<V>(S), wl), Lerp16<V>(Hi<V>(D), Hi<V>(S), wh));
  return V::Or(V::And(r, V::Set32(0x00FFFFFF)), V::template Slli32<24>(oa));
}

template <class V> struct OpOver {
  typename V::R f;
  bool scaled;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllOpaque<V>(S)) return V::Store(d, S);
    if (!scaled && AllClear<V>(S)) return;
    typename V::R D = V::Load(d);
    typename V::R sa = V::template Srli32<24>(S), da = V::template Srli32<24>(D);
    if (scaled) da = V::template Srli32<8>(V::Mullo16(da, f));
    typename V::R oa = OverAlpha<V>(sa, da);
    V::Store(d, OverColour<V>(S, D, ShareOf<V>(sa, oa), oa));
  }
};

template <class V>
static void KernelOver(u8* dst, const u8* src, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  Run2<V>(dst, src, pixels * 4, OpOver<V>{V::Zero(), false});
}

template <class V>
static void KernelOverDstScaled(u8* dst, const u8* src, i32 f, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  f = BlendClampWeight(f);
  if (f == 256) return KernelOver<V>(dst, src, bytes);
  Run2<V>(dst, src, pixels * 4, OpOver<V>{V::Set32(f), true});
}

template <class V> struct OpOverOpacity {
  typename V::R op;
  typename V::F opf;
  bool full;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllClear<V>(S)) return;
    if (full && AllOpaque<V>(S)) return V::Store(d, S);
    typename V::R D = V::Load(d);
    typename V::R sa = V::template Srli32<24>(S), da = V::template Srli32<24>(D);
    typename V::R q = V::template Srli16<7>(V::Mulhi16u(V::Mullo16(sa, da), V::Set32(0x8081)));
    typename V::R oa = V::Add32(da, V::template Srli32<8>(V::Mullo16(V::Sub32(sa, q), op)));
    // The share times op can pass 65536 when oa < sa; it is capped there.
    typename V::F w = V::MinF(V::MulF(V::ToF(ShareOf<V>(sa, oa)), opf), V::SetF(65536.0f));
    typename V::R k = WideWeight<V>(V::TruncF(w));
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R x = V::And(V::Sub16(s16, d16), ColourWords<V>());
      r[h] = V::Add16(d16, MulWide<V>(x, k, h != 0));
    }
    typename V::R res = V::PackUs16(r[0], r[1]);
    V::Store(d, V::Or(V::And(res, V::Set32(0x00FFFFFF)), V::template Slli32<24>(oa)));
  }
};

template <class V>
static void KernelOverOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  op = BlendClampWeight(op);
  Run2<V>(dst, src, pixels * 4,
          OpOverOpacity<V>{V::Set32(op), V::SetF(static_cast<float>(op)), op == 256});
}

template <class V> struct OpOverScaledOpacity {
  typename V::R f, op16, op32;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d);
    typename V::R sa = V::template Srli32<24>(S);
    typename V::R da = V::template Srli32<8>(V::Mullo16(V::template Srli32<24>(D), f));
    typename V::R sub = V::template Srli32<8>(V::Mullo16(V::Add32(sa, V::Set32(1)), da));
    typename V::R oa = V::And(V::Add32(da, V::template Srli32<8>(V::Mullo16(V::Sub32(sa, sub), op32))),
                              V::Set32(255));
    typename V::R div = V::Add32(oa, V::Set32(1));
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R y = V::Sub16(Lerp16<V>(d16, s16, op16), d16);  // floor((s - d) * op / 256)
      typename V::R a = V::Broadcast16W3(s16);
      typename V::R lo = V::Mullo16(y, a), hi = V::Mulhi16s(y, a);
      typename V::R dd = h ? V::UnpackHi32(div, div) : V::UnpackLo32(div, div);
      typename V::R q0 = V::TruncF(V::DivF(V::ToF(V::UnpackLo16(lo, hi)), V::ToF(V::UnpackLo64(dd, dd))));
      typename V::R q1 = V::TruncF(V::DivF(V::ToF(V::UnpackHi16(lo, hi)), V::ToF(V::UnpackHi64(dd, dd))));
      typename V::R v = V::Add16(d16, V::Packs32(q0, q1));
      // The step can overshoot the source when oa is small; the result stays between d and s.
      r[h] = V::Max16(V::Min16(v, V::Max16(s16, d16)), V::Min16(s16, d16));
    }
    typename V::R res = V::PackUs16(r[0], r[1]);
    V::Store(d, V::Or(V::And(res, V::Set32(0x00FFFFFF)), V::template Slli32<24>(oa)));
  }
};

template <class V>
static void KernelOverDstScaledOpacity(u8* dst, const u8* src, i32 f, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  f = BlendClampWeight(f);
  op = BlendClampWeight(op);
  Run2<V>(dst, src, pixels * 4, OpOverScaledOpacity<V>{V::Set32(f), V::Set16(op), V::Set32(op)});
}

// ---- The set --------------------------------------------------------------------------------

template <class V>
static const PixelKernelTable kKernelSet = {
    KernelZero,                  KernelFillBytes,             KernelFillColour<V>,
    KernelCopy,                  KernelOpacity<V>,            KernelAlpha<V>,
    KernelAlphaOpacity<V>,       KernelMask<V>,               KernelCrossFade<V>,
    KernelAdd<V>,                KernelAddOpacity<V>,         KernelAddAlpha<V>,
    KernelAddAlphaOpacity<V>,    KernelSub<V>,                KernelMul<V>,
    KernelScreen<V>,             KernelScreenOpacity<V>,      KernelLighten<V>,
    KernelDarken<V>,             KernelLinearBurn<V>,         KernelLinearLight<V>,
    KernelHalve<V>,              KernelOver<V>,               KernelOverOpacity<V>,
    KernelOverDstScaled<V>,      KernelOverDstScaledOpacity<V>,
};

}  // namespace ZP_SIMD_NS
