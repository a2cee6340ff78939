// Pixel-kernel benchmark in the manner of pixman's lowlevel-blt-bench: one thread, the median of
// repeated runs, megapixels per second for a row that stays in L1 and for a 1920x1080 frame
// done row by row, for every kernel slot and every blend-mode entry of the installed set. Beside
// each row: pixman's closest operation on the same bytes and memcpy of the same bytes. pixman
// works on premultiplied pixels, so the rows compare cost, not results. A frame is bound by
// memory traffic, which other programs on the machine share: there the three run in turn within
// each iteration, so every ratio compares passes made under the same load.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/kernels.h"

namespace {

const int kRepetitions = 9;
const double kMinTime = 0.03;
const int kOpacity = 100;  // not 128, where some kernels take a shortcut

struct Size {
  const char* name;
  int w, h;
};
const Size kSizes[] = {{"L1", 1024, 1}, {"1920x1080", 1920, 1080}};

// One set of pictures per size; pixman wraps the same bytes (a8r8g8b8 is B, G, R, A in memory),
// and every row, pixman's and memcpy's included, draws into the same destination.
struct Surface {
  int w = 0, h = 0;
  std::vector<u32> dst, dst_start, src, src2, mask;  // dst_start: the destination's first state
  std::vector<u8> a8;
  pixman_image_t *pd = nullptr, *ps = nullptr, *pa8 = nullptr, *pmask = nullptr, *psolid = nullptr;
};

Surface& SurfaceFor(int size) {
  static Surface surfaces[2];
  Surface& s = surfaces[size];
  if (s.w) return s;
  s.w = kSizes[size].w;
  s.h = kSizes[size].h;
  size_t px = static_cast<size_t>(s.w) * s.h * 2 + 2 * static_cast<size_t>(s.w);  // halving reads two rows
  s.dst.resize(px);
  s.src.resize(px);
  s.src2.resize(px);
  s.mask.resize(px);
  s.a8.resize(px);
  u32 x = 12345;
  for (size_t i = 0; i < px; i++) {
    x = x * 1664525u + 1013904223u;
    s.src[i] = x;
    s.src2[i] = x * 2654435761u;
    s.dst[i] = x ^ 0x5A5A5A5Au;
    s.mask[i] = x >> 3;
    s.a8[i] = static_cast<u8>(x >> 24);
  }
  s.dst_start = s.dst;
  s.pd = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.w, s.h, s.dst.data(), s.w * 4);
  s.ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.w, s.h, s.src.data(), s.w * 4);
  s.pa8 = pixman_image_create_bits(PIXMAN_a8, s.w, s.h, reinterpret_cast<u32*>(s.a8.data()), s.w);
  s.pmask = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.w, s.h, s.mask.data(), s.w * 4);
  pixman_color_t c = {0, 0, 0, static_cast<uint16_t>(kOpacity * 257)};
  s.psolid = pixman_image_create_solid_fill(&c);
  return s;
}

// pixman's counterpart of a row: a fill, or a composite with no, a solid or an a8 mask. The
// mask rows compare with an a8 mask: our masks are 32-bit pictures (pixman would read a byte a
// pixel where we read four), so at frame size those rows pay for 16 bytes a pixel against 13.
enum PixKind { kNoPixman, kPixFill, kPixComposite };
enum PixMask { kMaskNone, kMaskSolid, kMaskA8 };
struct PixRef {
  PixKind kind;
  pixman_op_t op;
  PixMask mask;
};
const PixRef kNone = {kNoPixman, PIXMAN_OP_CLEAR, kMaskNone};
PixRef Fill() { return {kPixFill, PIXMAN_OP_SRC, kMaskNone}; }
PixRef Comp(pixman_op_t op, PixMask m = kMaskNone) { return {kPixComposite, op, m}; }

typedef std::function<void(u8* d, const u8* s, const u8* s2, const u8* m, int w)> LineFn;

struct Row {
  std::string name;
  LineFn line;
  PixRef pix;
  bool halve = false;
  int mode = -1, entry = -1;  // blend-mode rows: mode and entry (0 plain .. 5 mask x src alpha)
};

// clang-format off
// One line of a row: the installed kernel on d (source s, second source s2, mask m, w pixels).
#define LINE(call) [](u8* d, const u8* s, const u8* s2, const u8* m, int w) { \
    (void)s, (void)s2, (void)m;                                             \
    call;                                                                   \
  }
#define K g_PixelKernels
#define N (w * 4)
#define OVER PIXMAN_OP_OVER
std::vector<Row> SlotRows() {
  return {
      {"slot 0 zero fill", LINE(K.zero(d, N)), Fill()},
      {"slot 1 byte fill", LINE(K.fill_bytes(d, N, 0x37)), Fill()},
      {"slot 2 colour fill", LINE(K.fill_colour(d, N, 0x80402010u)), Fill()},
      {"slot 3 copy", LINE(K.copy(d, s, N)), Comp(PIXMAN_OP_SRC)},
      {"slot 4 opacity", LINE(K.opacity(d, s, kOpacity, N)), Comp(OVER, kMaskSolid)},
      {"slot 5 source alpha", LINE(K.alpha(d, s, N)), Comp(OVER)},
      {"slot 6 alpha x opacity", LINE(K.alpha_opacity(d, s, kOpacity, N)), Comp(OVER, kMaskSolid)},
      {"slot 7 mask", LINE(K.mask(d, s, m, 128, 256, N)), Comp(OVER, kMaskA8)},
      {"slot 8 cross-fade", LINE(K.cross_fade(d, s, s2, kOpacity, N)), kNone},
      {"slot 9 add", LINE(K.add(d, s, N)), Comp(PIXMAN_OP_ADD)},
      {"slot 10 add x opacity", LINE(K.add_opacity(d, s, kOpacity, N)), Comp(PIXMAN_OP_ADD, kMaskSolid)},
      // pixman's ADD takes a premultiplied source; the same work for a straight-alpha source is
      // ADD through its alpha as an a8 mask.
      {"slot 11 add x alpha", LINE(K.add_alpha(d, s, 0, N)), Comp(PIXMAN_OP_ADD, kMaskA8)},
      {"slot 12 add x alpha x opacity", LINE(K.add_alpha_opacity(d, s, kOpacity, N)), Comp(PIXMAN_OP_ADD, kMaskSolid)},
      {"slot 13 subtract", LINE(K.sub(d, s, N)), kNone},
      {"slot 14 multiply", LINE(K.mul(d, s, N)), Comp(PIXMAN_OP_MULTIPLY)},
      {"slot 15 screen", LINE(K.screen(d, s, N)), Comp(PIXMAN_OP_SCREEN)},
      {"slot 16 screen x opacity", LINE(K.screen_opacity(d, s, kOpacity, N)), Comp(PIXMAN_OP_SCREEN, kMaskSolid)},
      {"slot 17 lighten", LINE(K.lighten(d, s, N)), Comp(PIXMAN_OP_LIGHTEN)},
      {"slot 18 darken", LINE(K.darken(d, s, N)), Comp(PIXMAN_OP_DARKEN)},
      {"slot 19 linear burn", LINE(K.linear_burn(d, s, N)), kNone},
      {"slot 20 linear light", LINE(K.linear_light(d, s, N)), kNone},
      {"slot 21 2x2 halving (source px)", LINE(K.halve(d, s, w, w / 2)), kNone, true},
      {"slot 22 source over", LINE(K.over(d, s, N)), Comp(OVER)},
      {"slot 23 over x opacity", LINE(K.over_opacity(d, s, kOpacity, N)), Comp(OVER, kMaskSolid)},
      {"slot 24 over scaled dst", LINE(K.over_dst_scaled(d, s, 200, N)), Comp(OVER)},
      {"slot 25 over scaled dst x opacity", LINE(K.over_dst_scaled_opacity(d, s, 200, kOpacity, N)), Comp(OVER, kMaskSolid)},
  };
}
// clang-format on
#undef LINE
#undef K
#undef N
#undef OVER
// pixman's separable blend mode for each of the nineteen modes, where it has one.
bool ModePixmanOp(int mode, pixman_op_t* op) {
  static const pixman_op_t ops[kBlendModeCount] = {
      PIXMAN_OP_OVER,       PIXMAN_OP_ADD,         PIXMAN_OP_CLEAR,      PIXMAN_OP_MULTIPLY,   PIXMAN_OP_CLEAR,
      PIXMAN_OP_SCREEN,     PIXMAN_OP_LIGHTEN,     PIXMAN_OP_DARKEN,     PIXMAN_OP_DIFFERENCE, PIXMAN_OP_EXCLUSION,
      PIXMAN_OP_OVERLAY,    PIXMAN_OP_COLOR_DODGE, PIXMAN_OP_COLOR_BURN, PIXMAN_OP_CLEAR,      PIXMAN_OP_HARD_LIGHT,
      PIXMAN_OP_SOFT_LIGHT, PIXMAN_OP_CLEAR,       PIXMAN_OP_CLEAR,      PIXMAN_OP_CLEAR};
  *op = ops[mode];
  return ops[mode] != PIXMAN_OP_CLEAR;
}

std::vector<Row> ModeRows() {
  static const char* const names[kBlendModeCount] = {
      "normal",     "add",        "subtract",    "multiply",     "divide",       "screen",      "lighten",
      "darken",     "difference", "exclusion",   "overlay",      "colour dodge", "colour burn", "linear burn",
      "hard light", "soft light", "vivid light", "linear light", "pin light"};
  static const char* const entries[6] = {"plain", "opacity",         "src alpha", "src alpha x opacity",
                                         "mask",  "mask x src alpha"};
  static const PixMask masks[6] = {kMaskNone, kMaskSolid, kMaskNone, kMaskSolid, kMaskA8, kMaskA8};
  std::vector<Row> rows;
  for (int m = 0; m < kBlendModeCount; m++) {
    for (int e = 0; e < 6; e++) {
      Row r;
      r.mode = m;
      r.entry = e;
      r.name = std::string("mode ") + std::to_string(m) + " " + names[m] + " " + entries[e];
      int op = e == 1 || e == 3 ? kOpacity : 256;
      if (e < 4) {
        BlendRowFn fn = BlendPickRow(e / 2, m, op);
        r.line = [fn, op](u8* d, const u8* s, const u8*, const u8*, int w) { fn(d, s, op, w * 4); };
      } else {
        BlendMaskRowFn fn = BlendPickMask(e == 4 ? 2 : 3, m, 256);
        r.line = [fn](u8* d, const u8* s, const u8*, const u8* mk, int w) { fn(d, s, mk, 128, 256, w * 4); };
      }
      pixman_op_t pop;
      r.pix = kNone;
      if (m == 0 && e == 0) r.pix = Comp(PIXMAN_OP_SRC);
      else if (m == 1 && e == 2) r.pix = Comp(PIXMAN_OP_ADD, kMaskA8);  // as slot 11
      else if (ModePixmanOp(m, &pop)) r.pix = Comp(pop, masks[e]);
      rows.push_back(r);
    }
  }
  return rows;
}

// ---- Running ----------------------------------------------------------------------------------

// Medians in pixels per second, by benchmark name: the row's own rate, and for a paired frame
// row the median rates of its own, pixman's and memcpy's passes made side by side.
std::map<std::string, double> g_Median, g_PairOurs, g_PairPixman, g_PairMemcpy;

class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") continue;
      const std::string& name = r.run_name.function_name;
      if (r.counters.count("items_per_second")) g_Median[name] = r.counters.at("items_per_second");
      if (r.counters.count("ours_px_per_s")) g_PairOurs[name] = r.counters.at("ours_px_per_s");
      if (r.counters.count("pixman_px_per_s")) g_PairPixman[name] = r.counters.at("pixman_px_per_s");
      if (r.counters.count("memcpy_px_per_s")) g_PairMemcpy[name] = r.counters.at("memcpy_px_per_s");
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

benchmark::internal::Benchmark* Tune(benchmark::internal::Benchmark* b) {
  return b->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->MinTime(kMinTime);
}

std::string OursName(const Row& r, int size) { return std::string(kSizes[size].name) + " | " + r.name; }
std::string PixName(const PixRef& p, int size) {
  static const char* const mask_names[3] = {"", " + solid mask", " + a8 mask"};
  if (p.kind == kPixFill) return std::string(kSizes[size].name) + " | pixman fill";
  return std::string(kSizes[size].name) + " | pixman op " + std::to_string(p.op) + mask_names[p.mask];
}
std::string MemcpyName(int size) { return std::string(kSizes[size].name) + " | memcpy"; }

// Every repetition starts from the same destination. The L1 row is then drawn over and over, so
// its destination settles as in lowlevel-blt-bench (a source-over destination turns opaque);
// each pass over the frame starts again from the first state (restored outside the timing).
void RestoreDestination(Surface& s) {
  std::memcpy(s.dst.data(), s.dst_start.data(), static_cast<size_t>(s.w) * s.h * 4);
}

// One pass of each: our row over every line, pixman's operation, memcpy line by line.
void OursPass(const Row& r, Surface& s) {
  u8* d = reinterpret_cast<u8*>(s.dst.data());
  const u8* src = reinterpret_cast<const u8*>(s.src.data());
  const u8* src2 = reinterpret_cast<const u8*>(s.src2.data());
  const u8* m = reinterpret_cast<const u8*>(s.mask.data());
  size_t stride = static_cast<size_t>(s.w) * 4;
  int lines = r.halve ? (s.h > 1 ? s.h / 2 : 1) : s.h;
  for (int y = 0; y < lines; y++) {
    size_t sy = r.halve ? 2 * y * stride : y * stride;
    r.line(d + y * stride, src + sy, src2 + y * stride, m + y * stride, s.w);
  }
}
void PixmanPass(const PixRef& p, Surface& s) {
  pixman_image_t* mask = p.mask == kMaskSolid ? s.psolid : p.mask == kMaskA8 ? s.pa8 : nullptr;
  if (p.kind == kPixFill) pixman_fill(s.dst.data(), s.w, 32, 0, 0, s.w, s.h, 0x80402010u);
  else pixman_image_composite32(p.op, s.ps, mask, s.pd, 0, 0, 0, 0, 0, 0, s.w, s.h);
}
void MemcpyPass(Surface& s) {
  size_t stride = static_cast<size_t>(s.w) * 4;
  u8* d = reinterpret_cast<u8*>(s.dst.data());
  const u8* src = reinterpret_cast<const u8*>(s.src.data());
  for (int y = 0; y < s.h; y++) std::memcpy(d + y * stride, src + y * stride, stride);
}

i64 RowPixels(const Row& r, const Surface& s) { return static_cast<i64>(s.w) * (r.halve ? (s.h > 1 ? s.h : 2) : s.h); }

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// A frame row: each iteration makes one pass of ours, memcpy's and (where there is one)
// pixman's, in an order that turns with the iteration, each from the first destination. The
// row's time is its own passes'; the others' medians come along as counters.
void RegisterFramePair(const Row& r, int size) {
  Tune(benchmark::RegisterBenchmark(OursName(r, size).c_str(), [r, size](benchmark::State& st) {
         Surface& s = SurfaceFor(size);
         bool has_pix = r.pix.kind != kNoPixman;
         int kinds = has_pix ? 3 : 2;
         std::vector<double> pix_t, mem_t, our_t;
         i64 turn = 0;
         for (auto _ : st) {
           double ours = 0;
           for (int k = 0; k < kinds; k++) {
             int which = static_cast<int>((turn + k) % kinds);  // 0 ours, 1 memcpy, 2 pixman
             RestoreDestination(s);
             auto t0 = std::chrono::steady_clock::now();
             if (which == 0) OursPass(r, s);
             else if (which == 1) MemcpyPass(s);
             else PixmanPass(r.pix, s);
             benchmark::ClobberMemory();
             double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
             if (which == 0) ours = t, our_t.push_back(t);
             else (which == 1 ? mem_t : pix_t).push_back(t);
           }
           turn++;
           st.SetIterationTime(ours);
         }
         st.SetItemsProcessed(st.iterations() * RowPixels(r, s));
         double frame_px = static_cast<double>(s.w) * s.h;
         // Ours as a median of passes too: the rate Google Benchmark reports is a mean, which
         // bursts of load on the shared machine pull down where the medians beside it hold.
         if (!our_t.empty()) st.counters["ours_px_per_s"] = frame_px / Median(our_t);
         if (!mem_t.empty()) st.counters["memcpy_px_per_s"] = frame_px / Median(mem_t);
         if (!pix_t.empty()) st.counters["pixman_px_per_s"] = frame_px / Median(pix_t);
       })->UseManualTime());
}

void RegisterOurs(const Row& r, int size) {
  if (SurfaceFor(size).h > 1) return RegisterFramePair(r, size);
  Tune(benchmark::RegisterBenchmark(OursName(r, size).c_str(), [r, size](benchmark::State& st) {
         Surface& s = SurfaceFor(size);
         RestoreDestination(s);
         for (auto _ : st) {
           OursPass(r, s);
           benchmark::ClobberMemory();
         }
         st.SetItemsProcessed(st.iterations() * RowPixels(r, s));
       })->UseRealTime());
}

void RegisterPixman(const PixRef& p, int size) {
  Tune(benchmark::RegisterBenchmark(PixName(p, size).c_str(), [p, size](benchmark::State& st) {
         Surface& s = SurfaceFor(size);
         RestoreDestination(s);
         for (auto _ : st) {
           PixmanPass(p, s);
           benchmark::ClobberMemory();
         }
         st.SetItemsProcessed(st.iterations() * static_cast<i64>(s.w) * s.h);
       })->UseRealTime());
}

void RegisterMemcpy(int size) {
  Tune(benchmark::RegisterBenchmark(MemcpyName(size).c_str(), [size](benchmark::State& st) {
         Surface& s = SurfaceFor(size);
         RestoreDestination(s);
         for (auto _ : st) {
           MemcpyPass(s);
           benchmark::ClobberMemory();
         }
         st.SetItemsProcessed(st.iterations() * static_cast<i64>(s.w) * s.h);
       })->UseRealTime());
}

bool IsFillOrCopy(const Row& r) { return r.pix.kind == kPixFill || r.pix.op == PIXMAN_OP_SRC; }

// The modes that divide or take roots stand at least 10x ahead of pixman's same mode in every
// entry, overlay and hard light in their weighted entries; add through mask x source alpha at
// least level with pixman. One goal line per group and size, with the group's lowest ratio.
struct RatioGoal {
  std::string name;
  double need, worst = 1e30;
  bool seen = false;
};
int RatioGoalFor(const Row& r) {
  if (r.mode == 11 || r.mode == 12 || r.mode == 15) return r.mode == 11 ? 0 : r.mode == 12 ? 1 : 2;
  if ((r.mode == 10 || r.mode == 14) && r.entry >= 2) return r.mode == 10 ? 3 : 4;
  if (r.mode == 1 && r.entry == 5) return 5;
  return -1;
}

void PrintTable(const std::vector<Row>& rows) {
  const char* const group_names[6] = {
      "colour dodge",        "colour burn", "soft light", "overlay weighted rows", "hard light weighted rows",
      "add mask x src alpha"};
  RatioGoal goals[2][6];
  for (int size = 0; size < 2; size++)
    for (int g = 0; g < 6; g++)
      goals[size][g] = {std::string(group_names[g]) + " at " + kSizes[size].name, g == 5 ? 1.0 : 10.0};
  std::printf("\n%-44s %-10s %11s %11s %9s %11s %9s  %s\n", "row", "size", "zephra MP/s", "pixman MP/s", "vs pixman",
              "memcpy MP/s", "vs memcpy", "goal");
  int missed = 0;
  for (int size = 0; size < 2; size++) {
    for (const Row& r : rows) {
      std::string name = OursName(r, size);
      auto it = g_Median.find(name);
      if (it == g_Median.end()) continue;
      double ours = (g_PairOurs.count(name) ? g_PairOurs[name] : it->second) / 1e6;
      double mem = (g_PairMemcpy.count(name) ? g_PairMemcpy[name] : g_Median[MemcpyName(size)]) / 1e6;
      double pix = (g_PairPixman.count(name) ? g_PairPixman[name] : g_Median[PixName(r.pix, size)]) / 1e6;
      std::printf("%-44s %-10s %11.1f", r.name.c_str(), kSizes[size].name, ours);
      std::string goal;
      if (r.pix.kind != kNoPixman && pix > 0) {
        double need = IsFillOrCopy(r) ? 0.95 : 1.0;
        goal = ours / pix >= need ? "ok" : "MISSED";
        if (ours / pix < need) missed++;
        std::printf(" %11.1f %8.2fx", pix, ours / pix);
        int g = RatioGoalFor(r);
        if (g >= 0 && !(g == 5 && size == 0)) {
          goals[size][g].worst = std::min(goals[size][g].worst, ours / pix);
          goals[size][g].seen = true;
        }
      } else {
        std::printf(" %11s %9s", "-", "-");
      }
      std::printf(" %11.1f %8.2fx", mem, ours / mem);
      if (r.name == "slot 5 source alpha" && size == 1) {
        bool ok = ours / mem >= 0.5;
        if (!ok) missed++;
        goal += goal.empty() ? "" : ", ";
        goal += ok ? "ok (>= 0.5x memcpy)" : "MISSED (< 0.5x memcpy)";
      }
      std::printf("  %s\n", goal.c_str());
    }
  }
  std::printf("\n");
  for (int size = 0; size < 2; size++)
    for (const RatioGoal& g : goals[size]) {
      if (!g.seen) continue;
      bool met = g.worst >= g.need;
      if (!met) missed++;
      std::printf("goal %s: %.2fx pixman (goal %.1fx) %s\n", g.name.c_str(), g.worst, g.need, met ? "met" : "missed");
    }
  std::printf(
      "\nkernel set: level %d%s; %d goal(s) missed\n", g_BlendKernelLevel,
      g_BlendKernelLevel >= 2 ? (g_CpuHasAvx2 ? ", SIMD set with AVX2 members" : ", SIMD set (SSE2)") : ", plain set",
      missed);
}

}  // namespace

int main(int argc, char** argv) {
  BlendInitCpuKernels();
  BlendInitTables();
  // A hard edge fully shown: every mask byte weighs 200, no pixel skipped. The mask kernels see
  // a step table and weigh pixels by a compare instead of the lookup a soft edge needs.
  BlendBuildMaskWeights(256, 256, 200);
  std::vector<Row> rows = SlotRows();
  for (Row& r : ModeRows()) rows.push_back(r);

  // Frame rows carry their own pixman and memcpy passes; the L1 rows have them apart.
  for (int size = 0; size < 2; size++) {
    bool apart = SurfaceFor(size).h == 1;
    if (apart) RegisterMemcpy(size);
    std::map<std::string, bool> pix_done;
    for (const Row& r : rows) {
      RegisterOurs(r, size);
      if (apart && r.pix.kind != kNoPixman && !pix_done[PixName(r.pix, size)]) {
        pix_done[PixName(r.pix, size)] = true;
        RegisterPixman(r.pix, size);
      }
    }
  }
  // Repetitions of different rows are interleaved at random, so a burst of load on a shared
  // machine spreads over all rows instead of biasing one.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int nargs = static_cast<int>(args.size());
  benchmark::Initialize(&nargs, args.data());
  MedianCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintTable(rows);
  return 0;
}
