// Composition: the incremental composition equals a full recomposition every frame, with any
// number of workers; nested folders, masks and every blend mode reach the window's picture as a
// straightforward blend of the same rows would; the skip rules and the starting child.
#include <algorithm>

#include "compose_fixture.h"
#include "image_test_decode.h"
#include "script/var.h"

namespace {

// ---- Random scenes ---------------------------------------------------------------------------

struct RandomScene {
  std::mt19937 rng;
  std::vector<ObjNode*> layers;  // every layer but the root and the masks
  std::vector<ObjNode*> masks;   // hidden picture layers outside the window that children name as masks
  i32 next = 0;

  explicit RandomScene(u32 seed) : rng(seed) {}

  i32 Int(i32 lo, i32 hi) { return std::uniform_int_distribution<i32>(lo, hi)(rng); }
  bool Chance(i32 percent) { return Int(0, 99) < percent; }
  template <class T>
  T Pick(std::initializer_list<T> list) {
    return *(list.begin() + Int(0, static_cast<i32>(list.size()) - 1));
  }

  std::string PathOf(ObjNode* n) {
    std::string p = n->name;
    for (ObjNode* a = n->parent; a && a != g_LayerRoot; a = a->parent) p = std::string(a->name) + "/" + p;
    return p;
  }

  // The folders a path can name (one that took a picture's name in an exchange is found as a
  // picture, and so is nobody's parent by path any more).
  std::vector<ObjNode*> Folders() {
    std::vector<ObjNode*> f{ComposeTest::RootNode()};
    for (ObjNode* n : layers)
      if (n->kind == OBJ_FOLDER && ObjFindNode(g_LayerRoot, PathOf(n).c_str(), OBJ_FIND_FOLDER) == n) f.push_back(n);
    return f;
  }

  void Decorate(LayerRecord* r, bool picture) {
    r->blend_mode = static_cast<u8>(Chance(50) ? 0 : Int(0, 18));
    r->opacity = Pick<i16>({256, 256, 256, 255, 200, 128, 127, 1, 0});
    r->has_alpha = picture && Chance(50);
    r->visible = Chance(90);
    r->draw_kind = Chance(5) ? LAYER_DRAW_SPRITE : LAYER_DRAW_CPU;
    if (picture && r->width > 0 && r->height > 0 && Chance(25)) {
      std::snprintf(r->mask_name, LAYER_NAME_SIZE, "W0/%s", MaskFor(r->width, r->height)->name);
      r->mask_progress = Pick<i16>({0, 1, 100, 128, 200, 255, 256, static_cast<i16>(Int(0, 256))});
      r->mask_softness = Pick<i16>({256, 0, 2, 64, 128, 200});
    }
  }

  ObjNode* MaskFor(i32 w, i32 h) {
    for (ObjNode* m : masks)
      if (LayerOf(m)->width == w && LayerOf(m)->height == h) return m;
    std::string path = "W0/m" + std::to_string(next++);
    // Outside the window: marking a mask itself marks nothing that is drawn.
    ObjNode* m = TestPicture(path.c_str(), w, h, -1000, -1000, -1);
    LayerOf(m)->visible = 0;
    TestFillNoise(LayerOf(m), rng());
    masks.push_back(m);
    return m;
  }

  ObjNode* AddPicture() {
    std::vector<ObjNode*> f = Folders();
    ObjNode* parent = f[Int(0, static_cast<i32>(f.size()) - 1)];
    std::string path = PathOf(parent) + "/p" + std::to_string(next++);
    LayerRecord* pr = LayerOf(parent);
    ObjNode* n = TestPicture(path.c_str(), Chance(5) ? 0 : Int(1, 30), Int(1, 30), Int(-12, pr->width + 2),
                             Int(-12, pr->height + 2), Int(0, 9));
    LayerRecord* r = LayerOf(n);
    TestFillNoise(r, rng(), Chance(60));
    Decorate(r, true);
    if (Chance(12)) {
      // A plain opaque picture over most or all of its folder: what lies below is not drawn.
      LayerRelease(n);
      n = TestPicture(path.c_str(), pr->width + Int(0, 6), pr->height + Int(0, 6), Int(-3, 2), Int(-3, 2), Int(5, 9));
      TestFillNoise(LayerOf(n), rng(), false);
      LayerOf(n)->visible = Chance(70);
    }
    layers.push_back(n);
    LayerMarkDirty(n);
    return n;
  }

  ObjNode* AddFolder() {
    std::vector<ObjNode*> f = Folders();
    ObjNode* parent = f[Int(0, static_cast<i32>(f.size()) - 1)];
    std::string path = PathOf(parent) + "/f" + std::to_string(next++);
    LayerRecord* pr = LayerOf(parent);
    ObjNode* n = TestFolder(path.c_str(), Chance(5) ? 0 : Int(4, 40), Int(4, 36), Int(-8, pr->width),
                            Int(-8, pr->height), Int(0, 9));
    Decorate(LayerOf(n), false);
    layers.push_back(n);
    LayerMarkDirty(n);
    return n;
  }

  ObjNode* AnyLayer() { return layers.empty() ? nullptr : layers[Int(0, static_cast<i32>(layers.size()) - 1)]; }

  void Forget(ObjNode* gone) {
    layers.erase(std::remove_if(layers.begin(), layers.end(),
                                [&](ObjNode* n) {
                                  for (ObjNode* a = n; a; a = a->parent)
                                    if (a == gone) return true;
                                  return false;
                                }),
                 layers.end());
  }

  // One edit, marked as the layer commands mark theirs.
  void Edit() {
    ObjNode* n = AnyLayer();
    if (!n || Chance(8)) {
      if (Chance(70)) AddPicture();
      else AddFolder();
      return;
    }
    LayerRecord* r = LayerOf(n);
    switch (Int(0, 10)) {
      case 0:  // move, possibly far outside
        LayerMarkDirty(n);
        r->x += Int(-15, 15);
        r->y += Int(-15, 15);
        LayerMarkDirty(n);
        break;
      case 1:
        r->pending_opacity = Pick<i16>({0, 1, 64, 128, 255, 256});
        r->pending_opacity_set = 1;
        break;
      case 2:
        r->pending_visible = r->visible ? 0 : 1;
        r->pending_visible_set = 1;
        break;
      case 3:  // new picture contents
        if (n->kind == OBJ_ITEM) {
          TestFillNoise(r, rng(), Chance(50));
          LayerMarkDirty(n);
        }
        break;
      case 4:
        r->blend_mode = static_cast<u8>(Int(0, 18));
        if (n->kind == OBJ_ITEM) r->has_alpha = Chance(50);
        LayerMarkDirty(n);
        break;
      case 5:
        if (r->mask_name[0]) {
          r->mask_progress = static_cast<i16>(Int(0, 256));
          r->mask_softness = Pick<i16>({256, 0, 32, 128});
          LayerMarkDirty(n);
        }
        break;
      case 6:
        ObjSetOrder(n, Int(0, 9));
        LayerMarkDirty(n);
        break;
      case 7: {
        ObjNode* o = AnyLayer();
        if (o != n) LayerSwap(n, o, Int(0, 2));
        break;
      }
      case 8:
        LayerMarkDirty(n);
        Forget(n);
        LayerDeleteTree(n);
        break;
      case 9:
        if (n->kind == OBJ_FOLDER) AddPicture();
        else AddFolder();
        break;
      default:
        r->draw_kind = r->draw_kind ? LAYER_DRAW_CPU : LAYER_DRAW_SPRITE;
        LayerMarkDirty(n);
        break;
    }
  }

  // New pixels in a mask, marked as a picture command marks them: the layers drawn through it
  // show them.
  void ChangeMask() {
    if (masks.empty()) return;
    ObjNode* m = masks[Int(0, static_cast<i32>(masks.size()) - 1)];
    TestFillNoise(LayerOf(m), rng());
    LayerMarkDirty(m);
  }
};

// Every frame: edits, the commit, and (unless the frame skips drawing) composition, a check
// against the model, presentation bookkeeping and the reset.
TEST_F(ComposeTest, IncrementalCompositionEqualsFullRecompositionEveryFrame) {
  UseWorkers(3);
  WindowObject* w = g_WindowObjects[0];
  for (u32 seed = 1; seed <= 12; seed++) {
    SCOPED_TRACE(seed);
    LayerReleaseChildren(RootNode());
    g_LayerBase[0] = '\0';
    RandomScene scene(seed);
    for (i32 i = 0; i < 12; i++) scene.AddPicture();
    for (i32 i = 0; i < 4; i++) scene.AddFolder();
    for (i32 i = 0; i < 10; i++) scene.AddPicture();
    std::vector<u8> shown;
    for (i32 frame = 0; frame < 60; frame++) {
      SCOPED_TRACE(frame);
      i32 edits = scene.Int(0, 4);
      for (i32 e = 0; e < edits; e++) scene.Edit();
      if (scene.Chance(40)) scene.ChangeMask();
      // A script moves the layer base path (system variable 121): the masks' names ("W0/m..")
      // then name nothing, or name the masks again.
      if (scene.Chance(6)) {
        ASSERT_EQ(VarSetSysStr(121, 0, g_LayerBase[0] ? "" : "W0"), 0);
      }
      LayerCommitChanges(g_LayerRoot);
      if (scene.Chance(10)) continue;  // a skipped frame composes and presents nothing
      ASSERT_EQ(LayerComposeWindow(w), 0);
      std::vector<u8> got = TestPictureOf(Root());
      std::vector<u8> want = TestModelCompose(RootNode());
      ASSERT_EQ(TestFirstDifference(got, want, Root()->width), "");
      // Whatever changed since the last presentation lies inside what is presented now.
      if (!shown.empty() && got != shown) {
        LayerRecord* r = Root();
        ASSERT_TRUE(r->needs_compose);
        for (i32 y = 0; y < r->height; y++) {
          for (i32 x = 0; x < r->width; x++) {
            if (std::memcmp(&got[(y * r->width + x) * 4], &shown[(y * r->width + x) * 4], 4) != 0) {
              ASSERT_TRUE(x >= r->update_left && x <= r->update_right && y >= r->update_top && y <= r->update_bottom)
                  << x << "," << y;
            }
          }
        }
      }
      if (shown.empty() || Root()->needs_compose) shown = got;
      LayerResetUpdateRects(g_LayerRoot);
    }
  }
}

TEST_F(ComposeTest, OneToFourWorkersGiveBitIdenticalPictures) {
  TestBuildRichScene();
  std::vector<std::vector<u8>> pictures;
  for (i32 n = 1; n <= 4; n++) {
    UseWorkers(n);
    EXPECT_EQ(WorkerCount(), n);
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    pictures.push_back(TestPictureOf(Root()));
    LayerResetUpdateRects(g_LayerRoot);
  }
  for (i32 n = 1; n < 4; n++) EXPECT_EQ(pictures[n], pictures[0]) << n + 1 << " workers";
  EXPECT_EQ(TestFirstDifference(pictures[0], TestModelCompose(RootNode()), Root()->width), "");
}

// The workers take a batch's rows in chunks in any order: every grouping gives what one pass of
// each blend over all rows gives, also with mask blends in the batch (two sharing their weights,
// others not) and with a mask that is the target itself (drawn after what lies below it).
TEST_F(ComposeTest, ChunkedBatchesMatchOnePassOfEachBlend) {
  TestBuildRichScene();
  for (const char* path : {"W0/q1", "W0/q3"}) {
    LayerRecord* q = LayerOf(TestPicture(path, 17, 9, path[4] == '1' ? 2 : 20, path[4] == '1' ? 3 : 25, 100));
    TestFillNoise(q, path[4]);
    std::strcpy(q->mask_name, "W0/mask");
    q->mask_progress = 77;
    q->mask_softness = 40;
  }
  TestFillNoise(LayerOf(TestPicture("W0/q2", 30, 30, 8, 8, 101)), 5);
  // Reads rows of its folder five rows above the ones it writes; a later child covers it.
  LayerRecord* self = LayerOf(TestPicture("W0/f/self", 50, 40, 0, 5, 40));
  TestFillNoise(self, 7);
  std::strcpy(self->mask_name, "W0/f/");
  self->mask_progress = 140;
  self->mask_softness = 60;
  TestFillNoise(LayerOf(TestPicture("W0/f/over", 20, 30, 10, 2, 300)), 8);

  auto compose = [&](i32 workers, i64 chunk_bytes) {
    UseWorkers(workers);
    g_ComposeChunkBytes = chunk_bytes;
    TestMarkAllWhole(RootNode());
    EXPECT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    LayerResetUpdateRects(g_LayerRoot);
    return std::make_pair(TestPictureOf(Root()), TestPictureOf(LayerOf(ObjFindPath("W0/f", g_LayerRoot))));
  };
  const auto want = compose(1, i64{1} << 40);
  for (i64 chunk_bytes : {i64{1}, i64{50 * 4 * 3}, i64{96 * 1024}}) {
    for (i32 n : {1, 2, 3, 4}) {
      SCOPED_TRACE(testing::Message() << n << " workers, chunks of " << chunk_bytes << " bytes");
      const auto got = compose(n, chunk_bytes);
      EXPECT_EQ(TestFirstDifference(got.second, want.second, 50), "");
      EXPECT_EQ(TestFirstDifference(got.first, want.first, Root()->width), "");
    }
  }
}

// A batch that fills up runs at once; the mask blend that filled it keeps its weights in the next.
TEST_F(ComposeTest, AFullBatchKeepsTheMaskWeightsOfWhatFollows) {
  ObjNode* m = TestPicture("W0/mask", 8, 8, 0, 0, -1);
  LayerOf(m)->visible = 0;
  TestFillNoise(LayerOf(m), 3);
  for (i32 i = 0; i < 260; i++) {
    std::string path = "W0/p" + std::to_string(i);
    const bool masked = i >= 256 && i <= 258;  // 256 fills the batch, 257 has other weights
    LayerRecord* r = LayerOf(TestPicture(path.c_str(), 8, 8, masked ? 8 * (i - 250) : i % 7, masked ? 30 : i % 5, i));
    TestFillNoise(r, 50 + i);
    r->has_alpha = i & 1;
    if (masked) {
      std::strcpy(r->mask_name, "W0/mask");
      r->mask_progress = static_cast<i16>(60 + 50 * (i - 256));
      r->mask_softness = 256;  // a hard edge: the kernels read g_MaskWeights
    }
  }
  for (i32 n : {1, 3}) {
    UseWorkers(n);
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    LayerResetUpdateRects(g_LayerRoot);
    EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), Root()->width), "") << n;
  }
}

TEST_F(ComposeTest, FoldersNestedFourDeepReachTheWindow) {
  // Each folder sits 2 pixels right and 1 down in its parent; the picture at the bottom is
  // opaque red, and every folder's empty area is transparent black drawn as opaque black.
  ObjNode* a = TestFolder("W0/a", 40, 30, 2, 1);
  ASSERT_NE(TestFolder("W0/a/b", 30, 20, 2, 1), nullptr);
  ASSERT_NE(TestFolder("W0/a/b/c", 20, 15, 2, 1), nullptr);
  ASSERT_NE(TestFolder("W0/a/b/c/d", 10, 10, 2, 1), nullptr);
  ObjNode* p = TestPicture("W0/a/b/c/d/p", 3, 2, 1, 1);
  TestFillSolid(LayerOf(p), 0xFF0000FFu);
  ObjNode* bg = TestPicture("W0/bg", 64, 48, 0, 0, -1);
  TestFillSolid(LayerOf(bg), 0xFF204060u);
  UseWorkers(2);
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  const i32 px = 2 + 2 + 2 + 2 + 1, py = 1 + 1 + 1 + 1 + 1;
  EXPECT_EQ(TestPixel(Root(), px, py) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(TestPixel(Root(), px + 2, py + 1) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(TestPixel(Root(), px + 3, py) & 0xFFFFFF, 0u);   // folder d's empty area
  EXPECT_EQ(TestPixel(Root(), 1, 1) & 0xFFFFFF, 0x204060u);  // outside folder a
  EXPECT_EQ(TestPixel(Root(), 2, 1) & 0xFFFFFF, 0u);
  LayerResetUpdateRects(g_LayerRoot);
  // A change four levels down marks every ancestor and is recomposed where it lies.
  LayerMarkDirty(p);
  LayerOf(p)->x = 5;
  LayerMarkDirty(p);
  for (ObjNode* n = p->parent; n != g_LayerRoot; n = n->parent) EXPECT_TRUE(LayerOf(n)->needs_compose) << n->name;
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  EXPECT_EQ(TestPixel(Root(), px, py) & 0xFFFFFF, 0u);
  EXPECT_EQ(TestPixel(Root(), px + 4, py) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), 64), "");
  EXPECT_EQ(LayerOf(a)->has_alpha, 0);  // nested folders blend as opaque
  EXPECT_EQ(Root()->has_alpha, 1);
}

// Mask blends against the weights worked out by hand: hard edges show a mask byte once it
// reaches 256 - progress; soft edges follow the ramp (f / 2) per level; opacity scales them.
TEST_F(ComposeTest, MasksWithProgressAndSoftness) {
  struct Case {
    i16 progress, softness, opacity;
  } const cases[] = {{0, 256, 256},  {1, 256, 256},  {100, 256, 256}, {255, 256, 256}, {256, 256, 256},
                     {128, 256, 200}, {128, 0, 256},  {128, 2, 256},   {90, 40, 256},   {200, 128, 256},
                     {128, 128, 100}, {256, 40, 256}, {128, -50, 200}, {90, 300, 100},  {200, -1, 255}};
  ObjNode* mask = TestPicture("W0/m", 64, 1, 0, 0, 0);
  LayerOf(mask)->visible = 0;
  for (i32 i = 0; i < 64; i++) LayerOf(mask)->pixels[i * 4] = static_cast<u8>(i * 4 + 2);  // B byte
  ObjNode* bg = TestPicture("W0/bg", 64, 1, 0, 0, 1);
  TestFillSolid(LayerOf(bg), 0xFF000000u);
  ObjNode* top = TestPicture("W0/top", 64, 1, 0, 0, 2);
  TestFillSolid(LayerOf(top), 0xFFC8C8C8u);
  LayerRecord* t = LayerOf(top);
  std::strcpy(t->mask_name, "W0/m");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.progress << " " << c.softness << " " << c.opacity);
    t->mask_progress = c.progress;
    t->mask_softness = c.softness;
    t->opacity = c.opacity;
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    LayerResetUpdateRects(g_LayerRoot);
    for (i32 x = 0; x < 64; x++) {
      i32 m = x * 4 + 2, w;
      if (c.progress >= 256) {
        w = std::min<i32>(c.opacity, 256);  // drawn without the mask
      } else if (c.progress <= 0) {
        w = 0;  // skipped entirely
      } else if (c.softness == 256) {
        w = ((m >= 256 - c.progress ? 256 : 0) * c.opacity) >> 8;
      } else {
        i32 k = (c.softness >> 1) * c.progress - 128 * c.softness + c.progress;
        w = ((std::min((m * c.softness >> 1) + k, 255) + 1) * c.opacity) >> 8;
      }
      u8 got = Root()->pixels[x * 4 + 1];
      if (c.progress > 0 && c.progress < 256 && c.softness != 256 && c.opacity == 256) {
        // Full opacity runs the installed set's own soft-edge kernel: the model decides.
        continue;
      }
      i32 want = w <= 1 && c.progress < 256 ? 0 : (200 * w) >> 8;
      EXPECT_EQ(got, want) << "x=" << x << " weight " << w;
    }
    EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), 64), "");
  }
}

// Mask blends share a batch only while their weights are the same: softness counts as it
// stands, so -50 and -100 (or 300 and 400) are blends of their own.
TEST_F(ComposeTest, MaskBlendsOfAnotherSoftnessDoNotShareWeights) {
  ObjNode* m = TestPicture("W0/m", 16, 4, 0, 0, 0);
  LayerOf(m)->visible = 0;
  for (i32 i = 0; i < 16 * 4; i++) LayerOf(m)->pixels[i * 4] = static_cast<u8>(i * 4);
  const i16 softness[] = {-50, -100, 300, 400};
  for (i32 i = 0; i < 4; i++) {
    std::string path = "W0/p" + std::to_string(i);
    LayerRecord* r = LayerOf(TestPicture(path.c_str(), 16, 4, 0, 4 * i, 1 + i));
    TestFillSolid(r, 0xFFC8C8C8u);
    std::strcpy(r->mask_name, "W0/m");
    r->mask_progress = 128;
    r->mask_softness = softness[i];
    r->opacity = 200;
  }
  TestMarkAllWhole(RootNode());
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), 64), "");
}

TEST_F(ComposeTest, MaskOfADifferentSizeIsFatalOnlyBelowFullProgress) {
  TestNameErrorCodes({ERR_LAYER_MASK_SIZE});
  ObjNode* m = TestPicture("W0/m", 5, 5, 0, 0);
  LayerOf(m)->visible = 0;
  ObjNode* p = TestPicture("W0/p", 4, 4, 0, 0);
  std::strcpy(LayerOf(p)->mask_name, "W0/m");
  LayerOf(p)->mask_progress = 256;
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  LayerResetUpdateRects(g_LayerRoot);
  LayerOf(p)->mask_progress = 255;
  LayerMarkDirty(p);
  testing::internal::CaptureStderr();
  EXPECT_EQ(LayerComposeWindow(g_WindowObjects[0]), -1);
  EXPECT_EQ(TestShownErrorCode(testing::internal::GetCapturedStderr()), ERR_LAYER_MASK_SIZE);
  EXPECT_TRUE(g_QuitRequested);
}

TEST_F(ComposeTest, MissingOrEmptyMaskCountsAsNoMaskAndABadNameFails) {
  ObjNode* empty = TestPicture("W0/empty", 0, 0, 0, 0);
  LayerOf(empty)->visible = 0;
  ObjNode* p = TestPicture("W0/p", 8, 8, 0, 0);
  TestFillSolid(LayerOf(p), 0xFF112233u);
  LayerOf(p)->mask_progress = 10;
  for (const char* name : {"W0/nothing", "W0/empty"}) {
    std::strcpy(LayerOf(p)->mask_name, name);
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0) << name;
    EXPECT_EQ(TestPixel(Root(), 3, 3), 0xFF112233u) << name;
    LayerResetUpdateRects(g_LayerRoot);
  }
  std::strcpy(LayerOf(p)->mask_name, "W0/a b");  // a blank inside a component
  TestMarkAllWhole(RootNode());
  testing::internal::CaptureStderr();
  EXPECT_EQ(LayerComposeWindow(g_WindowObjects[0]), -1);
  testing::internal::GetCapturedStderr();
}

// A mask name that named no layer and comes to name one redraws its user, though nothing is
// marked where the mask lies (outside the window): after the layer base path moves, and after an
// exchange brings the name over from another folder.
TEST_F(ComposeTest, MaskNamesThatComeToNameALayerRedrawTheirUsers) {
  for (bool exchange : {false, true}) {
    SCOPED_TRACE(exchange);
    LayerReleaseChildren(RootNode());
    ASSERT_EQ(VarSetSysStr(121, 0, exchange ? "" : "W0"), 0);  // "W0/m" then names "W0/W0/m"
    // The mask to be: mask bytes 0, which hide everything at progress 100.
    ObjNode* mask = TestPicture("W0/m", 8, 8, -1000, -1000, 0);
    ObjNode* elsewhere = nullptr;
    if (exchange) {
      ASSERT_NE(TestFolder("W0/f", 8, 8, -1000, -1000, 1), nullptr);
      elsewhere = TestPicture("W0/f/q", 8, 8, 0, 0);
    }
    ObjNode* p = TestPicture("W0/p", 8, 8, 0, 0, 2);
    TestFillSolid(LayerOf(p), 0xFF112233u);
    std::strcpy(LayerOf(p)->mask_name, exchange ? "W0/q" : "W0/m");
    LayerOf(p)->mask_progress = 100;
    LayerOf(p)->mask_softness = 256;
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    EXPECT_EQ(TestPixel(Root(), 3, 3), 0xFF112233u) << "no mask yet";
    LayerResetUpdateRects(g_LayerRoot);
    if (exchange) LayerSwap(elsewhere, mask, LAYER_SWAP_NAMES);  // "W0/q" is now the mask
    else ASSERT_EQ(VarSetSysStr(121, 0, ""), 0);
    LayerCommitChanges(g_LayerRoot);
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    EXPECT_EQ(TestPixel(Root(), 3, 3), 0u);
    EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), 64), "");
    LayerResetUpdateRects(g_LayerRoot);
  }
}

// Every mode, with and without opacity and source alpha, reaches the window exactly as the
// mode's row kernel applied to the two pictures.
TEST_F(ComposeTest, EachBlendModeThroughTheTree) {
  ObjNode* bg = TestPicture("W0/bg", 64, 48, 0, 0, 0);
  TestFillNoise(LayerOf(bg), 7, false);
  ObjNode* f = TestFolder("W0/f", 30, 20, 9, 5, 1);
  ObjNode* inner_bg = TestPicture("W0/f/bg", 30, 20, 0, 0, 0);
  TestFillNoise(LayerOf(inner_bg), 8, false);
  ObjNode* c = TestPicture("W0/f/c", 13, 7, 4, 3, 1);
  TestFillNoise(LayerOf(c), 9);
  LayerRecord* cr = LayerOf(c);
  for (i32 mode = 0; mode < 19; mode++) {
    for (i16 op : {256, 255, 77}) {
      for (u8 alpha : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << " opacity " << op << " alpha " << int(alpha));
        cr->blend_mode = static_cast<u8>(mode);
        cr->opacity = op;
        cr->has_alpha = alpha;
        TestMarkAllWhole(RootNode());
        ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
        LayerResetUpdateRects(g_LayerRoot);
        // The folder's picture: its background, then the child's rows through the kernel.
        std::vector<u8> want(TestPictureOf(LayerOf(inner_bg)));
        for (i32 y = 0; y < 7; y++)
          BlendPickRow(alpha, mode, op)(want.data() + ((y + 3) * 30 + 4) * 4, cr->pixels + y * 13 * 4, op, 13 * 4);
        EXPECT_EQ(TestFirstDifference(TestPictureOf(LayerOf(f)), want, 30), "");
        // The folder over the window's background: a plain copy.
        for (i32 y = 0; y < 20; y++)
          ASSERT_EQ(std::memcmp(Root()->pixels + ((y + 5) * 64 + 9) * 4, want.data() + y * 30 * 4, 30 * 4), 0) << y;
        EXPECT_EQ(TestPixel(Root(), 8, 5), TestPixel(LayerOf(bg), 8, 5));
      }
    }
  }
}

// The children that are not drawn, and the topmost opaque child that hides what lies below it.
TEST_F(ComposeTest, SkippedChildrenAndTheStartingChild) {
  ObjNode* under = TestPicture("W0/under", 20, 20, 0, 0, 0);
  TestFillSolid(LayerOf(under), 0xFF0000FFu);
  struct Case {
    const char* what;
    void (*apply)(LayerRecord*);
  } const cases[] = {
      {"hidden", [](LayerRecord* c) { c->visible = 0; }},
      {"opacity 0", [](LayerRecord* c) { c->opacity = 0; }},
      {"masked at progress 0",
       [](LayerRecord* c) {
         std::strcpy(c->mask_name, "W0/under");
         c->mask_progress = 0;
       }},
      {"drawn by the GPU", [](LayerRecord* c) { c->draw_kind = LAYER_DRAW_CHARACTER; }},
      {"one pixel left of the dirty area", [](LayerRecord* c) { c->x = -10; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ObjNode* p = TestPicture("W0/p", 10, 10, 5, 5, 1);
    TestFillSolid(LayerOf(p), 0xFF00FF00u);
    c.apply(LayerOf(p));
    // Only 0..9 x 0..9 is recomposed: the child moved left ends at x = -1.
    Root()->dirty_valid = 1, Root()->needs_compose = 1;
    Root()->dirty_left = 0, Root()->dirty_top = 0, Root()->dirty_right = 9, Root()->dirty_bottom = 9;
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    EXPECT_EQ(TestPixel(Root(), 6, 6), 0xFF0000FFu);
    EXPECT_EQ(LayerOf(p)->blended, 0);
    LayerResetUpdateRects(g_LayerRoot);
    LayerRelease(p);
  }
  // An opaque, plain, full-opacity child covering the dirty area: nothing below is drawn and
  // the area is not cleared first.
  ObjNode* p = TestPicture("W0/p", 10, 10, 5, 5, 1);
  TestFillSolid(LayerOf(p), 0xFF00FF00u);
  ObjNode* cover = TestPicture("W0/cover", 20, 20, 0, 0, 2);
  TestFillSolid(LayerOf(cover), 0xFF404040u);
  LayerOf(under)->blended = 0;
  TestMarkAllWhole(RootNode());
  Root()->dirty_left = 1, Root()->dirty_top = 1, Root()->dirty_right = 18, Root()->dirty_bottom = 18;
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  EXPECT_EQ(LayerOf(under)->blended, 0);
  EXPECT_EQ(LayerOf(p)->blended, 0);
  EXPECT_EQ(LayerOf(cover)->blended, 1);
  EXPECT_EQ(TestPixel(Root(), 10, 10), 0xFF404040u);
  LayerResetUpdateRects(g_LayerRoot);
  // A covering child that is not drawn here, or has no pixels, hides nothing.
  for (i32 k = 0; k < 2; k++) {
    if (k == 0) {
      LayerOf(cover)->draw_kind = LAYER_DRAW_SPRITE;
    } else {
      LayerOf(cover)->draw_kind = LAYER_DRAW_CPU;
      LayerOf(cover)->width = 0;
    }
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
    EXPECT_EQ(TestPixel(Root(), 10, 10), 0xFF00FF00u) << k;
    EXPECT_EQ(TestPixel(Root(), 2, 2), 0xFF0000FFu) << k;
    LayerResetUpdateRects(g_LayerRoot);
  }
  LayerOf(cover)->width = 20;
}

TEST_F(ComposeTest, WindowGatesComposition) {
  ObjNode* p = TestPicture("W0/p", 4, 4, 0, 0);
  TestFillSolid(LayerOf(p), 0xFFFFFFFFu);
  WindowObject* w = g_WindowObjects[0];
  Root()->visible = 0;
  EXPECT_EQ(LayerComposeWindow(w), 0);
  EXPECT_EQ(TestPixel(Root(), 1, 1), 0u);  // a hidden root is not composed
  Root()->visible = 1;
  Root()->needs_compose = 0;
  EXPECT_EQ(LayerComposeWindow(w), 0);
  EXPECT_EQ(TestPixel(Root(), 1, 1), 0u);  // nor one that needs no recomposition
  EXPECT_EQ(w->has_drawn, 1);
  Root()->needs_compose = 1;
  g_QuitRequested = 1;  // composition still runs, and reports the quit request
  EXPECT_EQ(LayerComposeWindow(w), 1);
  EXPECT_EQ(TestPixel(Root(), 1, 1), 0xFFFFFFFFu);
}

}  // namespace
