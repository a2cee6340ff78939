// The SIMD kernel set and the SIMD copies of the shared members, written once over a vector
// type V (VecSse2 or VecAvx2) and compiled by kernels_simd.cpp and kernels_avx2.cpp inside
// their own namespaces. Each slot computes exactly the bytes kernels_plain.cpp defines for it,
// apart from the differences of the SIMD set; vectors cover whole 8-byte groups, and the groups
// after the last whole vector run as one more vector that overlaps it, with the same code.
#pragma once
#include <cstdint>
#include <cstring>

#include "layer/blend.h"
#include "layer/kernels.h"
#include "layer/lut.h"
#include "layer/simd_vec.h"

namespace ZP_SIMD_NS {

// ---- Entry points ---------------------------------------------------------------------------

// Every kernel the tables hand out ends through V::Leave(). The compiler clears the upper
// vector halves on return only where it sees 256-bit code in the returning function itself;
// a kernel that hands its constants to a driver by value returns without, and the caller's
// SSE code then pays for it.
template <class V, auto F>
struct Clean;
template <class V, class... A, void (*F)(A...)>
struct Clean<V, F> {
  static void Call(A... a) {
    F(a...);
    V::Leave();
  }
};

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

// Stores that straddle cache lines cost twice. On a long row whose destination is pixel- but
// not vector-aligned, the drivers compute the first vector into a copy, the first aligned
// vector in place (from bytes not yet written) and store the copy last: the bytes the two share
// come out the same either way, and the loop goes on with aligned stores. Returns the offset
// of that aligned vector, or 0 to start plainly.
static inline i32 AlignedStart(const u8* d, i32 len, int vbytes) {
  uintptr_t mis = reinterpret_cast<uintptr_t>(d) & static_cast<uintptr_t>(vbytes - 1);
  return mis != 0 && (mis & 3) == 0 && len >= 4 * vbytes ? vbytes - static_cast<i32>(mis) : 0;
}

// Rows of whole frames come from memory, and the processor's own prefetcher stops at every 4 KiB
// page: a loop over such rows asks for the input lines a page ahead, once per 64-byte line.
static const i32 kPrefetchAhead = 4096;
// True for the vector that starts a 64-byte line of p (rows of three are prefetched per line).
template <class V>
static inline bool StartsLine(const u8* p) {
  return (reinterpret_cast<uintptr_t>(p) & 63) < V::kBytes;
}

// op(d, s) processes V::kBytes bytes. Every operation is local to its bytes or pixels, so the
// bytes after the last whole vector are done as the row's last vector, computed from copies of
// its bytes taken before its neighbour was written and stored last (like the first vector
// above): the bytes the two share come out the same either way. Rows shorter than a vector go
// through bounce buffers. The operation is taken by value so its constants stay in registers
// across the stores. The drivers inline every step of the operation: in a file this size the
// compiler would otherwise stop inlining somewhere and call a step per vector.
template <class V, class Op>
static void Short2(u8* d, const u8* s, i32 len, Op op) {
  alignas(32) u8 bd[V::kBytes] = {}, bs[V::kBytes] = {};
  size_t n = static_cast<size_t>(len);
  std::memcpy(bd, d, n);
  std::memcpy(bs, s, n);
  op(bd, bs);
  std::memcpy(d, bd, n);
}
template <class V, class Op>
static void Short3(u8* d, const u8* a, const u8* b, i32 len, Op op) {
  alignas(32) u8 bd[V::kBytes] = {}, ba[V::kBytes] = {}, bb[V::kBytes] = {};
  size_t n = static_cast<size_t>(len);
  std::memcpy(bd, d, n);
  std::memcpy(ba, a, n);
  std::memcpy(bb, b, n);
  op(bd, ba, bb);
  std::memcpy(d, bd, n);
}
// The end of a row from offset i, where one to two vectors' bytes remain.
template <class V, class Op>
static inline void End2(u8* d, const u8* s, i32 i, i32 len, Op& op) {
  if (i + V::kBytes == len) return op(d + i, s + i);
  i32 tail = len - V::kBytes;
  alignas(32) u8 ld[V::kBytes], ls[V::kBytes];
  V::Store(ld, V::Load(d + tail));
  V::Store(ls, V::Load(s + tail));
  op(d + i, s + i);
  op(ld, ls);
  V::Store(d + tail, V::Load(ld));
}
template <class V, class Op>
static ZP_SIMD_FLATTEN void Run2(u8* d, const u8* s, i32 len, Op op) {
  if (len < V::kBytes) {
    if (len > 0) Short2<V>(d, s, len, op);
    return;
  }
  i32 i = 0;
  if (i32 h = AlignedStart(d, len, V::kBytes)) {
    alignas(32) u8 first[V::kBytes];
    V::Store(first, V::Load(d));
    op(first, s);
    op(d + h, s + h);
    V::Store(d, V::Load(first));
    i = h + V::kBytes;
  }
  // Two vectors a step: the short loops of the light operations otherwise run at the mercy of
  // where the loop falls against the 64-byte code lines. Rows longer than a page ask for their
  // input lines a page ahead, once per line (see kPrefetchAhead).
  if (len >= kPrefetchAhead) {
    for (; i + 3 * V::kBytes <= len; i += 2 * V::kBytes) {
      if (V::kBytes == 32 || StartsLine<V>(d + i)) {
        __builtin_prefetch(s + i + kPrefetchAhead, 0, 2);
        __builtin_prefetch(d + i + kPrefetchAhead, 1, 2);
      }
      op(d + i, s + i);
      op(d + i + V::kBytes, s + i + V::kBytes);
    }
  }
  for (; i + 3 * V::kBytes <= len; i += 2 * V::kBytes) {
    op(d + i, s + i);
    op(d + i + V::kBytes, s + i + V::kBytes);
  }
  for (; i + 2 * V::kBytes <= len; i += V::kBytes) op(d + i, s + i);
  End2<V>(d, s, i, len, op);
}

// kAllInputs false: only b is prefetched, for an operation that reads a and d only where b asks
// for them (the rule mask: a page ahead, the source and destination may not be wanted at all).
template <class V, class Op, bool kAllInputs = true>
static ZP_SIMD_FLATTEN void Run3(u8* d, const u8* a, const u8* b, i32 len, Op op) {
  if (len < V::kBytes) {
    if (len > 0) Short3<V>(d, a, b, len, op);
    return;
  }
  i32 i = 0;
  if (i32 h = AlignedStart(d, len, V::kBytes)) {
    alignas(32) u8 first[V::kBytes];
    V::Store(first, V::Load(d));
    // Where d is also an input (slot 4), the copy stands in for it.
    op(first, a == d ? first : a, b == d ? first : b);
    op(d + h, a + h, b + h);
    V::Store(d, V::Load(first));
    i = h + V::kBytes;
  }
  for (; i + 2 * V::kBytes <= len; i += V::kBytes) {
    if (StartsLine<V>(b + i)) {
      if constexpr (kAllInputs) __builtin_prefetch(a + i + kPrefetchAhead, 0, 2);
      __builtin_prefetch(b + i + kPrefetchAhead, 0, 2);
      if constexpr (kAllInputs) __builtin_prefetch(d + i + kPrefetchAhead, 1, 2);
    }
    op(d + i, a + i, b + i);
  }
  if (i + V::kBytes == len) return op(d + i, a + i, b + i);
  i32 tail = len - V::kBytes;
  alignas(32) u8 ld[V::kBytes], la[V::kBytes], lb[V::kBytes];
  V::Store(ld, V::Load(d + tail));
  V::Store(la, V::Load(a + tail));
  V::Store(lb, V::Load(b + tail));
  op(d + i, a + i, b + i);
  op(ld, a == d ? ld : la, b == d ? ld : lb);
  V::Store(d + tail, V::Load(ld));
}

// For operations whose per-pixel weight comes from a long chain (a division): the weights of a
// strip of vectors are prepared first and the colours done after, so the chains of a strip
// overlap instead of each colour waiting for its own. op.Prepare(d, s, &state) and
// op.Finish(d, s, state) together equal op(d, s).
template <class V, class Op, int kStrip = 8>
static ZP_SIMD_FLATTEN void RunStaged(u8* d, const u8* s, i32 len, Op op) {
  if (len < V::kBytes) {
    if (len > 0) Short2<V>(d, s, len, op);
    return;
  }
  i32 i = 0;
  if (i32 h = AlignedStart(d, len, V::kBytes)) {
    alignas(32) u8 first[V::kBytes];
    V::Store(first, V::Load(d));
    op(first, s);
    op(d + h, s + h);
    V::Store(d, V::Load(first));
    i = h + V::kBytes;
  }
  typename Op::State st[kStrip];
  for (; i + (kStrip + 1) * V::kBytes <= len; i += kStrip * V::kBytes) {
    for (int j = 0; j < kStrip; j++) op.Prepare(d + i + j * V::kBytes, s + i + j * V::kBytes, &st[j]);
    for (int j = 0; j < kStrip; j++) op.Finish(d + i + j * V::kBytes, s + i + j * V::kBytes, st[j]);
  }
  for (; i + 2 * V::kBytes <= len; i += V::kBytes) op(d + i, s + i);
  End2<V>(d, s, i, len, op);
}

// For operations with a long chain (a division) per vector: the loop prepares the vector three
// ahead while it finishes the current one, so the processor's scheduler holds work whose inputs
// are ready instead of filling up with the waiting tail of one chain (on Zen 3 the staged strips
// above left it full most of the time). Rows of two inputs (m null): op.Prepare(d, s, &state),
// op.Finish(d, s, state), op(d, s); with a mask row m: op.Prepare(s, m, &state),
// op.Finish(d, s, state), op(d, s, m). Prepare reads only its own vector, which is not written
// before its Finish.
template <class V, class Op, bool kMask>
static ZP_SIMD_FLATTEN void RunAheadRows(u8* d, const u8* s, const u8* m, i32 len, Op op) {
  const i32 v = V::kBytes;
  auto whole = [&](u8* dd, const u8* ss, const u8* mm) {
    if constexpr (kMask) op(dd, ss, mm);
    else op(dd, ss);
  };
  if (len < v) {
    if (len <= 0) return;
    if constexpr (kMask) Short3<V>(d, s, m, len, op);
    else Short2<V>(d, s, len, op);
    return;
  }
  i32 i = 0;
  if (i32 h = AlignedStart(d, len, v)) {
    alignas(32) u8 first[V::kBytes];
    V::Store(first, V::Load(d));
    whole(first, s, m);
    whole(d + h, s + h, m + h);
    V::Store(d, V::Load(first));
    i = h + v;
  }
  if (i + 4 * v <= len) {
    typename Op::State a, b, c, e;
    auto prepare = [&](i32 j, typename Op::State* st) {
      if constexpr (kMask) op.Prepare(s + j, m + j, st);
      else op.Prepare(d + j, s + j, st);
    };
    prepare(i, &a);
    prepare(i + v, &b);
    prepare(i + 2 * v, &c);
    // Long rows ask for their lines two pages ahead: at one page the lines of three inputs
    // still arrive late (measured on 1920x1080 masks, about a sixth slower).
    const bool far = len >= kPrefetchAhead;
    for (; i + 5 * v <= len; i += v) {
      if (far && StartsLine<V>(s + i)) {
        __builtin_prefetch(s + i + 2 * kPrefetchAhead, 0, 2);
        __builtin_prefetch(d + i + 2 * kPrefetchAhead, 1, 2);
        if constexpr (kMask) __builtin_prefetch(m + i + 2 * kPrefetchAhead, 0, 2);
      }
      prepare(i + 3 * v, &e);
      op.Finish(d + i, s + i, a);
      a = b;
      b = c;
      c = e;
    }
    op.Finish(d + i, s + i, a);
    op.Finish(d + i + v, s + i + v, b);
    op.Finish(d + i + 2 * v, s + i + 2 * v, c);
    i += 3 * v;
  }
  for (; i + 2 * v <= len; i += v) whole(d + i, s + i, m + i);
  if (i + v == len) return whole(d + i, s + i, m + i);
  // The last vector overlaps its neighbour: computed from copies taken before, stored last.
  i32 tail = len - v;
  alignas(32) u8 ld[V::kBytes], ls[V::kBytes], lm[V::kBytes];
  V::Store(ld, V::Load(d + tail));
  V::Store(ls, V::Load(s + tail));
  if constexpr (kMask) V::Store(lm, V::Load(m + tail));
  whole(d + i, s + i, m + i);
  whole(ld, ls, lm);
  V::Store(d + tail, V::Load(ld));
}
template <class V, class Op>
static inline void RunAhead(u8* d, const u8* s, i32 len, Op op) {
  RunAheadRows<V, Op, false>(d, s, nullptr, len, op);
}
template <class V, class Op>
static inline void RunAhead3(u8* d, const u8* s, const u8* m, i32 len, Op op) {
  RunAheadRows<V, Op, true>(d, s, m, len, op);
}

// ---- Vector pieces ---------------------------------------------------------------------------

template <class V>
static inline typename V::R Lo(typename V::R x) {
  return V::UnpackLo8(x, V::Zero());
}
template <class V>
static inline typename V::R Hi(typename V::R x) {
  return V::UnpackHi8(x, V::Zero());
}

// d + floor((t - d) * w / 256) per word, given w2 = 2 * w (w in 0..256): the signed high
// product of (t - d) << 7 and 2w is exactly that floor.
template <class V>
static inline typename V::R Lerp2(typename V::R d, typename V::R t, typename V::R w2) {
  return V::Add16(d, V::Mulhi16s(V::template Slli16<7>(V::Sub16(t, d)), w2));
}
template <class V>
static inline typename V::R Lerp16(typename V::R d, typename V::R t, typename V::R w) {
  return Lerp2<V>(d, t, V::Add16(w, w));
}
// x << 8 per word for the low / high byte half (for unsigned high products).
template <class V>
static inline typename V::R Lo8(typename V::R x) {
  return V::UnpackLo8(V::Zero(), x);
}
template <class V>
static inline typename V::R Hi8(typename V::R x) {
  return V::UnpackHi8(V::Zero(), x);
}

template <class V>
static inline typename V::R ColourWords() {
  return V::Set64(0x0000FFFFFFFFFFFFll);
}

// floor(x / 255) per word, for x up to 65535.
template <class V>
static inline typename V::R Div255(typename V::R x) {
  return V::template Srli16<7>(V::Mulhi16u(x, V::Set16(0x8081)));
}

template <class V>
static inline bool AllOpaque(typename V::R s) {
  return V::AlphaAllFF(s);
}
template <class V>
static inline bool AllClear(typename V::R s) {
  return V::AlphaAllZero(s);
}
// The alpha bytes of a from b.
template <class V>
static inline typename V::R WithAlpha(typename V::R a, typename V::R b) {
  return V::Select8(V::Set32(static_cast<int>(0xFF000000u)), a, b);
}

// ---- Fills and copies -----------------------------------------------------------------------

static void KernelZero(u8* dst, i32 bytes) {
  if (bytes > 0) std::memset(dst, 0, static_cast<size_t>(bytes));
}

static const size_t kStringCopyBytes = 2048;
// Long copies that do not overlap: aligned stores, four vectors a step; the rest by memmove.
template <class V>
static void KernelCopy(u8* dst, const u8* src, i32 bytes) {
  if (bytes <= 0) return;
  size_t n = static_cast<size_t>(bytes);
  uintptr_t d = reinterpret_cast<uintptr_t>(dst), s = reinterpret_cast<uintptr_t>(src);
  if (n < 8 * V::kBytes || (d < s + n && s < d + n)) {
    std::memmove(dst, src, n);
    return;
  }
  // Rows of a frame: the C library copies them with the processor's string copy, which can
  // store whole lines without fetching them first (the loop below fetches every line it writes).
  if (n >= kStringCopyBytes) {
    std::memcpy(dst, src, n);
    return;
  }
  size_t i = (V::kBytes - (d & (V::kBytes - 1))) & (V::kBytes - 1);
  V::Store(dst, V::Load(src));
  for (; i + 4 * V::kBytes <= n; i += 4 * V::kBytes) {
    __builtin_prefetch(src + i + kPrefetchAhead, 0, 2);
    if (V::kBytes == 16) __builtin_prefetch(src + i + 32 + kPrefetchAhead, 0, 2);
    typename V::R a = V::Load(src + i), b = V::Load(src + i + V::kBytes);
    typename V::R c = V::Load(src + i + 2 * V::kBytes), e = V::Load(src + i + 3 * V::kBytes);
    V::Store(dst + i, a);
    V::Store(dst + i + V::kBytes, b);
    V::Store(dst + i + 2 * V::kBytes, c);
    V::Store(dst + i + 3 * V::kBytes, e);
  }
  for (; i + V::kBytes <= n; i += V::kBytes) V::Store(dst + i, V::Load(src + i));
  V::Store(dst + n - V::kBytes, V::Load(src + n - V::kBytes));
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
  uintptr_t addr = reinterpret_cast<uintptr_t>(dst);
  if (len >= 2 * V::kBytes && (addr & 3) == 0) {
    // One unaligned vector, then aligned ones from the next boundary (a whole number of pixels on).
    V::Store(dst, c);
    i = static_cast<i32>((V::kBytes - (addr & (V::kBytes - 1))) & (V::kBytes - 1));
  }
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

template <class V>
struct OpLerp {
  typename V::R w2;  // 2 * w
  void operator()(u8* d, const u8* a, const u8* b) const {
    typename V::R A = V::Load(a), B = V::Load(b);
    V::Store(d, V::PackUs16(Lerp2<V>(Lo<V>(A), Lo<V>(B), w2), Lerp2<V>(Hi<V>(A), Hi<V>(B), w2)));
  }
};
template <class V>
struct OpAvg {
  void operator()(u8* d, const u8* a, const u8* b) const { V::Store(d, V::Avg8u(V::Load(a), V::Load(b))); }
};

// dst = a + (b - a) * w / 256 with the SIMD set's head, groups (rounding average at 128) and tail.
template <class V>
static void CrossFadeRow(u8* dst, const u8* a, const u8* b, i32 w, i32 n) {
  if (n <= 0) return;
  i32 h = HeadBytes(dst, n);
  for (i32 i = 0; i < h; i++) dst[i] = static_cast<u8>(Lerp(a[i], b[i], w));
  i32 len = (n - h) & ~7;
  if (w == 128) Run3<V>(dst + h, a + h, b + h, len, OpAvg<V>{});
  else Run3<V>(dst + h, a + h, b + h, len, OpLerp<V>{V::Set16(2 * w)});
  for (i32 i = h + len; i < n; i++) dst[i] = static_cast<u8>(Lerp(a[i], b[i], w));
}

template <class V>
static void KernelOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  if (op == 0 || bytes <= 0) return;
  if (op == 256) return KernelCopy<V>(dst, src, bytes);  // every part of the row gives s
  CrossFadeRow<V>(dst, dst, src, op, bytes);
}

template <class V>
static void KernelCrossFade(u8* dst, const u8* a, const u8* b, i32 w, i32 bytes) {
  CrossFadeRow<V>(dst, a, b, BlendClampWeight(w), bytes);
}

// ---- Slots 5 and 6: source alpha ------------------------------------------------------------

// ((s * w) >> 8) + ((d * (257 - w)) >> 8) as unsigned high products of s << 8 and d << 8.
template <class V>
struct OpAlpha {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllClear<V>(S)) return;
    if (AllOpaque<V>(S)) return V::Store(d, S);
    typename V::R D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R a = h ? V::AlphaWordsHi(S) : V::AlphaWordsLo(S);
      typename V::R ps = V::Mulhi16u(h ? Hi8<V>(S) : Lo8<V>(S), V::Add16(a, V::Set16(1)));
      typename V::R pd = V::Mulhi16u(h ? Hi8<V>(D) : Lo8<V>(D), V::Sub16(V::Set16(256), a));
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

template <class V>
struct OpAlphaOpacity {
  typename V::R op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s);
    if (AllClear<V>(S)) return;
    typename V::R D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R a8 = V::template Slli16<8>(h ? V::AlphaWordsHi(S) : V::AlphaWordsLo(S));
      typename V::R k = V::Mulhi16u(a8, op);  // (sa * op) >> 8
      typename V::R ps = V::Mulhi16u(h ? Hi8<V>(S) : Lo8<V>(S), V::Add16(k, V::Set16(1)));
      typename V::R pd = V::Mulhi16u(h ? Hi8<V>(D) : Lo8<V>(D), V::Sub16(V::Set16(256), k));
      r[h] = V::Add16(ps, pd);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

static inline void AlphaOpacityEdgePixel(u8* d, const u8* s, int op) {
  int k = (s[3] * op) >> 8;
  for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(((d[c] * (256 - k)) >> 8) + ((s[c] * (k + 1)) >> 8));
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
  if ((pixels - h) & 1) AlphaOpacityEdgePixel(dst + 4 * (pixels - 1), src + 4 * (pixels - 1), op);
}

// ---- Slot 7: mask ---------------------------------------------------------------------------

// g_MaskWeights in usable form (0 for weights of 1 or less, at most 256), made once per row so
// that the per-pixel lookups need no clamping. A hard edge makes the table a step: 0 below one
// mask byte, one weight from there on (a uniform table is the step from 0). Then a compare on
// the mask byte gives the same weights as the lookup for much less work. The test costs about
// as much as making the table, so it runs only for a hard edge (softness 256), where such a
// table is expected; any table that fails it takes the lookups.
struct MaskWeightTable {
  alignas(32) i32 w[256];
  bool step;  // w[i] = i >= step_from ? step_weight : 0
  i32 step_from, step_weight;
};
template <class V>
static inline void MaskWeightsUsable(MaskWeightTable* t, bool hard_edge) {
  const int kLanes = V::kBytes / 4;
  t->step = false;
  if (!hard_edge) {
    for (int i = 0; i < 256; i += kLanes) {
      typename V::R w = V::Min32(V::Load(g_MaskWeights + i), V::Set32(256));
      V::Store(t->w + i, V::And(w, V::Cmpgt32(w, V::Set32(1))));
    }
    return;
  }
  i32 top = BlendMaskWeightUsable(g_MaskWeights[255]);
  typename V::R top_v = V::Set32(top), zero_or_top = V::Set32(-1);
  u64 zero_bits[4] = {0, 0, 0, 0};  // bit i: w[i] is 0
  for (int i = 0; i < 256; i += kLanes) {
    typename V::R w = V::Min32(V::Load(g_MaskWeights + i), V::Set32(256));
    w = V::And(w, V::Cmpgt32(w, V::Set32(1)));
    V::Store(t->w + i, w);
    typename V::R zero = V::Cmpeq32(w, V::Zero());
    zero_or_top = V::And(zero_or_top, V::Or(zero, V::Cmpeq32(w, top_v)));
    zero_bits[i >> 6] |= static_cast<u64>(V::MoveMask32(zero)) << (i & 63);
  }
  // A step has only 0 and the top weight, and its zeros are the first entries: the zero bits
  // run from bit 0 without a gap.
  bool step = V::AllOnes(zero_or_top);
  i32 from = 0;
  for (int k = 0; k < 4; k++) {
    u64 b = zero_bits[k];
    if (b & (b + 1)) step = false;  // not of the form 0..01..1
    if (b != ~0ull) {
      for (; b & 1; b >>= 1) from++;
      for (int j = k + 1; j < 4; j++) step = step && zero_bits[j] == 0;
      break;
    }
    from += 64;
  }
  t->step = step;
  t->step_from = from;
  t->step_weight = top;
}
// Usable weights of V::kBytes / 4 pixels, pixel order, from a table made for the row. The
// step's bounds are held as vectors, so the loop keeps them in registers.
template <class V>
struct MaskWeigher {
  const i32* w;
  typename V::R from_minus_1, weight;
  bool step;
  explicit MaskWeigher(const MaskWeightTable& t)
      : w(t.w), from_minus_1(V::Set32(t.step_from - 1)), weight(V::Set32(t.step_weight)), step(t.step) {}
  typename V::R operator()(const u8* m) const {
    if (step) {
      typename V::R b = V::And(V::Load(m), V::Set32(0xFF));
      return V::And(V::Cmpgt32(b, from_minus_1), weight);
    }
    return V::GatherByMaskB(w, m);
  }
};

// Colour bytes d - floor((d - s) * w / 256); weight 0 (and the alpha word's) gives d back.
template <class V>
struct OpMaskTable {
  MaskWeigher<V> weigh;
  struct State {
    typename V::R w2;  // 2 * weight per pixel
    bool skip;
  };
  void Prepare(const u8*, const u8* m, State* st) const {
    typename V::R W = weigh(m);
    st->skip = V::AllZero(W);
    st->w2 = V::Add32(W, W);
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    if (st.skip) return;
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R w2 = h ? V::SpreadColourWordsHi(st.w2) : V::SpreadColourWordsLo(st.w2);
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Sub16(d16, V::Mulhi16s(V::template Slli16<7>(V::Sub16(d16, s16)), w2));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
  void operator()(u8* d, const u8* s, const u8* m) const {
    State st;
    Prepare(s, m, &st);
    Finish(d, s, st);
  }
};

// Soft edge from the mask byte itself: w = clamp(m * (f >> 1) + c, 0, 255) + 1, every byte.
// A weight of 1 gives d back and 256 gives s. The weight never falls as m grows, so mask bytes
// below skip_below all weigh 1 and bytes from copy_from on all weigh 256: a vector whose mask
// bytes are all below is left alone without reading its source or destination, and one whose
// bytes are all at or above takes the source. In a wipe most of the picture is one or the other.
template <class V>
struct OpMaskSoft {
  typename V::R half_f, c, skip_below, copy_after;  // copy_after = copy_from - 1
  void operator()(u8* d, const u8* s, const u8* m) const {
    typename V::R M = V::Load(m);
    typename V::R mb = V::And(M, V::Set32(0xFF));
    if (V::AllOnes(V::Cmpgt32(skip_below, mb))) return;
    typename V::R S = V::Load(s);
    if (V::AllOnes(V::Cmpgt32(mb, copy_after))) return V::Store(d, S);
    typename V::R D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R m16 = V::Broadcast16W0(h ? Hi<V>(M) : Lo<V>(M));
      typename V::R x = V::Adds16(V::Mullo16(m16, half_f), c);
      typename V::R w = V::Add16(V::Min16(V::Max16(x, V::Zero()), V::Set16(255)), V::Set16(1));
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] =
          V::Sub16(V::Add16(d16, V::template Srli16<8>(V::Mullo16(s16, w))), V::template Srli16<8>(V::Mullo16(d16, w)));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

// The same soft edge for a softness outside 0..255, whose products leave 16 bits: each pixel's
// weight (1..256) comes from a table of the 256 mask bytes, made once per row.
template <class V>
struct OpMaskSoftTable {
  const i32* w;
  void operator()(u8* d, const u8* s, const u8* m) const {
    typename V::R W = V::GatherByMaskB(w, m);
    if (V::AllOnes(V::Cmpeq32(W, V::Set32(1)))) return;
    typename V::R S = V::Load(s);
    if (V::AllOnes(V::Cmpeq32(W, V::Set32(256)))) return V::Store(d, S);
    typename V::R D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R w16 = h ? V::SpreadWordsHi(W) : V::SpreadWordsLo(W);
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Sub16(V::Add16(d16, V::template Srli16<8>(V::Mullo16(s16, w16))),
                      V::template Srli16<8>(V::Mullo16(d16, w16)));
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
static void KernelMask(u8* dst, const u8* src, const u8* mask, i32 progress, i32 softness, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  i32 p = BlendClampWeight(progress), f = softness;
  if (f == 256) {
    MaskWeightTable table;
    MaskWeightsUsable<V>(&table, true);
    return RunAhead3<V>(dst, src, mask, pixels * 4, OpMaskTable<V>{MaskWeigher<V>(table)});
  }
  i32 h = HeadPixels(dst, pixels);
  if (h) MaskTablePixel(dst, src, mask);
  i32 pairs = (pixels - h) >> 1;
  if (f < 0 || f > 255) {
    alignas(32) i32 w[256];
    BlendMaskSoftWeights(f, p, w);
    Run3<V, OpMaskSoftTable<V>, false>(dst + 4 * h, src + 4 * h, mask + 4 * h, pairs * 8, OpMaskSoftTable<V>{w});
  } else {
    int c = (f >> 1) * p - 128 * f + p, skip_below, copy_from;
    BlendMaskSoftBounds(f >> 1, c, &skip_below, &copy_from);
    Run3<V, OpMaskSoft<V>, false>(
        dst + 4 * h, src + 4 * h, mask + 4 * h, pairs * 8,
        OpMaskSoft<V>{V::Set16(f >> 1), V::Set16(c), V::Set32(skip_below), V::Set32(copy_from - 1)});
  }
  if ((pixels - h) & 1) {
    i32 o = 4 * (pixels - 1);
    MaskTablePixel(dst + o, src + o, mask + o);
  }
}

// ---- Slots 9 to 20 --------------------------------------------------------------------------

template <class V>
struct OpAdd {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Adds8u(V::Load(d), V::Load(s))); }
};
template <class V>
struct OpSub {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Subs8u(V::Load(s), V::Load(d))); }
};
template <class V>
struct OpMax {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Max8u(V::Load(d), V::Load(s))); }
};
template <class V>
struct OpMin {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Min8u(V::Load(d), V::Load(s))); }
};
template <class V>
struct OpLinearBurn {
  void operator()(u8* d, const u8* s) const { V::Store(d, V::Subs8u(V::Load(s), V::Xor(V::Load(d), V::Set8(-1)))); }
};
template <class V>
struct OpLinearLight {
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      r[h] = V::Sub16(V::Add16(d16, V::Add16(s16, s16)), V::Set16(256));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));  // saturation is the clamp to 0..255
  }
};

template <class V>
static void KernelAdd(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpAdd<V>{});
}
template <class V>
static void KernelSub(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpSub<V>{});
}
template <class V>
static void KernelLighten(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpMax<V>{});
}
template <class V>
static void KernelDarken(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpMin<V>{});
}
template <class V>
static void KernelLinearBurn(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpLinearBurn<V>{});
}
template <class V>
static void KernelLinearLight(u8* d, const u8* s, i32 n) {
  Run2<V>(d, s, n, OpLinearLight<V>{});
}

template <class V>
struct OpAddOpacity {
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
// The step min(d + s, 255) - d is never negative: d + ((step * w) >> 8), alpha kept.
template <class V, bool kWithOp>
struct OpAddAlpha {
  typename V::R op;
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d);
    typename V::R step = V::And(V::Subs8u(V::Adds8u(D, S), D), V::Set32(0x00FFFFFF)), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R w = V::Min16(V::Add16(h ? V::AlphaWordsHi(S) : V::AlphaWordsLo(S), V::Set16(1)), V::Set16(255));
      if (kWithOp) w = V::Mulhi16u(V::template Slli16<8>(w), op);
      r[h] = V::Mulhi16u(h ? Hi8<V>(step) : Lo8<V>(step), w);
    }
    V::Store(d, V::Add8(D, V::PackUs16(r[0], r[1])));
  }
};

template <class V>
static void KernelAddAlpha(u8* dst, const u8* src, i32, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  Run2<V>(dst, src, pixels * 4, OpAddAlpha<V, false>{V::Zero()});
}

template <class V>
static void KernelAddAlphaOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  Run2<V>(dst, src, pixels * 4, OpAddAlpha<V, true>{V::Set16(BlendClampWeight(op))});
}

template <class V>
struct OpMul {
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

template <class V>
struct OpScreenGroup {
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
  for (i32 i = h + len; i < bytes; i++) dst[i] = static_cast<u8>(src[i] + dst[i] - g_LutProductByte[src[i]][dst[i]]);
}

template <class V>
struct OpScreenOpacity {
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
// Slots 22 and 24 (sa <= oa): 4w as floor(sa * 1024 / oa) with its two low bits cleared. oa = 0
// only with sa = 0, where 0 / 0 truncates to 0x80000000, whose low word (the only one used) is 0.
template <class V>
static inline typename V::R Share4(typename V::R sa, typename V::R oa) {
  typename V::F num = V::ToF(V::template Slli32<10>(sa));
  return V::And(V::TruncF(V::DivF(num, V::ToF(oa))), V::Set32(~3));
}
// Slot 23 (oa may be below sa, the share reaches 65280, still less than half a unit from
// exact): oa = 0 gives 0.
template <class V>
static inline typename V::R ShareOfAny(typename V::R sa, typename V::R oa) {
  typename V::F num = V::ToF(V::template Slli32<8>(sa));
  typename V::R w = V::TruncF(V::DivF(num, V::MaxF(V::ToF(oa), V::SetF(1.0f))));
  return V::AndNot(V::Cmpeq32(oa, V::Zero()), w);
}

// Colour bytes d + floor((s - d) * w / 256) for 4w (low word per pixel, w in 0..256), alpha
// replaced by oa. The step is the signed high product of 64 (s - d) and 4w; it is added to d as
// bytes, modulo 256, which is exact because the sum lies in 0..255.
template <class V>
static inline typename V::R OverColour(typename V::R S, typename V::R D, typename V::R w4, typename V::R oa) {
  typename V::R lo = V::Mulhi16s(V::XDiff64Lo(S, D), V::SpreadWordsLo(w4));
  typename V::R hi = V::Mulhi16s(V::XDiff64Hi(S, D), V::SpreadWordsHi(w4));
  typename V::R low_bytes = V::Set16(0xFF);
  typename V::R step = V::PackUs16(V::And(lo, low_bytes), V::And(hi, low_bytes));
  return WithAlpha<V>(V::Add8(D, step), V::template Slli32<24>(oa));
}

// An opaque destination needs no division (oa = 255, w = sa or 256), but the general path
// gives the same bytes there, and testing for it costs more than the division it saves. The
// general path also gives s for an opaque source and d for a clear one; testing each vector
// for those costs about a tenth on mixed rows and saves the whole step on uniform ones. Slot
// 22 (sprites drawn into layers, with large opaque and clear areas) keeps the tests; slot 24
// does without.
template <class V, bool kScaled>
struct OpOver {
  typename V::R f8;  // slot 24: f << 8 per word (f below 256)
  struct State {
    typename V::R w4, oa;
    int what;  // 0 blend, 1 leave, 2 copy
  };
  void Prepare(const u8* d, const u8* s, State* st) const {
    typename V::R S = V::Load(s), D = V::Load(d);
    st->what = kScaled ? 0 : AllOpaque<V>(S) ? 2 : AllClear<V>(S) ? 1 : 0;
    typename V::R sa = V::template Srli32<24>(S);
    typename V::R da = V::template Srli32<24>(D);
    if (kScaled) da = V::Mulhi16u(da, f8);  // (da * f) >> 8
    st->oa = OverAlpha<V>(sa, da);
    st->w4 = Share4<V>(sa, st->oa);
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    if (!kScaled && st.what == 1) return;
    typename V::R S = V::Load(s);
    if (!kScaled && st.what == 2) return V::Store(d, S);
    V::Store(d, OverColour<V>(S, V::Load(d), st.w4, st.oa));
  }
  void operator()(u8* d, const u8* s) const {
    State st;
    Prepare(d, s, &st);
    Finish(d, s, st);
  }
};

template <class V>
static void KernelOver(u8* dst, const u8* src, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  RunAhead<V, OpOver<V, false>>(dst, src, pixels * 4, OpOver<V, false>{V::Zero()});
}

template <class V>
static void KernelOverDstScaled(u8* dst, const u8* src, i32 f, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  f = BlendClampWeight(f);
  if (f == 256) return KernelOver<V>(dst, src, bytes);
  RunAhead<V, OpOver<V, true>>(dst, src, pixels * 4, OpOver<V, true>{V::Set16(f << 8)});
}

// Colour bytes d + floor((s - d) * w / 65536) for w = share * op (0..65536) from one signed
// high product: with w's low word taken as signed, mulhi(x, low) is floor(x * w / 65536) - x
// exactly when w >= 32768 (w = 65536 included, where the low word is 0), so x is added back
// there. The weight goes in as low | (w >= 32768 ? 0xFFFF << 16 : 0) per pixel.
template <class V, bool kFull>
struct OpOverOpacity {
  typename V::R op;
  struct State {
    typename V::R k, alpha;  // weight as above, new alpha << 24
    int what;                // 0 blend, 1 leave, 2 copy
  };
  void Prepare(const u8* d, const u8* s, State* st) const {
    typename V::R S = V::Load(s);
    st->what = AllClear<V>(S) ? 1 : (kFull && AllOpaque<V>(S)) ? 2 : 0;
    typename V::R D = V::Load(d);
    typename V::R sa = V::template Srli32<24>(S), oa, share;
    if (AllOpaque<V>(D)) {
      // Onto an opaque destination oa = 255 and the share is sa, or 256 for sa = 255.
      oa = V::Set32(255);
      share = V::Sub32(sa, V::Cmpeq32(sa, V::Set32(255)));
    } else {
      typename V::R da = V::template Srli32<24>(D);
      typename V::R q = V::template Srli16<7>(V::Mulhi16u(V::Mullo16(sa, da), V::Set32(0x8081)));
      oa = V::Add32(da, V::template Srli32<8>(V::Mullo16(V::Sub32(sa, q), op)));
      share = ShareOfAny<V>(sa, oa);
    }
    // The share times op can pass 65536 when oa < sa; it is capped there.
    typename V::R w = V::Min32(V::Mullo32(share, op), V::Set32(65536));
    st->k = V::Or(w, V::template Slli32<16>(V::Cmpgt32(w, V::Set32(32767))));
    st->alpha = V::template Slli32<24>(oa);
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    if (st.what == 1) return;
    typename V::R S = V::Load(s);
    if (st.what == 2) return V::Store(d, S);
    typename V::R D = V::Load(d), r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R low = h ? V::SpreadWordsHi(st.k) : V::SpreadWordsLo(st.k);
      typename V::R big = h ? V::SpreadHighWordsHi(st.k) : V::SpreadHighWordsLo(st.k);
      typename V::R x = V::Sub16(s16, d16);
      r[h] = V::Add16(V::Add16(d16, V::Mulhi16s(x, low)), V::And(x, big));
    }
    V::Store(d, WithAlpha<V>(V::PackUs16(r[0], r[1]), st.alpha));
  }
  void operator()(u8* d, const u8* s) const {
    State st;
    Prepare(d, s, &st);
    Finish(d, s, st);
  }
};

template <class V>
static void KernelOverOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  op = BlendClampWeight(op);
  if (op == 256) RunStaged<V, OpOverOpacity<V, true>, 4>(dst, src, pixels * 4, OpOverOpacity<V, true>{V::Set32(op)});
  else RunStaged<V, OpOverOpacity<V, false>, 4>(dst, src, pixels * 4, OpOverOpacity<V, false>{V::Set32(op)});
}

// Colour bytes d + trunc(y * sa / (oa + 1)) with y = floor((s - d) * op / 256), kept between d
// and s: d + sign(s - d) * min(q, |s - d|) with q = floor(|y| * sa / (oa + 1)). q comes from
// K = ceil(sa * 65536 / (oa + 1)) per pixel as floor(|y| * K / 65536), which is exact for
// |y| < 256: K overshoots by less than 1 / (oa + 1) in 65536ths, |y| times that stays below
// 1 / (oa + 1), and the true quotient's fraction is at most oa / (oa + 1). K is
// floor((sa * 65536 - 1) / (oa + 1)) + 1 through a float division whose truncation is exact
// (K = 0 for sa = 0 and oa = 0, where q is 0 either way); the kernel tests prove both steps for
// every input. |y| * K is formed from K's two words, |y| * high + (|y| * low >> 16).
template <class V>
struct OpOverScaledOpacity {
  typename V::R f, op2, op32;
  struct State {
    typename V::R k, alpha;  // K per pixel, new alpha << 24
  };
  void Prepare(const u8* d, const u8* s, State* st) const {
    typename V::R S = V::Load(s), D = V::Load(d);
    typename V::R sa = V::template Srli32<24>(S);
    typename V::R da = V::template Srli32<8>(V::Mullo16(V::template Srli32<24>(D), f));
    typename V::R sub = V::template Srli32<8>(V::Mullo16(V::Add32(sa, V::Set32(1)), da));
    // At most 255, so the 8-bit cut is never needed.
    typename V::R oa = V::Add32(da, V::template Srli32<8>(V::Mullo16(V::Sub32(sa, sub), op32)));
    typename V::F num = V::ToF(V::Sub32(V::template Slli32<16>(sa), V::Set32(1)));
    typename V::F den = V::ToF(V::Add32(oa, V::Set32(1)));
    st->k = V::Add32(V::TruncF(V::DivF(num, den)), V::Set32(1));
    st->alpha = V::template Slli32<24>(oa);
  }
  void operator()(u8* d, const u8* s) const {
    State st;
    Prepare(d, s, &st);
    Finish(d, s, st);
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    typename V::R S = V::Load(s), D = V::Load(d);
    typename V::R r[2];
    for (int h = 0; h < 2; h++) {
      typename V::R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R kl = h ? V::SpreadWordsHi(st.k) : V::SpreadWordsLo(st.k);
      typename V::R kh = h ? V::SpreadHighWordsHi(st.k) : V::SpreadHighWordsLo(st.k);
      typename V::R x = V::Sub16(s16, d16);
      typename V::R ay = V::Abs16(V::Mulhi16s(V::template Slli16<7>(x), op2));
      typename V::R q = V::Add16(V::Mullo16(ay, kh), V::Mulhi16u(ay, kl));
      r[h] = V::Add16(d16, V::Sign16(V::Min16u(q, V::Abs16(x)), x));
    }
    V::Store(d, WithAlpha<V>(V::PackUs16(r[0], r[1]), st.alpha));
  }
};

template <class V>
static void KernelOverDstScaledOpacity(u8* dst, const u8* src, i32 f, i32 op, i32 bytes) {
  i32 pixels = bytes > 0 ? bytes >> 2 : 0;
  f = BlendClampWeight(f);
  op = BlendClampWeight(op);
  RunStaged<V, OpOverScaledOpacity<V>, 4>(dst, src, pixels * 4,
                                          OpOverScaledOpacity<V>{V::Set32(f), V::Set16(2 * op), V::Set32(op)});
}

// ---- The set --------------------------------------------------------------------------------

// clang-format off
template <class V>
static const PixelKernelTable kKernelSet = {
    KernelZero,
    KernelFillBytes,
    Clean<V, KernelFillColour<V>>::Call,
    Clean<V, KernelCopy<V>>::Call,
    Clean<V, KernelOpacity<V>>::Call,
    Clean<V, KernelAlpha<V>>::Call,
    Clean<V, KernelAlphaOpacity<V>>::Call,
    Clean<V, KernelMask<V>>::Call,
    Clean<V, KernelCrossFade<V>>::Call,
    Clean<V, KernelAdd<V>>::Call,
    Clean<V, KernelAddOpacity<V>>::Call,
    Clean<V, KernelAddAlpha<V>>::Call,
    Clean<V, KernelAddAlphaOpacity<V>>::Call,
    Clean<V, KernelSub<V>>::Call,
    Clean<V, KernelMul<V>>::Call,
    Clean<V, KernelScreen<V>>::Call,
    Clean<V, KernelScreenOpacity<V>>::Call,
    Clean<V, KernelLighten<V>>::Call,
    Clean<V, KernelDarken<V>>::Call,
    Clean<V, KernelLinearBurn<V>>::Call,
    Clean<V, KernelLinearLight<V>>::Call,
    Clean<V, KernelHalve<V>>::Call,
    Clean<V, KernelOver<V>>::Call,
    Clean<V, KernelOverOpacity<V>>::Call,
    Clean<V, KernelOverDstScaled<V>>::Call,
    Clean<V, KernelOverDstScaledOpacity<V>>::Call,
};
// clang-format on

}  // namespace ZP_SIMD_NS
