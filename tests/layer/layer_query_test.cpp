// Commands 3 and 4 from compiled lines: deletion of pictures, shared records and whole folders;
// every property of the query, the pixel reads at a window point and in the picture, and the
// bounding box of the pixels that are not fully transparent.
#include <gtest/gtest.h>

#include "layer_cmd_fixture.h"

TEST_F(LayerCmdTest, DeleteRemovesFoldersDepthFirstAndIgnoresMissingLayers) {
  Load(
      "*SYSTEM_START\nlayer name='W0/f/', width=8, height=8, order=1\nlayer name='W0/f/g/', width=4, height=4, "
      "order=1\n"
      "layer name='W0/f/g/p', file='', order=1\nlayer name='W0/f/q', file='', order=2\nlayer name='W0/keep', file='', "
      "order=2\n"
      "layer_delete name='W0/f/'\nlayer_delete name='W0/f/'\nlayer_delete name='W0/keep', num=1\n"
      "layer_delete name='W0/keep'\n");
  RunAll(0, 4);
  ASSERT_NE(Node("W0/f/g/p"), nullptr);
  RunAll(5, 6);
  EXPECT_EQ(FolderNode("W0/f"), nullptr);
  EXPECT_EQ(ObjFindNode(g_LayerRoot, "W0/f/g/p", OBJ_FIND_ITEM), nullptr);
  EXPECT_EQ(RootNode()->child_count, 1u);
  EXPECT_TRUE(Root()->needs_compose) << "what lay under the folder is recomposed";
  RunAll(7, 7);
  EXPECT_NE(Node("W0/keep"), nullptr) << "keep.1 is another layer";
  RunAll(8, 8);
  EXPECT_EQ(RootNode()->child_count, 0u);
}

TEST_F(LayerCmdTest, QueryReturnsEveryProperty) {
  Load(
      "global int r = 77\nglobal str s = 'old'\nglobal float fl = 2.5\n*SYSTEM_START\n"
      "layer name='W0/a', file='', order=6, x=-5, y=7, x100=-512, mask='m', mask_num=4, mask_soft=100, blend=3, "
      "scale_x=20000, scale_y=5000, gpu3=31, gpu4=41, gpu5=51, user1=-9, user2=1234567890123, mask_progress=99\n"
      "layer_info name='W0/a', exists=1, result=r\nlayer_info name='W0/a', visible=1, result=r\n"
      "layer_info name='W0/a', opacity=1, result=r\nlayer_info name='W0/a', mask_progress=1, result=r\n"
      "layer_info name='W0/a', mask=1, result=s\nlayer_info name='W0/a', mask_soft=1, result=r\n"
      "layer_info name='W0/a', x=1, result=r\nlayer_info name='W0/a', y=1, result=r\n"
      "layer_info name='W0/a', order=1, result=r\nlayer_info name='W0/a', blend=1, result=r\n"
      "layer_info name='W0/a', width=1, result=r\nlayer_info name='W0/a', height=1, result=r\n"
      "layer_info name='W0/a', x100=1, result=r\nlayer_info name='W0/a', y100=1, result=r\n"
      "layer_info name='W0/a', scale_x=1, result=r\nlayer_info name='W0/a', scale_y=1, result=r\n"
      "layer_info name='W0/a', gpu3=1, result=r\nlayer_info name='W0/a', gpu4=1, result=r\n"
      "layer_info name='W0/a', gpu5=1, result=r\nlayer_info name='W0/a', kind=1, result=r\n"
      "layer_info name='W0/a', user1=1, result=r\nlayer_info name='W0/a', user2=1, result=r\n"
      "layer_info name='W0/a', result=r\nlayer_info name='W0/a', user2=1, exists=1, result=r\n"
      "layer_info name='W0/none', exists=1, result=r\nlayer_info name='W0/none', mask=1, result=s\n"
      "layer_info name='W0/none', x=1, result=fl\n");
  RunAll(0, 0);
  LayerCommitChanges(g_LayerRoot);
  const i64 want[] = {1,  1,  256, 99, -1, 100,           -5, 7, 6, 3, 1, 1, -512, 700, 20000, 5000,
                      31, 41, 51,  0,  -9, 1234567890123, 0,  1};
  for (u32 i = 0; i < std::size(want); i++) {
    if (i == 4) {
      RunAll(5, 5);
      EXPECT_STREQ(VarGetStrElement(1001, 0), "m.4");
      continue;
    }
    VarSetNumElement(1000, 0, 77);
    RunAll(i + 1, i + 1);
    EXPECT_EQ(VarGetIntElement(1000, 0), want[i]) << "line " << i + 1;
  }
  RunAll(25, 27);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0) << "a missing layer answers 0";
  EXPECT_STREQ(VarGetStrElement(1001, 0), "") << "and an empty string";
  EXPECT_EQ(VarGetFloatElement(1002, 0), 0.0);
}

TEST_F(LayerCmdTest, PixelQueriesAtAWindowPointAndInThePicture) {
  Load(
      "global int r\n*SYSTEM_START\n"
      "layer name='W0/f/', width=40, height=30, order=1, x=10, y=5\nlayer name='W0/f/p', file='', order=1, x=3, y=2\n"
      "layer_info name='W0/f/p', color_at=0, result=r\nlayer_info name='W0/f/p', alpha_at=0, result=r\n"
      "layer_info name='W0/f/p', pixel_at=0, result=r\nlayer_info name='W0/f/p', pixel_at=0, x_at=14, y_at=8, "
      "result=r\n"
      "layer_info name='W0/f/p', color_at=-2, x_at=13, y_at=7, result=r\n"
      "layer_info name='W0/f/p', pixel=1, x_at=1, y_at=1, result=r\nlayer_info name='W0/f/p', pixel=1, x_at=2, y_at=0, "
      "result=r\n"
      "layer_info name='W0/f/p', pixel=1, x_at=1, result=r\n"
      "layer_info name='W0/f/p', color_at=0, x_at=64, y_at=8, result=r\n");
  RunAll(0, 1);
  LayerRecord* p = LayerOf(Node("W0/f/p"));
  p->pixels = ImageAllocPixels(p->pixels, 2, 2, nullptr);
  p->width = p->height = 2;
  const u32 px[4] = {0x11223344u, 0x80A0B0C0u, 0x00000001u, 0xFFFFFFFFu};
  std::memcpy(p->pixels, px, sizeof px);
  // The layer's origin in the window: folder (10, 5) + layer (3, 2).
  g_WindowObjects[0]->cursor_x = 14;
  g_WindowObjects[0]->cursor_y = 7;
  struct Row {
    u32 line;
    i64 want;
  } rows[] = {
      {2, 0xA0B0C0}, {3, 0x80}, {4, static_cast<i32>(0x80A0B0C0u)}, {5, -1}, {6, 0x223344}, {7, 0xFFFFFF},
      {8, -1},       {10, -1},
  };
  for (const Row& r : rows) {
    VarSetNumElement(1000, 0, 77);
    RunAll(r.line, r.line);
    EXPECT_EQ(VarGetIntElement(1000, 0), r.want) << "line " << r.line;
  }
  // Opaque white through the whole-pixel read is -1, as is "no pixel".
  p->x = 2;
  VarSetNumElement(1000, 0, 77);
  RunAll(5, 5);
  EXPECT_EQ(VarGetIntElement(1000, 0), -1);
  g_WindowObjects[0]->cursor_x = -1;
  RunAll(2, 2);
  EXPECT_EQ(VarGetIntElement(1000, 0), -1) << "outside the game screen";
  EXPECT_EQ(w.Run(9), -1);
  EXPECT_TRUE(TestRaised(101295));
}

TEST_F(LayerCmdTest, AlphaBoundingBoxEdges) {
  Load(
      "global int r\n*SYSTEM_START\nlayer name='W0/p', file='', order=1\n"
      "layer_info name='W0/p', bounds=1, x_at=1, result=r\nlayer_info name='W0/p', bounds=1, x_at=2, result=r\n"
      "layer_info name='W0/p', bounds=1, x_at=3, result=r\nlayer_info name='W0/p', bounds=1, x_at=4, result=r\n"
      "layer_info name='W0/p', bounds=1, x_at=5, result=r\n");
  RunAll(0, 0);
  LayerRecord* p = LayerOf(Node("W0/p"));
  p->pixels = ImageAllocPixels(p->pixels, 7, 5, nullptr);
  p->width = 7;
  p->height = 5;
  std::memset(p->pixels, 0, 7 * 5 * 4);
  auto alpha = [&](i32 x, i32 y) { p->pixels[(y * 7 + x) * 4 + 3] = 9; };
  for (i32 edge = 1; edge <= 5; edge++) {
    RunAll(edge, edge);
    EXPECT_EQ(VarGetIntElement(1000, 0), edge == 5 ? 0 : -1) << "no visible pixel, edge " << edge;
  }
  alpha(4, 1);
  alpha(2, 3);
  alpha(5, 3);
  const i64 want[] = {1, 3, 2, 5, 0};
  for (i32 edge = 1; edge <= 5; edge++) {
    RunAll(edge, edge);
    EXPECT_EQ(VarGetIntElement(1000, 0), want[edge - 1]) << "edge " << edge;
  }
}
