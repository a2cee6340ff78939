#include <gtest/gtest.h>

#include <vector>

#include "image_test_decode.h"
#include "image_test_files.h"
#include "shell/frame.h"

namespace {

struct ImageCoreTest : ::testing::Test {
  void SetUp() override { ImageReset(); }
  void TearDown() override { ErrReset(); }
};

TEST_F(ImageCoreTest, AllocGivesSpareRowAndZeroedTail) {
  EXPECT_EQ(ImagePixelBytes(3, 2), 3u * 4 * 2 + 3 * 4 + 4);
  EXPECT_EQ(ImagePixelBytes(8192, 8192), 8192u * 4 * 8192 + 8192 * 4 + 4);
  u8* p = static_cast<u8*>(std::malloc(8));
  std::memset(p, 0xAB, 8);
  p = ImageAllocPixels(p, 3, 2, "a.bmp");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0xAB);  // reallocated, not replaced
  for (size_t i = 24; i < ImagePixelBytes(3, 2); i++) EXPECT_EQ(p[i], 0) << i;
  std::free(p);
}

TEST_F(ImageCoreTest, AllocRefusesWidthAbove8192WithMessageAnd100010) {
  ErrReset();
  testing::internal::CaptureStderr();
  u8* p = ImageAllocPixels(nullptr, 8193, 2, "a.bmp");
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(p, nullptr);
  EXPECT_NE(shown.find("ＣＧサイズが大きすぎます。X=8193, Y=2"), std::string::npos) << shown;
  EXPECT_EQ(TestShownErrorCode(shown), ERR_OUT_OF_MEMORY);
  EXPECT_TRUE(g_QuitRequested);
  g_QuitRequested = 0;
}

TEST_F(ImageCoreTest, AllocRefusesNegativeSizes) {
  for (auto [w, h, name, code] :
       {std::tuple{-1, 5, "x.png", ERR_FILE_READ_NOMEM}, {4, -2, nullptr, ERR_OUT_OF_MEMORY}}) {
    ErrReset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ImageAllocPixels(nullptr, w, h, name), nullptr);
    EXPECT_EQ(TestShownErrorCode(testing::internal::GetCapturedStderr()), code);
  }
  g_QuitRequested = 0;
}

TEST_F(ImageCoreTest, FillReplacesOnlyAlphaZeroPixels) {
  u32 px[4] = {0x00FFFFFF, 0x01000000, 0xFF123456, 0x00000000};
  ImagePicture pic{reinterpret_cast<u8*>(px), 2, 2, 0};
  ImageFillTransparent(&pic);
  EXPECT_EQ(px[0], 0x00808080u);
  EXPECT_EQ(px[1], 0x01000000u);
  EXPECT_EQ(px[2], 0xFF123456u);
  EXPECT_EQ(px[3], 0x00808080u);
}

// The grouped test against a pixel-by-pixel reference: every width around the group size, with
// transparent pixels at the group's edges, alone, in runs, and none at all.
TEST_F(ImageCoreTest, FillMatchesThePixelByPixelRuleAtEverySize) {
  for (i32 w = 1; w <= 50; w++) {
    for (int pattern = 0; pattern < 4; pattern++) {
      std::vector<u32> px(static_cast<size_t>(w) * 3);
      for (size_t i = 0; i < px.size(); i++) {
        const bool clear = pattern == 0   ? false
                           : pattern == 1 ? i % 16 == 0 || i % 16 == 15
                           : pattern == 2 ? i % 7 == 3
                                          : i / 5 % 2 == 0;
        px[i] = (clear ? 0u : static_cast<u32>(1 + i % 255) << 24) | static_cast<u32>(i * 2654435761u >> 8);
      }
      std::vector<u32> want = px;
      for (u32& v : want)
        if (!(v >> 24)) v = g_ImageFillColour;
      std::vector<u32> row = px;
      ImagePicture pic{reinterpret_cast<u8*>(px.data()), w, 3, 0};
      ImageFillTransparent(&pic);
      ASSERT_EQ(px, want) << "width " << w << ", pattern " << pattern;
      // The row form, and its answer whether it changed anything.
      const bool clear_any = row != want;
      ASSERT_EQ(ImageFillTransparentRow(reinterpret_cast<u8*>(row.data()), row.size()), clear_any) << w;
      ASSERT_EQ(row, want) << "width " << w << ", pattern " << pattern;
    }
  }
}

TEST_F(ImageCoreTest, EmptyPictureIsOneFillPixel) {
  ImagePicture pic{nullptr, 640, 480, 1};
  ASSERT_EQ(ImageMakeEmpty(&pic, "missing"), 0);
  EXPECT_EQ(pic.width, 1);
  EXPECT_EQ(pic.height, 1);
  EXPECT_EQ(pic.has_alpha, 0);
  u32 v;
  std::memcpy(&v, pic.pixels, 4);
  EXPECT_EQ(v, 0x00808080u);
  std::free(pic.pixels);
}

TEST_F(ImageCoreTest, DispatchByTypeCode) {
  std::vector<u8> junk = {1, 2, 3, 4};
  struct Case {
    u8 type;
    int result;
    i32 error;
  } cases[] = {
      {0, -1, IMAGE_ERR_NOT_PICTURE},
      {5, -1, IMAGE_ERR_NOT_PICTURE},
      {6, -1, IMAGE_ERR_NOT_PICTURE},
      {10, -1, IMAGE_ERR_NOT_PICTURE},
      {255, -1, IMAGE_ERR_NOT_PICTURE},
      {IMAGE_TYPE_PSD, -1, IMAGE_ERR_PSD},
      {IMAGE_TYPE_GIF, -1, IMAGE_ERR_GIF},
      {IMAGE_TYPE_JPEG, -1, IMAGE_ERR_JPEG},
      {IMAGE_TYPE_PNG, -1, IMAGE_ERR_PNG},
      {IMAGE_TYPE_BMP, -1, IMAGE_ERR_BMP_SIGNATURE},
      {IMAGE_TYPE_PSB, 0, 0},
  };
  for (const Case& c : cases) {
    TestDecoded d = TestDecode(c.type, junk);
    EXPECT_EQ(d.result, c.result) << int(c.type);
    EXPECT_EQ(d.error, c.error) << int(c.type);
    EXPECT_EQ(d.quit, c.result != 0) << int(c.type);
    EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3) << int(c.type);
  }
}

TEST_F(ImageCoreTest, DispatchClearsHasAlphaAndFillsTransparentPixels) {
  TestBmp b;
  b.bits = 32;
  b.width = 2;
  b.rows = {1, 2, 3, 0, 9, 9, 9, 7};
  TestDecoded d = TestDecode(IMAGE_TYPE_BMP, TestBmpBuild(b));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.has_alpha, 1);
  EXPECT_EQ(d.At(0, 0), 0x00808080u);
  EXPECT_EQ(d.At(1, 0), 0x07090909u);
  b.bits = 24;
  b.rows = {1, 2, 3, 4, 5, 6, 0, 0};
  d = TestDecode(IMAGE_TYPE_BMP, TestBmpBuild(b));
  EXPECT_EQ(d.has_alpha, 0);
  EXPECT_EQ(d.At(1, 0), 0xFF060504u);
}

TEST_F(ImageCoreTest, OnlyASuccessfulLoadRestartsTheFrameSchedule) {
  PlatClockSetFixed(true, 5000);
  g_FrameStart = 17;
  TestBmp b;
  TestDecode(IMAGE_TYPE_BMP, {'B', 'X'});
  EXPECT_EQ(g_FrameStart, 17u);
  TestDecode(IMAGE_TYPE_BMP, TestBmpBuild(b));
  EXPECT_EQ(g_FrameStart, 5000u);
  ImagePicture pic{};
  PlatClockAdvance(40);
  ASSERT_EQ(ImageMakeEmpty(&pic, "none"), 0);
  EXPECT_EQ(g_FrameStart, 5040u);
  std::free(pic.pixels);
  FrameReset();
  PlatClockSetFixed(false);
}

}  // namespace
