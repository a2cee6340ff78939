// The image writers: files read back with the libraries themselves (not the engine's decoders)
// equal the layer, the BMP layout byte for byte, and a failed write leaves nothing behind.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "core/err.h"
#include "core/sys.h"
#include "layer/image.h"
#include "layer/image_write.h"
#include "layer/layer.h"

namespace {

namespace fs = std::filesystem;

struct TestLayer {
  LayerRecord rec{};
  TestLayer(i32 w, i32 h, u8 has_alpha) {
    rec.width = w;
    rec.height = h;
    rec.has_alpha = has_alpha;
    rec.pixels = static_cast<u8*>(std::calloc(1, ImagePixelBytes(w, h)));
    // A smooth colour field with a varying alpha, so every channel and position counts.
    for (i32 y = 0; y < h; y++)
      for (i32 x = 0; x < w; x++) {
        u8* p = rec.pixels + (static_cast<size_t>(y) * w + x) * 4;
        p[0] = static_cast<u8>(x * 255 / (w > 1 ? w - 1 : 1));
        p[1] = static_cast<u8>(y * 255 / (h > 1 ? h - 1 : 1));
        p[2] = static_cast<u8>((x + y) * 2);
        p[3] = static_cast<u8>(x * 7 + y);
      }
  }
  ~TestLayer() { std::free(rec.pixels); }
  const u8* Px(i32 x, i32 y) const { return rec.pixels + (static_cast<size_t>(y) * rec.width + x) * 4; }
};

struct ImageWriteTest : testing::Test {
  fs::path dir;
  void SetUp() override {
    ErrReset();
    char tmpl[] = "/tmp/zephra-imgw-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
    g_QuitRequested = 0;
  }
  std::string P(const char* name) const { return (dir / name).string(); }
};

std::vector<u8> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

u32 Le(const std::vector<u8>& b, size_t at, int n) {
  u32 v = 0;
  for (int i = 0; i < n; i++) v |= static_cast<u32>(b[at + i]) << (8 * i);
  return v;
}

// libpng's own reading, without transformations: the colour type, gamma and RGB(A) rows.
struct PngRead {
  int colour = -1;
  double gamma = 0;
  u32 width = 0, height = 0;
  std::vector<std::vector<u8>> rows;
};
bool ReadPng(const std::string& path, PngRead* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->colour = png_get_color_type(png, info);
  png_get_gAMA(png, info, &out->gamma);
  out->rows.assign(out->height, std::vector<u8>(png_get_rowbytes(png, info)));
  for (auto& r : out->rows) png_read_row(png, r.data(), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

TEST_F(ImageWriteTest, BmpRowsAreBottomUpPaddedAndSized) {
  struct Case {
    i32 w, h;
    u32 row;
  } cases[] = {{1, 1, 4}, {3, 2, 12}, {4, 3, 12}, {5, 1, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    TestLayer l(c.w, c.h, 1);
    ASSERT_EQ(ImageSaveBmp(&l.rec, P("a.bmp").c_str()), 0);
    std::vector<u8> b = ReadBytes(P("a.bmp"));
    ASSERT_EQ(b.size(), 54u + c.row * c.h);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le(b, 2, 4), b.size());
    EXPECT_EQ(Le(b, 10, 4), 54u);
    EXPECT_EQ(Le(b, 14, 4), 40u);
    EXPECT_EQ(Le(b, 18, 4), static_cast<u32>(c.w));
    EXPECT_EQ(Le(b, 22, 4), static_cast<u32>(c.h));
    EXPECT_EQ(Le(b, 26, 2), 1u);
    EXPECT_EQ(Le(b, 28, 2), 24u);
    for (size_t i = 30; i < 54; i++) EXPECT_EQ(b[i], 0) << i;
    for (i32 y = 0; y < c.h; y++) {
      const u8* row = b.data() + 54 + static_cast<size_t>(c.row) * (c.h - 1 - y);
      for (i32 x = 0; x < c.w; x++)
        for (int k = 0; k < 3; k++) ASSERT_EQ(row[x * 3 + k], l.Px(x, y)[k]) << x << "," << y;
      for (u32 pad = static_cast<u32>(c.w) * 3; pad < c.row; pad++) EXPECT_EQ(row[pad], 0);
    }
  }
  TestLayer one(1, 1, 0);
  ASSERT_EQ(ImageSaveBmp(&one.rec, P("one.bmp").c_str()), 0);
  EXPECT_EQ(fs::file_size(P("one.bmp")), 58u);
}

TEST_F(ImageWriteTest, PngReadsBackAsTheLayer) {
  // With has-alpha the layer's alpha is written as it stands; without it the file is opaque and
  // the layer itself keeps the 255s.
  for (u8 has_alpha : {1, 0}) {
    for (i32 level : {0, 5, 9}) {
      SCOPED_TRACE(testing::Message() << "alpha " << int(has_alpha) << " level " << level);
      TestLayer l(37, 11, has_alpha);
      std::vector<u8> before(l.rec.pixels, l.rec.pixels + 37 * 11 * 4);
      ASSERT_EQ(ImageSavePng(&l.rec, P("a.png").c_str(), level), 0);
      PngRead r;
      ASSERT_TRUE(ReadPng(P("a.png"), &r));
      EXPECT_EQ(r.colour, PNG_COLOR_TYPE_RGB_ALPHA);
      EXPECT_NEAR(r.gamma, 1 / 2.2, 1e-5);
      ASSERT_EQ(r.width, 37u);
      ASSERT_EQ(r.height, 11u);
      for (i32 y = 0; y < 11; y++)
        for (i32 x = 0; x < 37; x++) {
          const u8* want = before.data() + (y * 37 + x) * 4;
          const u8* got = r.rows[y].data() + x * 4;
          ASSERT_EQ(got[0], want[2]);
          ASSERT_EQ(got[1], want[1]);
          ASSERT_EQ(got[2], want[0]);
          ASSERT_EQ(got[3], has_alpha ? want[3] : 255);
          ASSERT_EQ(l.Px(x, y)[3], has_alpha ? want[3] : 255);
        }
    }
  }
}

TEST_F(ImageWriteTest, PngReportsTheQuitFlag) {
  TestLayer l(2, 2, 1);
  g_QuitRequested = 1;
  EXPECT_EQ(ImageSavePng(&l.rec, P("q.png").c_str(), 5), 1);
  EXPECT_TRUE(fs::exists(P("q.png")));
}

TEST_F(ImageWriteTest, JpegReadsBackWithinTolerance) {
  // Stated tolerance at quality 90 on a smooth picture: no channel off by more than 8, and a
  // mean error below 1.5.
  TestLayer l(64, 40, 1);
  ASSERT_EQ(ImageSaveJpeg(&l.rec, P("a.jpg").c_str(), 90), 0);
  std::vector<u8> file = ReadBytes(P("a.jpg"));
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  ASSERT_EQ(jpeg_read_header(&d, TRUE), JPEG_HEADER_OK);
  EXPECT_EQ(d.num_components, 3);
  EXPECT_FALSE(d.progressive_mode);
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  ASSERT_EQ(d.output_width, 64u);
  ASSERT_EQ(d.output_height, 40u);
  std::vector<u8> row(64 * 3);
  int worst = 0;
  double sum = 0;
  for (i32 y = 0; y < 40; y++) {
    JSAMPROW rp = row.data();
    jpeg_read_scanlines(&d, &rp, 1);
    for (i32 x = 0; x < 64; x++)
      for (int k = 0; k < 3; k++) {
        int diff = std::abs(row[x * 3 + k] - l.Px(x, y)[2 - k]);
        worst = std::max(worst, diff);
        sum += diff;
      }
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  EXPECT_LE(worst, 8);
  EXPECT_LT(sum / (64 * 40 * 3), 1.5);
  // Quality counts: the file of quality 10 is smaller.
  ASSERT_EQ(ImageSaveJpeg(&l.rec, P("b.jpg").c_str(), 10), 0);
  EXPECT_LT(fs::file_size(P("b.jpg")), file.size());
}

TEST_F(ImageWriteTest, RefusalsAndFailedWritesLeaveNoFile) {
  LayerRecord empty{};
  EXPECT_EQ(ImageSaveBmp(&empty, P("e.bmp").c_str()), -1);
  EXPECT_EQ(ImageSavePng(&empty, P("e.png").c_str(), 5), -1);
  EXPECT_EQ(ImageSaveJpeg(&empty, P("e.jpg").c_str(), 90), -1);
  EXPECT_EQ(ImageSavePng(nullptr, P("e.png").c_str(), 5), -1);
  // A target that is a folder cannot be replaced: the message, -1, and the folder untouched.
  TestLayer l(3, 3, 1);
  fs::create_directory(P("taken"));
  std::ofstream(P("taken/inside")) << "x";
  using Save = i32 (*)(LayerRecord*, const char*);
  const Save saves[] = {
      [](LayerRecord* r, const char* p) { return ImageSaveBmp(r, p); },
      [](LayerRecord* r, const char* p) { return ImageSavePng(r, p, 5); },
      [](LayerRecord* r, const char* p) { return ImageSaveJpeg(r, p, 90); },
  };
  for (Save save : saves) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(save(&l.rec, P("taken").c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("File Create Error."), std::string::npos);
    EXPECT_TRUE(fs::is_directory(P("taken")));
  }
  // A libpng error (a width above the library's limit) ends the write as a finished one: 0,
  // and no file.
  TestLayer wide(1000001, 1, 1);
  EXPECT_EQ(ImageSavePng(&wide.rec, P("wide.png").c_str(), 5), 0);
  EXPECT_FALSE(fs::exists(P("wide.png")));
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir)) entries += e.path().filename() != "taken";
  EXPECT_EQ(entries, 0u) << "a temporary file stayed behind";
  EXPECT_EQ(ReadBytes(P("taken/inside")).size(), 1u);
}

}  // namespace
