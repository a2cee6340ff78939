// Pixel effects (see fx.h). Every kernel reads only pixels of its rectangle (the mirror reads the
// mirrored columns of the same rows) and writes only its output; sizes and positions are checked
// by FxDispatch before a kernel runs. Blurs keep running sums, so their cost does not grow with
// the radius.
#include "layer/fx.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/rand.h"
#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "layer/cpu.h"
#include "layer/fx_avx2.h"
#include "layer/image.h"
#include "layer/layer.h"

const u8 g_FxScatterPerm[24][4] = {
    {3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0}, {3, 2, 0, 1}, {2, 3, 0, 1},
    {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1}, {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2},
    {1, 0, 3, 2}, {0, 1, 3, 2}, {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3},
};

u8 g_FxGrey[766];
static bool s_GreyBuilt = false;

static void BuildGrey() {
  if (s_GreyBuilt) return;
  for (i32 s = 0; s < 766; s++) g_FxGrey[s] = static_cast<u8>(s / 3);
  s_GreyBuilt = true;
}

// The swirl's distance per pixel of the last rectangle size.
static std::vector<u16> s_SwirlDist;
static i32 s_SwirlW = -1, s_SwirlH = -1;

static void KeepSpare(u8* old, size_t bytes);

void FxReset() {
  KeepSpare(nullptr, 0);
  s_SwirlDist.clear();
  s_SwirlDist.shrink_to_fit();
  s_SwirlW = s_SwirlH = -1;
}

// ---- Helpers -----------------------------------------------------------------------------------

static inline const u8* SrcPx(const FxJob& j, i64 x, i64 y) { return j.src + (y * j.src_w + x) * 4; }
static inline u8* OutPx(const FxJob& j, i64 x, i64 y) { return j.out + (y * j.out_w + x) * 4; }
// The output pixel of source pixel (x, y) for kernels that write a w x h picture.
static inline u8* OutRel(const FxJob& j, i64 x, i64 y) { return OutPx(j, x - j.x1, y - j.y1); }

static void CopyRect(const FxJob& j) {
  const size_t bytes = static_cast<size_t>(j.x2 - j.x1 + 1) * 4;
  for (i64 y = j.y1; y <= j.y2; y++) std::memmove(OutRel(j, j.x1, y), SrcPx(j, j.x1, y), bytes);
}

// ---- Colour effects ------------------------------------------------------------------------------
// Each runs four pixels a step with SSE2 where the build has it, the row's last pixels (and
// every pixel elsewhere) through the per-pixel form; both give the same bytes.

#if defined(__SSE2__)
static inline __m128i Load4(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
static inline void Store4(u8* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
#endif
// No vector form: every pixel goes through the per-pixel one.
struct NoVec {};

// Runs px(d, s) for every pixel of the rectangle and, with SSE2, stores the four pixels vec(s) for
// each group of four first; out_rel: the output is the w x h picture (else the full-size one at
// (x, y)).
// wide(d, s, pixels), where given, runs first on each row and returns the pixels it did.
struct NoWide {
  i64 operator()(u8*, const u8*, i64) const { return 0; }
};
template <class Vec, class Px, class Wide = NoWide>
static void ForPixels(const FxJob& j, bool out_rel, Vec vec, Px px, Wide wide = {}) {
  const i64 w = i64{j.x2} - j.x1 + 1;
#if !defined(__SSE2__)
  (void)vec;
#endif
  for (i64 y = j.y1; y <= j.y2; y++) {
    const u8* s = SrcPx(j, j.x1, y);
    u8* d = out_rel ? OutRel(j, j.x1, y) : OutPx(j, j.x1, y);
    i64 x = wide(d, s, w);
#if defined(__SSE2__)
    if constexpr (!std::is_same_v<Vec, NoVec>)
      for (; x + 4 <= w; x += 4) Store4(d + x * 4, vec(s + x * 4));
#endif
    for (; x < w; x++) px(d + x * 4, s + x * 4);
  }
}

// Applies a table per colour channel (B, G, R); alpha copied.
static inline void MapPixel(u8* d, const u8* s, const u8 (&t)[3][256]) {
  d[0] = t[0][s[0]];
  d[1] = t[1][s[1]];
  d[2] = t[2][s[2]];
  d[3] = s[3];
}

// c - 128 + v and c + v - 128 are taken in 32 bits as they wrap, so values near the ends of the
// range keep the bytes they have always given.
static void Brightness(const FxJob& j) {
  u8 t[3][256];
  const i32 v = j.value;
  bool saturating = true;  // the table is max(0, c - n) or min(255, c + n) for n below
  const i32 n = static_cast<i32>(std::min<i64>(255, v < 128 ? 128 - i64{v} : i64{v} - 128));
  for (i32 c = 0; c < 256; c++) {
    const i32 sum = static_cast<i32>(static_cast<u32>(c) - 128u + static_cast<u32>(v));
    const i32 r = v < 128 ? std::max(0, sum) : std::min(255, sum);
    t[0][c] = t[1][c] = t[2][c] = static_cast<u8>(r);
    saturating = saturating && r == (v < 128 ? std::max(0, c - n) : std::min(255, c + n));
  }
  auto px = [&t](u8* d, const u8* s) { MapPixel(d, s, t); };
#if defined(__SSE2__)
  // max(0, c - n) and min(255, c + n) are the saturating byte operations; alpha's amount is 0.
  const __m128i amount = _mm_set1_epi32(n * 0x010101);
  if (saturating && v < 128)
    ForPixels(
        j, true, [amount](const u8* s) { return _mm_subs_epu8(Load4(s), amount); }, px);
  else if (saturating)
    ForPixels(
        j, true, [amount](const u8* s) { return _mm_adds_epu8(Load4(s), amount); }, px);
  else ForPixels(j, true, NoVec{}, px);
#else
  ForPixels(j, true, NoVec{}, px);
#endif
}

static void Balance(const FxJob& j) {
  u8 t[3][256];
  i32 ups[3], downs[3];
  for (i32 ch = 0; ch < 3; ch++) {
    const i32 target = (j.value >> (8 * ch)) & 255;
    const i32 up = std::max(0, target - 128), down = std::max(0, 128 - target);
    ups[ch] = up;
    downs[ch] = down;
    for (i32 c = 0; c < 256; c++) t[ch][c] = static_cast<u8>(c + (((255 - c) * up) >> 7) - ((c * down) >> 7));
  }
  auto px = [&t](u8* d, const u8* s) { MapPixel(d, s, t); };
#if defined(__SSE2__)
  // The same sums in 16-bit lanes ((255 - c) * up and c * down stay below 2^15); alpha's
  // factors are 0.
  const __m128i up =
      _mm_set_epi16(0, static_cast<short>(ups[2]), static_cast<short>(ups[1]), static_cast<short>(ups[0]), 0,
                    static_cast<short>(ups[2]), static_cast<short>(ups[1]), static_cast<short>(ups[0]));
  const __m128i down =
      _mm_set_epi16(0, static_cast<short>(downs[2]), static_cast<short>(downs[1]), static_cast<short>(downs[0]), 0,
                    static_cast<short>(downs[2]), static_cast<short>(downs[1]), static_cast<short>(downs[0]));
  auto vec = [up, down](const u8* s) {
    const __m128i z = _mm_setzero_si128(), full = _mm_set1_epi16(255);
    const __m128i v = Load4(s);
    __m128i r[2];
    for (int h = 0; h < 2; h++) {
      const __m128i c = h ? _mm_unpackhi_epi8(v, z) : _mm_unpacklo_epi8(v, z);
      const __m128i rise = _mm_srli_epi16(_mm_mullo_epi16(_mm_sub_epi16(full, c), up), 7);
      const __m128i fall = _mm_srli_epi16(_mm_mullo_epi16(c, down), 7);
      r[h] = _mm_sub_epi16(_mm_add_epi16(c, rise), fall);
    }
    return _mm_packus_epi16(r[0], r[1]);
  };
  ForPixels(j, true, vec, px);
#else
  ForPixels(j, true, NoVec{}, px);
#endif
}

// 255 - c is c with its bits flipped: one XOR a pixel leaves alpha as it is.
static void Negative(const FxJob& j) {
  auto px = [](u8* d, const u8* s) {
    u32 v;
    std::memcpy(&v, s, 4);
    v ^= 0x00FFFFFFu;
    std::memcpy(d, &v, 4);
  };
#if defined(__SSE2__)
  const __m128i flip = _mm_set1_epi32(0x00FFFFFF);
  ForPixels(
      j, true, [flip](const u8* s) { return _mm_xor_si128(Load4(s), flip); }, px,
      [](u8* d, const u8* s, i64 n) { return g_CpuHasAvx2 ? FxNegativeAvx2(d, s, n) : 0; });
#else
  ForPixels(j, true, NoVec{}, px);
#endif
}

// v = (117 B + 601 G + 306 R) * 1024; B' = (v - 46347025) / 2^20 and G' = (v - 287585) / 2^20
// within 0..255, R' = min(255, (v + 18748416) >> 20). A quotient below 0 becomes 0 whichever way
// it is rounded, so a shift serves for all three.
static void Sepia(const FxJob& j) {
  auto px = [](u8* d, const u8* s) {
    const i32 v = (117 * s[0] + 601 * s[1] + 306 * s[2]) * 1024;
    d[0] = static_cast<u8>(std::clamp((v - 46347025) / 1048576, 0, 255));
    d[1] = static_cast<u8>(std::clamp((v - 287585) / 1048576, 0, 255));
    d[2] = static_cast<u8>(std::min(255, (v + 18748416) >> 20));
    d[3] = s[3];
  };
#if defined(__SSE2__)
  auto vec = [](const u8* s) {
    const __m128i p = Load4(s);
    // 117 B + 306 R from the words (B, R) and 601 G from the words (G, A), both by madd.
    const __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(p, _mm_set1_epi32(0x00FF00FF)), _mm_set1_epi32(306 << 16 | 117)),
                      _mm_madd_epi16(_mm_srli_epi16(p, 8), _mm_set1_epi32(601)));
    // floor((1024 s - k) / 2^20) is (s - ceil(k / 1024)) >> 10: 1024 s - k lies in the same
    // block of 2^20 as 1024 (s - ceil(k / 1024)).
    const __m128i b = _mm_srai_epi32(_mm_sub_epi32(sum, _mm_set1_epi32(45261)), 10);
    const __m128i g = _mm_srai_epi32(_mm_sub_epi32(sum, _mm_set1_epi32(281)), 10);
    const __m128i r = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(18309)), 10);
    const __m128i a = _mm_srli_epi32(p, 24);
    // Saturating packs give B B B B R R R R G G G G A A A A; two interleaves put them in pixel order.
    const __m128i q = _mm_packus_epi16(_mm_packs_epi32(b, r), _mm_packs_epi32(g, a));
    const __m128i u = _mm_unpacklo_epi8(q, _mm_srli_si128(q, 8));
    return _mm_unpacklo_epi16(u, _mm_srli_si128(u, 8));
  };
  ForPixels(j, true, vec, px, [](u8* d, const u8* s, i64 n) { return g_CpuHasAvx2 ? FxSepiaAvx2(d, s, n) : 0; });
#else
  ForPixels(j, true, NoVec{}, px);
#endif
}

static inline void SaturatePixel(u8* d, const u8* sp, i32 s) {
  const i32 grey = g_FxGrey[sp[0] + sp[1] + sp[2]];
  if (s < 128) {
    const i32 k = 128 - s;
    for (i32 c = 0; c < 3; c++) d[c] = static_cast<u8>(sp[c] + (((grey - sp[c]) * k) >> 7));
  } else {
    i32 k = s - 128;
    for (i32 c = 0; c < 3; c++) {
      const i32 v = sp[c], diff = v - grey;
      const i32 r = v + ((diff * k) >> 7);
      if (r > 255) k = std::min(k, (255 - v) * 128 / diff);
      else if (r < 0) k = std::min(k, -v * 128 / diff);
    }
    for (i32 c = 0; c < 3; c++) d[c] = static_cast<u8>(sp[c] + (((sp[c] - grey) * k) >> 7));
  }
  d[3] = sp[3];
}

#if defined(__SSE2__)
static inline __m128i Min32(__m128i a, __m128i b) {
  const __m128i gt = _mm_cmpgt_epi32(a, b);
  return _mm_or_si128(_mm_and_si128(gt, b), _mm_andnot_si128(gt, a));
}

// Four pixels, one per 32-bit lane, each channel in turn as SaturatePixel does it. Products of a
// signed difference (within 16 bits) and a factor 0..128 come from madd with the factor in the
// low word; the limits' quotients (numerators within 2^15, divisors 1..255) from float division,
// which truncates to the integer quotient exactly at these sizes.
static inline __m128i SaturateFour(const u8* sp, i32 s) {
  const __m128i p = Load4(sp), byte = _mm_set1_epi32(255);
  const __m128i ch[3] = {_mm_and_si128(p, byte), _mm_and_si128(_mm_srli_epi32(p, 8), byte),
                         _mm_and_si128(_mm_srli_epi32(p, 16), byte)};
  // floor(sum / 3) for sums up to 765 is the high word of sum * 21846.
  const __m128i grey = _mm_mulhi_epu16(_mm_add_epi32(_mm_add_epi32(ch[0], ch[1]), ch[2]), _mm_set1_epi32(21846));
  __m128i out[3];
  if (s < 128) {
    const __m128i k = _mm_set1_epi32(128 - s);
    for (int c = 0; c < 3; c++)
      out[c] = _mm_add_epi32(ch[c], _mm_srai_epi32(_mm_madd_epi16(_mm_sub_epi32(grey, ch[c]), k), 7));
  } else {
    __m128i k = _mm_set1_epi32(s - 128);
    __m128i diff[3];
    for (int c = 0; c < 3; c++) {
      diff[c] = _mm_sub_epi32(ch[c], grey);
      const __m128i r = _mm_add_epi32(ch[c], _mm_srai_epi32(_mm_madd_epi16(diff[c], k), 7));
      const __m128i over = _mm_cmpgt_epi32(r, byte), under = _mm_cmpgt_epi32(_mm_setzero_si128(), r);
      const __m128i out_of_range = _mm_or_si128(over, under);
      // (255 - v) * 128 / diff above, -v * 128 / diff below; diff is never 0 where either holds.
      const __m128i num = _mm_slli_epi32(_mm_sub_epi32(_mm_and_si128(over, byte), ch[c]), 7);
      const __m128i den =
          _mm_or_si128(diff[c], _mm_and_si128(_mm_cmpeq_epi32(diff[c], _mm_setzero_si128()), _mm_set1_epi32(1)));
      const __m128i limit = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(num), _mm_cvtepi32_ps(den)));
      k = _mm_or_si128(_mm_and_si128(out_of_range, Min32(k, limit)), _mm_andnot_si128(out_of_range, k));
    }
    for (int c = 0; c < 3; c++) out[c] = _mm_add_epi32(ch[c], _mm_srai_epi32(_mm_madd_epi16(diff[c], k), 7));
  }
  const __m128i px =
      _mm_or_si128(_mm_or_si128(out[0], _mm_slli_epi32(out[1], 8)),
                   _mm_or_si128(_mm_slli_epi32(out[2], 16), _mm_andnot_si128(_mm_set1_epi32(0xFFFFFF), p)));
  return px;
}
#endif

void FxSaturation(u8* out, const u8* src, i32 x1, i32 x2, i32 y1, i32 y2, i32 src_w, i32 out_w, i32 level) {
  BuildGrey();
  const i32 s = std::clamp(level, 0, 256);
  FxJob j{};
  j.out = out;
  j.out_w = out_w;
  j.src = src;
  j.src_w = src_w;
  j.x1 = x1;
  j.x2 = x2;
  j.y1 = y1;
  j.y2 = y2;
  auto px = [s](u8* d, const u8* sp) { SaturatePixel(d, sp, s); };
#if defined(__SSE2__)
  ForPixels(
      j, true, [s](const u8* sp) { return SaturateFour(sp, s); }, px);
#else
  ForPixels(j, true, NoVec{}, px);
#endif
}

// In place on a full-size picture. The limit 3 * value is taken in 32 bits as it wraps.
static void Threshold(const FxJob& j) {
  const i32 limit = static_cast<i32>(static_cast<u32>(j.value) * 3u);
  auto px = [limit](u8* d, const u8* s) {
    const u8 v = s[0] + s[1] + s[2] < limit ? 0 : 255;
    d[0] = d[1] = d[2] = v;
    d[3] = s[3];
  };
#if defined(__SSE2__)
  auto vec = [limit](const u8* s) {
    const __m128i p = Load4(s), byte = _mm_set1_epi32(255);
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_and_si128(p, byte), _mm_and_si128(_mm_srli_epi32(p, 8), byte)),
                                      _mm_and_si128(_mm_srli_epi32(p, 16), byte));
    const __m128i black = _mm_cmpgt_epi32(_mm_set1_epi32(limit), sum);
    const __m128i colour = _mm_andnot_si128(black, _mm_set1_epi32(0xFFFFFF));
    return _mm_or_si128(colour, _mm_andnot_si128(_mm_set1_epi32(0xFFFFFF), p));
  };
  ForPixels(j, false, vec, px,
            [limit](u8* d, const u8* s, i64 n) { return g_CpuHasAvx2 ? FxThresholdAvx2(d, s, n, limit) : 0; });
#else
  ForPixels(j, false, NoVec{}, px);
#endif
}

static void Fill(const FxJob& j) {
  const u32 v = static_cast<u32>(j.value);
  for (i64 y = j.y1; y <= j.y2; y++) {
    u8* d = OutPx(j, j.x1, y);
    for (i64 x = j.x1; x <= j.x2; x++, d += 4) {
      if (j.mode == 2) {
        d[3] = static_cast<u8>(v);
        continue;
      }
      const u32 px = j.mode == 1 ? 0xFF000000u | (v & 0xFFFFFFu) : v;
      std::memcpy(d, &px, 4);
    }
  }
}

// ---- Blurs ---------------------------------------------------------------------------------------

// Averages are sum / count rounded down. With SSE2 they come from float arithmetic, which gives
// that quotient exactly while count is at most kFloatCountMax: (sum + 0.5) / count lies at least
// 0.5 / count from every integer, and the two roundings of (sum + 0.5) * (1 / count) move a value
// below 256 by less than 2^-15 (sum + 0.5 itself is exact).
static const i32 kFloatCountMax = 8192;

#if defined(__SSE2__)
static inline __m128i AverageFloor(__m128i sum, __m128 inv) {
  return _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(sum), _mm_set1_ps(0.5f)), inv));
}
// A pixel's four bytes as four 32-bit lanes.
static inline __m128i Widen(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  const __m128i z = _mm_setzero_si128();
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), z), z);
}
// Byte lanes of the channels set in chans (per pixel), for selecting averages over source bytes.
static inline __m128i ChannelMask(u32 chans) {
  u32 m = 0;
  for (u32 c = 0; c < 4; c++)
    if ((chans >> c) & 1) m |= 0xFFu << (8 * c);
  return _mm_set1_epi32(static_cast<int>(m));
}
#endif

// One line of n pixels, in_step / out_step bytes apart: each channel whose bit is set in chans
// becomes the average of the line's pixels in [i - r, i + r]; the others are copied.
static void BoxLine(u8* out, i64 out_step, const u8* in, i64 in_step, i32 n, i32 r, u32 chans) {
  r = std::min(r, n);  // a wider window covers the same pixels
  const i32 first_hi = std::min(r, n - 1);
#if defined(__SSE2__)
  if (n <= kFloatCountMax) {
    __m128i sum = _mm_setzero_si128();
    for (i32 k = 0; k <= first_hi; k++) sum = _mm_add_epi32(sum, Widen(in + k * in_step));
    const __m128i keep = ChannelMask(chans);
    i32 last_count = 0;
    __m128 inv = _mm_setzero_ps();
    for (i32 i = 0; i < n; i++) {
      const i32 count = std::min(n - 1, i + r) - std::max(0, i - r) + 1;
      if (count != last_count) {
        inv = _mm_set1_ps(1.0f / static_cast<float>(count));
        last_count = count;
      }
      const u8* s = in + i * in_step;
      const __m128i q = AverageFloor(sum, inv);
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
      u32 v, src;
      std::memcpy(&src, s, 4);
      v = static_cast<u32>(_mm_cvtsi128_si32(
          _mm_or_si128(_mm_and_si128(keep, bytes), _mm_andnot_si128(keep, _mm_cvtsi32_si128(static_cast<int>(src))))));
      std::memcpy(out + i * out_step, &v, 4);
      if (i + r + 1 < n) sum = _mm_add_epi32(sum, Widen(in + (i + r + 1) * in_step));
      if (i - r >= 0) sum = _mm_sub_epi32(sum, Widen(in + (i - r) * in_step));
    }
    return;
  }
#endif
  i32 sum[4] = {0, 0, 0, 0};
  for (i32 k = 0; k <= first_hi; k++)
    for (i32 c = 0; c < 4; c++) sum[c] += in[k * in_step + c];
  for (i32 i = 0; i < n; i++) {
    const i32 lo = std::max(0, i - r), hi = std::min(n - 1, i + r), count = hi - lo + 1;
    const u8* s = in + i * in_step;
    u8* d = out + i * out_step;
    for (i32 c = 0; c < 4; c++) d[c] = (chans >> c) & 1 ? static_cast<u8>(sum[c] / count) : s[c];
    if (i + r + 1 < n)
      for (i32 c = 0; c < 4; c++) sum[c] += in[(i + r + 1) * in_step + c];
    if (i - r >= 0)
      for (i32 c = 0; c < 4; c++) sum[c] -= in[(i - r) * in_step + c];
  }
}

// The columns of n rows of w pixels (rows in_row / out_row bytes apart) as BoxLine does one line,
// row by row: one running sum per column and channel, so the rows are read in order. Each row's
// averages are written and its sums moved on to the next row in one pass.
// row(k) gives input row k; rows are asked for in order, none before k - 2r - 1 after row k.
// The channels not in chans are copied, or 0 where clear_others is set.
template <class RowFn>
static void BoxColumns(u8* out, i64 out_row, RowFn row, i32 w, i32 n, i32 r, u32 chans, bool clear_others) {
  r = std::min(r, n);  // a wider window covers the same rows
  const size_t bytes = static_cast<size_t>(w) * 4;
  std::vector<i32> sums(bytes, 0);
  i32* sum = sums.data();
  for (i32 k = 0; k <= std::min(r, n - 1); k++) {
    const u8* p = row(k);
    for (size_t b = 0; b < bytes; b++) sum[b] += p[b];
  }
  for (i32 i = 0; i < n; i++) {
    const i32 count = std::min(n - 1, i + r) - std::max(0, i - r) + 1;
    const u8* add = i + r + 1 < n ? row(i + r + 1) : nullptr;
    const u8* sub = i - r >= 0 ? row(i - r) : nullptr;
    const u8* s = row(i);
    u8* d = out + i * out_row;
    size_t b = 0;
#if defined(__SSE2__)
    if (count <= kFloatCountMax) {
      const __m128 inv = _mm_set1_ps(1.0f / static_cast<float>(count));
      const __m128i keep = ChannelMask(chans), z = _mm_setzero_si128();
      const __m128i others = clear_others ? z : _mm_set1_epi32(-1);
      for (; b + 16 <= bytes; b += 16) {
        __m128i* sp = reinterpret_cast<__m128i*>(sum + b);
        __m128i v[4];
        for (int k = 0; k < 4; k++) v[k] = _mm_loadu_si128(sp + k);
        const __m128i lo = _mm_packs_epi32(AverageFloor(v[0], inv), AverageFloor(v[1], inv));
        const __m128i hi = _mm_packs_epi32(AverageFloor(v[2], inv), AverageFloor(v[3], inv));
        const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + b),
                         _mm_or_si128(_mm_and_si128(keep, _mm_packus_epi16(lo, hi)),
                                      _mm_andnot_si128(keep, _mm_and_si128(others, src))));
        // The sums for the next row: the row entering the window added, the one leaving taken.
        auto take = [&](const u8* row_in, bool minus) {
          const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row_in + b));
          const __m128i a_lo = _mm_unpacklo_epi8(a, z), a_hi = _mm_unpackhi_epi8(a, z);
          const __m128i part[4] = {_mm_unpacklo_epi16(a_lo, z), _mm_unpackhi_epi16(a_lo, z),
                                   _mm_unpacklo_epi16(a_hi, z), _mm_unpackhi_epi16(a_hi, z)};
          for (int k = 0; k < 4; k++) v[k] = minus ? _mm_sub_epi32(v[k], part[k]) : _mm_add_epi32(v[k], part[k]);
        };
        if (add) take(add, false);
        if (sub) take(sub, true);
        for (int k = 0; k < 4; k++) _mm_storeu_si128(sp + k, v[k]);
      }
    }
#endif
    for (; b < bytes; b++) {
      d[b] = (chans >> (b & 3)) & 1 ? static_cast<u8>(sum[b] / count) : clear_others ? u8{0} : s[b];
      if (add) sum[b] += add[b];
      if (sub) sum[b] -= sub[b];
    }
  }
}

// Rows (dirs bit 1) and columns (bit 2) of the rectangle into the w x h output; clear_others:
// the channels not in chans become 0 (else they are copied).
static void BoxBlur(const FxJob& j, u32 dirs, u32 chans, bool clear_others = false) {
  const i32 w = j.x2 - j.x1 + 1, h = j.y2 - j.y1 + 1;
  const i32 r = std::max(1, j.value);
  const i64 src_row = i64{j.src_w} * 4, out_row = i64{j.out_w} * 4;
  if (dirs == 1) {
    for (i32 y = 0; y < h; y++) BoxLine(OutPx(j, 0, y), 4, SrcPx(j, j.x1, j.y1 + y), 4, w, r, chans);
    return;
  }
  const u8* src = SrcPx(j, j.x1, j.y1);
  if (dirs == 2) {
    BoxColumns(
        OutPx(j, 0, 0), out_row, [src, src_row](i32 k) { return src + k * src_row; }, w, h, r, chans, clear_others);
    return;
  }
  // The row pass runs just ahead of the column pass, into a ring of the 2r + 2 rows that the
  // column window and the rows entering and leaving it span.
  const i64 ring = std::min<i64>(h, 2 * i64{r} + 2);
  const i64 ring_row = i64{w} * 4;
  std::unique_ptr<u8[]> tmp(new u8[static_cast<size_t>(ring * ring_row)]);
  i32 made = 0;
  auto row = [&](i32 k) -> const u8* {
    for (; made <= k; made++) BoxLine(tmp.get() + (made % ring) * ring_row, 4, src + made * src_row, 4, w, r, chans);
    return tmp.get() + (k % ring) * ring_row;
  };
  BoxColumns(OutPx(j, 0, 0), out_row, row, w, h, r, chans, clear_others);
}

// A soft shadow: black, alpha the blur of the source's alpha.
static void Shadow(const FxJob& j) { BoxBlur(j, 3, 8, true); }

// ---- Geometry --------------------------------------------------------------------------------

static void Mirror(const FxJob& j) {
  for (i64 y = j.y1; y <= j.y2; y++)
    for (i64 x = j.x1; x <= j.x2; x++) std::memcpy(OutRel(j, x, y), SrcPx(j, j.src_w - 1 - x, y), 4);
}

static void Flip(const FxJob& j) {
  const size_t bytes = static_cast<size_t>(j.x2 - j.x1 + 1) * 4;
  for (i64 r = 0; r <= j.y2 - j.y1; r++) std::memcpy(OutPx(j, 0, r), SrcPx(j, j.x1, j.y2 - r), bytes);
}

// The block averages of one mosaic cell [bx0, bx1) x [by0, by1) of the source.
static void MosaicBlock(const FxJob& j, i64 bx0, i64 bx1, i64 by0, i64 by1) {
  i64 sum[3] = {0, 0, 0};
  for (i64 y = by0; y < by1; y++)
    for (i64 x = bx0; x < bx1; x++) {
      const u8* s = SrcPx(j, x, y);
      for (i32 c = 0; c < 3; c++) sum[c] += s[c];
    }
  const i64 count = (bx1 - bx0) * (by1 - by0);
  u8 avg[3];
  for (i32 c = 0; c < 3; c++) avg[c] = static_cast<u8>(sum[c] / count);
  for (i64 y = by0; y < by1; y++)
    for (i64 x = bx0; x < bx1; x++) {
      u8* d = OutRel(j, x, y);
      d[0] = avg[0];
      d[1] = avg[1];
      d[2] = avg[2];
      d[3] = SrcPx(j, x, y)[3];
    }
}

// The first grid line at or after lo of the lines at centre + k * n.
static i64 FirstGridLine(i64 centre, i64 lo, i64 n) {
  i64 m = (centre - lo) % n;
  if (m < 0) m += n;
  return lo + m;
}

static void Mosaic(const FxJob& j) {
  const i64 n = std::max(1, j.value);
  const i64 gx = FirstGridLine((j.x2 + 1) / 2, j.x1, n), gy = FirstGridLine((j.y2 + 1) / 2, j.y1, n);
  std::vector<i64> xs{j.x1}, ys{j.y1};  // cell starts; each cell ends at the next start
  for (i64 x = gx; x <= j.x2; x += n)
    if (x > j.x1) xs.push_back(x);
  for (i64 y = gy; y <= j.y2; y += n)
    if (y > j.y1) ys.push_back(y);
  xs.push_back(i64{j.x2} + 1);
  ys.push_back(i64{j.y2} + 1);
  for (size_t b = 0; b + 1 < ys.size(); b++)
    for (size_t a = 0; a + 1 < xs.size(); a++) MosaicBlock(j, xs[a], xs[a + 1], ys[b], ys[b + 1]);
}

// Permutes B, G, R of the 2 x 2 block at (x, y) of the output (relative pixels).
static void ScatterBlock(const FxJob& j, i64 x, i64 y) {
  u8* px[4] = {OutPx(j, x, y), OutPx(j, x + 1, y), OutPx(j, x, y + 1), OutPx(j, x + 1, y + 1)};
  u8 old[4][3];
  for (i32 k = 0; k < 4; k++) std::memcpy(old[k], px[k], 3);
  const u8* perm = g_FxScatterPerm[RandCrtNext() % 24];
  for (i32 k = 0; k < 4; k++) std::memcpy(px[k], old[perm[k]], 3);
}

static void Scatter(const FxJob& j) {
  CopyRect(j);
  const i64 x2 = j.x2 - j.x1, y2 = j.y2 - j.y1;  // the output's last column and row
  for (i64 k = 0; k < j.value / 2; k++) {
    const i64 cols = x2 > k ? (x2 - k + 1) / 2 : 0;
    for (i64 y = k; y < y2; y += 2)
      for (i64 c = 0; c < cols; c++) ScatterBlock(j, k + 2 * c, y);
    for (i64 y = y2 - 1; y >= k; y -= 2)
      for (i64 c = 0; c < cols; c++) ScatterBlock(j, x2 - 1 - k - 2 * c, y);
  }
}

// trunc(v) limited to the 32-bit range (v is never NaN here).
static i64 TruncLimited(double v) {
  if (!(v > -2147483648.0)) return -2147483648LL;
  if (!(v < 2147483647.0)) return 2147483647LL;
  return static_cast<i64>(v);
}

static const float kWaveRadians = 0.017453292f;

static i64 WaveShift(i64 pos, i64 phase, i64 amplitude, bool cosine) {
  const float angle = static_cast<float>(pos + phase) * kWaveRadians;
  const double t = cosine ? std::cos(static_cast<double>(angle)) : std::sin(static_cast<double>(angle));
  return TruncLimited(t * static_cast<double>(amplitude));
}

static void Wave(const FxJob& j, bool horizontal, bool vertical) {
  const i64 w = i64{j.x2} - j.x1 + 1;
  std::vector<i64> dys(static_cast<size_t>(w), 0);
  if (vertical)
    for (i64 x = j.x1; x <= j.x2; x++) dys[static_cast<size_t>(x - j.x1)] = WaveShift(x, j.value2, j.value, true);
  const i64 right = std::max<i64>(j.x1, i64{j.x2} - 1);
  for (i64 y = j.y1; y <= j.y2; y++) {
    const i64 dx = horizontal ? WaveShift(y, j.value2, j.value, false) : 0;
    u8* d = OutRel(j, j.x1, y);
    for (i64 x = j.x1; x <= j.x2; x++, d += 4) {
      i64 cx = x + dx;
      if (cx < j.x1) cx = j.x1;
      else if (cx > j.x2) cx = right;
      const i64 cy = std::clamp<i64>(y + dys[static_cast<size_t>(x - j.x1)], j.y1, j.y2);
      std::memcpy(d, SrcPx(j, cx, cy), 4);
    }
  }
}

static void Swirl(const FxJob& j) {
  const i64 w = i64{j.x2} - j.x1 + 1, h = i64{j.y2} - j.y1 + 1;
  const i64 cx = w / 2, cy = h / 2;
  const i64 n = static_cast<i64>((std::hypot(static_cast<double>(w), static_cast<double>(h)) + 1.0) * 0.5 + 1.0);
  if (s_SwirlW != w || s_SwirlH != h) {
    s_SwirlDist.assign(static_cast<size_t>(w * h), 0);
    for (i64 y = 0; y < h; y++)
      for (i64 x = 0; x < w; x++) {
        const double d = std::hypot(static_cast<double>(std::abs(x - cx)), static_cast<double>(std::abs(y - cy)));
        s_SwirlDist[static_cast<size_t>(y * w + x)] = static_cast<u16>(std::min<double>(d, 65535.0));
      }
    s_SwirlW = static_cast<i32>(w);
    s_SwirlH = static_cast<i32>(h);
  }
  const double v = j.value;
  std::vector<i32> cs(static_cast<size_t>(n)), sn(static_cast<size_t>(n));
  for (i64 i = 0; i < n; i++) {
    const double deg = v / 10.0 - static_cast<double>(i) * v / (10.0 * static_cast<double>(n));
    const double rad = deg * 0.017453292519444445;
    cs[static_cast<size_t>(i)] = static_cast<i32>(std::cos(rad) * 256.0);
    sn[static_cast<size_t>(i)] = static_cast<i32>(std::sin(rad) * 256.0);
  }
  for (i64 y = 0; y < h; y++)
    for (i64 x = 0; x < w; x++) {
      const size_t d = std::min<size_t>(s_SwirlDist[static_cast<size_t>(y * w + x)], static_cast<size_t>(n - 1));
      const i64 rx = x - cx, ry = y - cy;
      const i64 sx = std::clamp<i64>(((rx * cs[d] - ry * sn[d]) >> 8) + cx, 0, w - 1);
      const i64 sy = std::clamp<i64>(((rx * sn[d] + ry * cs[d]) >> 8) + cy, 0, h - 1);
      std::memcpy(OutPx(j, x, y), SrcPx(j, j.x1 + sx, j.y1 + sy), 4);
    }
}

// ---- Dispatch ------------------------------------------------------------------------------------

bool FxInPlace(i32 code) { return code == FX_THRESHOLD || (code >= FX_FILL && code <= FX_FILL3); }

void FxRunKernel(i32 code, const FxJob& j) {
  switch (code) {
    case FX_BRIGHTNESS: Brightness(j); break;
    case FX_BLUR:
    case FX_BLUR_FAST: BoxBlur(j, 3, j.has_alpha ? 15 : 7); break;
    case FX_BLUR_H: BoxBlur(j, 1, j.has_alpha ? 15 : 7); break;
    case FX_BLUR_V: BoxBlur(j, 2, j.has_alpha ? 15 : 7); break;
    case FX_SHADOW: Shadow(j); break;
    case FX_BLUR_OR_SHADOW:
      if (j.has_alpha) Shadow(j);
      else BoxBlur(j, 3, 7);
      break;
    case FX_SCATTER: Scatter(j); break;
    case FX_MIRROR: Mirror(j); break;
    case FX_BALANCE: Balance(j); break;
    case FX_THRESHOLD: Threshold(j); break;
    case FX_MOSAIC: Mosaic(j); break;
    case FX_WAVE_H: Wave(j, true, false); break;
    case FX_WAVE_V: Wave(j, false, true); break;
    case FX_WAVE: Wave(j, true, true); break;
    case FX_FILL:
    case FX_FILL2:
    case FX_FILL3: Fill(j); break;
    case FX_NEGATIVE: Negative(j); break;
    case FX_SATURATION: FxSaturation(j.out, j.src, j.x1, j.x2, j.y1, j.y2, j.src_w, j.out_w, j.value); break;
    case FX_FLIP: Flip(j); break;
    case FX_SEPIA: Sepia(j); break;
    case FX_SWIRL: Swirl(j); break;
    default: CopyRect(j); break;
  }
}

// The buffer a result replaced, kept (resized to the size of that result) for the next effect
// of the same size: a fresh one of picture size comes from the system untouched, and its first
// writes cost more than the effect. Results always go to a buffer other than the output's own,
// as a new one would. Buffers above kSpareMaxBytes are not kept.
static u8* s_Spare = nullptr;
static size_t s_SpareBytes = 0;
static const size_t kSpareMaxBytes = size_t{32} << 20;

static void KeepSpare(u8* old, size_t bytes) {
  std::free(s_Spare);
  s_Spare = nullptr;
  s_SpareBytes = 0;
  if (!old) return;
  u8* p = bytes <= kSpareMaxBytes ? static_cast<u8*>(std::realloc(old, bytes)) : nullptr;
  if (!p) {
    std::free(old);
    return;
  }
  s_Spare = p;
  s_SpareBytes = bytes;
}

// A new w x h buffer with its spare bytes cleared; null after the size message and 100010, or
// 104030 naming the layer.
static u8* NewBuffer(i32 w, i32 h, const char* name) {
  if (w > IMAGE_MAX_SIZE) {
    ImageRaiseTooLarge(w, h);
    return nullptr;
  }
  const size_t bytes = ImagePixelBytes(w, h);
  u8* p = s_Spare && s_SpareBytes == bytes ? s_Spare : static_cast<u8*>(std::malloc(bytes));
  if (p == s_Spare) {
    s_Spare = nullptr;
    s_SpareBytes = 0;
  }
  if (!p) {
    ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, name ? name : "");
    return nullptr;
  }
  std::memset(p + static_cast<size_t>(w) * h * 4, 0, static_cast<size_t>(w) * 4 + 4);
  return p;
}

// The full-size copy an in-place effect with an output starts from. The threshold writes every
// pixel of its rectangle from the source, so only the pixels around the rectangle are copied for it.
static void CopyAround(u8* out, const u8* src, i32 w, i32 h, const FxJob& j, bool outside_only) {
  const size_t row = static_cast<size_t>(w) * 4;
  if (!outside_only) {
    std::memcpy(out, src, row * static_cast<size_t>(h));
    return;
  }
  auto rows = [&](size_t from, size_t to) {  // rows [from, to)
    if (to > from) std::memcpy(out + from * row, src + from * row, (to - from) * row);
  };
  const size_t y1 = static_cast<size_t>(j.y1), y2 = static_cast<size_t>(j.y2);
  rows(0, y1);
  const size_t left = static_cast<size_t>(j.x1) * 4, right = static_cast<size_t>(j.x2 + 1) * 4;
  for (size_t y = y1; y <= y2; y++) {
    std::memcpy(out + y * row, src + y * row, left);
    std::memcpy(out + y * row + right, src + y * row + right, row - right);
  }
  rows(y2 + 1, static_cast<size_t>(h));
}

static void Install(ObjNode* node, u8* pixels, i32 w, i32 h) {
  LayerRecord* r = LayerOf(node);
  KeepSpare(r->pixels, ImagePixelBytes(w, h));
  r->pixels = pixels;
  r->width = w;
  r->height = h;
}

static void CopyName(char* dst, const char* src) {
  if (dst) StrCopySjis(dst, LAYER_NAME_SIZE, src ? src : "");
}

// Effect 8: the source's settings, field by field; the output keeps its own pixels, GIF table,
// frame set and textures.
static void CopySettings(LayerRecord* o, const LayerRecord* s) {
  o->visible = s->visible;
  o->opacity = s->opacity;
  o->mask_progress = s->mask_progress;
  o->mask_softness = s->mask_softness;
  o->blend_mode = s->blend_mode;
  o->has_alpha = s->has_alpha;
  o->user_value1 = s->user_value1;
  o->user_value2 = s->user_value2;
  o->x = s->x;
  o->y = s->y;
  o->x100 = s->x100;
  o->y100 = s->y100;
  o->scale_x = s->scale_x;
  o->scale_y = s->scale_y;
  std::memcpy(o->gpu_transform, s->gpu_transform, sizeof o->gpu_transform);
  o->rot_x = s->rot_x;
  o->rot_y = s->rot_y;
  o->rot_z = s->rot_z;
  o->saturation = s->saturation;
  o->tone = s->tone;
  o->second_mode = s->second_mode;
  CopyName(o->second_name, s->second_name);
  o->second_amount = s->second_amount;
  CopyName(o->mask_name, s->mask_name);
}

// Effects 8 and 9: an animated-character player moves with the copy.
static void MovePlayer(i32 code, ObjNode* src_node, ObjNode* out_node) {
  LayerRecord* s = LayerOf(src_node);
  LayerRecord* o = LayerOf(out_node);
  if (s->draw_kind != LAYER_DRAW_CHARACTER || !s->player) return;
  if (o->player) HookCall(g_HookEmoteReleasePlayer, o);
  o->draw_kind = LAYER_DRAW_CHARACTER;
  o->player = s->player;
  CopyName(o->source_name, s->source_name);
  for (LayerRecord*& slot : g_EmoteSlots)
    if (slot == s) slot = o;
  s->draw_kind = LAYER_DRAW_SPRITE;
  s->player = nullptr;
  if (s->source_name) s->source_name[0] = '\0';
  if (code == FX_COPY) {
    o->player_value1 = o->player_value2 = o->player_value3 = 1.0f;
    o->player_flag = 1;
  }
}

i32 FxDispatch(i32 code, ObjNode* src_node, ObjNode* out_node, i64 x1, i64 y1, i64 x2, i64 y2, i64 value, i64 value2,
               bool has_output, i32 mode) {
  LayerRecord* src = LayerOf(src_node);
  if (!LayerHasPixels(src)) return 0;
  x1 = std::max<i64>(x1, 0);
  y1 = std::max<i64>(y1, 0);
  x2 = std::min<i64>(x2, src->width - 1);
  y2 = std::min<i64>(y2, src->height - 1);
  if (x2 < x1 || y2 < y1) return 0;
  LayerRecord* out = has_output ? LayerOf(out_node) : nullptr;
  const bool in_place = FxInPlace(code);
  const i32 w = static_cast<i32>(x2 - x1 + 1), h = static_cast<i32>(y2 - y1 + 1);
  FxJob job{};
  job.src = src->pixels;
  job.src_w = src->width;
  job.src_h = src->height;
  job.x1 = static_cast<i32>(x1);
  job.y1 = static_cast<i32>(y1);
  job.x2 = static_cast<i32>(x2);
  job.y2 = static_cast<i32>(y2);
  // Values are used as the 32-bit numbers the effects take (the fill's colour as its bits).
  job.value = static_cast<i32>(static_cast<u32>(value));
  job.value2 = static_cast<i32>(static_cast<u32>(value2));
  job.has_alpha = src->has_alpha;
  job.mode = mode;

  if (!out) {
    if (in_place) {
      job.out = src->pixels;
      job.out_w = src->width;
      FxRunKernel(code, job);
      if (code != FX_THRESHOLD && mode != 1) {
        const u8 alpha = static_cast<u8>(mode == 2 ? job.value : static_cast<u32>(job.value) >> 24);
        const bool whole = w == src->width && h == src->height;
        src->has_alpha = alpha == 255 && whole ? 0 : 1;
      }
      LayerMarkDirty(src_node);
      return 0;
    }
    u8* buf = NewBuffer(w, h, src_node->name);
    if (!buf) return -1;
    LayerMarkDirty(src_node);
    job.out = buf;
    job.out_w = w;
    FxRunKernel(code, job);
    Install(src_node, buf, w, h);
    LayerMarkDirty(src_node);
    return 0;
  }

  const i32 ow = in_place ? src->width : w, oh = in_place ? src->height : h;
  u8* buf = NewBuffer(ow, oh, out_node->name);
  if (!buf) return -1;
  if (in_place) CopyAround(buf, src->pixels, ow, oh, job, code == FX_THRESHOLD);
  job.out = buf;
  job.out_w = ow;
  FxRunKernel(code, job);
  Install(out_node, buf, ow, oh);
  LayerMarkDirty(out_node);
  out->has_alpha = src->has_alpha;
  if (out != src) {
    if (code == FX_COPY_SETTINGS) CopySettings(out, src);
    if (code == FX_COPY_SETTINGS || code == FX_COPY) MovePlayer(code, src_node, out_node);
    LayerMarkDirty(out_node);  // at its new place
  }
  return 0;
}
