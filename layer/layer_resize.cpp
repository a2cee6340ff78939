// Resizing and rotation (see layer_resize.h). Positions are fixed point in 64 bits: 1/256 pixel
// for the resize filters, 16.16 for rotation. Every source read is of a pixel inside the picture;
// where a filter's neighbour or tap would fall outside, the bilinear filters repeat the edge
// pixel and the bicubic and windowed-sinc filters leave the tap out of the sum.
#include "layer/layer_resize.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/err.h"
#include "layer/bilinear_px.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "layer/scale.h"
#include "layer/worker.h"
#include "platform/platform.h"

static const char kSizeTooLargeUtf8[] = "ＣＧサイズが大きすぎます。X=%d, Y=%d";

// A rectangle bound limited to 2^31 pixels either way (in the unit given).
static i64 LimitBound(i64 v, i64 unit) {
  const i64 lim = (i64{1} << 31) * unit;
  return std::clamp(v, -lim, lim);
}

static void ClearPixels(u8* p, i64 pixels) {
  if (pixels > 0) std::memset(p, 0, static_cast<size_t>(pixels) * 4);
}

// ---- Buffers ---------------------------------------------------------------------------------

// A new w x h buffer with its spare bytes cleared. The size message and 100010 above 8192 wide,
// 104030 without memory; null after raising.
static u8* AllocResult(i32 w, i32 h, const char* name) {
  if (w > IMAGE_MAX_SIZE) {
    ErrMessageBoxF("", PlatUtf8ToSjis(kSizeTooLargeUtf8).c_str(), w, h);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  u8* p = static_cast<u8*>(std::malloc(ImagePixelBytes(w, h)));
  if (!p) {
    ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, name ? name : "");
    return nullptr;
  }
  std::memset(p + static_cast<size_t>(w) * 4 * static_cast<size_t>(h), 0, static_cast<size_t>(w) * 4 + 4);
  return p;
}

struct Target {
  ObjNode* node;
  LayerRecord* rec;
  u8* pixels;
  bool fresh;  // a new buffer, to be installed
};

// Which output buffers a resize or a rotation takes over.
enum class Reuse {
  kKeptBuffer,  // one of w x h, or one whose keep-buffer flag is set that is larger both ways (resize)
  kSameBytes,   // one of the byte size of a w x h buffer, whatever its shape (rotation)
};

static bool Reusable(const LayerRecord* r, i32 w, i32 h, Reuse rule) {
  if (rule == Reuse::kSameBytes) return ImagePixelBytes(r->width, r->height) == ImagePixelBytes(w, h);
  return (r->width == w && r->height == h) || (r->keep_buffer && r->width > w && r->height > h);
}

// The target of a resize or rotation to w x h. An output's buffer is reused only when it is not
// the source's own (the same layer twice, or records shared between names) and the rule allows.
static i32 ChooseTarget(ObjNode* src_node, ObjNode* out_node, bool has_output, i32 w, i32 h, Reuse rule,
                        const char* name, Target* t) {
  t->node = has_output && out_node ? out_node : src_node;
  t->rec = LayerOf(t->node);
  const LayerRecord* src = LayerOf(src_node);
  LayerRecord* r = t->rec;
  if (r != src && LayerHasPixels(r) && Reusable(r, w, h, rule)) {
    t->pixels = r->pixels;
    t->fresh = false;
    return 0;
  }
  t->pixels = AllocResult(w, h, name);
  t->fresh = true;
  return t->pixels ? 0 : -1;
}

static void Install(Target* t, i32 w, i32 h, u8 has_alpha) {
  LayerRecord* r = t->rec;
  if (t->fresh) {
    std::free(r->pixels);
    r->pixels = t->pixels;
  }
  r->width = w;
  r->height = h;
  r->has_alpha = has_alpha;
  LayerMarkDirty(t->node);
}

// ---- Bicubic ---------------------------------------------------------------------------------

static i32 s_CubicWeights[513];
static i32 s_CubicTaps[4][256];  // weight of taps -1, 0, 1, 2 for each fraction
static bool s_CubicBuilt = false;

// 256 * w(k / 256) with a = -1, truncated toward zero, in integers (exact).
static i32 CubicWeight(i32 k) {
  const i64 n = 256, t = k;
  if (k <= 256) return static_cast<i32>((n * n * n - 2 * t * t * n + t * t * t) / (n * n));
  return static_cast<i32>((4 * n * n * n - 8 * t * n * n + 5 * t * t * n - t * t * t) / (n * n));
}

static void BuildCubicTables() {
  if (s_CubicBuilt) return;
  for (i32 k = 0; k <= 512; k++) s_CubicWeights[k] = CubicWeight(k);
  for (i32 f = 0; f < 256; f++) {
    s_CubicTaps[0][f] = s_CubicWeights[256 + f];
    s_CubicTaps[1][f] = s_CubicWeights[f];
    s_CubicTaps[2][f] = s_CubicWeights[256 - f];
    s_CubicTaps[3][f] = s_CubicWeights[512 - f];
  }
  s_CubicBuilt = true;
}

// Source index and fraction of output index i of n over the inclusive bounds lo..hi.
static void CubicPos(i64 i, i64 n, i64 lo, i64 hi, i64* index, i32* frac) {
  i64 pos = ((i * 65536 / n) * (hi - lo + 1)) >> 8;
  *index = lo + (pos >> 8);
  *frac = static_cast<i32>(pos & 255);
}

void ResizeBicubic(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh, i64 x1, i64 y1, i64 x2, i64 y2) {
  BuildCubicTables();
  x1 = LimitBound(x1, 1);
  y1 = LimitBound(y1, 1);
  x2 = LimitBound(x2, 1);
  y2 = LimitBound(y2, 1);
  std::vector<i64> col(dw);
  std::vector<i32> cfrac(dw);
  for (i32 j = 0; j < dw; j++) CubicPos(j, dw, x1, x2, &col[j], &cfrac[j]);
  const i64 stride = i64{sw} * 4;
  for (i32 i = 0; i < dh; i++) {
    u8* out = dst + i64{i} * dw * 4;
    i64 row;
    i32 rfrac;
    CubicPos(i, dh, y1, y2, &row, &rfrac);
    if (row < 0 || row >= sh) {
      ClearPixels(out, dw);
      continue;
    }
    i32 wr[4];
    bool rok[4];
    for (i32 a = 0; a < 4; a++) {
      wr[a] = s_CubicTaps[a][rfrac];
      rok[a] = row - 1 + a >= 0 && row - 1 + a < sh;
    }
    for (i32 j = 0; j < dw; j++) {
      u8* d = out + i64{j} * 4;
      const i64 c = col[j];
      if (c < 0 || c >= sw) {
        std::memset(d, 0, 4);
        continue;
      }
      i64 sum[4] = {0, 0, 0, 0}, wsum = 0;
      for (i32 a = 0; a < 4; a++) {
        if (!rok[a]) continue;
        const u8* srow = src + (row - 1 + a) * stride;
        for (i32 b = 0; b < 4; b++) {
          const i64 cc = c - 1 + b;
          if (cc < 0 || cc >= sw) continue;
          const i32 w = wr[a] * s_CubicTaps[b][cfrac[j]] / 256;
          const u8* p = srow + cc * 4;
          for (i32 k = 0; k < 4; k++) sum[k] += i64{p[k]} * w;
          wsum += w;
        }
      }
      if (wsum == 0) wsum = 1;
      for (i32 k = 0; k < 4; k++) d[k] = static_cast<u8>(std::clamp<i64>(sum[k] / wsum, 0, 255));
    }
  }
}

// ---- Threaded bilinear, sampled at twice the resolution --------------------------------------

// One side of the doubled grid: a sub-sample's position is span * (c + 256 k) / den (truncated)
// + add, sharpened, plus the whole pixels of lo.
struct DoubledSide {
  i64 span, c, add, den, base;
  DoubledSide(i64 lo, i64 hi, i64 size100) : span(hi - lo), base((lo / 100) * 256) {
    const i64 f = (lo % 100) * 256 / 100;
    const bool shrink = size100 < span;
    c = shrink ? f : 0;
    add = shrink ? 0 : f;
    den = 2 * size100 - 100;
    if (den == 0) den = 100;
  }
  i64 Finish(i64 quotient) const {
    i64 v = quotient + add;
    if (g_BilinearSharpen) v = (v & ~i64{255}) | g_BilinearSharpenTables.row[v & 255];
    return v + base;
  }
};

// Source position in 1/256 pixel (absolute) of sub-sample k of a side with bounds lo..hi in
// hundredths and new size size100, over the doubled grid; the fraction sharpened.
static i64 DoubledPos(i64 k, i64 lo, i64 hi, i64 size100) {
  const DoubledSide d(lo, hi, size100);
  return d.Finish(d.span * (d.c + 256 * k) / d.den);
}

// DoubledPos for k = 0, 1, 2 ... in turn, one division for all of them: the numerator grows by
// 256 span a step, and its floor quotient and remainder are carried (den is positive).
class DoubledSteps {
 public:
  DoubledSteps(i64 lo, i64 hi, i64 size100) : d_(lo, hi, size100) {
    Split(d_.span * d_.c, &q_, &r_);
    Split(256 * d_.span, &dq_, &dr_);
  }
  // The position of the next k.
  i64 Next() {
    // Truncation toward zero: one up from the floor for a negative quotient with a remainder.
    const i64 v = d_.Finish(q_ + (q_ < 0 && r_ != 0));
    q_ += dq_;
    r_ += dr_;
    if (r_ >= d_.den) {
      q_++;
      r_ -= d_.den;
    }
    return v;
  }

 private:
  void Split(i64 n, i64* q, i64* r) const {
    *q = n / d_.den;
    *r = n % d_.den;
    if (*r < 0) {
      (*q)--;
      *r += d_.den;
    }
  }
  DoubledSide d_;
  i64 q_, r_, dq_, dr_;
};

// The poster's column tables: per sub-column the source column, its byte offset in a row and
// its weights (256 - fraction four times, then the fraction four times). At the last column the
// fraction is left out, so the pixel right of it (the spare bytes or the next row's first pixel,
// read with weight 0) never counts: the edge pixel repeats.
static std::vector<i64> s_SubCol;
static std::vector<i64> s_SubColOffset;
static std::vector<u16> s_SubColWeights;
// With AVX2, where each valid pair of sub-columns 2i, 2i + 1 lies at most two pixels apart left to
// right (any enlargement and shrinking to a quarter): per pair the byte shuffle of
// BilinearRowBytesNearAvx2, and per sub-column its fraction four times.
static bool s_SubColNear = false;
static std::vector<u8> s_SubColMasks;
static std::vector<u16> s_SubColW1;

static void BuildNearTables(i64 dw, i32 sw, i32 col_first, i32 col_end) {
  s_SubColNear = false;
  if (!g_CpuHasAvx2 || sw < 2) return;
  for (i64 i = col_first; i < col_end; i++) {
    const i64 d = s_SubCol[2 * i + 1] - s_SubCol[2 * i];
    if (d < 0 || d > 2) return;
  }
  s_SubColMasks.resize(2 * dw * 8);
  s_SubColW1.resize(2 * dw * 4);
  for (i64 i = col_first; i < col_end; i++) {
    const i64 d = s_SubCol[2 * i + 1] - s_SubCol[2 * i];
    u8* m = &s_SubColMasks[i * 16];
    for (int c = 0; c < 4; c++) {
      m[2 * c] = static_cast<u8>(c);
      m[2 * c + 1] = 0x80;
      m[8 + 2 * c] = static_cast<u8>(4 * d + c);
      m[8 + 2 * c + 1] = 0x80;
    }
  }
  for (i64 k = 2 * i64{col_first}; k < 2 * i64{col_end}; k++)
    for (int c = 0; c < 4; c++) s_SubColW1[k * 4 + c] = s_SubColWeights[k * 8 + 4];
  s_SubColNear = true;
}

// With AVX-512, where each half group (the even or the odd sub-columns of 8 destination pixels)
// reads pixels and right neighbours left to right within 16 pixels: per half group the byte
// offset of its 64-byte read in a row, the byte picks and the weights of Bilinear41RowAvx512;
// s_WideReach the furthest byte read past a row's start.
static bool s_Wide = false;
static std::vector<i64> s_WideWin;
static std::vector<u8> s_WideTables;  // both tables, and 64 bytes to start them on a line
static u8* s_WideIdx = nullptr;
static u8* s_WideWeights = nullptr;
static i64 s_WideReach = 0;

static int FusedHalving();

// (Only where the installed halving's rounding is one the AVX-512 rows follow.)
static void BuildWideTables(i32 col_first, i32 col_end) {
  s_Wide = false;
  if (!g_CpuHasAvx512 || !g_CpuHasAvx2 || !Bilinear41Avx512Built() || !FusedHalving()) return;
  const i64 groups = (i64{col_end} - col_first + 7) / 8;
  s_WideWin.resize(static_cast<size_t>(groups * 2));
  s_WideTables.resize(static_cast<size_t>(groups * 256 + 64));
  s_WideIdx = s_WideTables.data() + (64 - reinterpret_cast<uintptr_t>(s_WideTables.data()) % 64) % 64;
  s_WideWeights = s_WideIdx + groups * 128;
  s_WideReach = 0;
  for (i64 v = 0; v < groups * 2; v++) {
    const i64 first = col_first + (v >> 1) * 8, e = v & 1;
    const i64 base = s_SubCol[static_cast<size_t>(2 * first + e)];
    for (i64 i = 0; i < 8; i++) {
      i64 dp = 0, dn = 0, f = 0;  // past the last pixel: the first pixel again
      if (first + i < col_end) {
        const i64 k = 2 * (first + i) + e;
        f = s_SubColWeights[static_cast<size_t>(k * 8 + 4)];
        dp = s_SubCol[static_cast<size_t>(k)] - base;
        dn = f ? dp + 1 : dp;
        if (dp < 0 || dn > 15) return;
      }
      // Per channel c the bytes 4 dp + c and 4 dn + c, and the two weights (8 bytes each, in
      // memory order).
      const u64 each = 0x0001000100010001ull;
      const u64 picks =
          0x0303020201010000ull + static_cast<u64>(dp * 4) * each + static_cast<u64>(dn * 4) * (each << 8);
      const u64 weights = static_cast<u64>(f ? 256 - f : 255) * each + static_cast<u64>(f ? f : 1) * (each << 8);
      std::memcpy(s_WideIdx + v * 64 + i * 8, &picks, 8);
      std::memcpy(s_WideWeights + v * 64 + i * 8, &weights, 8);
    }
    s_WideWin[static_cast<size_t>(v)] = base * 4;
    s_WideReach = std::max(s_WideReach, base * 4 + 64);
  }
  s_Wide = true;
}

// The valid span [first, end) of n outputs whose sub-samples 2i and 2i + 1 both lie in 0..size - 1
// (positions are monotonic, so the valid ones are contiguous).
template <class Pos>
static void DoubledSpan(i64 n, i64 size, Pos pos, i32* first, i32* end) {
  i64 f = -1, e = -1;
  for (i64 i = 0; i < n; i++) {
    i64 a = pos(2 * i) >> 8, b = pos(2 * i + 1) >> 8;
    if (a >= 0 && a < size && b >= 0 && b < size) {
      if (f < 0) f = i;
      e = i + 1;
    }
  }
  *first = static_cast<i32>(f < 0 ? 0 : f);
  *end = static_cast<i32>(f < 0 ? 0 : e);
}

void ResizeBilinearThreaded(u8* dst, i64 dw100, i64 dh100, const u8* src, i32 sw, i32 sh, i64 x1, i64 y1, i64 x2,
                            i64 y2) {
  const i64 dw = dw100 / 100, dh = dh100 / 100;
  if (dw <= 0 || dh <= 0) return;
  FrameSharpenFraction(0);  // the sharpening tables are built
  x1 = LimitBound(x1, 100);
  y1 = LimitBound(y1, 100);
  x2 = LimitBound(x2, 100);
  y2 = LimitBound(y2, 100);
  s_SubCol.resize(2 * dw);
  s_SubColOffset.resize(2 * dw);
  s_SubColWeights.resize(2 * dw * 8);
  DoubledSteps cols(x1, x2, dw100);
  for (i64 k = 0; k < 2 * dw; k++) {
    i64 v = cols.Next();
    s_SubCol[k] = v >> 8;
    s_SubColOffset[k] = s_SubCol[k] * 4;
    const u16 f = s_SubCol[k] == sw - 1 ? 0 : static_cast<u16>(v & 255);
    for (int c = 0; c < 4; c++) {
      s_SubColWeights[k * 8 + c] = static_cast<u16>(256 - f);
      s_SubColWeights[k * 8 + 4 + c] = f;
    }
  }
  i32 col_first, col_end, row_first, row_end;
  DoubledSpan(
      dw, sw, [&](i64 k) { return s_SubCol[k] << 8; }, &col_first, &col_end);
  DoubledSteps rows(y1, y2, dh100);  // DoubledSpan asks for k = 0, 1, 2 ... in turn
  DoubledSpan(
      dh, sh, [&](i64) { return rows.Next(); }, &row_first, &row_end);
  if (col_first >= col_end || row_first >= row_end) {
    ClearPixels(dst, dw * dh);
    return;
  }
  BuildWideTables(col_first, col_end);
  if (s_Wide) s_SubColNear = false;  // not read
  else BuildNearTables(dw, sw, col_first, col_end);
  ClearPixels(dst, i64{row_first} * dw);
  ClearPixels(dst + i64{row_end} * dw * 4, (dh - row_end) * dw);
  WorkerJob job{};
  job.code = WORKER_JOB_RESIZE_BILINEAR;
  job.col_first = col_first;
  job.col_end = col_end;
  job.src_left = x1;
  job.src_top = y1;
  job.src_right = x2;
  job.src_bottom = y2;
  job.src_width = sw;
  job.src_height = sh;
  job.dst_width = dw100;
  job.dst_height = dh100;
  job.dst_pixels = dst;
  job.src_pixels = src;
  // In shrinking chunks: a worker that wakes late takes fewer rows. Each worker keeps its source
  // rows' results between its chunks, so a chunk costs a few extra rows at most.
  static std::atomic<i32> taken{0};
  taken.store(0, std::memory_order_relaxed);  // no worker runs: the last post is done
  job.chunk_next = &taken;
  job.chunk_rows = 8;
  job.chunk_shrink = true;
  WorkerPostRows(job, row_first, row_end);
}

// Each source row's horizontal results are worked out once per worker and kept while the next
// destination rows read it. A destination row reads at most four source rows (two per sub-row);
// a row is worked out into a slot that none of them holds, the lowest such one (rows go down as
// the destination rows do, or up where the bounds are the wrong way round).
namespace {
struct SubRowCache {
  static constexpr int kSlots = 4;
  u8* slot[kSlots];
  i64 key[kSlots];
  i64 needed[kSlots];  // the rows the current destination row reads
};
}  // namespace

// The slot that holds source row `row` (*hit set), else the one to work it out into.
static int CacheSlot(const SubRowCache* c, i64 row, bool* hit) {
  int pick = -1;
  for (int s = 0; s < SubRowCache::kSlots; s++) {
    if (c->key[s] == row) {
      *hit = true;
      return s;
    }
    const i64* n = c->needed;
    const bool in_use =
        c->key[s] >= 0 && (c->key[s] == n[0] || c->key[s] == n[1] || c->key[s] == n[2] || c->key[s] == n[3]);
    if (!in_use && (pick < 0 || c->key[s] < c->key[pick])) pick = s;
  }
  *hit = false;
  return pick;
}

// The plain horizontal results of source row `row` for sub-columns [k0, k1), from the cache.
static const u8* CachedSubRow(SubRowCache* c, const WorkerJob* j, i64 row, i64 k0, i64 k1) {
  bool hit;
  const int pick = CacheSlot(c, row, &hit);
  if (hit) return c->slot[pick];
  const u8* src = j->src_pixels + row * i64{j->src_width} * 4;
  if (s_SubColNear)
    BilinearRowBytesNearAvx2(c->slot[pick], src, s_SubColOffset.data(), s_SubColMasks.data(), s_SubColW1.data(), k0,
                             k1);
  else if (g_CpuHasAvx2)
    BilinearRowBytesAvx2(c->slot[pick], src, s_SubColOffset.data(), s_SubColWeights.data(), k0, k1);
  else BilinearRowBytes(c->slot[pick], src, s_SubColOffset.data(), s_SubColWeights.data(), k0, k1);
  c->key[pick] = row;
  return c->slot[pick];
}

// The rows sub-row position p reads: its own and the next (the last row repeats; none with a
// fraction of 0).
static i64 NextRow(i64 p, i64 height) { return p & 255 ? std::min<i64>((p >> 8) + 1, height - 1) : p >> 8; }

// One sub-row into out (indexed by sub-column): rows a and b combined with row fraction fy over
// sub-columns [k0, k1).
static void SubRow(u8* out, const u8* a, const u8* b, u32 fy, i64 k0, i64 k1) {
  if (g_CpuHasAvx2) BilinearCombineBytesAvx2(out + k0 * 4, a + k0 * 4, b + k0 * 4, fy, (k1 - k0) * 4);
  else BilinearCombineBytes(out + k0 * 4, a + k0 * 4, b + k0 * 4, fy, (k1 - k0) * 4);
}

// How the installed halving kernel rounds, where BilinearCombineHalveAvx2 can do the same:
// 1 the SIMD sets' averages, 2 the plain set's sum; 0 where it cannot (no AVX2, another kernel).
static int FusedHalving() {
  if (!g_CpuHasAvx2) return 0;
  const KernelHalveFn h = g_PixelKernels.halve;
  if (h == g_BlendKernelsPlain.halve) return 2;
  const PixelKernelTable* sse2 = BlendKernelSetSse2();
  const PixelKernelTable* avx2 = BlendKernelSetAvx2();
  return (sse2 && h == sse2->halve) || (avx2 && h == avx2->halve) ? 1 : 0;
}

// Source row `row` in the layout of Bilinear41RowAvx512, from the cache. With `ahead` (+1 or -1;
// 0 none) the next row that way is worked out in the same pass (the tables read once for both)
// where it is not held and a slot no destination row needs now is free for it. A row whose reads
// would pass the picture's end is copied into pad[0] or pad[1] (s_WideReach bytes or more each)
// first.
static const u8* CachedWideRow(SubRowCache* c, const WorkerJob* j, i64 row, i64 ahead, u8* const pad[2]) {
  bool hit;
  const int pick = CacheSlot(c, row, &hit);
  if (hit) return c->slot[pick];
  c->key[pick] = row;  // from here on held: the other row's slot is another
  const i64 also = row + ahead;
  int pick2 = -1;
  if (ahead && also >= 0 && also < j->src_height) {
    pick2 = CacheSlot(c, also, &hit);
    if (hit) pick2 = -1;
    else if (pick2 >= 0) c->key[pick2] = also;
  }
  const i64 stride = i64{j->src_width} * 4, end = stride * j->src_height;
  const auto source = [&](i64 r, u8* copy) {
    const u8* p = j->src_pixels + r * stride;
    if (r * stride + s_WideReach <= end) return p;
    std::memcpy(copy, p, static_cast<size_t>(stride));
    return static_cast<const u8*>(copy);
  };
  Bilinear41RowAvx512(c->slot[pick], source(row, pad[0]), pick2 >= 0 ? c->slot[pick2] : nullptr,
                      pick2 >= 0 ? source(also, pad[1]) : nullptr, s_WideWin.data(), s_WideIdx, s_WideWeights,
                      static_cast<i64>(s_WideWin.size()));
  return c->slot[pick];
}

// Each destination row the worker takes of the job: the source rows its two sub-rows read,
// through row(k) (the cached horizontal results of source row k), the row's pixels outside the
// columns cleared, then combine(out, a0, b0, fy0, a1, b1, fy1) for the columns.
template <class Row, class Combine>
static void ForDestinationRows(WorkerJob* j, SubRowCache* cache, Row row, Combine combine) {
  const i64 dw = j->dst_width / 100;
  i32 first, end;
  for (WorkerRows rows{j}; rows.Take(&first, &end);)
    for (i32 r = first; r < end; r++) {
      u8* out = j->dst_pixels + i64{r} * dw * 4;
      const i64 p0 = DoubledPos(2 * i64{r}, j->src_top, j->src_bottom, j->dst_height);
      const i64 p1 = DoubledPos(2 * i64{r} + 1, j->src_top, j->src_bottom, j->dst_height);
      const u32 fy0 = static_cast<u32>(p0 & 255), fy1 = static_cast<u32>(p1 & 255);
      cache->needed[0] = p0 >> 8;
      cache->needed[1] = NextRow(p0, j->src_height);
      cache->needed[2] = p1 >> 8;
      cache->needed[3] = NextRow(p1, j->src_height);
      const u8* a0 = row(cache->needed[0]);
      const u8* b0 = fy0 ? row(cache->needed[1]) : a0;
      const u8* a1 = row(cache->needed[2]);
      const u8* b1 = fy1 ? row(cache->needed[3]) : a1;
      ClearPixels(out, j->col_first);
      ClearPixels(out + i64{j->col_end} * 4, dw - j->col_end);
      combine(out, a0, b0, fy0, a1, b1, fy1);
    }
}

// The job with the AVX-512 rows, both passes straight into the destination row.
static void ResizeBilinearWide(WorkerJob* j, bool plain) {
  const i64 pixels = i64{j->col_end} - j->col_first;
  const size_t row_bytes = static_cast<size_t>((pixels + 7) / 8 * 64);
  const size_t pad_bytes = static_cast<size_t>((std::max(i64{j->src_width} * 4, s_WideReach) + 63) / 64 * 64);
  // Per thread and kept between jobs: the cache's rows (on 64-byte lines: a 64-byte store across
  // two lines costs twice), then the padded copy of a row.
  thread_local std::vector<u8> scratch;
  const size_t need = row_bytes * SubRowCache::kSlots + 2 * pad_bytes + 64;
  if (scratch.size() < need) scratch.resize(need);
  u8* base = scratch.data() + (64 - reinterpret_cast<uintptr_t>(scratch.data()) % 64) % 64;
  u8* const pad[2] = {base + row_bytes * SubRowCache::kSlots, base + row_bytes * SubRowCache::kSlots + pad_bytes};
  SubRowCache cache;
  for (int s = 0; s < SubRowCache::kSlots; s++) {
    cache.slot[s] = base + row_bytes * static_cast<size_t>(s);
    cache.key[s] = -1;
  }
  // Where the sub-rows lie closer than the source rows, the destination rows read every source
  // row between their first and last: each row is worked out together with the next one down
  // (up, where the bounds are the wrong way round).
  const i64 span = j->src_bottom - j->src_top;
  const i64 ahead = std::abs(span) <= 2 * j->dst_height - 100 ? (span >= 0 ? 1 : -1) : 0;
  ForDestinationRows(
      j, &cache, [&](i64 k) { return CachedWideRow(&cache, j, k, ahead, pad); },
      [&](u8* out, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1) {
        Bilinear41CombineAvx512(out + i64{j->col_first} * 4, a0, b0, fy0, a1, b1, fy1, pixels, plain);
      });
}

void LayerJobResizeBilinear(WorkerJob* j) {
  const int fused = FusedHalving();
  if (s_Wide && fused && g_CpuHasAvx512) {
    ResizeBilinearWide(j, fused == 2);
    return;
  }
  const i32 dw = static_cast<i32>(j->dst_width / 100);
  const size_t row_bytes = static_cast<size_t>(dw) * 2 * 4;
  // Per thread and kept between jobs: the two sub-rows, then the cache's rows.
  thread_local std::vector<u8> scratch;
  if (scratch.size() < row_bytes * (2 + SubRowCache::kSlots)) scratch.resize(row_bytes * (2 + SubRowCache::kSlots));
  u8* sub0 = scratch.data();
  u8* sub1 = sub0 + row_bytes;
  SubRowCache cache;
  for (int s = 0; s < SubRowCache::kSlots; s++) {
    cache.slot[s] = sub0 + row_bytes * static_cast<size_t>(2 + s);
    cache.key[s] = -1;
  }
  const i64 k0 = 2 * i64{j->col_first}, k1 = 2 * i64{j->col_end};
  ForDestinationRows(
      j, &cache, [&](i64 k) { return CachedSubRow(&cache, j, k, k0, k1); },
      [&](u8* out, const u8* a0, const u8* b0, u32 fy0, const u8* a1, const u8* b1, u32 fy1) {
        // Whole groups of pixels straight from the rows, the rest through the sub-rows.
        i64 first = j->col_first;
        if (fused)
          first += BilinearCombineHalveAvx2(out + first * 4, a0 + k0 * 4, b0 + k0 * 4, fy0, a1 + k0 * 4, b1 + k0 * 4,
                                            fy1, j->col_end - first, fused == 2);
        if (first == j->col_end) return;
        SubRow(sub0, a0, b0, fy0, 2 * first, k1);
        SubRow(sub1, a1, b1, fy1, 2 * first, k1);
        g_PixelKernels.halve(out + first * 4, sub0 + first * 8, dw * 2, static_cast<i32>(j->col_end - first));
      });
}

// ---- Windowed sinc ---------------------------------------------------------------------------

ResampleTable g_ResampleTables[2];

double ResampleSinc(double x) {
  const double pi = 3.1415927410125732;
  if (x == 0.0) return 1.0;
  return std::sin(pi * x) / (pi * x);
}

double ResampleLanczos2(double x) {
  x = std::fabs(x);
  if (x >= 2.0) return 0.0;
  return ResampleSinc(x) * ResampleSinc(x * 0.5);
}

void LayerResampleSetup(i32 direction, i32 n, i32 m) {
  ResampleTable& t = g_ResampleTables[direction ? 1 : 0];
  // Scale: (m - 1) / (n - 1), m for a source of one pixel, 1 / n for a result of one (where the
  // formula gives 0). The kernel is never stretched below its own width: enlarging samples it at
  // scale 1, or its zeros would fall on every source pixel.
  double s = n == 1 ? m : (m == 1 ? 1.0 / n : static_cast<double>(m - 1) / (n - 1));
  const double k = std::min(s, 1.0);
  const double support = 2.0 / k;
  t.slots = static_cast<i32>(2.0 / k + 1.0 + 2.0 / k) + 3;
  t.left.assign(m, 0);
  t.count.assign(m, 0);
  t.weights.assign(static_cast<size_t>(m) * t.slots, 0);
  for (i32 i = 0; i < m; i++) {
    const double centre = i / s;
    const i64 left = static_cast<i64>(std::floor(centre - support));
    const i64 right = static_cast<i64>(std::ceil(centre + support));
    const i32 count = static_cast<i32>(std::min<i64>(right - left + 1, t.slots));
    t.left[i] = left;
    t.count[i] = count;
    i32* w = &t.weights[static_cast<size_t>(i) * t.slots];
    for (i32 j = 0; j < count; j++)
      w[j] = static_cast<i32>(ResampleLanczos2((centre - static_cast<double>(left) - static_cast<double>(j)) * k) * k *
                              65536.0);
  }
}

// sum / (1 + the weights used), truncated toward zero (a divisor of 0 counts as 1) and limited to
// 0..255. The divisor is the same for every pixel of an output index, so its reciprocal is worked
// out once; the quotient it gives is off by at most one and corrected exactly.
struct SincDivisor {
  i64 d;
  double inv;
};
static SincDivisor MakeDivisor(i64 wsum) {
  i64 d = 1 + wsum;
  if (d == 0) d = 1;
  return {d, 1.0 / static_cast<double>(d)};
}
static u8 SincResult(i64 sum, SincDivisor v) {
  if (v.d < 0) return static_cast<u8>(std::clamp<i64>(sum / v.d, 0, 255));
  if (sum < v.d) return 0;  // a quotient of 0 or below
  if (sum >= 256 * v.d) return 255;
  i64 q = static_cast<i64>(static_cast<double>(sum) * v.inv);
  if (q * v.d > sum) q--;
  else if ((q + 1) * v.d <= sum) q++;
  return static_cast<u8>(q);
}

// The weights used of output index i (its taps inside 0..n - 1): [*j0, *j1) and their sum.
static SincDivisor SincTaps(const ResampleTable& t, i32 i, i64 n, i32* j0, i32* j1) {
  const i64 left = t.left[i];
  *j0 = static_cast<i32>(std::clamp<i64>(-left, 0, t.count[i]));
  *j1 = static_cast<i32>(std::clamp<i64>(n - left, *j0, t.count[i]));
  const i32* w = &t.weights[static_cast<size_t>(i) * t.slots];
  i64 wsum = 0;
  for (i32 j = *j0; j < *j1; j++) wsum += w[j];
  return MakeDivisor(wsum);
}

i32 ResizeSinc(u8* dst, i32 dw, i32 dh, const u8* src, i32 sw, i32 sh) {
  u8* tmp = static_cast<u8*>(std::malloc(static_cast<size_t>(dw) * 4 * static_cast<size_t>(sh) + 4));
  if (!tmp) return -1;
  // Along rows: sw -> dw for every source row.
  LayerResampleSetup(1, sw, dw);
  const ResampleTable& h = g_ResampleTables[1];
  std::vector<i32> hj0(dw), hj1(dw);
  std::vector<SincDivisor> hdiv(dw);
  for (i32 i = 0; i < dw; i++) hdiv[i] = SincTaps(h, i, sw, &hj0[i], &hj1[i]);
  for (i32 y = 0; y < sh; y++) {
    const u8* srow = src + static_cast<size_t>(y) * sw * 4;
    u8* trow = tmp + static_cast<size_t>(y) * dw * 4;
    for (i32 i = 0; i < dw; i++) {
      const i32 j0 = hj0[i], taps = hj1[i] - j0;
      const i32* w = &h.weights[static_cast<size_t>(i) * h.slots + static_cast<size_t>(j0)];
      const u8* p = srow + (h.left[i] + j0) * 4;
      i64 sum[4] = {0, 0, 0, 0};
      for (i32 j = 0; j < taps; j++)
        for (i32 c = 0; c < 4; c++) sum[c] += i64{p[j * 4 + c]} * w[j];
      for (i32 c = 0; c < 4; c++) trow[i * 4 + c] = SincResult(sum[c], hdiv[i]);
    }
  }
  // Along columns: sh -> dh.
  LayerResampleSetup(0, sh, dh);
  const ResampleTable& v = g_ResampleTables[0];
  std::vector<i64> acc(static_cast<size_t>(dw) * 4);
  for (i32 i = 0; i < dh; i++) {
    std::fill(acc.begin(), acc.end(), 0);
    const i32* w = &v.weights[static_cast<size_t>(i) * v.slots];
    i32 j0, j1;
    const SincDivisor div = SincTaps(v, i, sh, &j0, &j1);
    for (i32 j = j0; j < j1; j++) {
      const u8* trow = tmp + static_cast<size_t>(v.left[i] + j) * dw * 4;
      const i64 wj = w[j];
      for (i32 x = 0; x < dw * 4; x++) acc[x] += trow[x] * wj;
    }
    u8* out = dst + static_cast<size_t>(i) * dw * 4;
    for (i32 x = 0; x < dw * 4; x++) out[x] = SincResult(acc[x], div);
  }
  std::free(tmp);
  return 0;
}

// ---- Resize ----------------------------------------------------------------------------------

i32 LayerResize(ObjNode* src_node, ObjNode* out_node, i64 x1, i64 y1, i64 x2, i64 y2, i64 new_w100, i64 new_h100,
                bool has_output, i32 filter, const char* out_name) {
  const LayerRecord* src = LayerOf(src_node);
  if (!LayerHasPixels(src)) return 0;
  const i64 w = new_w100 / 100, h = new_h100 / 100;
  if (w < 1 || h < 1 || w > RESIZE_MAX_SIZE || h > RESIZE_MAX_SIZE) return 0;
  const i32 dw = static_cast<i32>(w), dh = static_cast<i32>(h);
  Target t;
  ObjNode* target_node = has_output && out_node ? out_node : src_node;
  if (!LayerOf(target_node)) return 0;
  LayerMarkDirty(target_node);
  if (ChooseTarget(src_node, out_node, has_output, dw, dh, Reuse::kKeptBuffer, out_name, &t) != 0) return -1;
  // Only a new buffer takes the source's flag; a reused one keeps the output's.
  const u8 has_alpha = t.fresh ? src->has_alpha : t.rec->has_alpha;
  const u8* sp = src->pixels;
  const i32 sw = src->width, sh = src->height;
  switch (filter) {
    case RESIZE_NEAREST: FrameScaleNearest(t.pixels, sp, x1 / 100, y1 / 100, x2 / 100, y2 / 100, sw, sh, dw, dh); break;
    case RESIZE_BILINEAR:
      if (g_CpuFeatures.sse && g_CfgUseSse)
        FrameScaleBilinearThreaded(t.pixels, sp, x1, y1, x2, y2, sw, sh, new_w100, new_h100);
      else FrameScaleBilinear(t.pixels, sp, x1, y1, x2, y2, sw, sh, new_w100, new_h100);
      break;
    case RESIZE_BICUBIC: ResizeBicubic(t.pixels, dw, dh, sp, sw, sh, x1 / 100, y1 / 100, x2 / 100, y2 / 100); break;
    case RESIZE_BILINEAR_THREADED:
      ResizeBilinearThreaded(t.pixels, new_w100, new_h100, sp, sw, sh, x1, y1, x2, y2);
      break;
    case RESIZE_SINC:
      if (ResizeSinc(t.pixels, dw, dh, sp, sw, sh) != 0) {
        if (t.fresh) std::free(t.pixels);
        ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, out_name ? out_name : "");
        return -1;
      }
      break;
    default: ClearPixels(t.pixels, i64{dw} * dh); break;
  }
  Install(&t, dw, dh, has_alpha);
  return 0;
}

// ---- Rotation --------------------------------------------------------------------------------

static i64 FloorDiv(i64 a, i64 b) {  // b > 0
  return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}
static i64 CeilDiv(i64 a, i64 b) { return -FloorDiv(-a, b); }

// Narrows [*first, *last] to the x where lo <= a + b * x <= hi.
static void StepRange(i64 a, i64 b, i64 lo, i64 hi, i64* first, i64* last) {
  if (b == 0) {
    if (a < lo || a > hi) *first = *last + 1;
    return;
  }
  i64 f, l;
  if (b > 0) {
    f = CeilDiv(lo - a, b);
    l = FloorDiv(hi - a, b);
  } else {
    f = CeilDiv(a - hi, -b);
    l = FloorDiv(a - lo, -b);
  }
  *first = std::max(*first, f);
  *last = std::min(*last, l);
}

void RotatePixels(u8* dst, const u8* src, i32 w, i32 h, i64 degrees, i32 variant, bool keep_outside) {
  const i64 a = degrees % 360;
  const i64 n = i64{w} * h;
  if (a == 0) {
    std::memcpy(dst, src, static_cast<size_t>(n) * 4);
    return;
  }
  if (a == 180 || a == -180) {
    for (i64 i = 0; i < n; i++) std::memcpy(dst + i * 4, src + (n - 1 - i) * 4, 4);
    return;
  }
  i64 c, s;
  if (a == 90 || a == -270) {
    c = 0;
    s = 65536;
  } else if (a == 270 || a == -90) {
    c = 0;
    s = -65536;
  } else {
    const double rad = static_cast<double>(a) * 3.1415926535 / 180.0;
    c = static_cast<i64>(std::cos(rad) * 65536.0);
    s = static_cast<i64>(std::sin(rad) * 65536.0);
  }
  const i64 cx = w / 2, cy = h / 2;
  // A source position lies inside when it is within [lo, hi] in 16.16: rounded toward minus
  // infinity the pixel is position >> 16; rounded toward zero, positions just before 0 still
  // give pixel 0.
  const i64 lo = variant == ROTATE_CLAMPED ? -65535 : 0;
  // Quarter turns clear the rest of every row whatever the variant.
  const bool clear = !keep_outside || a % 90 == 0;
  const u32* sp = reinterpret_cast<const u32*>(src);
  for (i64 y = 0; y < h; y++) {
    const i64 sx0 = cx * 65536 - c * cx - s * (y - cy);
    const i64 sy0 = cy * 65536 - s * cx + c * (y - cy);
    // The row's columns whose source lies inside, worked out exactly from both coordinates.
    i64 first = 0, last = w - 1;
    StepRange(sx0, c, lo, i64{w} * 65536 - 1, &first, &last);
    StepRange(sy0, s, lo, i64{h} * 65536 - 1, &first, &last);
    u8* row = dst + y * w * 4;
    if (first > last) {
      if (clear) ClearPixels(row, w);
      continue;
    }
    if (clear) {
      ClearPixels(row, first);
      ClearPixels(row + (last + 1) * 4, w - 1 - last);
    }
    u32* out = reinterpret_cast<u32*>(row);
    i64 sx = sx0 + c * first, sy = sy0 + s * first;
    if (variant == ROTATE_CLAMPED) {
      for (i64 x = first; x <= last; x++, sx += c, sy += s)
        out[x] = sp[(std::max<i64>(sy, 0) >> 16) * w + (std::max<i64>(sx, 0) >> 16)];
    } else {
      for (i64 x = first; x <= last; x++, sx += c, sy += s) out[x] = sp[(sy >> 16) * w + (sx >> 16)];
    }
  }
}

i32 LayerRotate(ObjNode* src_node, ObjNode* out_node, i64 degrees, bool has_output, i32 variant, const char* out_name) {
  const LayerRecord* src = LayerOf(src_node);
  if (!LayerHasPixels(src)) return 0;
  ObjNode* target_node = has_output && out_node ? out_node : src_node;
  if (!LayerOf(target_node)) return 0;
  LayerMarkDirty(target_node);
  const i32 w = src->width, h = src->height;
  Target t;
  if (ChooseTarget(src_node, out_node, has_output, w, h, Reuse::kSameBytes, out_name, &t) != 0) return -1;
  const u8 has_alpha = degrees % 180 == 0 ? src->has_alpha : 1;
  // Variant 12 writes only the turned span: a reused output keeps its own pixels beside it.
  RotatePixels(t.pixels, src->pixels, w, h, degrees, variant, !t.fresh && variant == ROTATE_CLAMPED);
  Install(&t, w, h, has_alpha);
  return 0;
}
