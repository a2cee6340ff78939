#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "image_test_decode.h"
#include "image_test_files.h"

namespace {

// A BMP of the given depth whose bottom-up rows come from the pattern, and the pixels a correct
// decoder gives for it (top-down, computed here from the file's own definition).
struct BmpCase {
  const char* what;
  TestBmp bmp;
  std::function<u32(const u8* row, i32 x)> expect;  // row: the source row of the pixel
  u8 has_alpha;
};

u32 Rd16(const u8* p) { return p[0] | p[1] << 8; }
u32 Scale(u32 v, u32 max) { return static_cast<u32>(std::lround(v * 255.0 / max)); }

std::vector<u32> Palette(size_t n, u32 seed) {
  std::vector<u8> b = TestPattern(n * 4, seed);
  std::vector<u32> p(n);
  for (size_t i = 0; i < n; i++) p[i] = b[i * 4] | b[i * 4 + 1] << 8 | b[i * 4 + 2] << 16 | b[i * 4 + 3] << 24;
  return p;
}

std::vector<BmpCase> Cases() {
  std::vector<BmpCase> cs;
  auto add = [&](const char* what, u16 bits, i32 w, i32 h, auto expect) {
    BmpCase c{what, {}, expect, static_cast<u8>(bits == 32)};
    c.bmp.bits = bits;
    c.bmp.width = w;
    c.bmp.height = h;
    c.bmp.rows = TestPattern(static_cast<size_t>(TestBmpStride(w, bits)) * h, bits * 7 + w);
    cs.push_back(c);
    return &cs.back();
  };
  std::vector<u32> pal2 = Palette(2, 1), pal16 = Palette(16, 2), pal256 = Palette(256, 3);
  add("1 bit", 1, 13, 5, [=](const u8* r, i32 x) {
    return 0xFF000000 | pal2[(r[x / 8] >> (7 - x % 8)) & 1];
  })->bmp.palette = pal2;
  add("4 bits", 4, 7, 4, [=](const u8* r, i32 x) {
    return 0xFF000000 | pal16[x % 2 ? r[x / 2] & 15 : r[x / 2] >> 4];
  })->bmp.palette = pal16;
  BmpCase* c8 = add("8 bits, 16 colours used", 8, 5, 6, [=](const u8* r, i32 x) {
    return r[x] < 16 ? 0xFF000000 | pal16[r[x]] : 0xFF000000;  // the rest of the palette is opaque black
  });
  c8->bmp.palette = pal16;
  c8->bmp.colours_used = 16;
  BmpCase* v5 =
      add("8 bits behind a 124-byte header", 8, 3, 3, [=](const u8* r, i32 x) { return 0xFF000000 | pal256[r[x]]; });
  v5->bmp.palette = pal256;
  v5->bmp.header_size = 124;
  add("16 bits 5-5-5", 16, 3, 4, [](const u8* r, i32 x) {
    u32 v = Rd16(r + x * 2);
    return 0xFF000000 | Scale(v >> 10 & 31, 31) << 16 | Scale(v >> 5 & 31, 31) << 8 | Scale(v & 31, 31);
  });
  BmpCase* bf = add("16 bits 5-6-5 bit fields", 16, 5, 2, [](const u8* r, i32 x) {
    u32 v = Rd16(r + x * 2);
    return 0xFF000000 | Scale(v >> 11, 31) << 16 | Scale(v >> 5 & 63, 63) << 8 | Scale(v & 31, 31);
  });
  bf->bmp.compression = 3;
  bf->bmp.masks = {0xF800, 0x07E0, 0x001F};
  add("24 bits", 24, 5, 3,
      [](const u8* r, i32 x) { return 0xFF000000 | r[x * 3 + 2] << 16 | r[x * 3 + 1] << 8 | r[x * 3]; });
  add("32 bits", 32, 4, 3,
      [](const u8* r, i32 x) { return static_cast<u32>(Rd16(r + x * 4) | Rd16(r + x * 4 + 2) << 16); });
  return cs;
}

TEST(ImageBmpTest, EveryDepthDecodesBottomUpRows) {
  for (const BmpCase& c : Cases()) {
    TestDecoded d = TestDecode(0, TestBmpBuild(c.bmp), ImageDecodeBmp);
    ASSERT_EQ(d.result, 0) << c.what << d.shown;
    ASSERT_EQ(d.width, c.bmp.width);
    ASSERT_EQ(d.height, c.bmp.height);
    EXPECT_EQ(d.has_alpha, c.has_alpha) << c.what;
    u32 stride = TestBmpStride(c.bmp.width, c.bmp.bits);
    for (i32 y = 0; y < d.height; y++)
      for (i32 x = 0; x < d.width; x++) {
        const u8* row = c.bmp.rows.data() + static_cast<size_t>(d.height - 1 - y) * stride;
        ASSERT_EQ(d.At(x, y), c.expect(row, x)) << c.what << " at " << x << "," << y;
      }
  }
}

TEST(ImageBmpTest, WidthLimitIsInclusive) {
  TestBmp b;
  b.width = 8192;
  TestDecoded d = TestDecode(0, TestBmpBuild(b), ImageDecodeBmp);
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.width, 8192);
}

TEST(ImageBmpTest, DamagedFilesRaiseTheirErrorAndKeepThePicture) {
  TestBmp ok;
  ok.bits = 8;
  ok.width = 4;
  ok.height = 2;
  ok.palette = Palette(256, 5);
  ok.rows = TestPattern(8, 5);  // kept as they are when a case changes the header
  struct Case {
    const char* what;
    std::function<void(TestBmp*)> edit;
    std::function<void(std::vector<u8>*)> damage;
    i32 error;
  } cases[] = {
      {"signature", nullptr, [](auto* f) { (*f)[1] = 'X'; }, IMAGE_ERR_BMP_SIGNATURE},
      {"one byte", nullptr, [](auto* f) { f->resize(1); }, IMAGE_ERR_BMP_SIGNATURE},
      {"headers cut", nullptr, [](auto* f) { f->resize(40); }, IMAGE_ERR_BMP_DATA},
      {"data offset 10", nullptr, [](auto* f) { (*f)[10] = 10, (*f)[11] = 0; }, IMAGE_ERR_BMP_DATA},
      {"width 8193", [](TestBmp* b) { b->width = 8193; }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"height 8193", [](TestBmp* b) { b->height = 8193; }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"top-down", [](TestBmp* b) { b->height = -2; }, nullptr, IMAGE_ERR_BMP_TOP_DOWN},
      {"width 0", [](TestBmp* b) { b->width = 0; }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"negative width", [](TestBmp* b) { b->width = -4; }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"height 0", [](TestBmp* b) { b->height = 0; }, nullptr, IMAGE_ERR_TOO_LARGE},
      {"8-bit RLE", [](TestBmp* b) { b->compression = 1; }, nullptr, IMAGE_ERR_BMP_ENCODING},
      {"4-bit RLE", [](TestBmp* b) { b->bits = 4, b->compression = 2, b->palette.resize(16); }, nullptr,
       IMAGE_ERR_BMP_ENCODING},
      {"16-bit JPEG", [](TestBmp* b) { b->bits = 16, b->compression = 4, b->palette.clear(); }, nullptr,
       IMAGE_ERR_BMP_ENCODING},
      {"2 bits", [](TestBmp* b) { b->bits = 2; }, nullptr, IMAGE_ERR_BMP_ENCODING},
      {"OS/2 header", [](TestBmp* b) { b->header_size = 12; }, nullptr, IMAGE_ERR_BMP_ENCODING},
      {"rows cut", nullptr, [](auto* f) { f->pop_back(); }, IMAGE_ERR_BMP_DATA},
      {"offset past the end", nullptr, [](auto* f) { (*f)[13] = 0x7F; }, IMAGE_ERR_BMP_DATA},
      {"palette past the end", nullptr, [](auto* f) { (*f)[17] = 0x7F; }, IMAGE_ERR_BMP_DATA},
      {"bit fields cut",
       [](TestBmp* b) {
         b->bits = 16, b->compression = 3, b->palette.clear(), b->width = 1, b->height = 1, b->rows = {};
       },
       [](auto* f) {
         f->resize(60);
         (*f)[10] = 54;
       },
       IMAGE_ERR_BMP_DATA},
  };
  for (const Case& c : cases) {
    TestBmp b = ok;
    if (c.edit) c.edit(&b);
    std::vector<u8> f = TestBmpBuild(b);
    if (c.damage) c.damage(&f);
    TestDecoded d = TestDecode(0, f, ImageDecodeBmp);
    EXPECT_NE(d.result, 0) << c.what;
    EXPECT_EQ(d.error, c.error) << c.what << "\n" << d.shown;
    EXPECT_TRUE(d.quit) << c.what;
    EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3) << c.what;
  }
}

TEST(ImageBmpTest, EveryTruncationFailsCleanly) {
  for (const BmpCase& c : Cases()) {
    std::vector<u8> f = TestBmpBuild(c.bmp);
    for (size_t n = 0; n < f.size(); n++) {
      TestDecoded d = TestDecode(0, std::vector<u8>(f.begin(), f.begin() + n), ImageDecodeBmp);
      ASSERT_NE(d.result, 0) << c.what << " cut at " << n;
      ASSERT_NE(d.error, 0) << c.what << " cut at " << n;
    }
  }
}

}  // namespace
