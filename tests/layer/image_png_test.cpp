#include <gtest/gtest.h>

#include <png.h>

#include <cmath>

#include "image_test_decode.h"
#include "image_test_files.h"

namespace {

// A PNG of every colour type and depth with a pattern picture; tRNS (when asked) marks the
// value of the first sample as transparent so that the picture really holds it.
TestPng MakePng(int colour, int depth, bool interlace, bool trns, double gamma = 0, u32 width = 13, u32 height = 7) {
  TestPng p;
  p.width = width;
  p.height = height;
  p.colour = colour;
  p.depth = depth;
  p.interlace = interlace;
  p.gamma = gamma;
  int ch = TestPngChannels(colour);
  std::vector<u8> raw = TestPattern(p.width * p.height * ch * 2, colour * 31 + depth);
  u32 max = (1u << depth) - 1;
  for (size_t i = 0; i < raw.size() / 2; i++) p.samples.push_back((raw[i * 2] | raw[i * 2 + 1] << 8) & max);
  if (colour == PNG_COLOR_TYPE_PALETTE) {
    u32 entries = 1u << depth;
    p.palette = TestPattern(entries * 3, depth);
    if (trns) p.trns_alpha = {0, 128, 255, 7};
  } else if (trns) {
    p.trns_colour = true;
    p.trns_grey = p.trns_r = p.samples[0];
    if (colour == PNG_COLOR_TYPE_RGB) p.trns_g = p.samples[1], p.trns_b = p.samples[2];
  }
  return p;
}

// The pixels the file defines, in B, G, R, A words, without gamma correction.
std::vector<u32> Expected(const TestPng& p) {
  int ch = TestPngChannels(p.colour);
  u32 max = (1u << p.depth) - 1;
  auto to8 = [&](u32 v) { return p.depth == 16 ? v >> 8 : v * 255 / max; };
  std::vector<u32> out;
  for (size_t i = 0; i < p.width * p.height; i++) {
    const u16* s = p.samples.data() + i * ch;
    u32 r, g, b, a = 255;
    switch (p.colour) {
      case PNG_COLOR_TYPE_PALETTE:
        r = p.palette[s[0] * 3], g = p.palette[s[0] * 3 + 1], b = p.palette[s[0] * 3 + 2];
        if (s[0] < p.trns_alpha.size()) a = p.trns_alpha[s[0]];
        break;
      case PNG_COLOR_TYPE_GRAY:
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        r = g = b = to8(s[0]);
        if (ch == 2) a = to8(s[1]);
        if (p.trns_colour && s[0] == p.trns_grey) a = 0;
        break;
      default:
        r = to8(s[0]), g = to8(s[1]), b = to8(s[2]);
        if (ch == 4) a = to8(s[3]);
        if (p.trns_colour && s[0] == p.trns_r && s[1] == p.trns_g && s[2] == p.trns_b) a = 0;
        break;
    }
    out.push_back(a << 24 | r << 16 | g << 8 | b);
  }
  return out;
}

struct MemRead {
  const std::vector<u8>* f;
  size_t pos;
};

void ReadMem(png_structp png, png_bytep d, png_size_t n) {
  MemRead* m = static_cast<MemRead*>(png_get_io_ptr(png));
  if (m->pos + n > m->f->size()) png_error(png, "eof");
  std::memcpy(d, m->f->data() + m->pos, n);
  m->pos += n;
}

// libpng's own whole-image reader with the decoder's transforms (no filler: a row of three
// channels means alpha 255) and the 2.2 screen gamma against the file's gAMA.
std::vector<u32> Reference(const std::vector<u8>& f, double file_gamma) {
  std::vector<u32> out;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  MemRead m{&f, 0};
  png_set_read_fn(png, &m, ReadMem);
  if (file_gamma > 0) png_set_gamma(png, static_cast<double>(2.2f), file_gamma);
  png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_GRAY_TO_RGB | PNG_TRANSFORM_BGR,
               nullptr);
  png_bytepp rows = png_get_rows(png, info);
  int ch = png_get_channels(png, info);
  for (u32 y = 0; y < png_get_image_height(png, info); y++)
    for (u32 x = 0; x < png_get_image_width(png, info); x++) {
      const u8* s = rows[y] + x * ch;
      out.push_back((ch == 4 ? s[3] : 255u) << 24 | s[2] << 16 | s[1] << 8 | s[0]);
    }
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

std::vector<u32> Words(const TestDecoded& d) {
  std::vector<u32> w(d.pixels.size() / 4);
  std::memcpy(w.data(), d.pixels.data(), d.pixels.size());
  return w;
}

struct Kind {
  int colour, depth;
  bool trns;
};
const Kind kKinds[] = {
    {0, 1, false}, {0, 2, false}, {0, 4, false}, {0, 8, false},  {0, 16, false}, {0, 2, true},
    {0, 8, true},  {0, 16, true}, {4, 8, false}, {4, 16, false}, {2, 8, false},  {2, 16, false},
    {2, 8, true},  {2, 16, true}, {3, 1, false}, {3, 2, false},  {3, 4, false},  {3, 8, false},
    {3, 8, true},  {3, 4, true},  {6, 8, false}, {6, 16, false},
};

TEST(ImagePngTest, EveryColourTypeDepthAndInterlaceGivesTheFilesPixels) {
  for (const Kind& k : kKinds)
    for (bool interlace : {false, true}) {
      TestPng p = MakePng(k.colour, k.depth, interlace, k.trns);
      std::vector<u8> f = TestPngBuild(p);
      ASSERT_FALSE(f.empty());
      TestDecoded d = TestDecode(0, f, ImageDecodePng);
      std::string what = std::to_string(k.colour) + "/" + std::to_string(k.depth) + (k.trns ? " tRNS" : "") +
                         (interlace ? " interlaced" : "");
      ASSERT_EQ(d.result, 0) << what << d.shown;
      EXPECT_EQ(d.width, 13);
      EXPECT_EQ(d.height, 7);
      // Only a real alpha channel counts, not tRNS.
      EXPECT_EQ(d.has_alpha, k.colour == 4 || k.colour == 6) << what;
      EXPECT_EQ(Words(d), Expected(p)) << what;
      EXPECT_EQ(Words(d), Reference(f, 0)) << what;
    }
}

TEST(ImagePngTest, GammaIsCorrectedForTheScreen) {
  struct Case {
    Kind kind;
    double gamma;
  } cases[] = {
      {{2, 8, false}, 1.0}, {{2, 8, false}, 0.8}, {{4, 16, false}, 0.6}, {{3, 8, true}, 1.0}, {{0, 4, true}, 0.3}};
  for (const Case& c : cases)
    for (bool interlace : {false, true}) {
      TestPng p = MakePng(c.kind.colour, c.kind.depth, interlace, c.kind.trns, c.gamma);
      std::vector<u8> f = TestPngBuild(p);
      TestDecoded d = TestDecode(0, f, ImageDecodePng);
      ASSERT_EQ(d.result, 0);
      std::vector<u32> got = Words(d);
      EXPECT_EQ(got, Reference(f, c.gamma)) << c.kind.colour << " gamma " << c.gamma;
      if (c.kind.colour != 2) continue;
      // 8-bit colour against the gamma formula itself, within one step of rounding.
      std::vector<u32> plain = Expected(p);
      for (size_t i = 0; i < got.size(); i++)
        for (int sh : {0, 8, 16}) {
          double v = (plain[i] >> sh & 255) / 255.0;
          double want = 255 * std::pow(v, 1 / (c.gamma * 2.2));
          ASSERT_NEAR(double(got[i] >> sh & 255), want, 1.0) << i;
        }
    }
}

TEST(ImagePngTest, GammaOfOneOverScreenLeavesPixelsAlone) {
  TestPng p = MakePng(2, 8, false, false, 1 / 2.2);
  TestDecoded d = TestDecode(0, TestPngBuild(p), ImageDecodePng);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(Words(d), Expected(p));
}

TEST(ImagePngTest, TransparentPaletteEntriesBecomeTheFillColourThroughTheDispatcher) {
  TestPng p = MakePng(3, 2, false, true);
  TestDecoded d = TestDecode(IMAGE_TYPE_PNG, TestPngBuild(p));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.has_alpha, 0);
  std::vector<u32> want = Expected(p);
  for (u32& w : want)
    if (!(w >> 24)) w = g_ImageFillColour;
  EXPECT_EQ(Words(d), want);
}

// Where the image data ends: the byte after the last IDAT chunk.
size_t ImageDataEnd(const std::vector<u8>& f) {
  size_t end = 0;
  for (size_t at = 8; at + 8 <= f.size();) {
    u32 len = f[at] << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
    if (std::memcmp(&f[at + 4], "IDAT", 4) == 0) end = at + 12 + len;
    at += 12 + len;
  }
  return end;
}

// The dispatcher fills each row as it is read: the same pixels as the plain decoder's followed by
// the fill over the whole picture, for every kind, across the widths of the vector groups.
TEST(ImagePngTest, RowsFilledWhileReadingMatchTheFillAfterwards) {
  for (const Kind& k : kKinds)
    for (bool interlace : {false, true})
      for (u32 width : {1u, 13u, 16u, 37u}) {
        TestPng p = MakePng(k.colour, k.depth, interlace, k.trns, 0, width, 9);
        if (k.colour == 6 || k.colour == 4)  // some fully transparent pixels, some not
          for (size_t i = 0; i < p.samples.size(); i += 3 * TestPngChannels(k.colour))
            p.samples[i + TestPngChannels(k.colour) - 1] = 0;
        std::vector<u8> f = TestPngBuild(p);
        std::string what = std::to_string(k.colour) + "/" + std::to_string(k.depth) + (k.trns ? " tRNS" : "") +
                           (interlace ? " interlaced " : " ") + std::to_string(width);
        TestDecoded plain = TestDecode(0, f, ImageDecodePng);
        TestDecoded d = TestDecode(IMAGE_TYPE_PNG, f);
        ASSERT_EQ(plain.result, 0) << what;
        ASSERT_EQ(d.result, 0) << what;
        ImagePicture pic{plain.pixels.data(), plain.width, plain.height, 0};
        ImageFillTransparent(&pic);
        EXPECT_EQ(d.pixels, plain.pixels) << what;
        EXPECT_EQ(d.has_alpha, plain.has_alpha) << what;
      }
}

// A file that breaks off part-way hands out the rows it read unfilled, as the plain decoder does,
// and 0 wherever libpng wrote nothing.
TEST(ImagePngTest, FailedDecodeLeavesItsRowsUnfilled) {
  for (bool interlace : {false, true}) {
    TestPng p = MakePng(6, 8, interlace, false, 0, 40, 64);
    for (size_t i = 3; i < p.samples.size(); i += 8) p.samples[i] = 0;
    std::vector<u8> f = TestPngBuild(p);
    TestDecoded full = TestDecode(0, f, ImageDecodePng);
    ASSERT_EQ(full.result, 0);
    const size_t row = 40 * 4;
    int compared = 0;
    for (size_t n = ImageDataEnd(f) - 1; n > 60; n -= 97) {
      std::vector<u8> cut(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
      TestDecoded plain = TestDecode(0, cut, ImageDecodePng);
      TestDecoded d = TestDecode(IMAGE_TYPE_PNG, cut);
      ASSERT_NE(d.result, 0) << n;
      if (d.width != 40 || plain.width != 40) continue;
      // What libpng never wrote is 0, not what the allocator left there.
      for (size_t i = 0; i < plain.pixels.size(); i += 4)
        ASSERT_TRUE(std::equal(plain.pixels.begin() + static_cast<std::ptrdiff_t>(i),
                               plain.pixels.begin() + static_cast<std::ptrdiff_t>(i + 4),
                               full.pixels.begin() + static_cast<std::ptrdiff_t>(i)) ||
                    (plain.At(static_cast<i32>(i / 4 % 40), static_cast<i32>(i / 4 / 40)) == 0))
            << n << " pixel " << i / 4;
      // The rows read before the break are those the plain decoder gave as in the whole file.
      for (size_t y = 0; y < 64; y++) {
        if (!std::equal(plain.pixels.begin() + y * row, plain.pixels.begin() + (y + 1) * row,
                        full.pixels.begin() + y * row))
          continue;
        ASSERT_TRUE(
            std::equal(d.pixels.begin() + y * row, d.pixels.begin() + (y + 1) * row, full.pixels.begin() + y * row))
            << n << " row " << y;
        compared++;
      }
    }
    EXPECT_GT(compared, 64) << interlace;
  }
}

TEST(ImagePngTest, TruncatedFilesFailUnlessAllImageDataIsThere) {
  for (bool interlace : {false, true}) {
    std::vector<u8> f = TestPngBuild(MakePng(6, 8, interlace, false));
    TestDecoded full = TestDecode(0, f, ImageDecodePng);
    size_t data_end = ImageDataEnd(f);
    ASSERT_GT(data_end, 0u);
    for (size_t n = 0; n < f.size(); n++) {
      TestDecoded d = TestDecode(0, std::vector<u8>(f.begin(), f.begin() + n), ImageDecodePng);
      if (n < data_end) {
        ASSERT_NE(d.result, 0) << n;
        ASSERT_EQ(d.error, IMAGE_ERR_PNG) << n;
        ASSERT_TRUE(d.quit);
      } else {
        // Only the closing chunk is missing: the picture is whole, as it always loaded.
        ASSERT_EQ(d.result, 0) << n;
        ASSERT_EQ(d.pixels, full.pixels) << n;
      }
    }
  }
}

TEST(ImagePngTest, DamagedFilesFailWithTheirError) {
  std::vector<u8> good = TestPngBuild(MakePng(2, 8, false, false));
  struct Case {
    const char* what;
    std::vector<u8> file;
    i32 error;
    bool after_alloc;  // found while reading rows: the picture has its new size already
  } cases[] = {
      {"not a PNG", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, IMAGE_ERR_PNG, false},
      {"empty", {}, IMAGE_ERR_PNG, false},
      {"IDAT byte flipped", good, IMAGE_ERR_PNG, true},
      {"IHDR width 0", good, IMAGE_ERR_PNG, false},
      {"width 8193", TestPngBuild([] {
         TestPng p;
         p.width = 8193;
         p.colour = 0;
         p.depth = 1;
         p.samples.assign(8193, 1);
         return p;
       }()),
       IMAGE_ERR_TOO_LARGE, false},
  };
  cases[2].file[ImageDataEnd(good) - 8] ^= 0x40;
  cases[3].file[16] = cases[3].file[17] = cases[3].file[18] = cases[3].file[19] = 0;
  for (const Case& c : cases) {
    TestDecoded d = TestDecode(0, c.file, ImageDecodePng);
    EXPECT_NE(d.result, 0) << c.what;
    EXPECT_EQ(d.error, c.error) << c.what << d.shown;
    EXPECT_TRUE(d.quit);
    if (c.after_alloc) {
      EXPECT_EQ(d.width, 13) << c.what;
    } else {
      EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3) << c.what;
    }
  }
}

}  // namespace
