// Scenes for the layer-tree and composition tests: a main window with its root layer "W0",
// picture and folder layers made directly, and a straightforward model compositor that rebuilds
// a folder's whole picture from scratch (every child, no dirty rectangles, no starting child),
// against which the engine's incremental composition is compared.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/blend.h"
#include "layer/compose.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/lut.h"
#include "layer/scale.h"
#include "layer/worker.h"
#include "platform/platform.h"
#include "support/memory_file.h"
#include "script/save.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "shell/window_paint.h"
#include "sound/movie.h"

struct ComposeTest : ::testing::Test {
  i8 saved_workers = 1;

  void SetUp() override {
    saved_workers = g_WorkerCount;
    ResetAll();
    LutBuildTables();
    BlendInitCpuKernels();
    BlendInitTables();
    ASSERT_EQ(WinObjsCreate(), 0);
    g_WindowObjects[0]->width = 64;
    g_WindowObjects[0]->height = 48;
    g_WindowOpen[0] = 1;
    ASSERT_EQ(SysCreateRoots(), 0);
    ASSERT_NE(Root(), nullptr);
  }
  void TearDown() override {
    ResetAll();
    g_WorkerCount = saved_workers;
  }
  static void ResetAll() { SysResetAll(); }

  static ObjNode* RootNode() { return g_WindowObjects[0]->root_layer; }
  static LayerRecord* Root() { return LayerOf(RootNode()); }

  // Restarts the pool with n workers (0: no pool, shares run on this thread). Every job of these
  // small scenes goes to the workers.
  static void UseWorkers(i32 n) {
    SysWorkerPoolStop();
    g_WorkerInlinePixels = 0;
    g_WorkerCount = static_cast<i8>(n < 1 ? 1 : n);
    if (n > 0) {
      ASSERT_EQ(SysWorkerPoolStart(), 0);
    }
  }
};

// ---- Making layers ---------------------------------------------------------------------------

// Fills a picture with a seeded pattern (colour noise with its own alpha).
inline void TestFillNoise(LayerRecord* r, u32 seed, bool random_alpha = true) {
  std::mt19937 rng(seed);
  size_t n = static_cast<size_t>(r->width) * r->height;
  for (size_t i = 0; i < n; i++) {
    u32 v = rng();
    if (!random_alpha) v |= 0xFF000000u;
    std::memcpy(r->pixels + i * 4, &v, 4);
  }
}

inline void TestFillSolid(LayerRecord* r, u32 bgra) {
  size_t n = static_cast<size_t>(r->width) * r->height;
  for (size_t i = 0; i < n; i++) std::memcpy(r->pixels + i * 4, &bgra, 4);
}

// A picture layer (item) at path with a cleared w x h picture, placed at x, y.
inline ObjNode* TestPicture(const char* path, i32 w, i32 h, i64 x, i64 y, i64 order = 0) {
  ObjNode* n = LayerCreateNode(path, 0, order);
  if (!n) return nullptr;
  LayerRecord* r = LayerRecordNew(n);
  if (!r) return nullptr;
  r->pixels = ImageAllocPixels(nullptr, w, h, nullptr);
  r->width = w;
  r->height = h;
  std::memset(r->pixels, 0, static_cast<size_t>(w) * h * 4);
  r->x = x;
  r->y = y;
  return n;
}

// A folder layer at path (a path ending in its name; the node is a folder).
inline ObjNode* TestFolder(const char* path, i32 w, i32 h, i64 x, i64 y, i64 order = 0) {
  LayerRecord* r = LayerCreate(path, w, h, order);
  if (!r) return nullptr;
  r->x = x;
  r->y = y;
  ObjNode* parent = ObjFindPath(path, g_LayerRoot);
  for (ObjNode* c = parent ? parent->first_child : nullptr; c; c = c->next)
    if (c->payload == r) return c;
  return nullptr;
}

inline u32 TestPixel(const LayerRecord* r, i32 x, i32 y) {
  u32 v;
  std::memcpy(&v, r->pixels + (static_cast<size_t>(y) * r->width + x) * 4, 4);
  return v;
}

inline std::vector<u8> TestPictureOf(const LayerRecord* r) {
  return std::vector<u8>(r->pixels, r->pixels + static_cast<size_t>(r->width) * r->height * 4);
}

// Marks every layer of a subtree dirty whole, as if everything had changed.
inline void TestMarkAllWhole(ObjNode* node) {
  for (ObjNode* c = node->first_child; c; c = c->next) TestMarkAllWhole(c);
  if (LayerOf(node)) LayerMarkDirtyWhole(node);
}

// Gives the error codes a test looks for texts that name them ("E<code>").
inline void TestNameErrorCodes(std::initializer_list<u32> codes) {
  static char texts[16][16];
  UserErrReset();
  i32 i = 0;
  for (u32 c : codes) {
    std::snprintf(texts[i], sizeof texts[i], "E%u", c);
    g_UserErrCodes[i] = c;
    g_UserErrTexts[i] = texts[i];
    i++;
  }
  g_UserErrCount = i;
}

// ---- Scenes ---------------------------------------------------------------------------------

// A scene with every blend mode, opacity and alpha, masks and folders, recomposed whole.
inline void TestBuildRichScene() {
  TestFolder("W0/f", 50, 40, 5, 4, 5);
  ObjNode* g = TestFolder("W0/f/g", 30, 20, -3, 10, 1);
  LayerOf(g)->opacity = 180;
  ObjNode* m = TestPicture("W0/mask", 17, 9, 0, 0, 0);
  LayerOf(m)->visible = 0;
  TestFillNoise(LayerOf(m), 99);
  const char* parents[] = {"W0", "W0/f", "W0/f/g"};
  for (i32 i = 0; i < 19 * 4; i++) {
    std::string path = std::string(parents[i % 3]) + "/p" + std::to_string(i);
    ObjNode* n = TestPicture(path.c_str(), 17, 9, (i * 7) % 50 - 5, (i * 5) % 40 - 3, i);
    LayerRecord* r = LayerOf(n);
    TestFillNoise(r, 1000 + i);
    r->blend_mode = static_cast<u8>(i % 19);
    r->has_alpha = (i / 19) & 1;
    r->opacity = (i / 38) ? 256 : 150;
    if (i % 5 == 0) {
      std::strcpy(r->mask_name, "W0/mask");
      r->mask_progress = static_cast<i16>((i * 37) % 257);
      r->mask_softness = static_cast<i16>(i % 2 ? 256 : 40);
    }
  }
}

// ---- The model compositor --------------------------------------------------------------------

// The picture a folder's children make, blended bottom to top over transparent black: every
// child, over its whole intersection with the folder, with the same row kernels the engine
// uses. Nested folders are rebuilt first and blended as opaque.
inline std::vector<u8> TestModelCompose(ObjNode* folder) {
  LayerRecord* f = LayerOf(folder);
  std::vector<u8> out(ImagePixelBytes(f->width, f->height), 0);
  for (ObjNode* cn = folder->first_child; cn; cn = cn->next) {
    LayerRecord* c = LayerOf(cn);
    if (!c) continue;
    std::vector<u8> nested;
    const u8* src = c->pixels;
    u8 alpha = c->has_alpha;
    if (cn->kind == OBJ_FOLDER) {
      if (c->width <= 0 || c->height <= 0) continue;
      nested = TestModelCompose(cn);
      src = nested.data();
      alpha = 0;
    }
    bool has_mask_name = c->mask_name && c->mask_name[0];
    if (!c->visible || c->opacity <= 0 || (has_mask_name && c->mask_progress <= 0)) continue;
    if (c->draw_kind != 0 || !src || c->width <= 0 || c->height <= 0) continue;
    i64 l = std::max<i64>(c->x, 0), t = std::max<i64>(c->y, 0);
    i64 r = std::min<i64>(c->x + c->width - 1, f->width - 1), b = std::min<i64>(c->y + c->height - 1, f->height - 1);
    if (l > r || t > b) continue;
    const LayerRecord* mask = nullptr;
    if (has_mask_name) {
      char path[OBJ_PATH_MAX];
      i32 k = ObjResolvePath(path, sizeof path, c->mask_name, g_LayerBase, 0);
      mask = LayerOf(ObjFindNode(g_LayerRoot, path, k == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM));
      if (!LayerHasPixels(mask) || c->mask_progress >= 256) mask = nullptr;
    }
    i32 op = std::min<i32>(c->opacity, 256);
    if (mask) BlendBuildMaskWeights(c->mask_progress, c->mask_softness, c->opacity);
    for (i64 y = t; y <= b; y++) {
      u8* d = out.data() + (y * f->width + l) * 4;
      const u8* s = src + ((y - c->y) * c->width + (l - c->x)) * 4;
      i32 bytes = static_cast<i32>(r - l + 1) * 4;
      if (mask) {
        const u8* m = mask->pixels + ((y - c->y) * mask->width + (l - c->x)) * 4;
        BlendPickMask(alpha ? 3 : 2, c->blend_mode, op)(d, s, m, c->mask_progress, c->mask_softness, bytes);
      } else {
        BlendPickRow(alpha ? 1 : 0, c->blend_mode, op)(d, s, op, bytes);
      }
    }
  }
  out.resize(static_cast<size_t>(f->width) * f->height * 4);
  return out;
}

// The first differing pixel of two pictures of width w, as "x,y: got want", or "".
inline std::string TestFirstDifference(const std::vector<u8>& got, const std::vector<u8>& want, i32 w) {
  if (got.size() != want.size()) return "sizes differ";
  for (size_t i = 0; i < got.size(); i += 4) {
    if (std::memcmp(&got[i], &want[i], 4) != 0) {
      u32 a, b;
      std::memcpy(&a, &got[i], 4);
      std::memcpy(&b, &want[i], 4);
      char buf[96];
      std::snprintf(buf, sizeof buf, "%zu,%zu: %08x want %08x", (i / 4) % w, (i / 4) / w, a, b);
      return buf;
    }
  }
  return "";
}
