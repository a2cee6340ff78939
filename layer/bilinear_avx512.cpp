// AVX-512 rows of the threaded bilinear resize (see bilinear_px.h), 8 destination pixels a step.
// The build compiles this file for AVX-512BW and VBMI, so nothing here may run before the
// processor check: it holds no dynamic initialisation and uses no shared templates, and its
// functions are called only when g_CpuHasAvx512 is set.
//
// Both passes take their products from one signed byte multiply-add: with the pixel bytes moved
// down by 128 (x ^ 0x80), p * (256 - f) + n * f - 32768 = (p - 128) * (256 - f) + (n - 128) * f,
// which lies in -32768 .. 32512; its high byte is the result moved down by 128. A fraction of 0
// takes weights 255 and 1 on the same byte.
#include "layer/bilinear_px.h"

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC takes the intrinsics' deliberately undefined pass-through operands for uninitialised values.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

// The high bytes of the 16-bit values of x and y (signed), per 16-byte lane x's 8, then y's 8.
static inline __m512i HighBytes(__m512i x, __m512i y) {
  return _mm512_packs_epi16(_mm512_srai_epi16(x, 8), _mm512_srai_epi16(y, 8));
}

void Bilinear41RowAvx512(u8* out, const u8* row, u8* out2, const u8* row2, const i64* win, const u8* idx,
                         const u8* weights, i64 vectors) {
  const __m512i flip = _mm512_set1_epi8(static_cast<char>(0x80));
  const auto half = [&](const u8* r, i64 v, __m512i pick, __m512i w) {
    const __m512i d = _mm512_xor_si512(_mm512_permutexvar_epi8(pick, _mm512_loadu_si512(r + win[v])), flip);
    return _mm512_maddubs_epi16(w, d);
  };
  for (i64 v = 0; v + 1 < vectors; v += 2) {
    const __m512i i0 = _mm512_load_si512(idx + v * 64), i1 = _mm512_load_si512(idx + v * 64 + 64);
    const __m512i w0 = _mm512_load_si512(weights + v * 64), w1 = _mm512_load_si512(weights + v * 64 + 64);
    _mm512_store_si512(out + v * 32, HighBytes(half(row, v, i0, w0), half(row, v + 1, i1, w1)));
    if (out2) _mm512_store_si512(out2 + v * 32, HighBytes(half(row2, v, i0, w0), half(row2, v + 1, i1, w1)));
  }
}

// One sub-row's vertical products for the even (odd false) or odd sub-columns of a group: rows a
// and b (64 bytes each) with row fraction fy; for a fraction of 0, row a's values in the high
// bytes.
static inline __m512i Vertical(__m512i a, __m512i b, u32 fy, __m512i wy, bool odd) {
  if (!fy)
    return odd ? _mm512_unpackhi_epi8(_mm512_setzero_si512(), a) : _mm512_unpacklo_epi8(_mm512_setzero_si512(), a);
  return _mm512_maddubs_epi16(wy, odd ? _mm512_unpackhi_epi8(a, b) : _mm512_unpacklo_epi8(a, b));
}

void Bilinear41CombineAvx512(u8* dst, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1,
                             i64 pixels, bool plain) {
  const __m512i wy0 = _mm512_set1_epi16(static_cast<short>((fy0 << 8) | ((256 - fy0) & 255)));
  const __m512i wy1 = _mm512_set1_epi16(static_cast<short>((fy1 << 8) | ((256 - fy1) & 255)));
  const __m512i flip16 = _mm512_set1_epi16(static_cast<short>(0x8000));
  const __m512i flip8 = _mm512_set1_epi16(0x80);
  // Byte picks: the high bytes of the 16-bit values, in order.
  alignas(64) u8 picks[64];
  for (int i = 0; i < 64; i++) picks[i] = static_cast<u8>((2 * i + 1) & 63);
  const __m512i high = _mm512_load_si512(picks);
  for (i64 g = 0; g * 8 < pixels; g++) {
    const __m512i ra0 = _mm512_load_si512(a0 + g * 64), rb0 = _mm512_load_si512(b0 + g * 64);
    const __m512i ra1 = _mm512_load_si512(a1 + g * 64), rb1 = _mm512_load_si512(b1 + g * 64);
    // Per 16-byte lane k, pixels 2k and 2k + 1: t0 and u0 their even sub-columns, t1 and u1 the
    // odd ones.
    const __m512i t0 = Vertical(ra0, rb0, fy0, wy0, false), t1 = Vertical(ra0, rb0, fy0, wy0, true);
    const __m512i u0 = Vertical(ra1, rb1, fy1, wy1, false), u1 = Vertical(ra1, rb1, fy1, wy1, true);
    const i64 left = pixels - g * 8;
    if (plain) {
      // (the sum of the four) >> 2, each one 128 down; the bytes moved back up.
      const __m512i s = _mm512_add_epi16(_mm512_add_epi16(_mm512_srai_epi16(t0, 8), _mm512_srai_epi16(t1, 8)),
                                         _mm512_add_epi16(_mm512_srai_epi16(u0, 8), _mm512_srai_epi16(u1, 8)));
      const __m512i r = _mm512_xor_si512(_mm512_srai_epi16(s, 2), flip8);
      if (left >= 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + g * 32), _mm512_cvtepi16_epi8(r));
      else _mm512_mask_cvtepi16_storeu_epi8(dst + g * 32, static_cast<__mmask32>((u32{1} << (left * 4)) - 1), r);
    } else {
      // The rounding average of each sub-column's two sub-rows, then of the two sub-columns, on
      // the high bytes (moved back up; the low bytes' averages are never read), which are then
      // gathered into the low 32 bytes.
      const __m512i c0 = _mm512_avg_epu8(_mm512_xor_si512(t0, flip16), _mm512_xor_si512(u0, flip16));
      const __m512i c1 = _mm512_avg_epu8(_mm512_xor_si512(t1, flip16), _mm512_xor_si512(u1, flip16));
      const __m512i v = _mm512_permutexvar_epi8(high, _mm512_avg_epu8(c0, c1));
      if (left >= 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + g * 32), _mm512_castsi512_si256(v));
      else _mm512_mask_storeu_epi8(dst + g * 32, (u64{1} << (left * 4)) - 1, v);
    }
  }
}

bool Bilinear41Avx512Built() { return true; }

#else
bool Bilinear41Avx512Built() { return false; }
void Bilinear41RowAvx512(u8*, const u8*, u8*, const u8*, const i64*, const u8*, const u8*, i64) {}
void Bilinear41CombineAvx512(u8*, const u8*, const u8*, u32, const u8*, const u8*, u32, i64, bool) {}
#endif
