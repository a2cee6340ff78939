#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <jpeglib.h>

#include "image_test_decode.h"
#include "image_test_files.h"

namespace {

struct ImageJpegTest : ::testing::Test {
  void SetUp() override { ImageReset(); }
  void TearDown() override { ImageReset(); }
};

// libjpeg-turbo's own BGRA output for a file.
std::vector<u8> Reference(const std::vector<u8>& f) {
  jpeg_decompress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, f.data(), f.size());
  jpeg_read_header(&c, TRUE);
  c.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&c);
  std::vector<u8> out(static_cast<size_t>(c.output_width) * c.output_height * 4);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = out.data() + static_cast<size_t>(c.output_scanline) * c.output_width * 4;
    jpeg_read_scanlines(&c, &row, 1);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return out;
}

TestJpeg MakeJpeg(i32 w, i32 h, int components, bool progressive, bool subsample) {
  TestJpeg j;
  j.width = w;
  j.height = h;
  j.components = components;
  j.progressive = progressive;
  j.subsample = subsample;
  // Smooth gradients with some noise, so the chroma and the IDCT both matter.
  std::vector<u8> noise = TestPattern(static_cast<size_t>(w) * h * components, w + components);
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++)
      for (int c = 0; c < components; c++) {
        size_t i = (static_cast<size_t>(y) * w + x) * components + c;
        j.samples.push_back(static_cast<u8>((x * 7 + y * 3 + c * 80) % 224 + noise[i] % 32));
      }
  return j;
}

TEST_F(ImageJpegTest, RgbAndGreyMatchTheLibrarysBgraOutputBothWays) {
  struct Case {
    i32 w, h;
    int components;
    bool progressive, subsample;
  } cases[] = {{64, 16, 3, false, true}, {641, 9, 3, false, true}, {17, 33, 3, false, false},
               {23, 5, 3, true, true},   {40, 8, 1, false, false}, {13, 11, 1, true, false}};
  for (const Case& c : cases) {
    std::vector<u8> f = TestJpegBuild(MakeJpeg(c.w, c.h, c.components, c.progressive, c.subsample));
    std::vector<u8> want = Reference(f);
    for (u8 direct : {1, 0}) {
      g_ImageJpegDirect = direct;
      TestDecoded d = TestDecode(0, f, ImageDecodeJpeg);
      ASSERT_EQ(d.result, 0) << c.w << d.shown;
      EXPECT_EQ(d.width, c.w);
      EXPECT_EQ(d.height, c.h);
      EXPECT_EQ(d.has_alpha, 0);
      EXPECT_EQ(d.pixels, want) << c.w << "x" << c.h << " direct " << int(direct);
      if (c.components == 1) {
        for (size_t i = 0; i < d.pixels.size(); i += 4)
          ASSERT_TRUE(d.pixels[i] == d.pixels[i + 1] && d.pixels[i] == d.pixels[i + 2] && d.pixels[i + 3] == 255);
      }
    }
  }
}

TEST_F(ImageJpegTest, CmykIsConvertedAsCmyk) {
  // Flat patches in Adobe's inverted CMYK: red, green, blue, grey 50 %, and blue-ish with black.
  struct Patch {
    u8 c, m, y, k;
    u32 bgra;
  } patches[] = {{255, 0, 0, 255, 0xFFFF0000},
                 {0, 255, 0, 255, 0xFF00FF00},
                 {0, 0, 255, 255, 0xFF0000FF},
                 {255, 255, 255, 128, 0xFF808080},
                 {128, 128, 255, 255, 0xFF8080FF}};
  TestJpeg j;
  j.components = 4;
  j.width = 16 * 5;
  j.height = 16;
  j.quality = 100;
  for (i32 y = 0; y < j.height; y++)
    for (i32 x = 0; x < j.width; x++) {
      const Patch& p = patches[x / 16];
      j.samples.insert(j.samples.end(), {p.c, p.m, p.y, p.k});
    }
  TestDecoded d = TestDecode(0, TestJpegBuild(j), ImageDecodeJpeg);
  ASSERT_EQ(d.result, 0) << d.shown;
  for (int i = 0; i < 5; i++) {
    u32 got = d.At(i * 16 + 8, 8);
    for (int sh : {0, 8, 16, 24})
      EXPECT_NEAR(int(got >> sh & 255), int(patches[i].bgra >> sh & 255), 3) << "patch " << i << " byte " << sh / 8;
  }
}

// A file cut anywhere fails; the rows decoded before the break are the whole file's, the rest 0.
TEST_F(ImageJpegTest, TruncatedFilesFail) {
  std::vector<u8> base = TestJpegBuild(MakeJpeg(24, 48, 3, false, true));
  std::vector<u8> prog = TestJpegBuild(MakeJpeg(24, 48, 3, true, true));
  int partial = 0;
  for (const std::vector<u8>* f : {&base, &prog}) {
    TestDecoded full = TestDecode(IMAGE_TYPE_JPEG, *f);
    ASSERT_EQ(full.result, 0);
    for (size_t n = 0; n < f->size(); n++) {
      TestDecoded d = TestDecode(IMAGE_TYPE_JPEG, std::vector<u8>(f->begin(), f->begin() + n));
      ASSERT_EQ(d.result, -1) << n;
      ASSERT_EQ(d.error, IMAGE_ERR_JPEG) << n;
      if (d.width != 24) continue;
      const size_t row = 24 * 4;
      for (size_t y = 0; y < 48; y++) {
        const auto at = d.pixels.begin() + static_cast<std::ptrdiff_t>(y * row);
        const bool whole = std::equal(at, at + static_cast<std::ptrdiff_t>(row),
                                      full.pixels.begin() + static_cast<std::ptrdiff_t>(y * row));
        ASSERT_TRUE(whole || std::all_of(at, at + static_cast<std::ptrdiff_t>(row), [](u8 b) { return b == 0; }))
            << n << " row " << y;
        partial += whole && y == 0;
      }
    }
  }
  EXPECT_GT(partial, 0);
}

TEST_F(ImageJpegTest, DamagedFilesFailCleanly) {
  std::vector<u8> good = TestJpegBuild(MakeJpeg(32, 32, 3, false, true));
  size_t sof = 0;
  while (!(good[sof] == 0xFF && good[sof + 1] == 0xC0)) sof++;
  std::vector<u8> zero_width = good, comps_damaged = good, not_jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
  zero_width[sof + 7] = zero_width[sof + 8] = 0;
  comps_damaged[sof + 9] = 2;  // disagrees with the marker length
  for (const std::vector<u8>* f : {&zero_width, &comps_damaged, &not_jpeg}) {
    TestDecoded d = TestDecode(IMAGE_TYPE_JPEG, *f);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.error, IMAGE_ERR_JPEG) << d.shown;
    EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3);
  }
  // Flipped bytes inside the scan never crash; the decode may still succeed.
  for (size_t at = sof + 20; at < good.size(); at += 7) {
    std::vector<u8> f = good;
    f[at] ^= 0xA5;
    TestDecoded d = TestDecode(IMAGE_TYPE_JPEG, f);
    if (d.result == 0) {
      EXPECT_EQ(d.width, 32);
    }
  }
}

TEST_F(ImageJpegTest, WiderThan8192FailsWithTheSizeErrorAlone) {
  TestJpeg j = MakeJpeg(8193, 1, 1, false, false);
  j.quality = 10;
  TestDecoded d = TestDecode(0, TestJpegBuild(j), ImageDecodeJpeg);
  EXPECT_EQ(d.result, -3);
  EXPECT_EQ(d.error, IMAGE_ERR_TOO_LARGE);
  // Through the dispatcher the general JPEG error follows, but the dialog shows only the first.
  d = TestDecode(IMAGE_TYPE_JPEG, TestJpegBuild(j));
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(d.error, IMAGE_ERR_TOO_LARGE);
  EXPECT_EQ(d.shown.find("E100210"), std::string::npos);
}

}  // namespace
