// AVX2 effect kernels (see fx_avx2.h). The build compiles this whole file for AVX2, so it holds
// no dynamic initialisation and nothing of it runs before the processor check. Every operation
// used works within 128-bit lanes exactly as the SSE2 form in fx.cpp does, so each lane gives
// the bytes of four pixels as the SSE2 code does.
#include "layer/fx_avx2.h"

#if defined(__AVX2__)
#include <immintrin.h>

// op(eight source pixels) for each whole group of eight.
template <class Op>
static i64 Run(u8* out, const u8* src, i64 pixels, Op op) {
  i64 x = 0;
  for (; x + 8 <= pixels; x += 8)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * 4),
                        op(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x * 4))));
  return x;
}

i64 FxSepiaAvx2(u8* out, const u8* src, i64 pixels) {
  const __m256i low_bytes = _mm256_set1_epi32(0x00FF00FF), weights_br = _mm256_set1_epi32(306 << 16 | 117);
  const __m256i weight_g = _mm256_set1_epi32(601);
  return Run(out, src, pixels, [&](__m256i p) {
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(_mm256_and_si256(p, low_bytes), weights_br),
                                         _mm256_madd_epi16(_mm256_srli_epi16(p, 8), weight_g));
    const __m256i b = _mm256_srai_epi32(_mm256_sub_epi32(sum, _mm256_set1_epi32(45261)), 10);
    const __m256i g = _mm256_srai_epi32(_mm256_sub_epi32(sum, _mm256_set1_epi32(281)), 10);
    const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(18309)), 10);
    const __m256i a = _mm256_srli_epi32(p, 24);
    const __m256i q = _mm256_packus_epi16(_mm256_packs_epi32(b, r), _mm256_packs_epi32(g, a));
    const __m256i u = _mm256_unpacklo_epi8(q, _mm256_srli_si256(q, 8));
    return _mm256_unpacklo_epi16(u, _mm256_srli_si256(u, 8));
  });
}

i64 FxNegativeAvx2(u8* out, const u8* src, i64 pixels) {
  const __m256i flip = _mm256_set1_epi32(0x00FFFFFF);
  return Run(out, src, pixels, [flip](__m256i p) { return _mm256_xor_si256(p, flip); });
}

i64 FxThresholdAvx2(u8* out, const u8* src, i64 pixels, i32 limit) {
  const __m256i byte = _mm256_set1_epi32(255), colour = _mm256_set1_epi32(0xFFFFFF), lim = _mm256_set1_epi32(limit);
  return Run(out, src, pixels, [&](__m256i p) {
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_and_si256(p, byte), _mm256_and_si256(_mm256_srli_epi32(p, 8), byte)),
                         _mm256_and_si256(_mm256_srli_epi32(p, 16), byte));
    const __m256i black = _mm256_cmpgt_epi32(lim, sum);
    return _mm256_or_si256(_mm256_andnot_si256(black, colour), _mm256_andnot_si256(colour, p));
  });
}
#else
i64 FxSepiaAvx2(u8*, const u8*, i64) { return 0; }
i64 FxNegativeAvx2(u8*, const u8*, i64) { return 0; }
i64 FxThresholdAvx2(u8*, const u8*, i64, i32) { return 0; }
#endif
