// The GIF decoder against the kit's GIF writer: round trips over every code size and coding
// style, the first image's placement, clipping and transparency, the blocks read over, the
// records kept per image, and damaged and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_decode.h"
#include "image_test_files.h"
#include "kit/gif_writer.h"
#include "layer/image_gif.h"

namespace {

// Palette entry i: R = i, G = 255 - i, B = i * 7 (all distinct).
std::vector<u8> Palette(u32 entries) {
  std::vector<u8> p;
  for (u32 i = 0; i < entries; i++)
    p.insert(p.end(), {static_cast<u8>(i), static_cast<u8>(255 - i), static_cast<u8>(i * 7)});
  return p;
}

u32 Colour(u32 i) { return 0xFF000000u | i << 16 | (255 - i) << 8 | ((i * 7) & 255); }

// Noise rows and rows of long runs in turn, so the coder meets both short strings and codes
// used in the step that defines them.
std::vector<u8> Indexes(u32 w, u32 h, u32 bits, u32 seed) {
  std::vector<u8> noise = TestPattern(static_cast<size_t>(w) * h, seed);
  std::vector<u8> v(noise.size());
  for (u32 y = 0; y < h; y++)
    for (u32 x = 0; x < w; x++) {
      size_t i = static_cast<size_t>(y) * w + x;
      u8 run = static_cast<u8>(noise[static_cast<size_t>(y) * w] + x / 40);
      v[i] = static_cast<u8>(((y / 3) % 2 ? run : noise[i]) & ((1u << bits) - 1));
    }
  return v;
}

KitGif OneImage(u16 w, u16 h, std::vector<u8> idx, u32 palette_entries = 256) {
  KitGif g;
  g.width = w;
  g.height = h;
  g.palette = Palette(palette_entries);
  KitGifImage im;
  im.width = w;
  im.height = h;
  im.indexes = std::move(idx);
  g.images.push_back(im);
  return g;
}

std::vector<u8> Encode(const KitGif& g, KitGifCodeStats* stats = nullptr) {
  std::vector<u8> out;
  EXPECT_EQ(KitGifEncode(g, &out, stats), 0);
  return out;
}

// Decodes into a frame table as a layer would; the table is freed by the caller.
struct TableDecode {
  ImageGifFrame** table = ImageGifNewFrameTable();
  ~TableDecode() { ImageGifFreeFrames(table); }
  int Run(const std::vector<u8>& file, ImagePicture* pic) {
    pic->gif_frames = table;
    return ImageDecodeGif(file.data(), static_cast<u32>(file.size()), "pic", pic);
  }
};

}  // namespace

TEST(ImageGif, RoundTripsOverCodeSizesInterlaceAndEveryTableStyle) {
  struct Style {
    const char* name;
    KitGifCodeOptions code;
  } styles[] = {
      {"clear when full", {}},
      {"clear every 37 codes", {8, 37, true, false}},
      {"full table kept, no clear at all", {8, 0, false, true}},
  };
  const u32 W = 200, H = 200;  // enough codes to fill the table at every code size
  for (u32 bits = 2; bits <= 8; bits++)
    for (const Style& st : styles)
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(std::string(st.name) + " bits " + std::to_string(bits) + (interlaced ? " interlaced" : ""));
        std::vector<u8> idx = Indexes(W, H, bits, bits * 7 + interlaced);
        KitGif g = OneImage(W, H, idx, 1u << bits);
        g.images[0].interlaced = interlaced;
        g.images[0].code = st.code;
        g.images[0].code.min_code_size = bits;
        KitGifCodeStats stats;
        std::vector<u8> file = Encode(g, &stats);
        EXPECT_GT(stats.kwkwk, 0u);
        if (st.code.keep_full) {
          EXPECT_EQ(stats.max_defined, 4095u);
          EXPECT_GT(stats.full_codes, 100u) << "codes written against a full table";
        } else if (!st.code.clear_every) {
          EXPECT_EQ(stats.max_defined, 4095u);
          EXPECT_GE(stats.clears, 2u);
        }
        TestDecoded d = TestDecode(IMAGE_TYPE_GIF, file);
        ASSERT_EQ(d.result, 0) << d.shown;
        ASSERT_EQ(d.width, static_cast<i32>(W));
        ASSERT_EQ(d.height, static_cast<i32>(H));
        EXPECT_EQ(d.has_alpha, 0);
        size_t bad = 0;
        for (u32 y = 0; y < H; y++)
          for (u32 x = 0; x < W; x++)
            if (d.At(x, y) != Colour(idx[y * W + x]) && bad++ < 3) ADD_FAILURE() << "pixel " << x << "," << y;
        EXPECT_EQ(bad, 0u);
      }
}

TEST(ImageGif, FirstImagePlacementClippingAndTransparency) {
  struct Case {
    const char* name;
    u16 sw, sh, left, top, w, h;
    bool control, transparent;
    u8 alpha_expected;
  } cases[] = {
      {"covers the screen", 16, 12, 0, 0, 16, 12, false, false, 0},
      {"smaller, at 10, 20", 40, 30, 10, 20, 12, 5, false, false, 1},
      {"past the right and bottom edges", 40, 30, 30, 25, 20, 20, true, false, 1},
      {"wholly outside", 20, 10, 25, 3, 4, 4, false, false, 1},
      {"transparent index 3", 16, 12, 0, 0, 16, 12, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<u8> idx = Indexes(c.w, c.h, 3, c.w);
    KitGif g = OneImage(c.sw, c.sh, idx, 8);
    KitGifImage& im = g.images[0];
    im.width = c.w;
    im.height = c.h;
    im.left = c.left;
    im.top = c.top;
    im.control = c.control;
    im.transparent = c.transparent;
    im.transparent_index = 3;
    im.code.min_code_size = 3;
    TestDecoded d = TestDecode(IMAGE_TYPE_GIF, Encode(g));
    ASSERT_EQ(d.result, 0) << d.shown;
    ASSERT_EQ(d.width, c.sw);
    ASSERT_EQ(d.height, c.sh);
    EXPECT_EQ(d.has_alpha, c.alpha_expected);
    for (i32 y = 0; y < c.sh; y++)
      for (i32 x = 0; x < c.sw; x++) {
        i32 ix = x - c.left, iy = y - c.top;
        u32 want = g_ImageFillColour;
        if (ix >= 0 && iy >= 0 && ix < c.w && iy < c.h) {
          u8 i = idx[static_cast<size_t>(iy) * c.w + ix];
          if (!(c.transparent && i == 3)) want = Colour(i);
        }
        ASSERT_EQ(d.At(x, y), want) << x << "," << y;
      }
  }
}

TEST(ImageGif, EveryImageGetsARecordWithItsOwnControlAndOnlyTheFirstIsDrawn) {
  KitGif g = OneImage(20, 10, std::vector<u8>(200, 1), 4);
  g.loops = 7;
  g.images[0].code.min_code_size = 2;
  g.images[0].control = true;
  g.images[0].delay = 10;
  for (u16 k = 1; k <= 2; k++) {
    KitGifImage im;
    im.left = static_cast<u16>(k * 3);
    im.top = k;
    im.width = 5;
    im.height = 4;
    im.indexes = std::vector<u8>(20, static_cast<u8>(k + 1));
    im.code.min_code_size = 2;
    im.interlaced = k == 2;
    im.control = true;
    im.transparent = true;  // a later transparent image does not make the picture transparent
    im.transparent_index = 2;
    im.delay = static_cast<u16>(k * 50);
    im.disposal = 2;
    if (k == 2) im.palette = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0};
    g.images.push_back(im);
  }
  std::vector<u8> file = Encode(g);
  TableDecode t;
  ImagePicture pic{};
  ASSERT_EQ(t.Run(file, &pic), 0);
  EXPECT_EQ(pic.has_alpha, 0);
  for (i32 i = 0; i < 200; i++) {
    u32 v;
    std::memcpy(&v, pic.pixels + i * 4, 4);
    ASSERT_EQ(v, Colour(1)) << "pixel " << i;
  }
  std::free(pic.pixels);
  for (u32 k = 0; k < 3; k++) {
    SCOPED_TRACE(k);
    ImageGifFrame* f = t.table[k];
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->left, k * 3);
    EXPECT_EQ(f->top, k);
    EXPECT_EQ(f->width, k ? 5u : 20u);
    EXPECT_EQ(f->transparent, k ? 1u : 0u);
    EXPECT_EQ(f->transparent_index, k ? 2u : 0u);
    EXPECT_EQ(f->delay, k ? k * 50 : 10u);
    EXPECT_EQ(f->disposal, k ? 2u : 0u);
    EXPECT_EQ(f->loop_count, 7u);
    const u8* pal = reinterpret_cast<const u8*>(f) + IMAGE_GIF_PALETTE_OFFSET;
    EXPECT_EQ(pal[3], k == 2 ? 6 : 1) << "the local table of image 2 only";
    const u8* idx = ImageGifIndexes(f);
    for (u32 i = 0; i < f->width * f->height; i++) ASSERT_EQ(idx[i], k + 1) << i;
    EXPECT_EQ(idx[f->width * f->height], 0) << "spare bytes";
  }
  EXPECT_EQ(t.table[3], nullptr);
}

TEST(ImageGif, ExtensionsAreReadByTheirOwnSizes) {
  std::vector<u8> idx = Indexes(9, 7, 4, 5);
  KitGif g = OneImage(9, 7, idx, 16);
  g.images[0].code.min_code_size = 4;
  std::string comment(300, 'c');
  std::vector<u8> xmp(255, 'x');
  xmp[1] = 0xFF;  // would be taken for a loop count by a reader that does not go by sizes
  std::vector<u8> icc(40, 0x21);
  std::vector<u8>& before = g.images[0].before;
  for (const std::vector<u8>& b :
       {KitGifComment(comment), KitGifApplication("XMP DataXMP", xmp, icc), KitGifPlainText("hello"),
        KitGifApplication("NETSCAPE2.0", {1, 3, 0}), KitGifApplication("EMPTY", {})})
    before.insert(before.end(), b.begin(), b.end());
  g.after = KitGifComment("after the image");
  std::vector<u8> file = Encode(g);
  ASSERT_NE(std::search(file.begin(), file.end(), comment.begin(), comment.begin() + 255), file.end());
  TableDecode t;
  ImagePicture pic{};
  ASSERT_EQ(t.Run(file, &pic), 0);
  EXPECT_EQ(t.table[0]->loop_count, 3u);
  for (i32 i = 0; i < 63; i++) {
    u32 v;
    std::memcpy(&v, pic.pixels + i * 4, 4);
    ASSERT_EQ(v, Colour(idx[i])) << i;
  }
  std::free(pic.pixels);
}

TEST(ImageGif, DamagedAndOversizedFilesFailWithTheirErrors) {
  auto with = [](auto edit) {
    KitGif g = OneImage(8, 8, std::vector<u8>(64, 1), 4);
    g.images[0].code.min_code_size = 2;
    edit(&g);
    std::vector<u8> f;
    KitGifEncode(g, &f);
    return f;
  };
  std::vector<u8> plain = with([](KitGif*) {});
  std::vector<u8> wide_screen = plain, unknown_label = plain, bad_block = plain, code_size_12 = plain;
  wide_screen[6] = 0x01;  // 8193
  wide_screen[7] = 0x20;
  std::vector<u8> tall_image = with([](KitGif* g) {
    g->images[0].height = 8193;
    g->images[0].indexes.assign(8 * 8193, 0);
  });
  std::vector<u8> empty_screen = with([](KitGif* g) { g->width = 0; });
  std::vector<u8> no_image = with([](KitGif* g) { g->images.clear(); });
  unknown_label.insert(unknown_label.end() - 1, {0x21, 0x99, 0});
  bad_block.insert(bad_block.end() - 1, 0x42);
  const size_t mcs_at = 13 + 12 + 10;  // header, 4-entry table, descriptor
  ASSERT_EQ(code_size_12[mcs_at], 2);
  code_size_12[mcs_at] = 12;
  struct Case {
    const char* name;
    const std::vector<u8>* file;
    i32 error;
  } cases[] = {
      {"screen 8193 wide", &wide_screen, 100091},      {"image 8193 tall", &tall_image, 100215},
      {"screen 0 wide", &empty_screen, 100215},        {"no image", &no_image, 100215},
      {"unknown extension", &unknown_label, 100215},   {"unknown block", &bad_block, 100215},
      {"minimum code size 12", &code_size_12, 100215},
  };
  EXPECT_EQ(TestDecode(IMAGE_TYPE_GIF, plain).result, 0);
  for (const Case& c : cases) {
    TestDecoded d = TestDecode(IMAGE_TYPE_GIF, *c.file);
    EXPECT_EQ(d.result, -1) << c.name;
    EXPECT_EQ(d.error, c.error) << c.name << d.shown;
    EXPECT_TRUE(d.same_buffer && d.width == 2 && d.height == 3) << c.name << ": the picture is left alone";
  }
}

TEST(ImageGif, EveryPrefixOfAFileDecodesOrFailsCleanly) {
  KitGif g = OneImage(7, 6, Indexes(7, 6, 3, 1), 8);
  g.loops = 0;
  g.images[0].code.min_code_size = 3;
  g.images[0].control = true;
  g.images[0].before = KitGifComment("c");
  KitGifImage second = g.images[0];
  second.interlaced = true;
  g.images.push_back(second);
  std::vector<u8> file = Encode(g);
  for (size_t n = 0; n <= file.size(); n++) {
    TestDecoded d = TestDecode(IMAGE_TYPE_GIF, std::vector<u8>(file.begin(), file.begin() + static_cast<long>(n)));
    if (d.result == 0) continue;
    EXPECT_EQ(d.error, 100215) << "prefix " << n;
  }
  EXPECT_EQ(TestDecode(IMAGE_TYPE_GIF, file).result, 0);
}

TEST(ImageGif, HostileCodeStreamsStayInsideTheRecordAndReusedRecordsStartZeroed) {
  // An undefined code at once: the rows keep zero indexes, also in a record that held an image
  // of the same size before.
  KitGif g = OneImage(6, 4, std::vector<u8>(24, 5), 8);
  g.images[0].code.min_code_size = 3;
  TableDecode t;
  ImagePicture pic{};
  ASSERT_EQ(t.Run(Encode(g), &pic), 0);
  std::vector<u8> file = Encode(g);
  const size_t data_at = 13 + 24 + 10 + 1;  // the first sub-block's size byte
  file.resize(data_at);
  for (u8 b : {2, 0xFF, 0xFF, 0})  // codes 7 and above of 4 bits: nothing defined yet
    file.push_back(b);
  file.push_back(0x3B);
  ASSERT_EQ(t.Run(file, &pic), 0);
  const u8* idx = ImageGifIndexes(t.table[0]);
  for (int i = 0; i < 24; i++) ASSERT_EQ(idx[i], 0) << i;
  std::free(pic.pixels);

  // Random code streams over every code size: whatever they say, nothing is written outside its
  // block (the sanitizer watches) and the decode ends.
  for (u8 bits = 1; bits <= 11; bits++) {
    std::vector<u8> h = {'G', 'I', 'F', '8', '9', 'a', 33, 0, 17, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 33, 0, 17, 0, 0, bits};
    std::vector<u8> noise = TestPattern(3000, bits);
    std::vector<u8> blocks = KitGifSubBlocks(noise.data(), noise.size());
    h.insert(h.end(), blocks.begin(), blocks.end());
    h.push_back(0x3B);
    EXPECT_EQ(TestDecode(IMAGE_TYPE_GIF, h).result, 0) << int(bits);
  }
}

TEST(ImageGif, ImagesPastTheRecordBudgetAreReadOver) {
  // Five images of 8192 x 8192 whose code streams are empty: three records fit in 256 MiB, the
  // fourth and fifth are read over, and a small image after them still gets its record.
  std::vector<u8> file = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  for (int k = 0; k < 6; k++) {
    u8 side = k < 5 ? 0x20 : 1;  // 8192 or 1
    file.insert(file.end(), {0x2C, 0, 0, 0, 0, static_cast<u8>(side == 1), static_cast<u8>(side == 1 ? 0 : side),
                             static_cast<u8>(side == 1), static_cast<u8>(side == 1 ? 0 : side), 0, 2, 0});
  }
  file.push_back(0x3B);
  TableDecode t;
  ImagePicture pic{};
  ASSERT_EQ(t.Run(file, &pic), 0);
  for (int k = 0; k < 6; k++) EXPECT_EQ(t.table[k] != nullptr, k < 3 || k == 5) << k;
  EXPECT_EQ(t.table[0]->width, 8192u);
  EXPECT_EQ(t.table[5]->width, 1u);
  std::free(pic.pixels);
}

TEST(ImageGif, ImagesPastTheTableAreReadOver) {
  KitGif g = OneImage(2, 1, {1, 2}, 4);
  g.images[0].code.min_code_size = 2;
  g.images.resize(IMAGE_GIF_MAX_FRAMES + 3, g.images[0]);
  g.images.back().indexes = {3, 3};
  TableDecode t;
  ImagePicture pic{};
  ASSERT_EQ(t.Run(Encode(g), &pic), 0);
  EXPECT_NE(t.table[IMAGE_GIF_MAX_FRAMES - 1], nullptr);
  u32 v;
  std::memcpy(&v, pic.pixels, 4);
  EXPECT_EQ(v, Colour(1));
  std::free(pic.pixels);
}
