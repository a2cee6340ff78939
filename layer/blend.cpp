// Blend modes: table building, the function table with its routing to kernel slots, mask
// weights, and the portable mode kernels (each byte: t = T[s][d], then the entry's weighting).
// The SIMD mode kernels in kernels_simd.cpp / kernels_avx2.cpp compute the same bytes.
#include "layer/blend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "layer/cpu.h"
#include "layer/lut.h"

BlendFuncTable g_BlendFuncTable;
BlitRect g_BlitRect;
i32 g_MaskWeights[256];
u8 g_BlendSatSum[511];
u8 g_BlendClampDiff[511];
u16 g_BlendDivTable[256][256];
u8 g_BlendModeTable[kBlendModeCount][65536];
u8 g_BlendSoftLightK[2][48];

static BlendModeKernelSet s_PortableSet;

// ---- Mode tables ----------------------------------------------------------------------------

static int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
static int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The tables are built at every start, so their divisions by a varying divisor go through
// reciprocals: (n * ceil(2^40 / d)) >> 40 is exactly n / d for 0 <= n < 2^24 and 0 < d < 2^16
// (the error n / 2^40 stays below the gap 1 / d to the next whole number).
static u64 s_Reciprocal[512];
static double s_SoftRoot[256];

static void BuildDivisors() {
  for (u32 d = 1; d < 512; d++) s_Reciprocal[d] = ((u64{1} << 40) + d - 1) / d;
  for (int d = 0; d < 256; d++) s_SoftRoot[d] = std::sqrt(static_cast<double>(256 - d));
}

// n / d truncated toward zero, as the division operator does; |n| < 2^24, 0 < d < 512.
static inline int Div(int n, int d) {
  if (n < 0) return -Div(-n, d);
  return static_cast<int>((static_cast<u64>(n) * s_Reciprocal[d]) >> 40);
}

// The multiplier of the light half over a dark destination (s >= 128, d <= 32).
static int SoftLightDarkK(int d) { return static_cast<int>(16384.0 - s_SoftRoot[d] * (768 - 8 * d)); }

static int SoftLight(int s, int d) {
  double root = s_SoftRoot[d];
  int t;
  if (s < 128) {
    int k = static_cast<int>(16384.0 - root);
    t = d + FloorDiv((s - 128) * k, 32768);
  } else if (d <= 32) {
    int k = SoftLightDarkK(d);
    t = d + FloorDiv((s - 128) * k, 32768);
  } else {
    int k = static_cast<int>(16384.0 - root);
    t = d + FloorDiv((s - 128) * k, 65536);
  }
  return Clamp255(t);
}

template <int M>
static inline int ModeValue(int s, int d) {
  const u8(*mul)[256] = g_LutProductByte;
  switch (M) {
    case 0: return s;
    case 1: return g_BlendSatSum[s + d];
    case 2: return g_BlendClampDiff[255 + s - d];
    case 3: return mul[s][d];
    case 4: return d == 0 ? (s > 0 ? 255 : 0) : Clamp255(Div(255 * s, d));
    case 5: return s + d - mul[s][d];
    case 6: return s > d ? s : d;
    case 7: return s < d ? s : d;
    case 8: return s > d ? s - d : d - s;
    case 9: return s + d - 2 * mul[s][d];
    case 10:
      if (d < 128) return 2 * s * d / 255;
      if (d == 128) return s;
      return 2 * d - 257 + s * (512 - 2 * d) / 255;
    case 11: return Clamp255(Div(256 * d, 256 - s));
    case 12: return Clamp255(255 - Div(256 * (255 - d), s + 1));
    case 13: return Clamp255(s + d - 255);
    case 14:
      if (s < 128) return 2 * s * d / 255;
      if (s == 128) return d;
      return 2 * s - 257 + d * (512 - 2 * s) / 255;
    case 15: return SoftLight(s, d);
    case 16:
      if (s == 0) return 0;
      if (s < 128) return Clamp255(Div(510 * s - 65025 + 255 * d, 2 * s));
      if (s < 255) return Clamp255(Div(255 * d, 510 - 2 * s));
      return 255;
    case 17: return Clamp255(2 * s + d - 256);
    default: return s < 128 ? (d < 2 * s ? d : 2 * s) : (d > 2 * s - 255 ? d : 2 * s - 255);
  }
}

template <int M>
static void BuildModeTable() {
  u8* t = g_BlendModeTable[M];
  for (int s = 0; s < 256; s++)
    for (int d = 0; d < 256; d++) t[s * 256 + d] = static_cast<u8>(ModeValue<M>(s, d));
}

// A mode's table is made the first time composition picks one of the mode's entries (most
// games use a few of the nineteen modes); the flag is set, with release order, once the table is
// whole, so a worker that sees it set reads a whole table. Builders run under s_ModeTableBuild.
static std::atomic<u8> s_ModeTableReady[kBlendModeCount];
static std::mutex s_ModeTableBuild;

template <int... M>
static constexpr std::array<void (*)(), sizeof...(M)> ModeTableBuilders(std::integer_sequence<int, M...>) {
  return {BuildModeTable<M>...};
}
static constexpr auto kModeTableBuilders = ModeTableBuilders(std::make_integer_sequence<int, kBlendModeCount>());

// Makes mode's table unless it is made already; mode is 0..18.
static void ModeTableNeeded(int mode) {
  if (s_ModeTableReady[mode].load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> g(s_ModeTableBuild);
  if (s_ModeTableReady[mode].load(std::memory_order_relaxed)) return;
  kModeTableBuilders[static_cast<size_t>(mode)]();
  s_ModeTableReady[mode].store(1, std::memory_order_release);
}

static void BuildLookupTables() {
  BuildDivisors();
  for (int i = 0; i < 511; i++) {
    g_BlendSatSum[i] = static_cast<u8>(i < 255 ? i : 255);
    g_BlendClampDiff[i] = static_cast<u8>(i > 255 ? i - 255 : 0);
  }
  for (int v = 0; v < 256; v++) g_BlendDivTable[0][v] = 0;
  for (int o = 1; o < 256; o++)
    for (int v = 0; v < 256; v++) g_BlendDivTable[o][v] = static_cast<u16>(Div(v * 256, o));
  // The mode tables read the tables above: they are made again after them.
  for (std::atomic<u8>& ready : s_ModeTableReady) ready.store(0, std::memory_order_relaxed);
  // floor((s - 128) * k / 32768) is the signed high product of s - 128 and 2k (2k < 32768).
  for (int d = 0; d < 48; d++) {
    int k2 = d <= 32 ? 2 * SoftLightDarkK(d) : 16383;
    g_BlendSoftLightK[0][d] = static_cast<u8>(k2 & 255);
    g_BlendSoftLightK[1][d] = static_cast<u8>(k2 >> 8);
  }
}

// ---- Portable mode kernels ------------------------------------------------------------------

static inline int Lerp(int d, int t, int w) { return (d * (256 - w) + t * w) >> 8; }

template <int M>
static inline int ModeT(int s, int d) {
  if constexpr (M == 0) return s;
  return g_BlendModeTable[M][s * 256 + d];
}

template <int M>
static void RowPlain(u8* dst, const u8* src, i32, i32 bytes) {
  for (i32 i = 0; i < bytes; i++) dst[i] = static_cast<u8>(ModeT<M>(src[i], dst[i]));
}

template <int M>
static void RowOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  for (i32 i = 0; i < bytes; i++) {
    int d = dst[i], t = ModeT<M>(src[i], d);
    // Difference rounds its step toward zero through the product table.
    dst[i] = static_cast<u8>(M == 8 ? d + g_LutProduct256[op][255 + t - d] : Lerp(d, t, op));
  }
}

// Colour bytes weighted per pixel; wfn gives the weight 0..256 from the source alpha.
template <int M, class WeightFn>
static void RowColourWeighted(u8* dst, const u8* src, i32 bytes, WeightFn wfn) {
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    int w = wfn(src[i + 3]);
    for (int c = 0; c < 3; c++) dst[i + c] = static_cast<u8>(Lerp(dst[i + c], ModeT<M>(src[i + c], dst[i + c]), w));
  }
}

template <int M>
static void RowSrcAlpha(u8* dst, const u8* src, i32, i32 bytes) {
  RowColourWeighted<M>(dst, src, bytes, [](int sa) { return sa + 1; });
}

template <int M>
static void RowSrcAlphaOpacity(u8* dst, const u8* src, i32 op, i32 bytes) {
  op = BlendClampWeight(op);
  RowColourWeighted<M>(dst, src, bytes, [op](int sa) { return (op * (sa + 1)) >> 8; });
}

template <int M>
static void RowMask(u8* dst, const u8* src, const u8* mask, i32, i32, i32 bytes) {
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    int w = BlendMaskWeightUsable(g_MaskWeights[mask[i]]);
    if (w == 0) continue;
    for (int c = 0; c < 3; c++) dst[i + c] = static_cast<u8>(Lerp(dst[i + c], ModeT<M>(src[i + c], dst[i + c]), w));
  }
}

template <int M>
static void RowMaskSrcAlpha(u8* dst, const u8* src, const u8* mask, i32, i32, i32 bytes) {
  for (i32 i = 0; i + 4 <= bytes; i += 4) {
    int w = BlendMaskWeightUsable(g_MaskWeights[mask[i]]);
    if (w == 0) continue;
    // The normal mode weights by sa, so an opaque source lands within one unit of s.
    int v = w * (M == 0 ? src[i + 3] : src[i + 3] + 1);
    for (int c = 0; c < 3; c++) {
      int d = dst[i + c];
      dst[i + c] = static_cast<u8>((d * (65536 - v) + ModeT<M>(src[i + c], d) * v) >> 16);
    }
  }
}

// clang-format off
// Entries that route to kernel slots go through g_PixelKernels, so they follow the chosen set.
void BlendNormalPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.copy(d, s, n); }
void BlendNormalOpacity(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.opacity(d, s, op, n); }
void BlendNormalSrcAlpha(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.alpha(d, s, n); }
void BlendNormalSrcAlphaOpacity(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.alpha_opacity(d, s, op, n); }
void BlendNormalMaskDispatch(u8* d, const u8* s, const u8* m, i32 p, i32 f, i32 n) { g_PixelKernels.mask(d, s, m, p, f, n); }
void BlendAddPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.add(d, s, n); }
void BlendAddOpacity(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.add_opacity(d, s, op, n); }
void BlendAddSrcAlpha(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.add_alpha(d, s, op, n); }
void BlendAddSrcAlphaOpacity(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.add_alpha_opacity(d, s, op, n); }
void BlendSubPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.sub(d, s, n); }
void BlendMulPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.mul(d, s, n); }
void BlendScreenPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.screen(d, s, n); }
void BlendScreenOpacity(u8* d, const u8* s, i32 op, i32 n) { g_PixelKernels.screen_opacity(d, s, op, n); }
void BlendLightenPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.lighten(d, s, n); }
void BlendDarkenPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.darken(d, s, n); }
void BlendLinearBurnPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.linear_burn(d, s, n); }
void BlendLinearLightPlain(u8* d, const u8* s, i32, i32 n) { g_PixelKernels.linear_light(d, s, n); }
// clang-format on

#define ZP_ROW(Mode, M, Entry) \
  void Blend##Mode##Entry(u8* d, const u8* s, i32 op, i32 n) { Row##Entry<M>(d, s, op, n); }
#define ZP_MASK(Mode, M, Entry) \
  void Blend##Mode##Entry(u8* d, const u8* s, const u8* m, i32 p, i32 f, i32 n) { Row##Entry<M>(d, s, m, p, f, n); }
#define ZP_ROWS4(Mode, M) \
  ZP_ROW(Mode, M, Plain) ZP_ROW(Mode, M, Opacity) ZP_ROW(Mode, M, SrcAlpha) ZP_ROW(Mode, M, SrcAlphaOpacity)
#define ZP_MASKS(Mode, M) ZP_MASK(Mode, M, Mask) ZP_MASK(Mode, M, MaskSrcAlpha)

// clang-format off
ZP_MASKS(Normal, 0)
ZP_MASKS(Add, 1)
ZP_ROW(Sub, 2, Opacity) ZP_ROW(Sub, 2, SrcAlpha) ZP_ROW(Sub, 2, SrcAlphaOpacity) ZP_MASKS(Sub, 2)
ZP_ROW(Mul, 3, Opacity) ZP_ROW(Mul, 3, SrcAlpha) ZP_ROW(Mul, 3, SrcAlphaOpacity) ZP_MASKS(Mul, 3)
ZP_ROWS4(Div, 4) ZP_MASKS(Div, 4)
ZP_ROW(Screen, 5, SrcAlpha) ZP_ROW(Screen, 5, SrcAlphaOpacity) ZP_MASKS(Screen, 5)
ZP_ROW(Lighten, 6, Opacity) ZP_ROW(Lighten, 6, SrcAlpha) ZP_ROW(Lighten, 6, SrcAlphaOpacity) ZP_MASKS(Lighten, 6)
ZP_ROW(Darken, 7, Opacity) ZP_ROW(Darken, 7, SrcAlpha) ZP_ROW(Darken, 7, SrcAlphaOpacity) ZP_MASKS(Darken, 7)
ZP_ROWS4(Diff, 8) ZP_MASKS(Diff, 8)
ZP_ROWS4(Exclusion, 9) ZP_MASKS(Exclusion, 9)
ZP_ROWS4(Overlay, 10) ZP_MASKS(Overlay, 10)
ZP_ROWS4(Dodge, 11) ZP_MASKS(Dodge, 11)
ZP_ROWS4(Burn, 12) ZP_MASKS(Burn, 12)
ZP_ROW(LinearBurn, 13, Opacity) ZP_ROW(LinearBurn, 13, SrcAlpha) ZP_ROW(LinearBurn, 13, SrcAlphaOpacity) ZP_MASKS(LinearBurn, 13)
ZP_ROWS4(HardLight, 14) ZP_MASKS(HardLight, 14)
ZP_ROWS4(SoftLight, 15) ZP_MASKS(SoftLight, 15)
ZP_ROWS4(VividLight, 16) ZP_MASKS(VividLight, 16)
ZP_ROW(LinearLight, 17, Opacity) ZP_ROW(LinearLight, 17, SrcAlpha) ZP_ROW(LinearLight, 17, SrcAlphaOpacity) ZP_MASKS(LinearLight, 17)
ZP_ROWS4(PinLight, 18) ZP_MASKS(PinLight, 18)
// clang-format on

#undef ZP_ROW
#undef ZP_MASK
#undef ZP_ROWS4
#undef ZP_MASKS

    // ---- The function table ---------------------------------------------------------------------

    // Routed entries (mode, block, k); everything else comes from the mode kernel set.
    struct RoutedRow {
  int block, mode, k;
  BlendRowFn fn;
};
// clang-format off
static const RoutedRow kRoutedRows[] = {
    {0, 0, 1, BlendNormalPlain},      {0, 0, 0, BlendNormalOpacity},
    {1, 0, 1, BlendNormalSrcAlpha},   {1, 0, 0, BlendNormalSrcAlphaOpacity},
    {0, 1, 1, BlendAddPlain},         {0, 1, 0, BlendAddOpacity},
    {1, 1, 1, BlendAddSrcAlpha},      {1, 1, 0, BlendAddSrcAlphaOpacity},
    {0, 2, 1, BlendSubPlain},         {0, 3, 1, BlendMulPlain},
    {0, 5, 1, BlendScreenPlain},      {0, 5, 0, BlendScreenOpacity},
    {0, 6, 1, BlendLightenPlain},     {0, 7, 1, BlendDarkenPlain},
    {0, 13, 1, BlendLinearBurnPlain}, {0, 17, 1, BlendLinearLightPlain},
};
// clang-format on

static void BuildPortableSet() {
#define ZP_SET(num, Mode)                                    \
  s_PortableSet.rows[num][0] = Blend##Mode##Plain;           \
  s_PortableSet.rows[num][1] = Blend##Mode##Opacity;         \
  s_PortableSet.rows[num][2] = Blend##Mode##SrcAlpha;        \
  s_PortableSet.rows[num][3] = Blend##Mode##SrcAlphaOpacity; \
  s_PortableSet.masks[num][0] = Blend##Mode##Mask;           \
  s_PortableSet.masks[num][1] = Blend##Mode##MaskSrcAlpha;
  ZP_BLEND_MODE_LIST(ZP_SET)
#undef ZP_SET
}

const BlendModeKernelSet& BlendModeKernelsPortable() { return s_PortableSet; }

void BlendInitTablesLater() {
  LutBuildTables();
  BuildLookupTables();
  BuildPortableSet();
  BlendModeKernelSet set = s_PortableSet;
  BlendModeKernelSet simd;
  bool have_simd = false;
  if (g_BlendKernelLevel >= 2) {
    have_simd = g_CpuHasAvx2 && BlendModeKernelsAvx2(&simd);
    if (!have_simd) have_simd = BlendModeKernelsSse2(&simd);
  }
  if (have_simd) {
    for (int m = 0; m < kBlendModeCount; m++) {
      for (int e = 0; e < 4; e++)
        if (simd.rows[m][e]) set.rows[m][e] = simd.rows[m][e];
      for (int e = 0; e < 2; e++)
        if (simd.masks[m][e]) set.masks[m][e] = simd.masks[m][e];
    }
  }
  std::memset(&g_BlendFuncTable, 0, sizeof g_BlendFuncTable);
  for (int m = 0; m < kBlendModeCount; m++) {
    g_BlendFuncTable.rows[0][m * 2 + 1] = set.rows[m][0];
    g_BlendFuncTable.rows[0][m * 2 + 0] = set.rows[m][1];
    g_BlendFuncTable.rows[1][m * 2 + 1] = set.rows[m][2];
    g_BlendFuncTable.rows[1][m * 2 + 0] = set.rows[m][3];
    g_BlendFuncTable.masks[0][m * 2 + 1] = set.masks[m][0];
    g_BlendFuncTable.masks[0][m * 2 + 0] = set.masks[m][0];
    g_BlendFuncTable.masks[1][m * 2 + 0] = set.masks[m][1];
  }
  for (const RoutedRow& r : kRoutedRows) g_BlendFuncTable.rows[r.block][r.mode * 2 + r.k] = r.fn;
  g_BlendFuncTable.masks[0][1] = BlendNormalMaskDispatch;
}

void BlendInitTables() {
  BlendInitTablesLater();
  for (int m = 0; m < kBlendModeCount; m++) ModeTableNeeded(m);
}

static void BuildMaskWeights(i64 p, i64 f, i64 o) {
  if (f == 256) {
    for (int i = 0; i < 256; i++) g_MaskWeights[i] = static_cast<i32>(((i >= 256 - p ? 256 : 0) * o) >> 8);
    return;
  }
  // Any softness is taken as it stands (below 0 the edge runs the other way). In 64 bits, so that
  // no softness or progress of 32 bits overflows; far below 1 every weight acts alike, so the
  // lowest are held.
  const i64 c = (f >> 1) * p - 128 * f + p;
  for (i64 i = 0; i < 256; i++) {
    const i64 w = (std::min<i64>(((i * f) >> 1) + c, 255) + 1) * o >> 8;
    g_MaskWeights[i] = static_cast<i32>(std::max<i64>(w, INT32_MIN));
  }
}

void BlendBuildMaskWeights(i32 progress, i32 softness, i32 opacity) {
  BuildMaskWeights(BlendClampWeight(progress), softness, BlendClampWeight(opacity));
}

void BlendBuildRuleWeights(i64 progress, i32 softness) { BuildMaskWeights(progress, softness, 256); }

static int PickIndex(int mode, i32 opacity, bool k_allowed) {
  if (mode < 0 || mode >= kBlendModeCount) mode = 0;
  ModeTableNeeded(mode);
  int k = k_allowed ? BlendClampWeight(opacity) >> 8 : 0;
  return mode * 2 + k;
}

BlendRowFn BlendPickRow(int block, int mode, i32 opacity) {
  return g_BlendFuncTable.rows[block == 1 ? 1 : 0][PickIndex(mode, opacity, true)];
}

BlendMaskRowFn BlendPickMask(int block, int mode, i32 opacity) {
  bool alpha = block == 3;
  return g_BlendFuncTable.masks[alpha ? 1 : 0][PickIndex(mode, opacity, !alpha)];
}

void BlendReset() {
  std::memset(g_MaskWeights, 0, sizeof g_MaskWeights);
  g_BlitRect = BlitRect{};
}
