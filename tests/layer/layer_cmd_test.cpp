// Command 1 from compiled lines: every numeric parameter under every operator on a layer made by
// the same line and on one that exists, names with numbers, sharing, folders, pictures, the
// canvas change, alpha from another layer and the command's errors.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "layer_cmd_fixture.h"
#include "platform/input.h"
#include "shell/startup.h"

namespace {

// How a parameter's operator result is bounded, written out from the command's rules.
enum Rule { PLAIN, CLAMP, MIN1, RAW_U8, RAW_I16 };

struct ParamCase {
  const char* name;
  Rule rule;
  i64 low, high;
  std::function<i64(const LayerRecord*, const ObjNode*)> get;
};

i64 Model(Rule rule, i64 low, i64 high, const char* op, i64 cur, i64 arg) {
  std::string o = op;
  if (rule == RAW_U8) return static_cast<u8>(arg);
  if (rule == RAW_I16) return static_cast<i16>(static_cast<u16>(arg));
  i64 v = cur;
  if (o == "=") v = arg;
  else if (o == "+=") v = cur + arg;
  else if (o == "-=") v = cur - arg;
  else if (o == "*=") v = cur * arg;
  else if (o == "/=") {
    if (arg == 0) return cur;
    v = cur / arg;
  }
  if (rule == CLAMP) {
    if ((o == "+=" || o == "*=" || o == "/=") && v > high) v = high;
    if ((o == "-=" || o == "*=" || o == "/=") && v < low) v = low;
  }
  if (rule == MIN1 && (o == "-=" || o == "*=" || o == "/=") && v < 1) v = 1;
  return v;
}

const std::vector<ParamCase>& Params() {
  static const std::vector<ParamCase> cases = {
      {"opacity", CLAMP, 0, 256, [](const LayerRecord* r, const ObjNode*) { return i64{r->pending_opacity}; }},
      {"x", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->x; }},
      {"y", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->y; }},
      {"x100", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->x100; }},
      {"y100", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->y100; }},
      {"order", MIN1, 1, 0, [](const LayerRecord*, const ObjNode* n) { return n->order; }},
      {"scale_x", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->scale_x; }},
      {"scale_y", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->scale_y; }},
      {"rot_x", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return static_cast<i64>(r->rot_x); }},
      {"rot_y", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return static_cast<i64>(r->rot_y); }},
      {"rot_z", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return static_cast<i64>(r->rot_z); }},
      {"gpu1", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->gpu_transform[0]; }},
      {"gpu3", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->gpu_transform[2]; }},
      {"gpu5", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->gpu_transform[4]; }},
      {"saturation", CLAMP, 0, 256, [](const LayerRecord* r, const ObjNode*) { return i64{r->saturation}; }},
      {"tone", CLAMP, 0, 16777216, [](const LayerRecord* r, const ObjNode*) { return i64{r->tone}; }},
      {"layer2_amount", CLAMP, 0, 256, [](const LayerRecord* r, const ObjNode*) { return i64{r->second_amount}; }},
      {"keep_buffer", CLAMP, 0, 1, [](const LayerRecord* r, const ObjNode*) { return i64{r->keep_buffer}; }},
      {"mask_progress", CLAMP, 0, 256, [](const LayerRecord* r, const ObjNode*) { return i64{r->mask_progress}; }},
      {"mask_soft", RAW_I16, 0, 0, [](const LayerRecord* r, const ObjNode*) { return i64{r->mask_softness}; }},
      {"visible", RAW_U8, 0, 0, [](const LayerRecord* r, const ObjNode*) { return i64{r->pending_visible}; }},
      {"layer2_mode", RAW_U8, 0, 0, [](const LayerRecord* r, const ObjNode*) { return i64{r->second_mode}; }},
      {"user1", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->user_value1; }},
      {"user2", PLAIN, 0, 0, [](const LayerRecord* r, const ObjNode*) { return r->user_value2; }},
  };
  return cases;
}

const char* const kOps[] = {"=", "+=", "-=", "*=", "/="};
const i64 kArgs[] = {300, -3, 0, 2};

// Values that keep an unsigned field's stored value in range for the model.
bool Representable(const ParamCase& p, i64 v) {
  std::string n = p.name;
  if (n == "tone") return v >= 0 && v <= 0xFFFFFFFFll;
  if (n == "layer2_amount") return v >= 0 && v <= 0xFFFF;
  if (n == "keep_buffer") return v >= 0 && v <= 0xFF;
  if (n == "opacity" || n == "mask_progress") return v >= INT16_MIN && v <= INT16_MAX;
  return true;
}

}  // namespace

TEST_F(LayerCmdTest, EveryParameterUnderEveryOperatorOnNewAndExistingLayers) {
  for (const ParamCase& p : Params()) {
    SCOPED_TRACE(p.name);
    // Line 0 makes a reference layer: a new layer's base values are its defaults.
    std::string text = "*SYSTEM_START\nlayer name='W0/ref', file='', order=1\n";
    struct Expect {
      std::string layer;
      bool fresh;
      const char* op;
      i64 arg;
    };
    std::vector<Expect> expects;
    const i64 initial = p.rule == MIN1 ? 40 : 100;
    i32 k = 0;
    for (const char* op : kOps) {
      for (i64 arg : kArgs) {
        std::string e = "W0/e" + std::to_string(k), n = "W0/n" + std::to_string(k);
        k++;
        text += "layer name='" + e + "', file='', order=2\n";
        text += "layer name='" + e + "', " + p.name + " = " + std::to_string(initial) + "\n";
        text += "layer name='" + e + "', " + p.name + " " + op + " " + std::to_string(arg) + "\n";
        if (std::string(p.name) == "order")
          text += "layer name='" + n + "', file='', order " + op + " " + std::to_string(arg) + "\n";
        else
          text += "layer name='" + n + "', file='', order=3, " + p.name + " " + op + " " + std::to_string(arg) + "\n";
        expects.push_back({e, false, op, arg});
        expects.push_back({n, true, op, arg});
      }
    }
    Load(text);
    u32 lines = 1 + 4 * static_cast<u32>(std::size(kOps) * std::size(kArgs));
    for (u32 i = 0; i < lines; i++) {
      i32 r = w.Run(i);
      // order = 0 on a new layer is kept as given; order -1 never comes up with these values.
      ASSERT_EQ(r, 0) << "line " << i << " " << g_ErrLastText;
    }
    ObjNode* ref = Node("W0/ref");
    ASSERT_NE(ref, nullptr);
    for (const Expect& e : expects) {
      SCOPED_TRACE(e.layer + " " + e.op + " " + std::to_string(e.arg));
      ObjNode* node = Node(e.layer.c_str());
      ASSERT_NE(node, nullptr);
      // Opacity's base is the current opacity, not a pending one: the initial value is still
      // pending, so the existing layer's base is its default too.
      i64 cur = e.fresh ? (p.rule == MIN1 ? 1 : p.get(LayerOf(ref), ref)) : initial;
      if (std::string(p.name) == "opacity") cur = LayerOf(ref)->opacity;
      i64 want = Model(p.rule, p.low, p.high, e.op, cur, e.arg);
      if (!Representable(p, want)) continue;
      EXPECT_EQ(p.get(LayerOf(node), node), want);
    }
    w.Close();
    SysObjReset();
    ASSERT_EQ(SysCreateRoots(), 0);
  }
}

TEST_F(LayerCmdTest, PositionsKeepPixelsAndHundredthsTogether) {
  Load(
      "*SYSTEM_START\nlayer name='W0/a', file='', order=1, x=5, y=-7\nlayer name='W0/a', x100=199, y100=-199\n"
      "layer name='W0/a', x += 3\n");
  RunAll(0, 0);
  LayerRecord* r = LayerOf(Node("W0/a"));
  EXPECT_EQ(r->x100, 500);
  EXPECT_EQ(r->y100, -700);
  RunAll(1, 1);
  EXPECT_EQ(r->x, 1);
  EXPECT_EQ(r->y, -1) << "truncated toward zero";
  RunAll(2, 2);
  EXPECT_EQ(r->x, 4);
  EXPECT_EQ(r->x100, 400);
}

TEST_F(LayerCmdTest, OpacityAddKeepsTheNegativeValueAndCompositionTreatsItAsHidden) {
  Load(
      "global int r = 5\n*SYSTEM_START\nlayer name='W0/a', file='', order=1, width=4, height=4\n"
      "layer name='W0/a', opacity += -300\nlayer_info name='W0/a', opacity=1, result=r\n");
  ASSERT_EQ(w.Run(0), 0);
  LayerRecord* r = LayerOf(Node("W0/a"));
  ASSERT_EQ(r->width, 4);
  TestFillSolid(r, 0xFF00FF00u);
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(r->pending_opacity, -44) << "add clamps only at the top";
  LayerCommitChanges(g_LayerRoot);
  EXPECT_EQ(r->opacity, -44);
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), -44) << "the query returns the stored value";
  TestMarkAllWhole(RootNode());
  ASSERT_EQ(LayerComposeTree(RootNode(), 0, 0), 0);
  EXPECT_EQ(TestPixel(Root(), 1, 1), 0u) << "a negative opacity draws nothing";
}

TEST_F(LayerCmdTest, NumberNamesTheLayerAndGivesItsOrder) {
  Load(
      "*SYSTEM_START\nlayer name='W0/bg', num=3, file=''\nlayer name='W0/bg', num=4, file='', order=7\n"
      "layer name='W0/bg', num=4, order -= 100\n");
  RunAll(0, 1);
  ASSERT_NE(Node("W0/bg.3"), nullptr);
  EXPECT_EQ(Node("W0/bg.3")->order, 3);
  EXPECT_EQ(Node("W0/bg.4")->order, 7);
  EXPECT_EQ(Node("W0/bg"), nullptr);
  RunAll(2, 2);
  EXPECT_EQ(Node("W0/bg.4")->order, 1) << "subtract is raised to 1";
  EXPECT_EQ(RootNode()->first_child, Node("W0/bg.4")) << "re-inserted among its siblings";
}

TEST_F(LayerCmdTest, MissingLayersAndOrderErrors) {
  Load(
      "*SYSTEM_START\nlayer name='W0/none', x=4\nlayer name='W0/p', file=''\nlayer name='W0/b', share='W0/gone', "
      "order=2\n"
      "layer name='W0/f/', width=10, height=10\nlayer name='W0/f/', file='', order=1\n"
      "layer name='W0/sp ace', file='', order=1\n");
  g_CmdFlags[1] = 0;
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(Node("W0/none"), nullptr);
  EXPECT_FALSE(g_ErrLastText.size());
  g_CmdFlags[1] = 1;
  EXPECT_EQ(w.Run(0), -1);
  EXPECT_TRUE(TestRaised(101230));
  EXPECT_NE(g_ErrLastText.find("W0/none"), std::string::npos);
  EXPECT_EQ(w.Run(1), -1);
  EXPECT_TRUE(TestRaised(100240));
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_TRUE(TestRaised(101250));
  EXPECT_EQ(Node("W0/b"), nullptr) << "no empty node stays behind";
  EXPECT_EQ(w.Run(3), 0) << "a folder without an order value is not made";
  EXPECT_EQ(FolderNode("W0/f"), nullptr);
  EXPECT_EQ(w.Run(4), -1);
  EXPECT_TRUE(TestRaised(101280));
  EXPECT_EQ(w.Run(5), -1);
  EXPECT_TRUE(TestRaised(100242));
}

TEST_F(LayerCmdTest, SharedRecordChangesThroughEitherName) {
  Load(
      "*SYSTEM_START\nlayer name='W0/a', file='', order=1\nlayer name='W0/b', share='W0/a', order=2\n"
      "layer name='W0/b', x=9\nlayer_delete name='W0/a'\n");
  RunAll(0, 2);
  LayerRecord* a = LayerOf(Node("W0/a"));
  ASSERT_EQ(a, LayerOf(Node("W0/b")));
  EXPECT_EQ(a->ref_count, 2);
  EXPECT_EQ(a->x, 9);
  RunAll(3, 3);
  EXPECT_EQ(Node("W0/a"), nullptr);
  ASSERT_EQ(LayerOf(Node("W0/b")), a);
  EXPECT_EQ(a->ref_count, 1);
  EXPECT_TRUE(LayerHasPixels(a));
}

TEST_F(LayerCmdTest, PictureFilesLoadThroughTheFileSources) {
  AddFile("a.bmp", PACK_TYPE_BMP, Bmp32(3, 2, [](i32 x, i32 y) { return 0x80000000u | (x * 40) | (y * 40) << 8; }));
  AddFile("noise.bmp", PACK_TYPE_WAV, {1, 2, 3});
  Load(
      "*SYSTEM_START\nlayer name='W0/a', file='a.bmp', order=1\nlayer name='W0/m', file='missing', order=2\n"
      "layer name='W0/s', file='Noise.bmp', order=3\n");
  RunAll(0, 1);
  LayerRecord* a = LayerOf(Node("W0/a"));
  ASSERT_EQ(a->width, 3);
  ASSERT_EQ(a->height, 2);
  EXPECT_EQ(a->has_alpha, 1);
  EXPECT_EQ(TestPixel(a, 2, 1), 0x80000000u | 80 | 40 << 8);
  EXPECT_STREQ(a->source_name, "a.bmp");
  LayerRecord* m = LayerOf(Node("W0/m"));
  EXPECT_EQ(m->width, 1);
  EXPECT_EQ(TestPixel(m, 0, 0), g_ImageFillColour) << "a missing file gives the empty picture";
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_TRUE(TestRaised(100030));
  EXPECT_NE(g_ErrLastText.find("Noise.bmp"), std::string::npos) << "the name as the script gave it";
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

TEST_F(LayerCmdTest, CanvasChangeCropsAndExtendsWithOpaqueBlack) {
  AddFile("p.bmp", PACK_TYPE_BMP, Bmp32(4, 4, [](i32 x, i32 y) { return 0xFF000000u | (y * 4 + x + 1); }));
  Load(
      "*SYSTEM_START\nlayer name='W0/p', file='p.bmp', order=1\nlayer name='W0/p', file='p.bmp', width=6, height=2\n"
      "layer name='W0/p', width=6, height=2\nlayer name='W0/p', file='p.bmp', width=6\n"
      "layer name='W0/p', file='p.bmp', width=0, height=3\nlayer name='W0/p', file='p.bmp', width=2, height=5\n");
  RunAll(0, 1);
  LayerRecord* r = LayerOf(Node("W0/p"));
  ASSERT_EQ(r->width, 6);
  ASSERT_EQ(r->height, 2);
  for (i32 y = 0; y < 2; y++)
    for (i32 x = 0; x < 6; x++)
      EXPECT_EQ(TestPixel(r, x, y), x < 4 ? 0xFF000000u | (y * 4 + x + 1) : 0xFF000000u) << x << "," << y;
  EXPECT_EQ(w.Run(2), -1);
  EXPECT_TRUE(TestRaised(100244));
  EXPECT_EQ(w.Run(3), -1);
  EXPECT_TRUE(TestRaised(100243));
  EXPECT_EQ(w.Run(4), -1);
  EXPECT_TRUE(TestRaised(101010)) << "sizes below 1 are refused";
  EXPECT_EQ(r->width, 4) << "the picture was reloaded before the refusal";
  RunAll(5, 5);
  ASSERT_EQ(r->width, 2);
  ASSERT_EQ(r->height, 5);
  for (i32 y = 0; y < 5; y++)
    for (i32 x = 0; x < 2; x++)
      EXPECT_EQ(TestPixel(r, x, y), y < 4 ? 0xFF000000u | (y * 4 + x + 1) : 0xFF000000u) << x << "," << y;
}

TEST_F(LayerCmdTest, FoldersAreMadeResizedAndRecomposedAtOnce) {
  Load(
      "*SYSTEM_START\nlayer name='W0/f/', width=8, height=6, order=1, x=2\nlayer name='W0/f/c', file='', order=1\n"
      "layer name='W0/f/', width=12\nlayer name='W0/f/', height=0\nlayer name='W0/f/', height=3\n");
  RunAll(0, 1);
  ObjNode* f = FolderNode("W0/f");
  ASSERT_NE(f, nullptr);
  LayerRecord* fr = LayerOf(f);
  EXPECT_EQ(fr->width, 8);
  EXPECT_EQ(fr->x, 2);
  LayerRecord* c = LayerOf(Node("W0/f/c"));
  ASSERT_NE(c, nullptr);
  // A child picture the folder must show right after the resize, with no frame in between.
  c->pixels = ImageAllocPixels(c->pixels, 3, 2, nullptr);
  c->width = 3;
  c->height = 2;
  TestFillSolid(c, 0xFF112233u);
  c->x = 9;
  c->y = 1;
  RunAll(2, 2);
  EXPECT_EQ(fr->width, 12);
  std::vector<u8> model = TestModelCompose(f);
  model.resize(12 * 6 * 4);
  EXPECT_EQ(TestPictureOf(fr), model);
  EXPECT_EQ(TestPixel(fr, 10, 2), 0xFF112233u);
  RunAll(3, 4);
  EXPECT_EQ(fr->height, 3);
  EXPECT_EQ(TestPixel(fr, 9, 1), 0xFF112233u);
  EXPECT_EQ(TestPixel(fr, 8, 1), 0u);
}

TEST_F(LayerCmdTest, AlphaFromAnotherLayersBlueChannel) {
  AddFile("c.bmp", PACK_TYPE_BMP, Bmp32(2, 2, [](i32, i32) { return 0xFF405060u; }));
  AddFile("m.bmp", PACK_TYPE_BMP, Bmp32(2, 2, [](i32 x, i32 y) { return 0xFF000000u | (x * 100 + y * 10 + 5); }));
  AddFile("big.bmp", PACK_TYPE_BMP, Bmp32(3, 2, [](i32, i32) { return 0xFF0000FFu; }));
  Load(
      "*SYSTEM_START\nlayer name='W0/m', file='m.bmp', order=1\nlayer name='W0/big', file='big.bmp', order=2\n"
      "layer name='W0/c', file='c.bmp', order=3, alpha_from='W0/m'\nlayer name='W0/c', alpha_from='W0/none'\n"
      "layer name='W0/c', alpha_from='W0/big'\n");
  RunAll(0, 3);
  LayerRecord* c = LayerOf(Node("W0/c"));
  EXPECT_EQ(c->has_alpha, 1);
  for (i32 y = 0; y < 2; y++)
    for (i32 x = 0; x < 2; x++) EXPECT_EQ(TestPixel(c, x, y), (u32(x * 100 + y * 10 + 5) << 24) | 0x405060u);
  EXPECT_EQ(g_QuitRequested.load(), 0);
  EXPECT_EQ(w.Run(4), -1);
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

TEST_F(LayerCmdTest, MaskNamesBlendAndSecondLayerName) {
  Load(
      "*SYSTEM_START\nlayer name='W0/a', file='', order=1, mask='rule', mask_num=2, blend=5, layer2='W0/x'\n"
      "layer name='W0/a', mask='plain'\n");
  RunAll(0, 0);
  LayerRecord* r = LayerOf(Node("W0/a"));
  EXPECT_STREQ(r->mask_name, "rule.2") << "copied as it stands, not resolved";
  EXPECT_EQ(r->blend_mode, 5);
  EXPECT_STREQ(r->second_name, "W0/x");
  RunAll(1, 1);
  EXPECT_STREQ(r->mask_name, "plain");
}

TEST_F(LayerCmdTest, DirectDrawingParametersWaitForTheGpu) {
  Load(
      "*SYSTEM_START\nlayer name='W0/a', file='', order=1, gpu=1, tile=3, readback=1\nlayer name='W0/a', readback=0\n");
  RunAll(0, 0);
  EXPECT_EQ(LayerOf(Node("W0/a"))->draw_kind, LAYER_DRAW_CPU) << "no GPU in use";
  EXPECT_EQ(g_D3dReadbackNode, Node("W0/a"));
  RunAll(1, 1);
  EXPECT_EQ(g_D3dReadbackNode, nullptr);
}

TEST(ArgOps, OperatorsAndTheirBounds) {
  struct Row {
    u32 op;
    i64 cur, arg, plain, clamped, min;  // clamped over 0..256, min over 1
  } rows[] = {
      {0, 10, 300, 300, 300, 300}, {1, 256, -300, -44, -44, -44}, {1, 200, 100, 300, 256, 300},
      {2, 256, 300, -44, 0, 1},    {2, 10, -300, 310, 310, 310},  {3, 10, 30, 300, 256, 300},
      {3, 10, -3, -30, 0, 1},      {4, 10, 0, 10, 10, 10},        {4, -7, 2, -3, 0, 1},
      {4, 500, 1, 500, 256, 500},  {9, 10, 5, 10, 10, 10},        {4, INT64_MIN, -1, INT64_MIN, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.op << " " << r.cur << " " << r.arg);
    EXPECT_EQ(ArgApplyOpInt64(r.op, r.cur, r.arg), r.plain);
    EXPECT_EQ(ArgApplyOpClamped(r.op, r.cur, r.arg, 0, 256), r.clamped);
    EXPECT_EQ(ArgApplyOpMin(r.op, r.cur, r.arg, 1), r.min);
  }
  EXPECT_EQ(ArgApplyOpClamped(4, 900, 0, 0, 256), 900) << "a zero divisor keeps even an out-of-range value";
}

TEST_F(LayerCmdTest, CursorFromALayerPicture) {
  AddFile("c.bmp", PACK_TYPE_BMP, Bmp32(3, 2, [](i32 x, i32 y) { return 0xFF000000u | (y * 3 + x); }));
  Load(
      "*SYSTEM_START\nlayer name='W0/c', file='c.bmp', order=1\ncursor hot_x=1, hot_y=9, layer='W0/c'\n"
      "cursor layer='W0/none'\n");
  PlatInputReset();
  RunAll(0, 1);
  i32 cw = 0, ch = 0, hx = 0, hy = 0;
  const u8* px = PlatInputCursorImage(&cw, &ch, &hx, &hy);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(cw, 3);
  EXPECT_EQ(ch, 2);
  EXPECT_EQ(hx, 1);
  EXPECT_EQ(hy, 1) << "the hot spot stays inside the picture";
  EXPECT_EQ(std::vector<u8>(px, px + 24), TestPictureOf(LayerOf(Node("W0/c"))));
  EXPECT_EQ(PlatInputCursorShape(), PLAT_CURSOR_IMAGE);
  RunAll(2, 2);
  EXPECT_EQ(PlatInputCursorShape(), PLAT_CURSOR_IMAGE) << "a missing layer leaves the cursor";
  PlatInputReset();
}

TEST_F(LayerCmdTest, OversizedFoldersAndDamagedPicturesStopCleanly) {
  std::vector<u8> bad = Bmp32(8, 8, [](i32, i32) { return 0xFF102030u; });
  bad.resize(bad.size() - 40);  // pixel rows cut short
  AddFile("bad.bmp", PACK_TYPE_BMP, bad);
  AddFile("ok.bmp", PACK_TYPE_BMP, Bmp32(5, 4, [](i32, i32) { return 0xFF102030u; }));
  Load(
      "*SYSTEM_START\nlayer name='W0/f/', width=8, height=6, order=1\nlayer name='W0/f/', width=9000\n"
      "layer name='W0/p', file='ok.bmp', order=2\nlayer name='W0/p', file='bad.bmp'\n");
  RunAll(0, 0);
  LayerRecord* f = LayerOf(FolderNode("W0/f"));
  EXPECT_EQ(w.Run(1), -1);
  EXPECT_NE(g_ErrLastText.find(PlatUtf8ToSjis("メモリ不足")), std::string::npos) << "error 100010";
  EXPECT_EQ(f->width, 8) << "the folder keeps a size its buffer holds";
  RunAll(2, 2);
  g_QuitRequested = 0;
  EXPECT_EQ(w.Run(3), -1);
  EXPECT_EQ(g_QuitRequested.load(), 1);
  LayerRecord* p = LayerOf(Node("W0/p"));
  ASSERT_TRUE(LayerHasPixels(p));
  // Whatever the failed load left, the record describes its own buffer: composing reads it whole.
  TestMarkAllWhole(RootNode());
  EXPECT_EQ(LayerComposeTree(RootNode(), 0, 0), 0);
}
