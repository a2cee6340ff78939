// AVX2 rows of the bilinear resizes (see bilinear_px.h), 8 pixels a step. The build compiles this
// file for AVX2, so nothing here may run before the processor check: it holds no dynamic
// initialisation and uses no shared templates, and its functions are called only when
// g_CpuHasAvx2 is set.
#include <cstring>

#include "layer/bilinear_px.h"

#if defined(__AVX2__)
#include <immintrin.h>

// Positions k and k + 1 as 16-bit values: lane 0 the pixel at offs[k] and its right
// neighbour, lane 1 the same for k + 1.
static inline __m256i PairsOf(const u8* row, const i64* offs, i64 k) {
  const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offs[k]));
  const __m128i ab =
      _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(a), reinterpret_cast<const double*>(row + offs[k + 1])));
  return _mm256_cvtepu8_epi16(ab);
}

// The horizontal sums of positions k .. k + 3, lane 0 holding k and k + 2, lane 1 k + 1 and k + 3.
static inline __m256i SumsOf4(const u8* row, const i64* offs, const u16* weights, i64 k) {
  const __m256i m0 =
      _mm256_mullo_epi16(PairsOf(row, offs, k), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + k * 8)));
  const __m256i m1 = _mm256_mullo_epi16(PairsOf(row, offs, k + 2),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + (k + 2) * 8)));
  return _mm256_add_epi16(_mm256_unpacklo_epi64(m0, m1), _mm256_unpackhi_epi64(m0, m1));
}

void BilinearRowBytesAvx2(u8* out, const u8* row, const i64* offs, const u16* weights, i64 first, i64 end) {
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  i64 k = first;
  for (; k + 8 <= end; k += 8) {
    const __m256i s0 = _mm256_srli_epi16(SumsOf4(row, offs, weights, k), 8);
    const __m256i s1 = _mm256_srli_epi16(SumsOf4(row, offs, weights, k + 4), 8);
    const __m256i v = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(s0, s1), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k * 4), v);
  }
  for (; k < end; k++) {
    const u8* p = row + offs[k];
    const u16* w = weights + k * 8;
    for (int c = 0; c < 4; c++) out[k * 4 + c] = static_cast<u8>((p[c] * w[c] + p[4 + c] * w[4 + c]) >> 8);
  }
}

void BilinearRowBytesNearAvx2(u8* out, const u8* row, const i64* offs, const u8* masks, const u16* w1, i64 first,
                              i64 end) {
  const __m256i k256 = _mm256_set1_epi16(256);
  const __m256i next = _mm256_set1_epi16(4);  // the right neighbours: 4 bytes on (zeroing bytes stay)
  i64 k = first;
  for (; k + 8 <= end; k += 8) {
    __m256i s[2];
    for (int h = 0; h < 2; h++) {
      const i64 q = k + 4 * h;
      const __m256i win = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + offs[q + 2]),
                                              reinterpret_cast<const __m128i*>(row + offs[q]));
      const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + q * 8));
      const __m256i p = _mm256_shuffle_epi8(win, m);
      const __m256i n = _mm256_shuffle_epi8(win, _mm256_add_epi8(m, next));
      const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w1 + q * 4));
      s[h] = _mm256_srli_epi16(
          _mm256_add_epi16(_mm256_mullo_epi16(p, _mm256_sub_epi16(k256, f)), _mm256_mullo_epi16(n, f)), 8);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k * 4),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(s[0], s[1]), 0xD8));
  }
  for (; k < end; k++) {
    const u8* p = row + offs[k];
    for (int c = 0; c < 4; c++)
      out[k * 4 + c] = static_cast<u8>((p[c] * (256 - w1[k * 4]) + p[4 + c] * w1[k * 4]) >> 8);
  }
}

void BilinearRowSumsNearAvx2(u16* out, const u8* row, const i32* cols, const u8* masks, const u64* fracs, i32 first,
                             i32 end) {
  const __m256i k256 = _mm256_set1_epi16(256);
  const __m256i next = _mm256_set1_epi16(4);
  i32 c = first;
  for (; c + 4 <= end; c += 4) {
    const __m256i win = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + cols[c + 2]),
                                            reinterpret_cast<const __m128i*>(row + cols[c]));
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + i64{c - first} * 8));
    const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fracs + c));
    const __m256i p = _mm256_shuffle_epi8(win, m);
    const __m256i n = _mm256_shuffle_epi8(win, _mm256_add_epi8(m, next));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i64{c} * 4),
                        _mm256_add_epi16(_mm256_mullo_epi16(p, _mm256_sub_epi16(k256, f)), _mm256_mullo_epi16(n, f)));
  }
  for (; c < end; c++) {
    const u32 fx = static_cast<u32>(fracs[c] & 0xFFFF);
    const u8* p = row + cols[c];
    for (int k = 0; k < 4; k++) out[i64{c} * 4 + k] = static_cast<u16>(p[k] * (256 - fx) + p[4 + k] * fx);
  }
}

void BilinearCombineExactAvx2(u8* dst, const u16* top, const u16* bottom, u32 fy, i64 values) {
  const __m256i w0 = _mm256_set1_epi16(static_cast<short>(256 - fy)), w1 = _mm256_set1_epi16(static_cast<short>(fy));
  i64 i = 0;
  for (; i + 32 <= values; i += 32) {
    const __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + i));
    const __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + i + 16));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + i));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + i + 16));
    const __m256i v0 = _mm256_add_epi16(_mm256_mulhi_epu16(t0, w0), _mm256_mulhi_epu16(b0, w1));
    const __m256i v1 = _mm256_add_epi16(_mm256_mulhi_epu16(t1, w0), _mm256_mulhi_epu16(b1, w1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(v0, v1), 0xD8));
  }
  for (; i < values; i++) dst[i] = static_cast<u8>(((top[i] * (256 - fy)) >> 16) + ((bottom[i] * fy) >> 16));
}

// Four positions of one sub-row, 16-bit: (a * (256 - fy) + b * fy) >> 8 of 16 bytes.
static inline __m256i Combine16(const u8* a, const u8* b, __m256i w0, __m256i w1) {
  const __m256i x = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
  const __m256i y = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(x, w0), _mm256_mullo_epi16(y, w1)), 8);
}

i64 BilinearCombineHalveAvx2(u8* dst, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1,
                             i64 pixels, bool plain) {
  const __m256i w00 = _mm256_set1_epi16(static_cast<short>(256 - fy0)),
                w01 = _mm256_set1_epi16(static_cast<short>(fy0));
  const __m256i w10 = _mm256_set1_epi16(static_cast<short>(256 - fy1)),
                w11 = _mm256_set1_epi16(static_cast<short>(fy1));
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  i64 p = 0;
  for (; p + 8 <= pixels; p += 8) {
    __m256i r[2];
    for (int h = 0; h < 2; h++) {
      // Sub-row pixels 8h .. 8h + 7 (16 bytes per four), the two sub-rows together.
      __m256i v[2];
      for (int q = 0; q < 2; q++) {
        const i64 o = p * 8 + h * 32 + q * 16;
        const __m256i t = Combine16(a0 + o, b0 + o, w00, w01), u = Combine16(a1 + o, b1 + o, w10, w11);
        v[q] = plain ? _mm256_add_epi16(t, u) : _mm256_avg_epu16(t, u);
      }
      // Lane 0: sub-pixels 0 and 4, 1 and 5 (of these eight); lane 1: 2 and 6, 3 and 7.
      const __m256i even = _mm256_unpacklo_epi64(v[0], v[1]), odd = _mm256_unpackhi_epi64(v[0], v[1]);
      r[h] = plain ? _mm256_srli_epi16(_mm256_add_epi16(even, odd), 2) : _mm256_avg_epu16(even, odd);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + p * 4),
                        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(r[0], r[1]), order));
  }
  return p;
}

void BilinearCombineBytesAvx2(u8* dst, const u8* a, const u8* b, u32 fy, i64 bytes) {
  const __m256i w0 = _mm256_set1_epi16(static_cast<short>(256 - fy)), w1 = _mm256_set1_epi16(static_cast<short>(fy));
  i64 i = 0;
  for (; i + 32 <= bytes; i += 32) {
    const __m256i a0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
    const __m256i a1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + 16)));
    const __m256i b0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    const __m256i b1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 16)));
    const __m256i v0 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a0, w0), _mm256_mullo_epi16(b0, w1)), 8);
    const __m256i v1 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a1, w0), _mm256_mullo_epi16(b1, w1)), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(v0, v1), 0xD8));
  }
  for (; i < bytes; i++) dst[i] = static_cast<u8>((a[i] * (256 - fy) + b[i] * fy) >> 8);
}

#else
void BilinearRowBytesAvx2(u8*, const u8*, const i64*, const u16*, i64, i64) {}
void BilinearRowBytesNearAvx2(u8*, const u8*, const i64*, const u8*, const u16*, i64, i64) {}
void BilinearCombineBytesAvx2(u8*, const u8*, const u8*, u32, i64) {}
i64 BilinearCombineHalveAvx2(u8*, const u8*, const u8*, u32, const u8*, const u8*, u32, i64, bool) { return 0; }
void BilinearRowSumsNearAvx2(u16*, const u8*, const i32*, const u8*, const u64*, i32, i32) {}
void BilinearCombineExactAvx2(u8*, const u16*, const u16*, u32, i64) {}
#endif
