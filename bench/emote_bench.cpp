// 16 animated characters (the demo's girl) advanced and drawn per frame on a 1280 x 720 screen by
// the GPU frame pass with read-back, against the same pass drawing 16 plain sprite layers of her
// size at the same places, in the same run; prints the ratio. On llvmpipe both figures only say
// what the software renderer does. Each character draws into her own screen-sized texture first,
// which is where the cost goes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/state.h"
#include "display/emote.h"
#include "display/gpu.h"
#include "kit/demo_chara.h"
#include "kit/psb_writer.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/lut.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "shell/window.h"

namespace {

const i32 kW = 1280, kH = 720, kCount = 16, kSpriteW = 104, kSpriteH = 208;
std::vector<ObjNode*> g_Characters, g_Sprites;
bool g_Ready = false;
u32 g_Clock = 1000;

ObjNode* Layer(const std::string& name, i32 w, i32 h, i64 order) {
  ObjNode* n = LayerCreateNode(("W0/" + name).c_str(), 0, order);
  LayerRecord* r = LayerRecordNew(n);
  r->pixels = ImageAllocPixels(nullptr, w, h, nullptr);
  std::memset(r->pixels, 0, static_cast<size_t>(w) * h * 4);
  r->width = w, r->height = h;
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
  // The driver file among the game's files (a preload list here), then the player library.
  PackMemoryItem& it = g_PackMemoryLists[0].items[g_PackMemoryLists[0].count++];
  it.name = strdup("emotedriver.dll");
  it.size = 1;
  it.data = static_cast<u8*>(std::calloc(1, 1));
  g_EmoteLibraryPath = ZEPHRA_EMOTE_LIB;
  EmoteBridgeLoad();
  if (!g_EmoteAvailable) return;
  g_D3dInUse = 1;
  g_GpuDrawing = 0;
  g_D3dTextureFormat = D3D_FMT_A8R8G8B8;
  g_D3dTileMaxSize[0] = 512;
  g_D3dTileMaxSize[1] = 256;
  if (D3dStartup() != 0 || !g_EmoteDriver) return;
  std::vector<u8> girl;
  std::string err;
  if (KitPsbEncode(KitDemoCharacterModel(), &girl, &err) != 0) return;
  g_Ready = true;
  for (i32 i = 0; i < kCount; i++) {
    const i32 x = 100 + (i % 8) * 150, y = 300 + (i / 8) * 320;  // her feet
    ObjNode* c = Layer("c" + std::to_string(i), 2, 2, 10 + i);
    LayerRecord* r = LayerOf(c);
    r->x100 = x * 100, r->y100 = y * 100;
    if (EmotePlayerCreate(r, girl.data(), static_cast<u32>(girl.size())) != 0) g_Ready = false;
    reinterpret_cast<void (*)(void*)>(g_EmoteBridge.fn[205])(r->player);
    r->draw_kind = LAYER_DRAW_CHARACTER;
    if (D3dBuildLayerTextures(r, 0, 512, 256) != 0) g_Ready = false;
    g_Characters.push_back(c);
    // The sprite: her size and place, a soft-edged shape.
    ObjNode* s = Layer("s" + std::to_string(i), kSpriteW, kSpriteH, 30 + i);
    LayerRecord* sr = LayerOf(s);
    for (i32 yy = 0; yy < kSpriteH; yy++)
      for (i32 xx = 0; xx < kSpriteW; xx++) {
        u8* p = sr->pixels + (static_cast<size_t>(yy) * kSpriteW + xx) * 4;
        const double dx = (xx - kSpriteW / 2.0) / (kSpriteW / 2.0), dy = (yy - kSpriteH / 2.0) / (kSpriteH / 2.0);
        p[0] = 0xC0, p[1] = 0x78, p[2] = 0x50, p[3] = dx * dx + dy * dy < 1 ? 255 : 0;
      }
    sr->has_alpha = 1;
    sr->x100 = (x - kSpriteW / 2) * 100, sr->y100 = (y - kSpriteH) * 100;
    sr->draw_kind = LAYER_DRAW_SPRITE;
    if (D3dBuildLayerTextures(sr, 0, 512, 256) != 0) g_Ready = false;
    g_Sprites.push_back(s);
  }
  g_D3dReadbackNode = Layer("rb", kW, kH, 0);
}

void Show(bool characters) {
  for (ObjNode* n : g_Characters) LayerOf(n)->visible = characters ? 1 : 0;
  for (ObjNode* n : g_Sprites) LayerOf(n)->visible = characters ? 0 : 1;
}

void CharacterFrame() {
  g_Clock += 16;
  EmoteAdvanceAll(g_Clock);
  D3dRenderFrame();
}

void BM_CharactersAdvancedAndDrawn(benchmark::State& state) {
  Setup();
  if (!g_Ready) {
    state.SkipWithError("no EGL device or no player library");
    return;
  }
  Show(true);
  for (auto _ : state) CharacterFrame();
}
BENCHMARK(BM_CharactersAdvancedAndDrawn)->Unit(benchmark::kMillisecond);

void BM_SameLayersAsSprites(benchmark::State& state) {
  Setup();
  if (!g_Ready) {
    state.SkipWithError("no EGL device or no player library");
    return;
  }
  Show(false);
  for (auto _ : state) D3dRenderFrame();
}
BENCHMARK(BM_SameLayersAsSprites)->Unit(benchmark::kMillisecond);

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
  if (!g_Ready) {
    std::printf("not measured (no EGL device or no player library)\n");
    return 0;
  }
  PlatGpuInfo info;
  PlatGpuQueryInfo(&info);
  Show(true);
  const double chars = MedianMs(CharacterFrame, 31);
  Show(false);
  const double sprites = MedianMs([] { D3dRenderFrame(); }, 31);
  std::printf("\n1280x720, 16 layers (median of 31, %s)   ms/frame\n", info.renderer);
  std::printf("characters advanced and drawn            %8.2f\n", chars);
  std::printf("the same layers as plain sprites         %8.2f\n", sprites);
  std::printf("characters / sprites                     %8.2f\n", chars / sprites);
  EmoteBridgeRelease();
  D3dReleaseAll();
  return 0;
}
