// Layer records and the layer tree: creation limits and errors, dirty and whole-area marking,
// merging, the once-a-frame commit and reset, re-ordering, exchange and release.
#include "compose_fixture.h"
#include "image_test_decode.h"

namespace {

using LayerTreeTest = ComposeTest;

struct Rect {
  i64 l, t, r, b;
};
Rect Dirty(const LayerRecord* r) { return {r->dirty_left, r->dirty_top, r->dirty_right, r->dirty_bottom}; }
Rect Update(const LayerRecord* r) { return {r->update_left, r->update_top, r->update_right, r->update_bottom}; }
bool operator==(const Rect& a, const Rect& b) { return a.l == b.l && a.t == b.t && a.r == b.r && a.b == b.b; }
std::ostream& operator<<(std::ostream& o, const Rect& a) { return o << a.l << "," << a.t << "," << a.r << "," << a.b; }

// A fresh frame: what is marked so far composed and forgotten.
void Settle() {
  LayerComposeWindow(g_WindowObjects[0]);
  LayerResetUpdateRects(g_LayerRoot);
}

TEST_F(LayerTreeTest, CreateMakesAClearedFolderMarkedWhole) {
  LayerRecord* r = LayerCreate("W0/f", 5, 3, 2);
  ASSERT_NE(r, nullptr);
  ObjNode* n = ObjFindNode(g_LayerRoot, "W0/f", OBJ_FIND_FOLDER);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->payload, r);
  EXPECT_EQ(n->order, 2);
  EXPECT_EQ(r->ref_count, 1);
  EXPECT_TRUE(r->changed && r->dirty_valid && r->needs_compose);
  EXPECT_EQ(Dirty(r), (Rect{0, 0, 4, 2}));
  for (size_t i = 0; i < ImagePixelBytes(5, 3); i++) EXPECT_EQ(r->pixels[i], 0) << i;
  EXPECT_TRUE(Root()->needs_compose);
  EXPECT_EQ(Dirty(Root()), (Rect{0, 0, 63, 47}));
}

TEST_F(LayerTreeTest, CreateLimitsAndErrors) {
  TestNameErrorCodes({ERR_OUT_OF_MEMORY, ERR_FILE_READ_NOMEM, ERR_LAYER_NULL_PATH, ERR_OBJ_MISSING_FOLDER});
  struct Case {
    const char* path;
    i32 w, h;
    bool made;
    i32 error;
    const char* message;
  } const cases[] = {
      {"W0/a", 8192, 1, true, 0, nullptr},
      {"W0/b", 0, 0, true, 0, nullptr},  // legal: a folder without pixels
      {"W0/c", 3, 0, true, 0, nullptr},
      {"W0/d", 8193, 2, false, ERR_OUT_OF_MEMORY, "ＣＧサイズが大きすぎます。X=8193, Y=2"},
      {"W0/e", -1, 4, false, ERR_FILE_READ_NOMEM, "メモリ確保エラーです。[](-1, 4)"},
      {"W0/f", 4, -7, false, ERR_FILE_READ_NOMEM, "メモリ確保エラーです。[](4, -7)"},
      {nullptr, 4, 4, false, ERR_LAYER_NULL_PATH, nullptr},
      {"W0/none/g", 4, 4, false, ERR_OBJ_MISSING_FOLDER, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    ErrReset();
    u32 children = RootNode()->child_count;
    testing::internal::CaptureStderr();
    LayerRecord* r = LayerCreate(c.path, c.w, c.h, 0);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r != nullptr, c.made);
    EXPECT_EQ(RootNode()->child_count, children + (c.made ? 1u : 0u));
    EXPECT_EQ(TestShownErrorCode(shown), c.error);
    if (c.message) {
      EXPECT_NE(shown.find(c.message), std::string::npos) << shown;
    }
    if (r) {
      EXPECT_EQ(LayerHasPixels(r), c.w > 0 && c.h > 0);
    }
    g_QuitRequested = 0;
  }
}

TEST_F(LayerTreeTest, MarkDirtyGrowsEachAncestorByTheChildsRectangle) {
  ObjNode* f = TestFolder("W0/f", 40, 30, 10, 5);
  ObjNode* a = TestPicture("W0/f/a", 4, 3, 2, 2);
  ObjNode* b = TestPicture("W0/f/b", 5, 5, 30, 20);
  Settle();
  LayerMarkDirty(a);
  LayerRecord* fr = LayerOf(f);
  EXPECT_EQ(Dirty(fr), (Rect{2, 2, 5, 4}));
  EXPECT_EQ(fr->mark_count, 1);
  EXPECT_EQ(Dirty(Root()), (Rect{10, 5, 49, 34}));  // the folder's own rectangle in the root
  LayerMarkDirty(b);
  EXPECT_EQ(Dirty(fr), (Rect{2, 2, 34, 24}));  // the bounding box of both
  EXPECT_EQ(fr->mark_count, 1);
  EXPECT_TRUE(fr->needs_compose && fr->dirty_valid);
}

TEST_F(LayerTreeTest, MarkDirtyLeavesAParentTheChildLiesWhollyOutside) {
  ObjNode* f = TestFolder("W0/f", 20, 20, 0, 0);
  struct {
    i64 x, y;
    i32 w, h;
    bool marks;
  } const cases[] = {
      {20, 0, 5, 5, false},
      {0, 20, 5, 5, false},
      {-5, 0, 5, 5, false},
      {0, -5, 5, 5, false},
      {19, 19, 5, 5, true},
      {-4, -4, 5, 5, true},
      {i64{1} << 40, 0, 5, 5, false},        // 64-bit positions
      {(i64{1} << 32) + 3, 0, 5, 5, false},  // not taken as x = 3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    ObjNode* n = TestPicture("W0/f/p", c.w, c.h, c.x, c.y);
    Settle();
    LayerMarkDirty(n);
    EXPECT_EQ(LayerOf(f)->needs_compose != 0, c.marks);
    LayerRelease(n);
  }
}

TEST_F(LayerTreeTest, MarkWholeUsesTheLayersOwnRectangle) {
  // A folder at a negative position is recomposed whole, not only its part right of 0.
  ObjNode* f = TestFolder("W0/f", 10, 8, -6, -3);
  Settle();
  LayerMarkDirtyWhole(f);
  EXPECT_EQ(Dirty(LayerOf(f)), (Rect{0, 0, 9, 7}));
  EXPECT_EQ(LayerOf(f)->mark_count, 1);
  LayerMarkDirtyWhole(f);
  EXPECT_EQ(LayerOf(f)->mark_count, 2);
  EXPECT_EQ(Dirty(Root()), (Rect{0, 0, 63, 47}));
}

TEST_F(LayerTreeTest, MergeJoinsDirtyIntoUpdateAndChangedShowsTheWholeLayer) {
  LayerRecord* r = Root();
  Settle();
  r->dirty_left = 3, r->dirty_top = 4, r->dirty_right = 5, r->dirty_bottom = 6;
  LayerMergeDirty(RootNode(), 0);
  EXPECT_EQ(Update(r), (Rect{3, 4, 5, 6}));
  r->dirty_left = 10, r->dirty_top = 1, r->dirty_right = 12, r->dirty_bottom = 2;
  LayerMergeDirty(RootNode(), 0);
  EXPECT_EQ(Update(r), (Rect{3, 1, 12, 6}));
  r->changed = 1;
  LayerMergeDirty(RootNode(), 0);
  EXPECT_EQ(Update(r), (Rect{0, 0, 63, 47}));
  EXPECT_EQ(r->changed, 0);
}

TEST_F(LayerTreeTest, CommitAppliesPendingValuesAndMarksOnlyRealChanges) {
  ObjNode* f = TestFolder("W0/f", 20, 20, 0, 0);
  ObjNode* a = TestPicture("W0/f/a", 4, 4, 1, 1);
  ObjNode* b = TestPicture("W0/f/b", 4, 4, 10, 10);
  LayerRecord *ar = LayerOf(a), *br = LayerOf(b), *fr = LayerOf(f);
  Settle();
  // Equal pending values change nothing and mark nothing.
  ar->pending_visible = 1, ar->pending_visible_set = 1;
  br->pending_opacity = 256, br->pending_opacity_set = 1;
  g_D3dRedraw = 0;
  LayerCommitChanges(g_LayerRoot);
  EXPECT_FALSE(ar->pending_visible_set || br->pending_opacity_set);
  EXPECT_FALSE(fr->needs_compose);
  EXPECT_EQ(g_D3dRedraw, 0);
  // Real changes, deep in the tree, are applied and mark the parent over the layer.
  ar->pending_visible = 0, ar->pending_visible_set = 1;
  br->pending_opacity = 100, br->pending_opacity_set = 1;
  LayerCommitChanges(g_LayerRoot);
  EXPECT_EQ(ar->visible, 0);
  EXPECT_EQ(br->opacity, 100);
  EXPECT_EQ(Dirty(fr), (Rect{1, 1, 13, 13}));
  EXPECT_EQ(g_D3dRedraw, 1);
}

TEST_F(LayerTreeTest, ShowingAWindowRootAgainPresentsItWhole) {
  LayerRecord* r = Root();
  Settle();
  r->pending_visible = 0, r->pending_visible_set = 1;
  LayerCommitChanges(g_LayerRoot);
  Settle();  // hidden: neither composed nor shown
  r->pending_visible = 1, r->pending_visible_set = 1;
  LayerCommitChanges(g_LayerRoot);
  EXPECT_TRUE(r->needs_compose && r->changed && r->dirty_valid);
  EXPECT_EQ(Dirty(r), (Rect{0, 0, 63, 47}));
}

TEST_F(LayerTreeTest, ResetEmptiesRectanglesButKeepsAnUncomposedFolderPending) {
  ObjNode* f = TestFolder("W0/f", 20, 20, 0, 0);
  ObjNode* p = TestPicture("W0/f/p", 4, 4, 1, 1);
  LayerMarkDirtyWhole(p);  // an item marked whole, as a picture command may do
  LayerRecord* fr = LayerOf(f);
  fr->update_left = 0;
  LayerResetUpdateRects(g_LayerRoot);
  EXPECT_EQ(Update(fr), (Rect{LAYER_RECT_EMPTY_MIN, LAYER_RECT_EMPTY_MIN, LAYER_RECT_EMPTY_MAX, LAYER_RECT_EMPTY_MAX}));
  EXPECT_EQ(LayerOf(p)->mark_count, 0);
  EXPECT_FALSE(LayerOf(p)->needs_compose || LayerOf(p)->dirty_valid);
  // The folder was never composed: its change waits for the frame that reaches it.
  EXPECT_TRUE(fr->dirty_valid && fr->needs_compose);
  EXPECT_EQ(LayerComposeTree(f, 1, 1), 0);
  LayerResetUpdateRects(g_LayerRoot);
  EXPECT_FALSE(fr->dirty_valid || fr->needs_compose);
  EXPECT_EQ(fr->mark_count, 0);
}

TEST_F(LayerTreeTest, SetOrderReinsertsAmongSiblings) {
  ObjNode* a = TestPicture("W0/a", 1, 1, 0, 0, 1);
  ObjNode* b = TestPicture("W0/b", 1, 1, 0, 0, 2);
  ObjNode* c = TestPicture("W0/c", 1, 1, 0, 0, 3);
  EXPECT_EQ(ObjSetOrder(a, 5), 1);
  EXPECT_EQ(RootNode()->first_child, b);
  EXPECT_EQ(RootNode()->last_child, a);
  EXPECT_EQ(ObjSetOrder(c, 2), 1);  // equal values keep insertion order: c after b
  EXPECT_EQ(b->next, c);
  EXPECT_EQ(c->next, a);
  EXPECT_EQ(RootNode()->child_count, 3u);
  EXPECT_EQ(ObjSetOrder(nullptr, 1), 0);
  EXPECT_EQ(ObjSetOrder(g_LayerRoot, 1), 0);  // no parent
}

TEST_F(LayerTreeTest, SwapExchangesOrderNamesAndPerWhatPlacement) {
  for (i32 what : {LAYER_SWAP_NAMES, LAYER_SWAP_POSITION, LAYER_SWAP_APPEARANCE}) {
    SCOPED_TRACE(what);
    ObjNode* f = TestFolder("W0/folder", 8, 8, 1, 2, 1);
    ObjNode* p = TestPicture("W0/pic", 2, 2, 20, 30, 9);
    LayerRecord *fr = LayerOf(f), *pr = LayerOf(p);
    pr->opacity = 7, pr->blend_mode = 3, pr->visible = 0, pr->mask_progress = 9, pr->mask_softness = 11;
    Settle();
    EXPECT_EQ(LayerSwap(f, p, what), 0);
    EXPECT_EQ(f->order, 9);
    EXPECT_EQ(p->order, 1);
    EXPECT_STREQ(f->name, "pic");
    EXPECT_STREQ(p->name, "folder");
    // The keys go with the names, folder bit and all: each name is found by its own kind of path
    // and now finds the other layer.
    EXPECT_EQ(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM), f);
    EXPECT_EQ(ObjFindNode(g_LayerRoot, "W0/folder", OBJ_FIND_FOLDER), p);
    EXPECT_EQ(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_FOLDER), nullptr);
    EXPECT_EQ(f->kind, OBJ_FOLDER) << "each node keeps its own kind and children";
    EXPECT_EQ(fr->x, what >= LAYER_SWAP_POSITION ? 20 : 1);
    EXPECT_EQ(pr->y, what >= LAYER_SWAP_POSITION ? 2 : 30);
    EXPECT_EQ(fr->opacity, what == LAYER_SWAP_APPEARANCE ? 7 : 256);
    EXPECT_EQ(fr->blend_mode, what == LAYER_SWAP_APPEARANCE ? 3 : 0);
    EXPECT_EQ(fr->visible, what == LAYER_SWAP_APPEARANCE ? 0 : 1);
    EXPECT_EQ(pr->mask_softness, what == LAYER_SWAP_APPEARANCE ? 0 : 11);
    EXPECT_TRUE(Root()->needs_compose);
    LayerRelease(f);
    LayerRelease(p);
  }
}

TEST_F(LayerTreeTest, SwapUnderDifferentParentsMarksBothNewPlaces) {
  ObjNode* f1 = TestFolder("W0/f1", 30, 30, 0, 0);
  ObjNode* f2 = TestFolder("W0/f2", 30, 30, 32, 0);
  ObjNode* a = TestPicture("W0/f1/a", 2, 2, 1, 1);
  ObjNode* b = TestPicture("W0/f2/b", 2, 2, 20, 20);
  Settle();
  LayerSwap(a, b, LAYER_SWAP_POSITION);
  EXPECT_EQ(Dirty(LayerOf(f1)), (Rect{1, 1, 21, 21}));  // a's old place and its new one
  EXPECT_EQ(Dirty(LayerOf(f2)), (Rect{1, 1, 21, 21}));
}

TEST_F(LayerTreeTest, ReleaseFreesASharedRecordWithItsLastNode) {
  ObjNode* a = TestPicture("W0/a", 3, 3, 0, 0);
  LayerRecord* rec = LayerOf(a);
  ObjNode* b = LayerCreateNode("W0/b", 0, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->kind, OBJ_ITEM);
  EXPECT_EQ(b->payload, nullptr);
  ASSERT_EQ(LayerRecordShare(b, rec), rec);
  EXPECT_EQ(rec->ref_count, 2);
  LayerRelease(a);
  EXPECT_EQ(RootNode()->child_count, 1u);
  EXPECT_EQ(rec->ref_count, 1);  // still b's: nothing but the node and its name went
  EXPECT_EQ(LayerOf(b), rec);
  EXPECT_NE(rec->pixels, nullptr);
  LayerRelease(b);  // the record goes now (the sanitizer reports a leak otherwise)
  EXPECT_EQ(RootNode()->child_count, 0u);
}

TEST_F(LayerTreeTest, ReleaseClearsEveryWindowReferenceAndTakesChildrenAlong) {
  ObjNode* f = TestFolder("W0/f", 8, 8, 0, 0);
  ASSERT_NE(TestFolder("W0/f/g", 4, 4, 0, 0), nullptr);
  ASSERT_NE(TestPicture("W0/f/g/p", 2, 2, 0, 0), nullptr);
  g_WindowObjects[1]->root_layer = f;  // the window command made it window 1's layer set
  LayerOf(f)->is_window_root = 1;
  LayerRelease(f);
  EXPECT_EQ(g_WindowObjects[1]->root_layer, nullptr);
  EXPECT_EQ(RootNode()->child_count, 0u);
  LayerRelease(RootNode());
  EXPECT_EQ(g_WindowObjects[0]->root_layer, nullptr);
  EXPECT_EQ(g_LayerRoot->child_count, 0u);
  EXPECT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);  // nothing left to compose, nothing read
}

TEST_F(LayerTreeTest, DeleteTreeReleasesASubtree) {
  ObjNode* f = TestFolder("W0/f", 8, 8, 0, 0);
  for (const char* p : {"W0/f/a", "W0/f/b", "W0/f/c"}) ASSERT_NE(TestPicture(p, 2, 2, 0, 0), nullptr);
  ObjNode* keep = TestPicture("W0/keep", 2, 2, 0, 0);
  LayerDeleteTree(f);
  EXPECT_EQ(RootNode()->child_count, 1u);
  EXPECT_EQ(RootNode()->first_child, keep);
}

TEST_F(LayerTreeTest, LoadPictureWithoutANameGivesTheMissingFilePicture) {
  ObjNode* p = TestPicture("W0/p", 5, 5, 0, 0);
  LayerRecord* r = LayerOf(p);
  std::strcpy(r->source_name, "old.png");
  r->has_alpha = 1;
  EXPECT_EQ(LayerLoadPicture(r, ""), 0);
  EXPECT_EQ(r->source_name[0], '\0');
  EXPECT_EQ(r->width, 1);
  EXPECT_EQ(r->height, 1);
  EXPECT_EQ(r->has_alpha, 0);
  EXPECT_EQ(TestPixel(r, 0, 0), g_ImageFillColour);
}

TEST_F(LayerTreeTest, WindowRootIsAFolderOfTheGameSizeMarkedAsRoot) {
  LayerRecord* r = Root();
  EXPECT_STREQ(RootNode()->name, "W0");
  EXPECT_EQ(RootNode()->kind, OBJ_FOLDER);
  EXPECT_EQ(RootNode()->parent, g_LayerRoot);
  EXPECT_EQ(r->is_window_root, 1);
  EXPECT_EQ(r->width, 64);
  EXPECT_EQ(r->height, 48);
}

}  // namespace
