// Bilinear samples for the scalers and the threaded resize, two pixels at a time. Per channel:
// top = p00 * (256 - fx) + p01 * fx and bottom = p10 * (256 - fx) + p11 * fx (at most 255 * 256),
// then either ((top >> 8) * (256 - fy) + (bottom >> 8) * fy) >> 8 (the plain combination) or
// ((top * (256 - fy)) >> 16) + ((bottom * fy) >> 16) (the exact one); neither exceeds 255. The
// right neighbour is the next pixel in memory, or the pixel itself where right is 0.
#pragma once
#include <cstring>

#include "common/types.h"

#if defined(__SSE2__)
#include <emmintrin.h>

// A pixel and its right neighbour as 8 bytes.
static inline __m128i BilinearPair(const u8* p, i64 right) {
  if (right) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  u32 v;
  std::memcpy(&v, p, 4);
  const __m128i x = _mm_cvtsi32_si128(static_cast<int>(v));
  return _mm_unpacklo_epi32(x, x);
}

static inline __m128i BilinearWeights(u32 f) {
  const __m128i w = _mm_set1_epi16(static_cast<short>(f));
  return _mm_unpacklo_epi64(_mm_sub_epi16(_mm_set1_epi16(256), w), w);
}

// The horizontal sums of samples A and B in one row, A's in the low half.
static inline __m128i BilinearRowSums(__m128i a, __m128i b, __m128i wa, __m128i wb) {
  const __m128i z = _mm_setzero_si128();
  const __m128i ma = _mm_mullo_epi16(_mm_unpacklo_epi8(a, z), wa);
  const __m128i mb = _mm_mullo_epi16(_mm_unpacklo_epi8(b, z), wb);
  return _mm_add_epi16(_mm_unpacklo_epi64(ma, mb), _mm_unpackhi_epi64(ma, mb));
}

// Samples A and B (pointers into rows 0 and 1, right-neighbour offsets, column fractions) with
// row fraction fy: count (1 or 2) pixels stored at dst.
template <bool kExact>
static inline void BilinearTwo(u8* dst, const u8* a0, const u8* a1, i64 ra, u32 fxa, const u8* b0, const u8* b1, i64 rb,
                               u32 fxb, u32 fy, int count) {
  const __m128i wa = BilinearWeights(fxa), wb = BilinearWeights(fxb);
  const __m128i top = BilinearRowSums(BilinearPair(a0, ra), BilinearPair(b0, rb), wa, wb);
  const __m128i bottom = BilinearRowSums(BilinearPair(a1, ra), BilinearPair(b1, rb), wa, wb);
  const __m128i w0 = _mm_set1_epi16(static_cast<short>(256 - fy)), w1 = _mm_set1_epi16(static_cast<short>(fy));
  __m128i v;
  if (kExact) {
    v = _mm_add_epi16(_mm_mulhi_epu16(top, w0), _mm_mulhi_epu16(bottom, w1));
  } else {
    v = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(top, 8), w0), _mm_mullo_epi16(_mm_srli_epi16(bottom, 8), w1)), 8);
  }
  v = _mm_packus_epi16(v, v);
  if (count == 2) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), v);
  } else {
    const u32 px = static_cast<u32>(_mm_cvtsi128_si32(v));
    std::memcpy(dst, &px, 4);
  }
}

// One source row's horizontal sums for columns [first, end) of a scaling's tables (byte offsets
// and fractions four times as 16-bit values): per channel p * (256 - fx) + right * fx, at
// out[4 * c] on. The right neighbour is the next pixel in memory.
static inline void BilinearRowSums16(u16* out, const u8* row, const i32* cols, const u64* fracs, i32 first, i32 end) {
  i32 c = first;
  for (; c + 1 < end; c += 2) {
    const __m128i fa = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(fracs + c));
    const __m128i fb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(fracs + c + 1));
    const __m128i k256 = _mm_set1_epi16(256);
    const __m128i wa = _mm_unpacklo_epi64(_mm_sub_epi16(k256, fa), fa);
    const __m128i wb = _mm_unpacklo_epi64(_mm_sub_epi16(k256, fb), fb);
    const __m128i s = BilinearRowSums(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + cols[c])),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + cols[c + 1])), wa, wb);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i64{c} * 4), s);
  }
  if (c < end) {
    const __m128i fa = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(fracs + c));
    const __m128i wa = _mm_unpacklo_epi64(_mm_sub_epi16(_mm_set1_epi16(256), fa), fa);
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + cols[c]));
    const __m128i s = BilinearRowSums(a, a, wa, wa);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i64{c} * 4), s);
  }
}

// The exact combination of two rows of horizontal sums with row fraction fy, `values` channel
// values (a multiple of 4) into bytes.
static inline void BilinearCombineExact(u8* dst, const u16* top, const u16* bottom, u32 fy, i64 values) {
  const __m128i w0 = _mm_set1_epi16(static_cast<short>(256 - fy)), w1 = _mm_set1_epi16(static_cast<short>(fy));
  i64 i = 0;
  for (; i + 16 <= values; i += 16) {
    const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i));
    const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i + 8));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i + 8));
    const __m128i v0 = _mm_add_epi16(_mm_mulhi_epu16(t0, w0), _mm_mulhi_epu16(b0, w1));
    const __m128i v1 = _mm_add_epi16(_mm_mulhi_epu16(t1, w0), _mm_mulhi_epu16(b1, w1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(v0, v1));
  }
  for (; i < values; i += 4) {
    const __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + i));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + i));
    const __m128i v = _mm_add_epi16(_mm_mulhi_epu16(t, w0), _mm_mulhi_epu16(b, w1));
    const u32 px = static_cast<u32>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    std::memcpy(dst + i, &px, 4);
  }
}

// One source row's plain horizontal results for positions [first, end): per channel
// (p * w0 + right * w1) >> 8 at out[4 * k] on, with the pixel at byte offset offs[k], its right
// neighbour (the next pixel in memory) and weights[8 * k ..] = w0 four times, then w1 four times.
static inline void BilinearRowBytes(u8* out, const u8* row, const i64* offs, const u16* weights, i64 first, i64 end) {
  i64 k = first;
  for (; k + 1 < end; k += 2) {
    const __m128i z = _mm_setzero_si128();
    const __m128i ma =
        _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offs[k])), z),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + k * 8)));
    const __m128i mb =
        _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offs[k + 1])), z),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + k * 8 + 8)));
    __m128i s = _mm_srli_epi16(_mm_add_epi16(_mm_unpacklo_epi64(ma, mb), _mm_unpackhi_epi64(ma, mb)), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * 4), _mm_packus_epi16(s, s));
  }
  for (; k < end; k++) {
    const u8* p = row + offs[k];
    const u16* w = weights + k * 8;
    for (int c = 0; c < 4; c++) out[k * 4 + c] = static_cast<u8>((p[c] * w[c] + p[4 + c] * w[4 + c]) >> 8);
  }
}

// The plain combination of two rows of horizontal results: (a * (256 - fy) + b * fy) >> 8 per
// byte.
static inline void BilinearCombineBytes(u8* dst, const u8* a, const u8* b, u32 fy, i64 bytes) {
  const __m128i w0 = _mm_set1_epi16(static_cast<short>(256 - fy)), w1 = _mm_set1_epi16(static_cast<short>(fy));
  const __m128i z = _mm_setzero_si128();
  i64 i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, z), w0), _mm_mullo_epi16(_mm_unpacklo_epi8(y, z), w1)), 8);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, z), w0), _mm_mullo_epi16(_mm_unpackhi_epi8(y, z), w1)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < bytes; i++) dst[i] = static_cast<u8>((a[i] * (256 - fy) + b[i] * fy) >> 8);
}

#else

// The same with the four channels in 16-bit lanes of one 64-bit word.
static inline u64 BilinearSpread(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  u64 x = v;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  return (x | (x << 8)) & 0x00FF00FF00FF00FFull;
}

template <bool kExact>
static inline u32 BilinearOne(const u8* p0, const u8* p1, i64 right, u64 fx, u64 fy) {
  const u64 bytes = 0x00FF00FF00FF00FFull, halves = 0x0000FFFF0000FFFFull;
  const u64 top = BilinearSpread(p0) * (256 - fx) + BilinearSpread(p0 + right) * fx;
  const u64 bottom = BilinearSpread(p1) * (256 - fx) + BilinearSpread(p1 + right) * fx;
  u64 v;
  if (kExact) {
    const u64 even = ((((top & halves) * (256 - fy)) >> 16) & halves) + ((((bottom & halves) * fy) >> 16) & halves);
    const u64 odd =
        (((((top >> 16) & halves) * (256 - fy)) >> 16) & halves) + (((((bottom >> 16) & halves) * fy) >> 16) & halves);
    v = even | (odd << 16);
  } else {
    v = ((((top >> 8) & bytes) * (256 - fy) + ((bottom >> 8) & bytes) * fy) >> 8) & bytes;
  }
  v = (v | (v >> 8)) & halves;
  return static_cast<u32>(v | (v >> 16));
}

template <bool kExact>
static inline void BilinearTwo(u8* dst, const u8* a0, const u8* a1, i64 ra, u32 fxa, const u8* b0, const u8* b1, i64 rb,
                               u32 fxb, u32 fy, int count) {
  const u32 a = BilinearOne<kExact>(a0, a1, ra, fxa, fy);
  std::memcpy(dst, &a, 4);
  if (count == 2) {
    const u32 b = BilinearOne<kExact>(b0, b1, rb, fxb, fy);
    std::memcpy(dst + 4, &b, 4);
  }
}

static inline void BilinearRowSums16(u16* out, const u8* row, const i32* cols, const u64* fracs, i32 first, i32 end) {
  for (i32 c = first; c < end; c++) {
    const u32 fx = static_cast<u32>(fracs[c] & 0xFFFF);
    const u8* p = row + cols[c];
    for (int k = 0; k < 4; k++) out[i64{c} * 4 + k] = static_cast<u16>(p[k] * (256 - fx) + p[4 + k] * fx);
  }
}

static inline void BilinearCombineExact(u8* dst, const u16* top, const u16* bottom, u32 fy, i64 values) {
  for (i64 i = 0; i < values; i++) dst[i] = static_cast<u8>(((top[i] * (256 - fy)) >> 16) + ((bottom[i] * fy) >> 16));
}

static inline void BilinearRowBytes(u8* out, const u8* row, const i64* offs, const u16* weights, i64 first, i64 end) {
  for (i64 k = first; k < end; k++) {
    const u8* p = row + offs[k];
    const u16* w = weights + k * 8;
    for (int c = 0; c < 4; c++) out[k * 4 + c] = static_cast<u8>((p[c] * w[c] + p[4 + c] * w[4 + c]) >> 8);
  }
}

static inline void BilinearCombineBytes(u8* dst, const u8* a, const u8* b, u32 fy, i64 bytes) {
  for (i64 i = 0; i < bytes; i++) dst[i] = static_cast<u8>((a[i] * (256 - fy) + b[i] * fy) >> 8);
}

#endif

// The AVX2 versions of BilinearRowBytes and BilinearCombineBytes, with the same results (only
// where g_CpuHasAvx2 is set).
void BilinearRowBytesAvx2(u8* out, const u8* row, const i64* offs, const u16* weights, i64 first, i64 end);
void BilinearCombineBytesAvx2(u8* dst, const u8* a, const u8* b, u32 fy, i64 bytes);
// BilinearRowBytesAvx2 where each even position k (first and end even) and the next lie at most
// two pixels apart, left to right: one 16-byte read at offs[k] holds both pixels and their right
// neighbours (up to three pixels past a row's last, which the spare bytes hold for a source at
// least 2 pixels wide). masks: per pair of positions the byte shuffle that spreads its two pixels
// into 16-bit values; w1: each position's fraction (the right neighbour's weight) four times.
void BilinearRowBytesNearAvx2(u8* out, const u8* row, const i64* offs, const u8* masks, const u16* w1, i64 first,
                              i64 end);
// BilinearRowSums16 where the pairs of columns from first on lie at most two pixels apart, left to
// right (one 16-byte read at cols[c] holds both pixels and their right neighbours, up to three
// pixels past a row's last, which the spare bytes hold for a source at least 2 pixels wide);
// masks: per pair from first the byte shuffle that spreads its two pixels into 16-bit values.
void BilinearRowSumsNearAvx2(u16* out, const u8* row, const i32* cols, const u8* masks, const u64* fracs, i32 first,
                             i32 end);
// BilinearCombineExact, 32 values a step.
void BilinearCombineExactAvx2(u8* dst, const u16* top, const u16* bottom, u32 fy, i64 values);
// Two sub-rows combined (BilinearCombineBytes of a0, b0 with fy0 and of a1, b1 with fy1) and
// halved 2 x 2 into dst: plain, the sum of the four >> 2; else the rounding average of each
// column's two sub-rows, then of the two columns. Whole groups of 8 pixels only; returns the
// pixels done.
i64 BilinearCombineHalveAvx2(u8* dst, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1,
                             i64 pixels, bool plain);

// The AVX-512 rows of the threaded bilinear resize (only where g_CpuHasAvx512 is set and
// Bilinear41Avx512Built says the build holds them; else they do nothing).
bool Bilinear41Avx512Built();
// A row of horizontal results is laid out by groups of 8 destination pixels, 64 bytes each (on a
// 64-byte line), each result moved down by 128 (a signed byte): per 16 bytes k, the 8 channel
// values of the even sub-columns of the group's pixels 2k and 2k + 1, then those of their odd
// sub-columns.
// Vectors v and v + 1 (the halves of group v / 2, v even; vectors even) of one source row: 64
// bytes read at row + win[v], picked by idx[64 v ..] (on a line) into pixel and right neighbour
// bytes per channel, weighted by weights[64 v ..] (on a line; 256 - fraction and fraction, 255
// and 1 on the same byte for a fraction of 0). With out2 set, the same for row2 into out2 in the
// same pass.
void Bilinear41RowAvx512(u8* out, const u8* row, u8* out2, const u8* row2, const i64* win, const u8* idx,
                         const u8* weights, i64 vectors);
// Two sub-rows (rows a0 and b0 with fraction fy0, a1 and b1 with fy1; b unused where its fraction
// is 0) combined and halved 2 x 2 into `pixels` pixels at dst, as BilinearCombineHalveAvx2 does.
void Bilinear41CombineAvx512(u8* dst, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1,
                             i64 pixels, bool plain);
