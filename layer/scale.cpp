// Frame scalers (see scale.h). Positions are fixed point: nearest steps in 16.16, bilinear works
// in 1/256 pixel with 64-bit products. The tables are written by the posting thread before it
// posts and only read by the workers while the job runs.
#include "layer/scale.h"

#include <algorithm>
#include <cstring>

#include "layer/bilinear_px.h"
#include "layer/cpu.h"
#include "layer/kernels.h"
#include "layer/worker.h"

u8 g_BilinearSharpen = 1;
FrameSharpenTables g_BilinearSharpenTables = {};
std::vector<i32> g_ScaleRowTable;
std::vector<i32> g_ScaleColTable;
std::vector<u64> g_ScaleFracTable;

static void ClearRows(u8* dst, i32 width, i32 from, i32 to) {
  for (i32 r = from; r < to; r++) g_PixelKernels.zero(dst + i64{r} * width * 4, width * 4);
}

// Destination pixels [0, first) and [end, width) of one row.
static void ClearOutside(u8* row, i32 width, i32 first, i32 end) {
  if (first > 0) g_PixelKernels.zero(row, first * 4);
  if (end < width) g_PixelKernels.zero(row + i64{end} * 4, (width - end) * 4);
}

// The valid span [first, end) of a table: one past the last entry whose source position is
// negative, up to the first one that reaches the source size.
template <class Pos>
static void ValidSpan(i32 count, Pos pos, i64 size, i32* first, i32* end) {
  i32 f = 0;
  for (i32 i = 0; i < count; i++)
    if (pos(i) < 0) f = i + 1;
  i32 e = count;
  for (i32 i = f; i < count; i++)
    if (pos(i) >= size) {
      e = i;
      break;
    }
  *first = f;
  *end = e;
}

// ---- Nearest ---------------------------------------------------------------------------------

// A source bound as the scalers use it: at most 2^31 pixels either way, so that every span and
// step stays far inside 64 bits.
static i64 LimitPixels(i64 v) {
  const i64 lim = i64{1} << 31;
  return v < -lim ? -lim : (v > lim ? lim : v);
}

// An absolute source position as a table entry: -1 before the picture, size at or after it.
static i32 TableEntry(i64 pos, i64 size) { return static_cast<i32>(pos < 0 ? -1 : (pos > size ? size : pos)); }

// The nearest tables of a scaling (bounds already limited) and the valid spans of rows and
// columns.
static void NearestTables(i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh, i32 dw, i32 dh, i32* row_first,
                          i32* row_end, i32* col_first, i32* col_end) {
  // 16.16 steps in 64 bits: a span of 65536 pixels or more would wrap in 32.
  const i64 col_step = ((right - left + 1) << 16) / dw;
  const i64 row_step = ((bottom - top + 1) << 16) / dh;
  g_ScaleColTable.resize(dw);
  g_ScaleRowTable.resize(dh);
  for (i32 j = 0; j < dw; j++) g_ScaleColTable[j] = TableEntry(left + ((j * col_step) >> 16), sw);
  for (i32 i = 0; i < dh; i++) g_ScaleRowTable[i] = TableEntry(top + ((i * row_step) >> 16), sh);
  ValidSpan(
      dh, [&](i32 i) { return i64{g_ScaleRowTable[i]}; }, sh, row_first, row_end);
  ValidSpan(
      dw, [&](i32 j) { return i64{g_ScaleColTable[j]}; }, sw, col_first, col_end);
}

void FrameScaleNearest(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh, i32 dw,
                       i32 dh) {
  if (!dst || !src || dw <= 0 || dh <= 0) return;
  left = LimitPixels(left);
  top = LimitPixels(top);
  right = LimitPixels(right);
  bottom = LimitPixels(bottom);
  if (right < left || bottom < top) {  // no source pixels at all
    ClearRows(dst, dw, 0, dh);
    return;
  }
  i32 row_first, row_end, col_first, col_end;
  NearestTables(left, top, right, bottom, sw, sh, dw, dh, &row_first, &row_end, &col_first, &col_end);
  ClearRows(dst, dw, 0, row_first);
  ClearRows(dst, dw, row_end, dh);
  WorkerJob job{};
  job.code = WORKER_JOB_SCALE_NEAREST;
  job.col_first = col_first;
  job.col_end = col_end;
  job.src_left = left;
  job.src_top = top;
  job.src_width = sw;
  job.src_height = sh;
  job.dst_width = dw;
  job.dst_height = dh;
  job.dst_pixels = dst;
  job.src_pixels = src;
  WorkerPostRows(job, row_first, row_end);
}

// The tables hold absolute source rows and columns. clear: also the columns outside the job's.
static void NearestRows(const WorkerJob* j, bool clear) {
  const i32 dw = static_cast<i32>(j->dst_width);
  const i32 first = j->col_first, end = j->col_end;  // locals: the stores below may alias the record
  const i32* cols = g_ScaleColTable.data();
  for (i32 r = j->row_first; r < j->row_end; r++) {
    u8* row = j->dst_pixels + i64{r} * dw * 4;
    if (clear) ClearOutside(row, dw, first, end);
    u32* out = reinterpret_cast<u32*>(row);
    if (r > j->row_first && g_ScaleRowTable[r] == g_ScaleRowTable[r - 1]) {
      // The same source row as the row above (enlarging): the same pixels.
      std::memcpy(out + first, out - dw + first, static_cast<size_t>(end - first) * 4);
      continue;
    }
    const u32* src_row = reinterpret_cast<const u32*>(j->src_pixels + i64{g_ScaleRowTable[r]} * j->src_width * 4);
    // The next row's source pixels are fetched ahead while this row is copied.
    const u32* ahead =
        r + 1 < j->row_end
            ? reinterpret_cast<const u32*>(j->src_pixels + i64{g_ScaleRowTable[r + 1]} * j->src_width * 4)
            : nullptr;
    i32 c = first;
    for (; c + 1 < end; c += 2) {  // two pixels a store
      if (ahead && (c & 7) == 0) __builtin_prefetch(ahead + cols[c]);
      const u64 two = src_row[cols[c]] | u64{src_row[cols[c + 1]]} << 32;
      std::memcpy(out + c, &two, 8);
    }
    if (c < end) out[c] = src_row[cols[c]];
  }
}

void LayerJobScaleNearest(WorkerJob* j) { NearestRows(j, true); }

// [first, end) narrowed to the indexes whose source position pos(i) lies in [lo, hi]; the
// positions never fall as the index grows.
template <class Pos>
static void Reach(i32* first, i32* end, Pos pos, i64 lo, i64 hi) {
  i32 f = *first, e = *end;
  while (f < e && pos(f) < lo) f++;
  i32 k = f;
  while (k < e && pos(k) <= hi) k++;
  *first = f;
  *end = k;
}

ScaleRect FrameScaleNearestPart(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                i32 dw, i32 dh, i32 cl, i32 ct, i32 cr, i32 cb) {
  ScaleRect out{0, 0, 0, 0};
  if (!dst || !src || dw <= 0 || dh <= 0) return out;
  left = LimitPixels(left);
  top = LimitPixels(top);
  right = LimitPixels(right);
  bottom = LimitPixels(bottom);
  if (right < left || bottom < top) return out;
  WorkerJob job{};
  NearestTables(left, top, right, bottom, sw, sh, dw, dh, &job.row_first, &job.row_end, &job.col_first, &job.col_end);
  Reach(
      &job.row_first, &job.row_end, [&](i32 i) { return i64{g_ScaleRowTable[i]}; }, ct, cb);
  Reach(
      &job.col_first, &job.col_end, [&](i32 j) { return i64{g_ScaleColTable[j]}; }, cl, cr);
  if (job.row_first >= job.row_end || job.col_first >= job.col_end) return out;
  job.src_left = left;
  job.src_top = top;
  job.src_width = sw;
  job.src_height = sh;
  job.dst_width = dw;
  job.dst_height = dh;
  job.dst_pixels = dst;
  job.src_pixels = src;
  NearestRows(&job, false);
  return ScaleRect{job.col_first, job.row_first, job.col_end, job.row_end};
}

// ---- Bilinear --------------------------------------------------------------------------------

static void BuildSharpenTables() {
  FrameSharpenTables& t = g_BilinearSharpenTables;
  t.col_factor = 1.25f;
  t.row_factor = 1.25f;
  if (t.built) return;
  for (i32 c = 0; c < 256; c++) {
    i32 v = static_cast<i32>(static_cast<float>(c - 128) * t.col_factor + 128);  // truncated toward zero
    t.col[c] = static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v));
    v = static_cast<i32>(static_cast<float>(c - 128) * t.row_factor + 128);
    t.row[c] = static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  t.built = 1;
}

u8 FrameSharpenFraction(u8 f) {
  BuildSharpenTables();
  return g_BilinearSharpenTables.col[f];
}

// With AVX2, where the valid columns lie at most two pixels apart in pairs from the first on,
// left to right (any enlargement, shrinking to half): the pairs' byte shuffles for
// BilinearRowSumsNearAvx2.
static bool s_NearPairs = false;
static std::vector<u8> s_NearMasks;

static void BuildNearMasks(i32 sw, i32 first, i32 end) {
  s_NearPairs = false;
  if (!g_CpuHasAvx2 || sw < 2) return;
  const i32* cols = g_ScaleColTable.data();
  for (i32 c = first; c + 1 < end; c += 2)
    if (cols[c + 1] < cols[c] || cols[c + 1] - cols[c] > 8) return;
  s_NearMasks.resize(static_cast<size_t>(end - first + 1) * 8);
  for (i32 c = first; c + 1 < end; c += 2) {
    u8* m = &s_NearMasks[static_cast<size_t>(c - first) * 8];
    for (int k = 0; k < 4; k++) {
      m[2 * k] = static_cast<u8>(k);
      m[2 * k + 1] = 0x80;
      m[8 + 2 * k] = static_cast<u8>(cols[c + 1] - cols[c] + k);
      m[8 + 2 * k + 1] = 0x80;
    }
  }
  s_NearPairs = true;
}

// Position of destination index i in 1/256 pixel relative to lo / 100.
static i64 BilinearPos(i64 i, i64 lo, i64 hi, i64 dst100) {
  i64 f0 = (lo % 100) * 256 / 100;
  i64 span = hi - lo;
  i64 den = dst100 - 100;
  if (den == 0) den = 100;
  // Shrinking starts the index term at the first fraction, enlarging adds it afterwards.
  bool shrink = dst100 < span;
  return span * (256 * i + (shrink ? f0 : 0)) / den + (shrink ? 0 : f0);
}

// Tables and job of a bilinear scaling; clear: also clears the rows and columns that no source
// reaches (a partial redo leaves them as the whole scaling left them).
static bool PrepareBilinear(WorkerJob* job, u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw,
                            i32 sh, i64 dw100, i64 dh100, bool clear = true) {
  i64 w = dw100 / 100, h = dh100 / 100;
  if (!dst || !src || w <= 0 || h <= 0) return false;
  const i64 lim = (i64{1} << 31) * 100;
  left = std::clamp(left, -lim, lim);
  top = std::clamp(top, -lim, lim);
  right = std::clamp(right, -lim, lim);
  bottom = std::clamp(bottom, -lim, lim);
  if (g_BilinearSharpen) BuildSharpenTables();
  const FrameSharpenTables& t = g_BilinearSharpenTables;
  g_ScaleRowTable.resize(h);
  g_ScaleColTable.resize(w);
  g_ScaleFracTable.resize(w);
  // The tables hold absolute positions: rows as (row << 8) | fraction, columns as byte offsets.
  // At the last row or column the fraction is dropped, so the neighbour beyond the picture (the
  // next row's first pixel, or the spare bytes) never counts: the edge pixel repeats instead.
  std::vector<i64> col_pos(w), row_pos(h);
  for (i64 i = 0; i < h; i++) {
    i64 v = BilinearPos(i, top, bottom, dh100);
    if (g_BilinearSharpen) v = (v & ~i64{255}) | t.row[v & 255];
    i64 r = (v >> 8) + top / 100;
    row_pos[i] = r;
    i64 f = r == sh - 1 ? 0 : (v & 255);
    g_ScaleRowTable[i] = static_cast<i32>(i64{TableEntry(r, sh)} * 256 + (r >= 0 && r < sh ? f : 0));
  }
  for (i64 j = 0; j < w; j++) {
    i64 v = BilinearPos(j, left, right, dw100);
    if (g_BilinearSharpen) v = (v & ~i64{255}) | t.col[v & 255];
    i64 c = (v >> 8) + left / 100;
    col_pos[j] = c;
    i64 f = c == sw - 1 ? 0 : (v & 255);
    g_ScaleColTable[j] = TableEntry(c, sw) * 4;
    g_ScaleFracTable[j] = static_cast<u64>(f) * 0x0001000100010001ull;
  }
  i32 row_first, row_end, col_first, col_end;
  ValidSpan(
      static_cast<i32>(h), [&](i32 i) { return row_pos[i]; }, sh, &row_first, &row_end);
  ValidSpan(
      static_cast<i32>(w), [&](i32 j) { return col_pos[j]; }, sw, &col_first, &col_end);
  if (row_first >= row_end || col_first >= col_end) {
    if (clear) ClearRows(dst, static_cast<i32>(w), 0, static_cast<i32>(h));
    return false;
  }
  BuildNearMasks(sw, col_first, col_end);
  if (clear) {
    ClearRows(dst, static_cast<i32>(w), 0, row_first);
    ClearRows(dst, static_cast<i32>(w), row_end, static_cast<i32>(h));
  }
  *job = WorkerJob{};
  job->code = WORKER_JOB_SCALE_BILINEAR;
  job->row_first = row_first;
  job->row_end = row_end;
  job->col_first = col_first;
  job->col_end = col_end;
  job->src_left = left;
  job->src_top = top;
  job->src_right = right;
  job->src_bottom = bottom;
  job->src_width = sw;
  job->src_height = sh;
  job->dst_width = dw100;
  job->dst_height = dh100;
  job->dst_pixels = dst;
  job->src_pixels = src;
  return true;
}

// The rows of a bilinear job; kExact: the threaded combination of the two horizontal sums;
// clear: also the columns outside the job's.
template <bool kExact>
static void BilinearRows(const WorkerJob* j, bool clear = true) {
  const i32 dw = static_cast<i32>(j->dst_width / 100);
  const i64 stride = i64{j->src_width} * 4;
  const i32 first = j->col_first, end = j->col_end;
  const i32* cols = g_ScaleColTable.data();
  const u64* fracs = g_ScaleFracTable.data();
  for (i32 r = j->row_first; r < j->row_end; r++) {
    u8* out = j->dst_pixels + i64{r} * dw * 4;
    if (clear) ClearOutside(out, dw, j->col_first, j->col_end);
    i64 pos = g_ScaleRowTable[r];
    const u32 fy = static_cast<u32>(pos & 255);
    const u8* row0 = j->src_pixels + (pos >> 8) * stride;
    const u8* row1 = row0 + stride;
    for (i32 c = first; c < end; c += 2) {
      const i32 d = c + 1 < end ? c + 1 : c;
      BilinearTwo<kExact>(out + i64{c} * 4, row0 + cols[c], row1 + cols[c], 4, static_cast<u32>(fracs[c] & 0xFFFF),
                          row0 + cols[d], row1 + cols[d], 4, static_cast<u32>(fracs[d] & 0xFFFF), fy, d > c ? 2 : 1);
    }
  }
}

// The rows of a threaded job through each source row's horizontal sums, worked out once and kept
// while the next destination rows read the same source rows (enlarging reads a row pair for
// several rows, shrinking shares one row between neighbours). The same bytes as
// BilinearRows<true>: a row fraction of 0 leaves the row below out of the sum.
static void BilinearRowsShared(const WorkerJob* j) {
  const i32 dw = static_cast<i32>(j->dst_width / 100);
  const i64 stride = i64{j->src_width} * 4;
  const i32 first = j->col_first, end = j->col_end;
  const i32* cols = g_ScaleColTable.data();
  const u64* fracs = g_ScaleFracTable.data();
  // Per thread and kept between jobs: two rows of sums. A row is worked out into the slot that
  // holds neither the other row the destination row reads nor, for the row above, the row below
  // it (rows go down as the destination rows do, or up where the bounds are the wrong way round).
  thread_local std::vector<u16> sums;
  const size_t row_values = static_cast<size_t>(dw) * 4;
  if (sums.size() < 2 * row_values) sums.resize(2 * row_values);
  u16* slot[2] = {sums.data(), sums.data() + row_values};
  i64 key[2] = {-1, -1};
  auto sums_of = [&](i64 row, int keep) -> int {
    if (key[0] == row) return 0;
    if (key[1] == row) return 1;
    const int s = keep >= 0 ? 1 - keep : (key[0] == row + 1 ? 1 : 0);
    if (s_NearPairs)
      BilinearRowSumsNearAvx2(slot[s], j->src_pixels + row * stride, cols, s_NearMasks.data(), fracs, first, end);
    else BilinearRowSums16(slot[s], j->src_pixels + row * stride, cols, fracs, first, end);
    key[s] = row;
    return s;
  };
  for (i32 r = j->row_first; r < j->row_end; r++) {
    u8* out = j->dst_pixels + i64{r} * dw * 4;
    ClearOutside(out, dw, first, end);
    const i64 pos = g_ScaleRowTable[r];
    const u32 fy = static_cast<u32>(pos & 255);
    const int t = sums_of(pos >> 8, -1);
    const u16* top = slot[t];
    const u16* bottom = fy ? slot[sums_of((pos >> 8) + 1, t)] : top;
    if (g_CpuHasAvx2)
      BilinearCombineExactAvx2(out + i64{first} * 4, top + i64{first} * 4, bottom + i64{first} * 4, fy,
                               (i64{end} - first) * 4);
    else
      BilinearCombineExact(out + i64{first} * 4, top + i64{first} * 4, bottom + i64{first} * 4, fy,
                           (i64{end} - first) * 4);
  }
}

void LayerJobScaleBilinear(WorkerJob* job) { BilinearRowsShared(job); }

void FrameScaleBilinearThreaded(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                i64 dw100, i64 dh100) {
  WorkerJob job;
  if (PrepareBilinear(&job, dst, src, left, top, right, bottom, sw, sh, dw100, dh100))
    WorkerPostRows(job, job.row_first, job.row_end);
}

void FrameScaleBilinear(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh, i64 dw100,
                        i64 dh100) {
  WorkerJob job;
  if (PrepareBilinear(&job, dst, src, left, top, right, bottom, sw, sh, dw100, dh100)) BilinearRows<false>(&job);
}

ScaleRect FrameScaleBilinearPart(u8* dst, const u8* src, i64 left, i64 top, i64 right, i64 bottom, i32 sw, i32 sh,
                                 i64 dw100, i64 dh100, bool threaded_sums, i32 cl, i32 ct, i32 cr, i32 cb) {
  WorkerJob job;
  if (!PrepareBilinear(&job, dst, src, left, top, right, bottom, sw, sh, dw100, dh100, false))
    return ScaleRect{0, 0, 0, 0};
  // Each destination pixel reads its source pixel and the ones right of and below it; the tables
  // hold absolute rows (times 256) and column byte offsets.
  Reach(
      &job.row_first, &job.row_end, [&](i32 i) { return i64{g_ScaleRowTable[i]} >> 8; }, i64{ct} - 1, cb);
  Reach(
      &job.col_first, &job.col_end, [&](i32 j) { return i64{g_ScaleColTable[j] / 4}; }, i64{cl} - 1, cr);
  if (job.row_first >= job.row_end || job.col_first >= job.col_end) return ScaleRect{0, 0, 0, 0};
  if (threaded_sums) BilinearRows<true>(&job, false);
  else BilinearRows<false>(&job, false);
  return ScaleRect{job.col_first, job.row_first, job.col_end, job.row_end};
}

void FrameScaleReset() {
  g_BilinearSharpen = 1;
  g_BilinearSharpenTables = {};
  g_ScaleRowTable.clear();
  g_ScaleColTable.clear();
  g_ScaleFracTable.clear();
}
