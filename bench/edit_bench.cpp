// The layer edit operations and the pixel effects on 1920 x 1080 pictures, one thread. Each
// layer-to-layer operation runs beside memcpy of as many bytes as it reads and writes (the blit
// also beside pixman's OVER); each effect beside its plain scalar reference (the tests'
// per-pixel reference), the running-sum blurs at radius 1, 8 and 64 also beside pixman's
// separable convolution with a box kernel of the same width. pixman serves only as a reference.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/obj.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/fx.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/layer_edit.h"
#include "layer/layer_ops.h"
#include "layer/lut.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "tests/layer/fx_reference.h"

namespace {

const i32 kW = 1920, kH = 1080;
const size_t kBytes = static_cast<size_t>(kW) * kH * 4;

ObjNode *g_A, *g_B, *g_Mask, *g_Out;
fxref::Pic g_RefSrc;
bool g_Ready = false;

ObjNode* Picture(const char* path, u32 seed, bool alpha) {
  ObjNode* n = LayerCreateNode(path, 0, 1);
  LayerRecord* r = LayerRecordNew(n);
  r->pixels = ImageAllocPixels(nullptr, kW, kH, nullptr);
  r->width = kW;
  r->height = kH;
  r->has_alpha = alpha;
  std::mt19937 rng(seed);
  for (size_t i = 0; i < kBytes; i += 4) {
    u32 v = rng();
    if (!alpha) v |= 0xFF000000u;
    std::memcpy(r->pixels + i, &v, 4);
  }
  return n;
}

void Setup() {
  if (g_Ready) return;
  g_Ready = true;
  PlatDialogsSetStderr(true);
  g_CfgUseSse = 1;
  g_CfgUseSse2 = 1;
  LutBuildTables();
  BlendInitCpuKernels();
  BlendInitTables();
  WinObjsCreate();
  g_WindowObjects[0]->width = 640;
  g_WindowObjects[0]->height = 480;
  g_WindowOpen[0] = 1;
  SysCreateRoots();
  g_A = Picture("W0/a", 1, true);
  g_B = Picture("W0/b", 2, false);
  g_Mask = Picture("W0/mask", 3, false);
  g_Out = Picture("W0/out", 4, false);
  g_RefSrc.w = kW;
  g_RefSrc.h = kH;
  g_RefSrc.px.resize(static_cast<size_t>(kW) * kH);
  std::memcpy(g_RefSrc.px.data(), LayerOf(g_A)->pixels, kBytes);
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Runs ours and the counterpart in turns; the benchmark's time is ours.
void Alternate(benchmark::State& state, const std::function<void()>& ours, const std::function<void()>& other,
               double* ours_us, double* other_us) {
  std::vector<double> a, b;
  i64 turn = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; k++) {
      const bool mine = (turn + k) % 2 == 0;
      auto t0 = std::chrono::steady_clock::now();
      (mine ? ours : other)();
      benchmark::ClobberMemory();
      (mine ? a : b).push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    state.SetIterationTime(a.back());
    turn++;
  }
  *ours_us = Median(a) * 1e6;
  *other_us = Median(b) * 1e6;
}

// ---- Layer-to-layer operations ---------------------------------------------------------------------

enum Op { OP_BLIT, OP_BLIT2, OP_FADE, OP_RULE_HARD, OP_RULE_SOFT, OP_DIFF, OP_SAME, OP_COUNT };
const char* const kOpNames[] = {"blit 34", "blit 35", "crossfade", "rule hard", "rule soft", "diff 38", "same 39"};
// Bytes read and written, in pictures.
const int kOpPictures[] = {3, 3, 3, 4, 4, 3, 3};

struct OpFigures {
  double ours_us = 0, memcpy_us = 0, pixman_us = 0;
};
std::map<int, OpFigures> g_Ops;

void RunOp(int op) {
  LayerEditLine line{};
  ObjNode* nodes[] = {g_A, g_B, g_Mask, g_Out};
  for (int k = 0; k < 4; k++) {
    line.nodes[k] = nodes[k];
    line.recs[k] = LayerOf(nodes[k]);
  }
  switch (op) {
    case OP_BLIT:
    case OP_BLIT2:
    case OP_DIFF:
    case OP_SAME:
      line.nodes[1] = g_Out;
      line.recs[1] = LayerOf(g_Out);
      break;
    case OP_FADE:
      line.nodes[2] = g_Out;
      line.recs[2] = LayerOf(g_Out);
      line.value = 100;
      break;
    default:
      line.value = 150;
      line.value2 = op == OP_RULE_HARD ? 256 : 64;
      break;
  }
  switch (op) {
    case OP_BLIT: LayerBlit(&line, false); break;
    case OP_BLIT2: LayerBlit(&line, true); break;
    case OP_FADE: LayerCrossFade(&line); break;
    case OP_DIFF: LayerDifference(&line, false); break;
    case OP_SAME: LayerDifference(&line, true); break;
    default: LayerRuleTransition(&line); break;
  }
}

std::vector<u8> g_CopyFrom, g_CopyTo;

void BM_Op(benchmark::State& state) {
  Setup();
  const int op = static_cast<int>(state.range(0));
  const size_t n = kBytes * kOpPictures[op] / 2;  // memcpy reads n and writes n
  g_CopyFrom.assign(n, 1);
  g_CopyTo.assign(n, 0);
  OpFigures& f = g_Ops[op];
  Alternate(
      state, [op] { RunOp(op); }, [n] { std::memcpy(g_CopyTo.data(), g_CopyFrom.data(), n); }, &f.ours_us,
      &f.memcpy_us);
  if (op == OP_BLIT) {
    pixman_image_t* s =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<u32*>(LayerOf(g_A)->pixels), kW * 4);
    pixman_image_t* d =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<u32*>(LayerOf(g_Out)->pixels), kW * 4);
    std::vector<double> t;
    for (int i = 0; i < 20; i++) {
      auto t0 = std::chrono::steady_clock::now();
      pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
      t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    f.pixman_us = Median(t) * 1e6;
    pixman_image_unref(s);
    pixman_image_unref(d);
  }
  state.SetLabel(kOpNames[op]);
}

BENCHMARK(BM_Op)
    ->ArgName("op")
    ->DenseRange(0, OP_COUNT - 1)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.3)
    ->UseManualTime();

// ---- Effects ---------------------------------------------------------------------------------------

struct FxCase {
  i32 code, value;
};
const FxCase kFx[] = {
    {1, 200}, {12, 0xC06020}, {19, 100}, {27, 1}, {29, 200}, {38, 0}, {2, 8},  {3, 1},    {3, 8},         {3, 64},
    {4, 1},   {4, 8},         {4, 64},   {5, 1},  {5, 8},    {5, 64}, {6, 8},  {7, 1},    {7, 8},         {7, 64},
    {10, 20}, {11, 1},        {20, 16},  {21, 8}, {22, 8},   {23, 8}, {37, 1}, {39, 900}, {24, 0x123456}, {9, 0},
};
const i32 kColourCodes[] = {1, 12, 19, 27, 29, 38};

struct FxFigures {
  double ours_us = 0, ref_us = 0, pixman_us = 0, memcpy_us = 0;
};
std::map<std::pair<i32, i32>, FxFigures> g_Fx;

void RunFx(const FxCase& c) { FxDispatch(c.code, g_A, g_Out, 0, 0, kW - 1, kH - 1, c.value, 30, true, 1); }
void RunRef(const FxCase& c) {
  fxref::Job j{c.code, 0, 0, kW - 1, kH - 1, c.value, 30, true, 1, 1};
  benchmark::DoNotOptimize(fxref::Apply(g_RefSrc, j));
}

// pixman's separable box convolution of width 2r + 1 along rows (dirs 1), columns (2) or both.
double PixmanBox(i32 r, int dirs) {
  pixman_image_t* s =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<u32*>(LayerOf(g_A)->pixels), kW * 4);
  std::vector<u32> bits(static_cast<size_t>(kW) * kH);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, bits.data(), kW * 4);
  const double width = 2.0 * r + 1;
  int n = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &n, pixman_double_to_fixed(dirs & 1 ? width : 1.0), pixman_double_to_fixed(dirs & 2 ? width : 1.0),
      PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 0, 0);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
  std::vector<double> t;
  // pixman weighs every tap of the two-way kernel: one run is plenty at the larger widths.
  const int runs = dirs == 3 && r > 1 ? 1 : 3;
  for (int i = 0; i < runs; i++) {
    auto t0 = std::chrono::steady_clock::now();
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::free(params);
  pixman_image_unref(s);
  pixman_image_unref(d);
  return Median(t) * 1e6;
}

void BM_Fx(benchmark::State& state) {
  Setup();
  const FxCase c = kFx[state.range(0)];
  FxFigures& f = g_Fx[{c.code, c.value}];
  Alternate(
      state, [c] { RunFx(c); }, [c] { RunRef(c); }, &f.ours_us, &f.ref_us);
  if (c.code == 3 || c.code == 4 || c.code == 5 || c.code == 7)
    f.pixman_us = PixmanBox(c.value, c.code == 3 ? 1 : c.code == 4 ? 2 : 3);
  if (std::find(std::begin(kColourCodes), std::end(kColourCodes), c.code) != std::end(kColourCodes)) {
    // The floor of an effect that reads one picture and writes another: memcpy of those bytes,
    // in turns with the reference as the effect ran.
    std::vector<u8> to(kBytes);
    std::vector<double> t;
    for (int i = 0; i < 15; i++) {
      auto t0 = std::chrono::steady_clock::now();
      std::memcpy(to.data(), LayerOf(g_A)->pixels, kBytes);
      benchmark::ClobberMemory();
      t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      RunRef(c);
    }
    f.memcpy_us = Median(t) * 1e6;
  }
  state.SetLabel("effect " + std::to_string(c.code) + " value " + std::to_string(c.value));
}

BENCHMARK(BM_Fx)
    ->ArgName("case")
    ->DenseRange(0, static_cast<int>(std::size(kFx)) - 1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(15)
    ->UseManualTime();

void PrintTable() {
  int missed = 0;
  std::vector<std::string> goals;
  char line[256];
  std::printf("\n%-10s %12s %12s %10s %12s %10s\n", "operation", "zephra us", "memcpy us", "vs memcpy", "pixman us",
              "vs pixman");
  for (const auto& [op, f] : g_Ops) {
    const double need = op == OP_RULE_HARD || op == OP_RULE_SOFT ? 0.5 : 0.8;
    const double speed = f.memcpy_us / f.ours_us;
    const bool ok = speed >= need;
    missed += !ok;
    std::printf("%-10s %12.1f %12.1f %9.2fx %12.1f %9.2fx\n", kOpNames[op], f.ours_us, f.memcpy_us, speed, f.pixman_us,
                f.pixman_us > 0 ? f.pixman_us / f.ours_us : 0.0);
    std::snprintf(line, sizeof line, "goal %s against memcpy of its bytes: %.2fx (goal at least %.2fx) %s",
                  kOpNames[op], speed, need, ok ? "met" : "missed");
    goals.push_back(line);
  }
  std::printf("\n%-6s %9s %12s %12s %10s %12s %10s\n", "effect", "value", "zephra us", "reference us", "vs ref",
              "pixman us", "vs pixman");
  for (const auto& [key, f] : g_Fx) {
    std::printf("%-6d %9d %12.1f %12.1f %9.2fx %12.1f %9.2fx\n", key.first, key.second, f.ours_us, f.ref_us,
                f.ref_us / f.ours_us, f.pixman_us, f.pixman_us > 0 ? f.pixman_us / f.ours_us : 0.0);
    if (std::find(std::begin(kColourCodes), std::end(kColourCodes), key.first) != std::end(kColourCodes)) {
      const bool ok = f.ref_us >= 4 * f.ours_us;
      missed += !ok;
      std::snprintf(line, sizeof line,
                    "goal effect %d against its reference: %.2fx (goal at least 4.00x; memcpy of its bytes %.2fx) %s",
                    key.first, f.ref_us / f.ours_us, f.ref_us / f.memcpy_us, ok ? "met" : "missed");
      goals.push_back(line);
    }
    if (f.pixman_us > 0 && key.second == 64) {
      auto one = g_Fx.find({key.first, 1});
      const double growth = one != g_Fx.end() ? f.ours_us / one->second.ours_us : 0.0;
      const bool flat = one != g_Fx.end() && growth <= 1.5;
      const bool ahead = f.ours_us <= f.pixman_us;
      missed += !flat + !ahead;
      std::snprintf(line, sizeof line,
                    "goal effect %d at radius 64 against radius 1: %.2fx the time (goal at most 1.50x) %s", key.first,
                    growth, flat ? "met" : "missed");
      goals.push_back(line);
      std::snprintf(line, sizeof line,
                    "goal effect %d at radius 64 against pixman's box convolution: %.2fx (goal at least 1.00x) %s",
                    key.first, f.pixman_us / f.ours_us, ahead ? "met" : "missed");
      goals.push_back(line);
    }
  }
  std::printf("\n");
  for (const std::string& g : goals) std::printf("%s\n", g.c_str());
  std::printf("%d goal(s) missed\n", missed);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
