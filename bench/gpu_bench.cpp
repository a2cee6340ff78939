// A 1280 x 720 scene of 20 layers (an opaque background and 19 sprites with soft alpha, some at
// opacity 192) drawn by the GPU frame pass with read-back, and the same scene composed by the CPU
// compositor on one and four drawing workers, in the same run. On llvmpipe the GPU figure only
// says what the software renderer does; it counts on a real GPU. The frame pass uploads nothing:
// the tiles are built once, and the staging buffer serves every later upload.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/obj.h"
#include "display/gpu.h"
#include "layer/blend.h"
#include "layer/compose.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/lut.h"
#include "layer/worker.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"

namespace {

const i32 kW = 1280, kH = 720, kSprites = 19;
std::vector<ObjNode*> g_Nodes;
ObjNode* g_Readback = nullptr;
bool g_GpuReady = false;

u8 SoftAlpha(i32 x, i32 y, i32 w, i32 h) {
  double dx = (x - w / 2.0) / (w * 0.45), dy = (y - h / 2.0) / (h * 0.45);
  double d = std::sqrt(dx * dx + dy * dy);
  return static_cast<u8>(d < 0.85 ? 255 : d > 1.0 ? 0 : (1.0 - d) / 0.15 * 255);
}

ObjNode* MakeLayer(const std::string& name, i32 x, i32 y, i32 w, i32 h, i64 order, bool soft, u32 seed) {
  ObjNode* n = LayerCreateNode(("W0/" + name).c_str(), 0, order);
  LayerRecord* r = LayerRecordNew(n);
  r->pixels = ImageAllocPixels(nullptr, w, h, nullptr);
  r->width = w, r->height = h, r->x = x, r->y = y, r->x100 = x * 100, r->y100 = y * 100;
  r->has_alpha = soft ? 1 : 0;
  for (i32 yy = 0; yy < h; yy++)
    for (i32 xx = 0; xx < w; xx++) {
      u8* p = r->pixels + (static_cast<size_t>(yy) * w + xx) * 4;
      p[0] = static_cast<u8>(xx + seed), p[1] = static_cast<u8>(yy * 3 + seed), p[2] = static_cast<u8>(xx ^ yy);
      p[3] = soft ? SoftAlpha(xx, yy, w, h) : 255;
    }
  return n;
}

void Setup() {
  static bool done = false;
  if (done) return;
  done = true;
  PlatDialogsSetStderr(true);
  LutBuildTables();
  BlendInitCpuKernels();
  BlendInitTables();
  WinObjsCreate();
  g_WindowObjects[0]->width = kW;
  g_WindowObjects[0]->height = kH;
  g_WindowOpen[0] = 1;
  SysCreateRoots();
  g_Nodes.push_back(MakeLayer("bg", 0, 0, kW, kH, 1, false, 3));
  for (i32 i = 0; i < kSprites; i++) {
    char name[16];
    std::snprintf(name, sizeof name, "s%d", i);
    ObjNode* n = MakeLayer(name, (i * 97) % (kW - 200), (i * 53) % (kH - 200), 256 + (i % 3) * 64, 256 + (i % 2) * 96,
                           2 + i, true, static_cast<u32>(i * 11));
    if (i % 4 == 0) LayerOf(n)->opacity = 192;
    g_Nodes.push_back(n);
  }
  g_Readback = MakeLayer("rb", 0, 0, kW, kH, 0, false, 0);
  g_D3dInUse = 1;
  g_GpuDrawing = 0;
  g_D3dTextureFormat = D3D_FMT_A8R8G8B8;
  g_D3dTileMaxSize[0] = 512;
  g_D3dTileMaxSize[1] = 256;
  if (D3dStartup() != 0) return;
  g_GpuReady = true;
  for (ObjNode* n : g_Nodes) {
    LayerOf(n)->draw_kind = LAYER_DRAW_SPRITE;
    if (D3dBuildLayerTextures(LayerOf(n), 0, 512, 256) != 0) g_GpuReady = false;
  }
  g_D3dReadbackNode = g_Readback;
}

void UseGpu(bool gpu) {
  for (ObjNode* n : g_Nodes) LayerOf(n)->draw_kind = gpu ? LAYER_DRAW_SPRITE : LAYER_DRAW_CPU;
  LayerOf(g_Readback)->visible = gpu ? 1 : 0;
}

void ComposeCpu() {
  LayerRecord* root = LayerOf(g_WindowObjects[0]->root_layer);
  root->dirty_left = root->dirty_top = 0;
  root->dirty_right = kW - 1, root->dirty_bottom = kH - 1;
  root->dirty_valid = 1;
  root->needs_compose = 1;
  LayerComposeTree(g_WindowObjects[0]->root_layer, 0, 0);
}

void Workers(i32 n) {
  SysWorkerPoolStop();
  g_WorkerCount = static_cast<i8>(n);
  SysWorkerPoolStart();
}

void BM_GpuFramePassWithReadBack(benchmark::State& state) {
  Setup();
  if (!g_GpuReady) {
    state.SkipWithError("no EGL display or device");
    return;
  }
  UseGpu(true);
  for (auto _ : state) D3dRenderFrame();
}
BENCHMARK(BM_GpuFramePassWithReadBack)->Unit(benchmark::kMillisecond);

void BM_CpuCompose(benchmark::State& state) {
  Setup();
  UseGpu(false);
  Workers(static_cast<i32>(state.range(0)));
  for (auto _ : state) ComposeCpu();
  UseGpu(true);
}
BENCHMARK(BM_CpuCompose)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

template <class F>
double MedianMs(F f, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; i++) {
    auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
  }
  std::nth_element(t.begin(), t.begin() + runs / 2, t.end());
  return t[static_cast<size_t>(runs / 2)];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  Setup();
  if (!g_GpuReady) {
    std::printf("GPU frame pass: not measured (no EGL display or device)\n");
    return 0;
  }
  PlatGpuInfo info;
  PlatGpuQueryInfo(&info);
  UseGpu(true);
  const double gpu = MedianMs([] { D3dRenderFrame(); }, 31);
  UseGpu(false);
  Workers(1);
  const double cpu1 = MedianMs(ComposeCpu, 31);
  Workers(4);
  const double cpu4 = MedianMs(ComposeCpu, 31);
  std::printf("\n1280x720, 20 layers (median of 31)   ms/frame   GPU / CPU\n");
  std::printf("GPU frame pass + read-back (%s)  %8.2f\n", info.renderer, gpu);
  std::printf("CPU compositor, 1 worker            %8.2f   %6.2f\n", cpu1, gpu / cpu1);
  std::printf("CPU compositor, 4 workers           %8.2f   %6.2f\n", cpu4, gpu / cpu4);
  SysWorkerPoolStop();
  D3dReleaseAll();
  return 0;
}
