// Command 2 from compiled lines: which operation a line runs, the layers it resolves and makes,
// the new size, the values it evaluates and every refusal of its checks.
#include <gtest/gtest.h>

#include <functional>

#include "layer/font.h"
#include "layer/layer_edit.h"
#include "layer_cmd_fixture.h"

namespace {

struct LayerEditTest : LayerCmdTest {
  // "W0/a": an 8 x 6 picture of noise; "W0/f/": a 4 x 4 folder holding "W0/f/c", all white.
  void Scene(const std::string& lines) {
    Load(
        "*SYSTEM_START\nlayer name='W0/a', file='', order=1, width=8, height=6\n"
        "layer name='W0/f/', order=2, width=4, height=4\nlayer name='W0/f/c', file='', order=1, width=4, height=4\n" +
        lines);
    TestErrTextsWithArgs({100010, 100242, 101000, 101281, 101282, 101283, 101284, 101291, 101296, 101297, 101298});
    RunAll(0, 1);
    TestFillNoise(LayerOf(Node("W0/a")), 5);
    ASSERT_EQ(w.Run(2), 0);
    TestFillSolid(LayerOf(Node("W0/f/c")), 0xFFFFFFFFu);
    LayerRecord* a = LayerOf(Node("W0/a"));
    a->has_alpha = 0;
    a->opacity = 99;
    noise.assign(reinterpret_cast<u32*>(a->pixels), reinterpret_cast<u32*>(a->pixels) + 48);
  }
  std::vector<u32> noise;  // W0/a's pixels
};

TEST_F(LayerEditTest, EachLineRunsItsFirstOperationOrIsRefused) {
  struct Case {
    const char* line;
    i32 result;
    i32 error;         // 0: none raised
    const char* args;  // the error's arguments as the text shows them ("" to skip)
    std::function<void(LayerEditTest*)> check;
  } const cases[] = {
      {"layer_edit src='W0/none', dst='W0/b', new_w=2, new_h=2, resize_nearest=1", 0, 0, "",
       [](LayerEditTest* t) { EXPECT_EQ(t->Node("W0/b"), nullptr) << "a missing source: nothing at all"; }},
      // A resize wins over a rotation and an effect; an effect over a blit.
      {"layer_edit src='W0/a', dst='W0/b', new_w=3, new_h=2, rotate=1, saturation=1, resize_bicubic=1, value=45", 0, 0,
       "",
       [](LayerEditTest* t) {
         LayerRecord* b = LayerOf(t->Node("W0/b"));
         ASSERT_NE(b, nullptr);
         EXPECT_EQ(b->width, 3);
         EXPECT_EQ(b->height, 2);
         EXPECT_EQ(LayerOf(t->Node("W0/a"))->width, 8);
       }},
      {"layer_edit src='W0/a', dst='W0/b', rotate=1, saturation=1, value=90", 0, 0, "",
       [](LayerEditTest* t) {
         LayerRecord* b = LayerOf(t->Node("W0/b"));
         ASSERT_TRUE(LayerHasPixels(b));
         EXPECT_EQ(b->width, 8);
         EXPECT_EQ(b->has_alpha, 1);
       }},
      {"layer_edit src='W0/a', saturation=1, blit=1", 0, 0, "", nullptr},
      // The new size: pixels or hundredths, each side in 1..8192 pixels; the error names the
      // pixel parameter either way.
      {"layer_edit src='W0/a', dst='W0/b', resize_nearest=1", -1, 101000, "|new_w|0|1|8192", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', new_w100=50, new_h=3, resize_sinc=1", -1, 101000, "|new_w|0|1|8192",
       nullptr},
      {"layer_edit src='W0/a', dst='W0/b', new_w=2, new_h100=819300, resize_threaded=1", -1, 101000,
       "|new_h|8193|1|8192", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', new_w100=1000000000000000, new_h=2, resize_nearest=1", -1, 101000, "",
       nullptr},
      {"layer_edit src='W0/a', dst='W0/b', new_w=8193, new_h=1, resize_nearest=1", -1, 101000, "|new_w|8193|1|8192",
       nullptr},
      {"layer_edit src='W0/a', dst='W0/b', new_w=8192, new_h=1, resize_bilinear=1", 0, 0, "",
       [](LayerEditTest* t) { EXPECT_EQ(LayerOf(t->Node("W0/b"))->width, 8192); }},
      {"layer_edit src='W0/a', dst='W0/b', new_w100=199, new_h100=100, resize_bicubic=7", 0, 0, "",
       [](LayerEditTest* t) {
         EXPECT_EQ(LayerOf(t->Node("W0/b"))->width, 1) << "hundredths truncated; any own value is filter 31";
       }},
      // Values: evaluated by the command, compared unsigned against the operation's bound.
      {"layer_edit src='W0/a', saturation=1, value=256", 0, 0, "", nullptr},
      {"layer_edit src='W0/a', saturation=1, value=200 + 57", -1, 101000, "|value|257|0|256", nullptr},
      {"layer_edit src='W0/a', flip=1, value=-1", -1, 101000, "|value|-1|0|1", nullptr},
      {"layer_edit src='W0/a', trim=1, value=16", -1, 101000, "|value|16|0|15", nullptr},
      {"layer_edit src='W0/a', fill=1, value=4294967296", -1, 101000, "", nullptr},
      {"layer_edit src='W0/a', fill=1, value=4294967295", 0, 0, "", nullptr},
      {"layer_edit src='W0/a', font=8", -1, 101000, "|font|8|0|7", nullptr},
      // Rectangles refused.
      {"layer_edit src='W0/a', rotate=1, x1=1, value=90", -1, 101282, "", nullptr},
      {"layer_edit src='W0/a', mosaic=1, y2=3", -1, 101283, "", nullptr},
      {"layer_edit src='W0/a', scatter=1, x2=3", -1, 101284, "", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', swap=1, y1=0", -1, 101281, "", nullptr},
      // Further layers: made at once, never as folders; a layer left out between named ones is not
      // resolved, and an operation that needs it is refused.
      {"layer_edit src='W0/a', dst='W0/g/'", -1, 101291, "|W0/g", nullptr},
      {"layer_edit src='W0/a', blit=1", -1, 101298, "", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', crossfade=1", -1, 101298, "", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', layer3='W0/d', rule=1", -1, 101298, "",
       [](LayerEditTest* t) {
         EXPECT_NE(t->Node("W0/b"), nullptr);
         EXPECT_NE(t->Node("W0/d"), nullptr);
       }},
      {"layer_edit src='W0/a', layer2='W0/x', layer3='W0/y', rule=1", -1, 101298, "", nullptr},
      {"layer_edit src='W0/a', copy=1", -1, 101296, "", nullptr},
      {"layer_edit src='W0/a', swap2=1", -1, 101297, "", nullptr},
      {"layer_edit src='W0/a', dst='W0/b', dst_num=3, layer2='W0/c'", 0, 0, "",
       [](LayerEditTest* t) {
         LayerRecord* b = LayerOf(t->Node("W0/b.3"));
         ASSERT_NE(b, nullptr);
         EXPECT_EQ(t->Node("W0/b.3")->order, 1);
         EXPECT_FALSE(LayerHasPixels(b)) << "a fresh record without pixels";
         EXPECT_NE(t->Node("W0/c"), nullptr);
       }},
      // Resizing in place, from a folder made current first, a rotation by an expression.
      {"layer_edit src='W0/a', new_w=5, new_h=4, resize_threaded=1", 0, 0, "",
       [](LayerEditTest* t) { EXPECT_EQ(LayerOf(t->Node("W0/a"))->width, 5); }},
      {"layer_edit src='W0/f/', dst='W0/b', new_w=2, new_h=2, resize_nearest=1", 0, 0, "",
       [](LayerEditTest* t) { EXPECT_EQ(TestPixel(LayerOf(t->Node("W0/b")), 1, 1), 0xFFFFFFFFu); }},
      {"layer_edit src='W0/a', dst='W0/b', rotate=2, value=100 * 9 - 720", 0, 0, "",
       [](LayerEditTest* t) {
         const LayerRecord* a = LayerOf(t->Node("W0/a"));
         const LayerRecord* b = LayerOf(t->Node("W0/b"));
         EXPECT_EQ(TestPixel(b, 0, 0), TestPixel(a, 7, 5)) << "180 degrees";
       }},
      {"layer_edit src='W0/a', font=3, draw_text=1, text='x'", 0, 0, "",
       [](LayerEditTest*) { EXPECT_EQ(g_FontCurrentSlot, 0) << "slot 0 again at the end"; }},
      // The operations' own refusals and limits.
      {"layer_edit src='W0/a', brightness=1, value=-1", -1, 101000, "|value|-1|0|256", nullptr},
      {"layer_edit src='W0/a', threshold=1, value=257", -1, 101000, "|value|257|0|256", nullptr},
      {"layer_edit src='W0/a', layer2='W0/c', crossfade=1", -1, 101298, "", nullptr},
      {"layer_edit src='W0/a', same=1", -1, 101298, "", nullptr},
      {"layer_edit src='W0/a', move=1", -1, 101296, "", nullptr},
      {"layer_edit src='W0/a', draw_text=1", -1, 0, "", nullptr},
      {"layer_edit src='W0/a', canvas=1, x1=-5, x2=-3", -1, 0, "",
       [](LayerEditTest* t) { EXPECT_EQ(LayerOf(t->Node("W0/a"))->width, 8) << "a size below 1 is refused"; }},
      {"layer_edit src='W0/a', canvas=1, x2=8185", -1, 100010, "", nullptr},
      {"layer_edit src='W0/a', canvas=1, x1=4611686018427387904, x2=4611686018427387904", -1, 100010, "", nullptr},
      // Canvas margins: negative ones cut, the right and bottom default to width - 1 and height - 1.
      {"layer_edit src='W0/a', canvas=1, x1=-3, x2=0, y1=0, y2=-1", 0, 0, "",
       [](LayerEditTest* t) {
         const LayerRecord* a = LayerOf(t->Node("W0/a"));
         ASSERT_EQ(a->width, 5);
         ASSERT_EQ(a->height, 5);
         EXPECT_EQ(TestPixel(a, 0, 0), t->noise[3]);
         EXPECT_EQ(a->has_alpha, 0) << "no margin added";
       }},
      {"layer_edit src='W0/a', dst='W0/b', canvas=1, x1=1, y1=2", 0, 0, "",
       [](LayerEditTest* t) {
         const LayerRecord* b = LayerOf(t->Node("W0/b"));
         ASSERT_EQ(b->width, 1 + 8 + 7);
         ASSERT_EQ(b->height, 2 + 6 + 5);
         EXPECT_EQ(TestPixel(b, 1, 2), t->noise[0]);
         EXPECT_EQ(TestPixel(b, 0, 0), g_ImageFillColour);
         EXPECT_EQ(TestPixel(b, 15, 12), g_ImageFillColour);
         EXPECT_EQ(b->has_alpha, 1);
         EXPECT_EQ(LayerOf(t->Node("W0/a"))->width, 8);
       }},
      // Exchanges: each name finds the other picture; the second variant also swaps the look.
      {"layer_edit src='W0/a', dst='W0/b', swap=1", 0, 0, "",
       [](LayerEditTest* t) {
         EXPECT_EQ(TestPixel(LayerOf(t->Node("W0/b")), 0, 0), t->noise[0]);
         EXPECT_FALSE(LayerHasPixels(LayerOf(t->Node("W0/a"))));
         EXPECT_EQ(LayerOf(t->Node("W0/b"))->opacity, 99) << "the first variant leaves the look";
       }},
      {"layer_edit src='W0/a', dst='W0/b', swap2=1", 0, 0, "",
       [](LayerEditTest* t) {
         EXPECT_EQ(LayerOf(t->Node("W0/b"))->width, 8);
         EXPECT_EQ(LayerOf(t->Node("W0/a"))->opacity, 99) << "the look stays with the name";
         EXPECT_FALSE(LayerHasPixels(LayerOf(t->Node("W0/a"))));
       }},
      // Text does not end the command: the blit after it runs too.
      {"layer_edit src='W0/a', dst='W0/b', draw_text=1, text='ab', blit=1", 0, 0, "",
       [](LayerEditTest* t) {
         EXPECT_EQ(LayerOf(t->Node("W0/a"))->has_alpha, 1);
         EXPECT_EQ(LayerOf(t->Node("W0/b"))->has_alpha, 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Scene(std::string(c.line) + "\n");
    g_ErrLastText.clear();
    EXPECT_EQ(w.Run(3), c.result) << g_ErrLastText;
    if (c.error == ERR_OUT_OF_MEMORY) {
      // The engine's own text for the size error, after the size message.
      EXPECT_EQ(g_ErrLastText.rfind(PlatUtf8ToSjis("メモリ不足です。"), 0), 0u) << g_ErrLastText;
    } else if (c.error) {
      EXPECT_TRUE(TestRaised(c.error)) << g_ErrLastText;
      if (c.args[0]) {
        EXPECT_NE(g_ErrLastText.find(c.args), std::string::npos) << g_ErrLastText;
      }
    } else {
      EXPECT_EQ(g_ErrLastText, "");
    }
    if (c.check) c.check(this);
    TearDown();
    SetUp();
  }
}

}  // namespace
