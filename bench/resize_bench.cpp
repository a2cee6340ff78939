// Resizing and rotation of a 1920 x 1080 layer picture: each of the five filters to 1280 x 720
// and to 2560 x 1440 (nearest, bilinear and threaded bilinear on 1 and 4 drawing workers), and a
// turn by 45 degrees with both variants. Beside them, in the same run and on one thread, pixman
// performs the same transform (nearest for nearest and the rotation, bilinear for both bilinear
// filters, separable convolution with the cubic and Lanczos2 kernels for bicubic and windowed
// sinc) and memcpy copies the bytes written. pixman serves only as a reference; it never reaches
// the engine.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/obj.h"
#include "core/state.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/layer_resize.h"
#include "layer/lut.h"
#include "layer/worker.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"

namespace {

const i32 kW = 1920, kH = 1080;
const i32 kRotate = 0;  // "filter" code of the rotation rows
const i32 kRotateClamped = 1;

struct Size {
  i32 w, h;
};
const Size kSizes[] = {{1280, 720}, {2560, 1440}};

ObjNode* g_Src = nullptr;
std::map<std::pair<i32, i32>, ObjNode*> g_Out;  // (w, h) -> output layer
pixman_image_t* g_SrcPix = nullptr;
std::vector<u8> g_CopyFrom, g_CopyTo;
bool g_Ready = false;

void Setup() {
  if (g_Ready) return;
  g_Ready = true;
  PlatDialogsSetStderr(true);
  g_CfgUseSse = 1;  // the settings' defaults
  g_CfgUseSse2 = 1;
  LutBuildTables();
  BlendInitCpuKernels();
  BlendInitTables();
  WinObjsCreate();
  g_WindowObjects[0]->width = 640;
  g_WindowObjects[0]->height = 480;
  g_WindowOpen[0] = 1;
  SysCreateRoots();
  g_Src = LayerCreateNode("W0/src", 0, 1);
  LayerRecord* r = LayerRecordNew(g_Src);
  r->pixels = ImageAllocPixels(nullptr, kW, kH, nullptr);
  r->width = kW;
  r->height = kH;
  r->has_alpha = 1;
  std::mt19937 rng(5);
  for (i32 y = 0; y < kH; y++)
    for (i32 x = 0; x < kW; x++) {
      u8* p = r->pixels + (static_cast<size_t>(y) * kW + x) * 4;
      p[0] = static_cast<u8>(x), p[1] = static_cast<u8>(y * 3), p[2] = static_cast<u8>((x ^ y) + rng() % 8);
      p[3] = 255;
    }
  g_SrcPix = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<u32*>(r->pixels), kW * 4);
  for (const Size& s : kSizes) {
    std::string path = "W0/out" + std::to_string(s.w);
    g_Out[{s.w, s.h}] = LayerCreateNode(path.c_str(), 0, 2);
    LayerRecordNew(g_Out[{s.w, s.h}]);
  }
  g_Out[{kW, kH}] = LayerCreateNode("W0/turned", 0, 3);
  LayerRecordNew(g_Out[{kW, kH}]);
}

const char* Name(i32 filter) {
  switch (filter) {
    case RESIZE_NEAREST: return "nearest";
    case RESIZE_BILINEAR: return "bilinear";
    case RESIZE_BICUBIC: return "bicubic";
    case RESIZE_BILINEAR_THREADED: return "bilinear41";
    case RESIZE_SINC: return "sinc";
    case kRotate: return "rotate11";
    default: return "rotate12";
  }
}

void Ours(i32 filter, Size s) {
  if (filter == kRotate || filter == kRotateClamped)
    LayerRotate(g_Src, g_Out[{kW, kH}], 45, true, filter == kRotate ? ROTATE_TESTED : ROTATE_CLAMPED, "turned");
  else
    LayerResize(g_Src, g_Out[{s.w, s.h}], 0, 0, (kW - 1) * 100, (kH - 1) * 100, i64{s.w} * 100, i64{s.h} * 100, true,
                filter, "out");
}

// pixman's counterpart, into a destination of the same size, on this thread.
struct PixJob {
  pixman_image_t* dst = nullptr;
  std::vector<u32> bits;
  i32 w = 0, h = 0;
  pixman_transform_t t;
  pixman_filter_t filter = PIXMAN_FILTER_NEAREST;
  std::vector<pixman_fixed_t> params;
};
std::map<std::pair<i32, i32>, PixJob> g_PixJobs;  // (filter, width) -> job

PixJob& PixFor(i32 filter, Size s) {
  PixJob& j = g_PixJobs[{filter, s.w}];
  if (j.dst) return j;
  bool turn = filter == kRotate || filter == kRotateClamped;
  j.w = turn ? kW : s.w;
  j.h = turn ? kH : s.h;
  j.bits.assign(static_cast<size_t>(j.w) * j.h, 0);
  j.dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, j.w, j.h, j.bits.data(), j.w * 4);
  double sx = static_cast<double>(kW) / j.w, sy = static_cast<double>(kH) / j.h;
  if (turn) {
    // Destination to source: about the centre by -45 degrees.
    pixman_transform_init_identity(&j.t);
    pixman_transform_translate(&j.t, nullptr, pixman_double_to_fixed(-kW / 2.0), pixman_double_to_fixed(-kH / 2.0));
    double c = std::cos(M_PI / 4), sn = std::sin(M_PI / 4);
    pixman_transform_rotate(&j.t, nullptr, pixman_double_to_fixed(c), pixman_double_to_fixed(sn));
    pixman_transform_translate(&j.t, nullptr, pixman_double_to_fixed(kW / 2.0), pixman_double_to_fixed(kH / 2.0));
  } else {
    pixman_transform_init_scale(&j.t, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
  }
  if (filter == RESIZE_BILINEAR || filter == RESIZE_BILINEAR_THREADED) j.filter = PIXMAN_FILTER_BILINEAR;
  if (filter == RESIZE_BICUBIC || filter == RESIZE_SINC) {
    j.filter = PIXMAN_FILTER_SEPARABLE_CONVOLUTION;
    pixman_kernel_t k = filter == RESIZE_BICUBIC ? PIXMAN_KERNEL_CUBIC : PIXMAN_KERNEL_LANCZOS2;
    int n = 0;
    pixman_fixed_t* p = pixman_filter_create_separable_convolution(&n, pixman_double_to_fixed(std::max(sx, 1.0)),
                                                                   pixman_double_to_fixed(std::max(sy, 1.0)), k, k,
                                                                   PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, 4, 4);
    j.params.assign(p, p + n);
    std::free(p);
  }
  return j;
}

void Pixman(i32 filter, Size s) {
  PixJob& j = PixFor(filter, s);
  pixman_image_set_transform(g_SrcPix, &j.t);
  pixman_image_set_filter(g_SrcPix, j.filter, j.params.empty() ? nullptr : j.params.data(),
                          static_cast<int>(j.params.size()));
  pixman_image_composite32(PIXMAN_OP_SRC, g_SrcPix, nullptr, j.dst, 0, 0, 0, 0, 0, 0, j.w, j.h);
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

struct Key {
  i32 filter, w, workers;
  bool operator<(const Key& o) const { return std::tie(filter, w, workers) < std::tie(o.filter, o.w, o.workers); }
};
struct Figures {
  double ours_us = 0, pixman_us = 0;
};
std::map<Key, Figures> g_Figures;
std::map<i32, double> g_MemcpyUs;  // width written -> median

Size SizeOf(i32 filter, i32 index) {
  return filter == kRotate || filter == kRotateClamped ? Size{kW, kH} : kSizes[index];
}

void BM_Resize(benchmark::State& state) {
  Setup();
  const i32 filter = static_cast<i32>(state.range(0));
  const Size s = SizeOf(filter, static_cast<i32>(state.range(1)));
  const i32 workers = static_cast<i32>(state.range(2));
  SysWorkerPoolStop();
  g_WorkerCount = static_cast<i8>(workers);
  if (SysWorkerPoolStart() != 0) {
    state.SkipWithError("no workers");
    return;
  }
  std::vector<double> ours_t, pix_t;
  i64 turn = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; k++) {
      bool ours = (turn + k) % 2 == 0;
      auto t0 = std::chrono::steady_clock::now();
      if (ours) Ours(filter, s);
      else Pixman(filter, s);
      benchmark::ClobberMemory();
      double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      (ours ? ours_t : pix_t).push_back(t);
    }
    state.SetIterationTime(ours_t.back());
    turn++;
  }
  SysWorkerPoolStop();
  Figures f = {Median(ours_t) * 1e6, Median(pix_t) * 1e6};
  g_Figures[{filter, s.w, workers}] = f;
  state.counters["pixman_us"] = f.pixman_us;
  state.SetBytesProcessed(static_cast<i64>(state.iterations()) * s.w * s.h * 4);
  state.SetLabel(std::string(Name(filter)) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
}

void BM_Memcpy(benchmark::State& state) {
  const Size s = state.range(0) < 2 ? kSizes[state.range(0)] : Size{kW, kH};
  size_t n = static_cast<size_t>(s.w) * s.h * 4;
  g_CopyFrom.assign(n, 1);
  g_CopyTo.assign(n, 0);
  std::vector<double> t;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::memcpy(g_CopyTo.data(), g_CopyFrom.data(), n);
    benchmark::ClobberMemory();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    state.SetIterationTime(t.back());
  }
  g_MemcpyUs[s.w] = Median(t) * 1e6;
  state.SetBytesProcessed(static_cast<i64>(state.iterations() * n));
  state.SetLabel("memcpy of " + std::to_string(s.w) + "x" + std::to_string(s.h) + " pixels");
}

BENCHMARK(BM_Resize)
    ->ArgNames({"filter", "size", "workers"})
    ->ArgsProduct({{RESIZE_NEAREST, RESIZE_BILINEAR, RESIZE_BILINEAR_THREADED}, {0, 1}, {1, 4}})
    ->ArgsProduct({{RESIZE_BICUBIC, RESIZE_SINC}, {0, 1}, {1}})
    ->ArgsProduct({{kRotate, kRotateClamped}, {0}, {1}})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.3)
    ->UseManualTime();
BENCHMARK(BM_Memcpy)->ArgName("size")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseManualTime();

void PrintTable() {
  std::printf("\n%-11s %10s %7s %12s %12s %10s %12s %10s  %s\n", "operation", "to", "workers", "zephra us", "pixman us",
              "vs pixman", "memcpy us", "vs memcpy", "goal");
  int missed = 0;
  for (const auto& [key, f] : g_Figures) {
    double mem = g_MemcpyUs[key.w];
    std::string goal;
    if (key.workers == 1) {
      bool ok = f.ours_us <= f.pixman_us;
      missed += !ok;
      goal = ok ? "ok (ahead of pixman)" : "MISSED (behind pixman)";
    }
    if (key.workers == 4 && key.filter == RESIZE_BILINEAR_THREADED) {
      auto one = g_Figures.find({key.filter, key.w, 1});
      bool ok = one != g_Figures.end() && one->second.ours_us >= 3 * f.ours_us;
      if (PlatCpuCount() >= 4) missed += !ok;
      goal = ok ? "ok (3x its 1-worker speed)" : "MISSED (under 3x its 1-worker speed)";
    }
    const i32 h = key.w == kW ? kH : (key.w == 1280 ? 720 : 1440);
    std::printf("%-11s %5dx%-4d %7d %12.1f %12.1f %9.2fx %12.1f %9.2fx  %s\n", Name(key.filter), key.w, h, key.workers,
                f.ours_us, f.pixman_us, f.pixman_us / f.ours_us, mem, mem / f.ours_us, goal.c_str());
  }
  std::printf("\nprocessors: %u; %d goal(s) missed%s\n", PlatCpuCount(), missed,
              PlatCpuCount() < 4 ? " (figures for 4 workers do not count here)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("processors: %u (figures for 4 workers count only on 4 or more)\n", PlatCpuCount());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
