// Thin vector wrappers that let one kernel body compile as SSE2 (16 bytes) or AVX2 (32 bytes).
// Every 256-bit operation used here works within 128-bit lanes exactly like its 128-bit form,
// so unpack / pack round trips keep pixel order in both widths. Included only by the SIMD
// translation units, inside their own namespace (ZP_SIMD_NS), so no inline copy compiled for
// AVX2 can be shared with the SSE2 code.
#pragma once
#if !defined(ZP_SIMD_NS)
#error "define ZP_SIMD_NS before including simd_vec.h"
#endif
#include <immintrin.h>

#include "common/types.h"

// The kernels rely on every wrapper being inlined; a few are big enough that the compiler
// would otherwise call them.
#if defined(__GNUC__)
#define ZP_SIMD_INLINE inline __attribute__((always_inline))
#define ZP_SIMD_FLATTEN inline __attribute__((flatten))
#else
#define ZP_SIMD_INLINE inline
#define ZP_SIMD_FLATTEN inline
#endif

namespace ZP_SIMD_NS {

struct VecSse2 {
  typedef __m128i R;
  typedef __m128 F;
  static constexpr int kBytes = 16;
  static inline void Leave() {}
  static inline R Load(const void* p) { return _mm_loadu_si128(static_cast<const R*>(p)); }
  static inline void Store(void* p, R v) { _mm_storeu_si128(static_cast<R*>(p), v); }
  static inline R Zero() { return _mm_setzero_si128(); }
  static inline R Set8(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
  static inline R Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static inline R Set32(int v) { return _mm_set1_epi32(v); }
  static inline R Set64(long long v) { return _mm_set1_epi64x(v); }
  static inline R And(R a, R b) { return _mm_and_si128(a, b); }
  static inline R AndNot(R a, R b) { return _mm_andnot_si128(a, b); }  // ~a & b
  static inline R Or(R a, R b) { return _mm_or_si128(a, b); }
  static inline R Xor(R a, R b) { return _mm_xor_si128(a, b); }
  static inline R Add8(R a, R b) { return _mm_add_epi8(a, b); }
  static inline R Adds8u(R a, R b) { return _mm_adds_epu8(a, b); }
  static inline R Subs8u(R a, R b) { return _mm_subs_epu8(a, b); }
  static inline R Min8u(R a, R b) { return _mm_min_epu8(a, b); }
  static inline R Max8u(R a, R b) { return _mm_max_epu8(a, b); }
  static inline R Avg8u(R a, R b) { return _mm_avg_epu8(a, b); }
  static inline R Cmpeq8(R a, R b) { return _mm_cmpeq_epi8(a, b); }
  static inline bool AllOnes(R a) { return _mm_movemask_epi8(a) == 0xFFFF; }
  static inline bool AllZero(R a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF; }
  // The top bit of each 32-bit element, element 0 in bit 0.
  static inline u32 MoveMask32(R a) { return static_cast<u32>(_mm_movemask_ps(_mm_castsi128_ps(a))); }
  static inline R Add16(R a, R b) { return _mm_add_epi16(a, b); }
  static inline R Sub16(R a, R b) { return _mm_sub_epi16(a, b); }
  static inline R Adds16(R a, R b) { return _mm_adds_epi16(a, b); }
  static inline R Mullo16(R a, R b) { return _mm_mullo_epi16(a, b); }
  static inline R Mulhi16u(R a, R b) { return _mm_mulhi_epu16(a, b); }
  static inline R Mulhi16s(R a, R b) { return _mm_mulhi_epi16(a, b); }
  static inline R Min16(R a, R b) { return _mm_min_epi16(a, b); }
  static inline R Max16(R a, R b) { return _mm_max_epi16(a, b); }
  static inline R Min16u(R a, R b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
  static inline R Mullo32(R a, R b) {
    R even = _mm_mul_epu32(a, b);
    R odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
  }
  static inline R Min32(R a, R b) {
    R gt = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(gt, b), _mm_andnot_si128(gt, a));
  }
  static inline R Cmpgt16(R a, R b) { return _mm_cmpgt_epi16(a, b); }
  static inline R Cmpeq16(R a, R b) { return _mm_cmpeq_epi16(a, b); }
  static inline R Cmpeq32(R a, R b) { return _mm_cmpeq_epi32(a, b); }
  template <int N>
  static inline R Srli16(R a) {
    return _mm_srli_epi16(a, N);
  }
  template <int N>
  static inline R Slli16(R a) {
    return _mm_slli_epi16(a, N);
  }
  template <int N>
  static inline R Srli32(R a) {
    return _mm_srli_epi32(a, N);
  }
  template <int N>
  static inline R Srai32(R a) {
    return _mm_srai_epi32(a, N);
  }
  template <int N>
  static inline R Slli32(R a) {
    return _mm_slli_epi32(a, N);
  }
  static inline R Add32(R a, R b) { return _mm_add_epi32(a, b); }
  static inline R Sub32(R a, R b) { return _mm_sub_epi32(a, b); }
  static inline R Madd16(R a, R b) { return _mm_madd_epi16(a, b); }
  static inline R UnpackLo8(R a, R b) { return _mm_unpacklo_epi8(a, b); }
  static inline R UnpackHi8(R a, R b) { return _mm_unpackhi_epi8(a, b); }
  static inline R UnpackLo16(R a, R b) { return _mm_unpacklo_epi16(a, b); }
  static inline R UnpackHi16(R a, R b) { return _mm_unpackhi_epi16(a, b); }
  static inline R PackUs16(R a, R b) { return _mm_packus_epi16(a, b); }
  static inline R Packs32(R a, R b) { return _mm_packs_epi32(a, b); }
  // Word 3 of every 4-word group (a pixel's A after widening) copied to all four words.
  static inline R Broadcast16W3(R a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xFF), 0xFF); }
  // Word 0 of every 4-word group (a pixel's B) copied to all four words.
  static inline R Broadcast16W0(R a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0x00), 0x00); }
  // Even and odd 32-bit elements of the pair a, b, in order (pixel deinterleave).
  static inline R Even32(R a, R b) {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0x88));
  }
  static inline R Odd32(R a, R b) {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0xDD));
  }
  static inline R Cmpgt32(R a, R b) { return _mm_cmpgt_epi32(a, b); }
  // b where the mask's bytes are set, else a.
  static inline R Select8(R mask, R a, R b) { return _mm_or_si128(_mm_and_si128(mask, b), _mm_andnot_si128(mask, a)); }
  // Alpha byte of every pixel 0 / 255.
  static inline bool AlphaAllZero(R s) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(s, _mm_set1_epi32(static_cast<int>(0xFF000000u))),
                                            _mm_setzero_si128())) == 0xFFFF;
  }
  static inline bool AlphaAllFF(R s) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(s, _mm_set1_epi32(0x00FFFFFF)), _mm_set1_epi8(-1))) == 0xFFFF;
  }
  // Each pixel's alpha in the four words of that pixel, for the low / high byte half.
  static inline R AlphaWordsLo(R s) { return Broadcast16W3(_mm_unpacklo_epi8(s, _mm_setzero_si128())); }
  static inline R AlphaWordsHi(R s) { return Broadcast16W3(_mm_unpackhi_epi8(s, _mm_setzero_si128())); }
  // table[m[4 * j]] for the pixels of one vector (the B byte of each mask pixel).
  static ZP_SIMD_INLINE R GatherByMaskB(const i32* table, const u8* m) {
    return _mm_setr_epi32(table[m[0]], table[m[4]], table[m[8]], table[m[12]]);
  }
  template <int N>
  static inline R Shuffle32(R a) {
    return _mm_shuffle_epi32(a, N);
  }
  // The low word of a 32-bit value per pixel (pixel order) copied to the four words of each
  // pixel of the low / high byte half (matching UnpackLo8 / UnpackHi8); the Colour forms leave
  // the alpha word 0.
  static inline R SpreadWordsLo(R w) {
    R w2 = _mm_shufflelo_epi16(w, 0xA0);
    return _mm_unpacklo_epi32(w2, w2);
  }
  static inline R SpreadWordsHi(R w) {
    R w2 = _mm_shufflehi_epi16(w, 0xA0);
    return _mm_unpackhi_epi32(w2, w2);
  }
  // The same for the high word of each 32-bit value.
  static inline R SpreadHighWordsLo(R w) {
    R w2 = _mm_shufflelo_epi16(w, 0xF5);
    return _mm_unpacklo_epi32(w2, w2);
  }
  // Each pixel's alpha byte moved to byte 2, the other bytes 0.
  static inline R AlphaToByte2(R s) { return _mm_and_si128(_mm_srli_epi32(s, 8), _mm_set1_epi32(0xFF0000)); }
  static inline R SpreadHighWordsHi(R w) {
    R w2 = _mm_shufflehi_epi16(w, 0xF5);
    return _mm_unpackhi_epi32(w2, w2);
  }
  static inline R SpreadColourWordsLo(R w) {
    return _mm_and_si128(SpreadWordsLo(w), _mm_set1_epi64x(0x0000FFFFFFFFFFFFll));
  }
  static inline R SpreadColourWordsHi(R w) {
    return _mm_and_si128(SpreadWordsHi(w), _mm_set1_epi64x(0x0000FFFFFFFFFFFFll));
  }
  static inline R SpreadColourHighWordsLo(R w) {
    return _mm_and_si128(SpreadHighWordsLo(w), _mm_set1_epi64x(0x0000FFFFFFFFFFFFll));
  }
  static inline R SpreadColourHighWordsHi(R w) {
    return _mm_and_si128(SpreadHighWordsHi(w), _mm_set1_epi64x(0x0000FFFFFFFFFFFFll));
  }
  // (s - d) * 64 per word for the low / high byte half.
  static inline R XDiff64Lo(R s, R d) {
    return _mm_slli_epi16(
        _mm_sub_epi16(_mm_unpacklo_epi8(s, _mm_setzero_si128()), _mm_unpacklo_epi8(d, _mm_setzero_si128())), 6);
  }
  static inline R XDiff64Hi(R s, R d) {
    return _mm_slli_epi16(
        _mm_sub_epi16(_mm_unpackhi_epi8(s, _mm_setzero_si128()), _mm_unpackhi_epi8(d, _mm_setzero_si128())), 6);
  }
  static inline R Abs16(R a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
  // a negated where b is negative (b is never 0 where a is not).
  static inline R Sign16(R a, R b) {
    R neg = _mm_cmpgt_epi16(_mm_setzero_si128(), b);
    return _mm_sub_epi16(_mm_xor_si128(a, neg), neg);
  }
  // No byte shuffle in SSE2: the kernels that need one look their bytes up one by one.
  static constexpr bool kHasShuffle8 = false;
  static inline F AsF(R a) { return _mm_castsi128_ps(a); }
  static inline R AsR(F a) { return _mm_castps_si128(a); }
  static inline F AddF(F a, F b) { return _mm_add_ps(a, b); }
  static inline F ToF(R a) { return _mm_cvtepi32_ps(a); }
  static inline R TruncF(F a) { return _mm_cvttps_epi32(a); }
  static inline F SetF(float v) { return _mm_set1_ps(v); }
  static inline F MulF(F a, F b) { return _mm_mul_ps(a, b); }
  static inline F DivF(F a, F b) { return _mm_div_ps(a, b); }
  static inline F MinF(F a, F b) { return _mm_min_ps(a, b); }
  static inline F MaxF(F a, F b) { return _mm_max_ps(a, b); }
};

#if defined(__AVX2__)
struct VecAvx2 {
  typedef __m256i R;
  typedef __m256 F;
  static constexpr int kBytes = 32;
  // Clears the upper halves of the vector registers: SSE code that runs after 256-bit code
  // with them set runs several times slower (seen on AMD Zen 3 with pixman's SSE2 kernels).
  static inline void Leave() { _mm256_zeroupper(); }
  static inline R Load(const void* p) { return _mm256_loadu_si256(static_cast<const R*>(p)); }
  static inline void Store(void* p, R v) { _mm256_storeu_si256(static_cast<R*>(p), v); }
  static inline R Zero() { return _mm256_setzero_si256(); }
  static inline R Set8(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static inline R Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static inline R Set32(int v) { return _mm256_set1_epi32(v); }
  static inline R Set64(long long v) { return _mm256_set1_epi64x(v); }
  static inline R And(R a, R b) { return _mm256_and_si256(a, b); }
  static inline R AndNot(R a, R b) { return _mm256_andnot_si256(a, b); }
  static inline R Or(R a, R b) { return _mm256_or_si256(a, b); }
  static inline R Xor(R a, R b) { return _mm256_xor_si256(a, b); }
  static inline R Add8(R a, R b) { return _mm256_add_epi8(a, b); }
  static inline R Adds8u(R a, R b) { return _mm256_adds_epu8(a, b); }
  static inline R Subs8u(R a, R b) { return _mm256_subs_epu8(a, b); }
  static inline R Min8u(R a, R b) { return _mm256_min_epu8(a, b); }
  static inline R Max8u(R a, R b) { return _mm256_max_epu8(a, b); }
  static inline R Avg8u(R a, R b) { return _mm256_avg_epu8(a, b); }
  static inline R Cmpeq8(R a, R b) { return _mm256_cmpeq_epi8(a, b); }
  static inline bool AllOnes(R a) { return _mm256_movemask_epi8(a) == -1; }
  static inline bool AllZero(R a) { return _mm256_testz_si256(a, a); }
  static inline u32 MoveMask32(R a) { return static_cast<u32>(_mm256_movemask_ps(_mm256_castsi256_ps(a))); }
  static inline R Add16(R a, R b) { return _mm256_add_epi16(a, b); }
  static inline R Sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
  static inline R Adds16(R a, R b) { return _mm256_adds_epi16(a, b); }
  static inline R Mullo16(R a, R b) { return _mm256_mullo_epi16(a, b); }
  static inline R Mulhi16u(R a, R b) { return _mm256_mulhi_epu16(a, b); }
  static inline R Mulhi16s(R a, R b) { return _mm256_mulhi_epi16(a, b); }
  static inline R Min16(R a, R b) { return _mm256_min_epi16(a, b); }
  static inline R Max16(R a, R b) { return _mm256_max_epi16(a, b); }
  static inline R Min16u(R a, R b) { return _mm256_min_epu16(a, b); }
  static inline R Mullo32(R a, R b) { return _mm256_mullo_epi32(a, b); }
  static inline R Min32(R a, R b) { return _mm256_min_epi32(a, b); }
  static inline R Cmpgt16(R a, R b) { return _mm256_cmpgt_epi16(a, b); }
  static inline R Cmpeq16(R a, R b) { return _mm256_cmpeq_epi16(a, b); }
  static inline R Cmpeq32(R a, R b) { return _mm256_cmpeq_epi32(a, b); }
  template <int N>
  static inline R Srli16(R a) {
    return _mm256_srli_epi16(a, N);
  }
  template <int N>
  static inline R Slli16(R a) {
    return _mm256_slli_epi16(a, N);
  }
  template <int N>
  static inline R Srli32(R a) {
    return _mm256_srli_epi32(a, N);
  }
  template <int N>
  static inline R Srai32(R a) {
    return _mm256_srai_epi32(a, N);
  }
  template <int N>
  static inline R Slli32(R a) {
    return _mm256_slli_epi32(a, N);
  }
  static inline R Add32(R a, R b) { return _mm256_add_epi32(a, b); }
  static inline R Sub32(R a, R b) { return _mm256_sub_epi32(a, b); }
  static inline R Madd16(R a, R b) { return _mm256_madd_epi16(a, b); }
  static inline R UnpackLo8(R a, R b) { return _mm256_unpacklo_epi8(a, b); }
  static inline R UnpackHi8(R a, R b) { return _mm256_unpackhi_epi8(a, b); }
  static inline R UnpackLo16(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
  static inline R UnpackHi16(R a, R b) { return _mm256_unpackhi_epi16(a, b); }
  static inline R PackUs16(R a, R b) { return _mm256_packus_epi16(a, b); }
  static inline R Packs32(R a, R b) { return _mm256_packs_epi32(a, b); }
  static inline R Broadcast16W3(R a) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, 0xFF), 0xFF); }
  static inline R Broadcast16W0(R a) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, 0x00), 0x00); }
  static inline R Even32(R a, R b) {
    __m256 e = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88);
    return _mm256_permute4x64_epi64(_mm256_castps_si256(e), 0xD8);
  }
  static inline R Odd32(R a, R b) {
    __m256 o = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0xDD);
    return _mm256_permute4x64_epi64(_mm256_castps_si256(o), 0xD8);
  }
  static inline R Cmpgt32(R a, R b) { return _mm256_cmpgt_epi32(a, b); }
  static inline R Select8(R mask, R a, R b) { return _mm256_blendv_epi8(a, b, mask); }
  static inline bool AlphaAllZero(R s) {
    return _mm256_testz_si256(s, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  }
  static inline bool AlphaAllFF(R s) { return _mm256_testc_si256(s, _mm256_set1_epi32(static_cast<int>(0xFF000000u))); }
  static inline R AlphaWordsLo(R s) {
    const R idx = _mm256_setr_epi8(3, -128, 3, -128, 3, -128, 3, -128, 7, -128, 7, -128, 7, -128, 7, -128, 3, -128, 3,
                                   -128, 3, -128, 3, -128, 7, -128, 7, -128, 7, -128, 7, -128);
    return _mm256_shuffle_epi8(s, idx);
  }
  static inline R AlphaWordsHi(R s) {
    const R idx = _mm256_setr_epi8(11, -128, 11, -128, 11, -128, 11, -128, 15, -128, 15, -128, 15, -128, 15, -128, 11,
                                   -128, 11, -128, 11, -128, 11, -128, 15, -128, 15, -128, 15, -128, 15, -128);
    return _mm256_shuffle_epi8(s, idx);
  }
  // Scalar loads: the hardware gather is slower on several processors.
  static ZP_SIMD_INLINE R GatherByMaskB(const i32* table, const u8* m) {
    return _mm256_setr_epi32(table[m[0]], table[m[4]], table[m[8]], table[m[12]], table[m[16]], table[m[20]],
                             table[m[24]], table[m[28]]);
  }
  template <int N>
  static inline R Shuffle32(R a) {
    return _mm256_shuffle_epi32(a, N);
  }
  static inline R SpreadWordsLo(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5, 0, 1, 0, 1, 0, 1, 0,
                                                   1, 4, 5, 4, 5, 4, 5, 4, 5));
  }
  static inline R SpreadWordsHi(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9,
                                                   8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13));
  }
  static inline R SpreadHighWordsLo(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(2, 3, 2, 3, 2, 3, 2, 3, 6, 7, 6, 7, 6, 7, 6, 7, 2, 3, 2, 3, 2, 3, 2,
                                                   3, 6, 7, 6, 7, 6, 7, 6, 7));
  }
  static inline R AlphaToByte2(R s) {
    return _mm256_shuffle_epi8(
        s, _mm256_setr_epi8(-128, -128, 3, -128, -128, -128, 7, -128, -128, -128, 11, -128, -128, -128, 15, -128, -128,
                            -128, 3, -128, -128, -128, 7, -128, -128, -128, 11, -128, -128, -128, 15, -128));
  }
  static inline R SpreadHighWordsHi(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(10, 11, 10, 11, 10, 11, 10, 11, 14, 15, 14, 15, 14, 15, 14, 15, 10,
                                                   11, 10, 11, 10, 11, 10, 11, 14, 15, 14, 15, 14, 15, 14, 15));
  }
  static inline R SpreadColourWordsLo(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, -128, -128, 4, 5, 4, 5, 4, 5, -128, -128, 0, 1, 0,
                                                   1, 0, 1, -128, -128, 4, 5, 4, 5, 4, 5, -128, -128));
  }
  static inline R SpreadColourWordsHi(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(8, 9, 8, 9, 8, 9, -128, -128, 12, 13, 12, 13, 12, 13, -128, -128, 8,
                                                   9, 8, 9, 8, 9, -128, -128, 12, 13, 12, 13, 12, 13, -128, -128));
  }
  static inline R SpreadColourHighWordsLo(R w) {
    return _mm256_shuffle_epi8(w, _mm256_setr_epi8(2, 3, 2, 3, 2, 3, -128, -128, 6, 7, 6, 7, 6, 7, -128, -128, 2, 3, 2,
                                                   3, 2, 3, -128, -128, 6, 7, 6, 7, 6, 7, -128, -128));
  }
  static inline R SpreadColourHighWordsHi(R w) {
    return _mm256_shuffle_epi8(
        w, _mm256_setr_epi8(10, 11, 10, 11, 10, 11, -128, -128, 14, 15, 14, 15, 14, 15, -128, -128, 10, 11, 10, 11, 10,
                            11, -128, -128, 14, 15, 14, 15, 14, 15, -128, -128));
  }
  // One multiply-add over the interleaved (s, d) bytes.
  static inline R XDiff64Lo(R s, R d) {
    return _mm256_maddubs_epi16(_mm256_unpacklo_epi8(s, d), _mm256_set1_epi16(static_cast<short>(0xC040)));
  }
  static inline R XDiff64Hi(R s, R d) {
    return _mm256_maddubs_epi16(_mm256_unpackhi_epi8(s, d), _mm256_set1_epi16(static_cast<short>(0xC040)));
  }
  static inline R Abs16(R a) { return _mm256_abs_epi16(a); }
  static inline R Sign16(R a, R b) { return _mm256_sign_epi16(a, b); }
  // Byte i of the 16-byte table t (repeated in both lanes) for the low four bits of idx, 0 where
  // idx has its top bit set.
  static constexpr bool kHasShuffle8 = true;
  static inline R LoadTable16(const u8* t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
  }
  static inline R Shuffle8(R t, R idx) { return _mm256_shuffle_epi8(t, idx); }
  static inline F AsF(R a) { return _mm256_castsi256_ps(a); }
  static inline R AsR(F a) { return _mm256_castps_si256(a); }
  static inline F AddF(F a, F b) { return _mm256_add_ps(a, b); }
  static inline F ToF(R a) { return _mm256_cvtepi32_ps(a); }
  static inline R TruncF(F a) { return _mm256_cvttps_epi32(a); }
  static inline F SetF(float v) { return _mm256_set1_ps(v); }
  static inline F MulF(F a, F b) { return _mm256_mul_ps(a, b); }
  static inline F DivF(F a, F b) { return _mm256_div_ps(a, b); }
  static inline F MinF(F a, F b) { return _mm256_min_ps(a, b); }
  static inline F MaxF(F a, F b) { return _mm256_max_ps(a, b); }
};
#endif

}  // namespace ZP_SIMD_NS
