// The frame dump: a small scene built through LayerCreate and composed on the workers is written
// as PNG, and the file holds exactly the picture worked out by hand (the golden picture).
#include <filesystem>
#include <fstream>
#include <iterator>

#include "layer/compose_fixture.h"

namespace {

namespace fs = std::filesystem;

struct DumpTest : ComposeTest {
  fs::path dir;
  void SetUp() override {
    ComposeTest::SetUp();
    char tmpl[] = "/tmp/zephra-dump-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
    ComposeTest::TearDown();
  }
};

struct Rgb {
  i32 r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& o, const Rgb& c) { return o << c.r << "," << c.g << "," << c.b; }

u32 Bgra(Rgb c) {
  return 0xFF000000u | static_cast<u32>(c.r) << 16 | static_cast<u32>(c.g) << 8 | static_cast<u32>(c.b);
}

TEST_F(DumpTest, GoldenSceneIsWrittenExactly) {
  const Rgb bg{0x30, 0x20, 0x10}, panel{0x80, 0, 0}, green{0, 0xFF, 0}, grey{0x40, 0x40, 0x40}, white{0xF0, 0xF0, 0xF0};
  TestFillSolid(LayerOf(TestPicture("W0/bg", 64, 48, 0, 0, 0)), Bgra(bg));
  // A panel folder at opacity 64 with a red picture, an opaque green square and a clear one.
  LayerRecord* f = LayerCreate("W0/panel", 30, 20, 1);
  ASSERT_NE(f, nullptr);
  f->x = 10, f->y = 8, f->opacity = 64;
  TestFillSolid(LayerOf(TestPicture("W0/panel/red", 30, 20, 0, 0, 0)), Bgra(panel));
  ObjNode* sq = TestPicture("W0/panel/sq", 10, 10, 5, 5, 1);
  TestFillSolid(LayerOf(sq), Bgra(green));
  LayerOf(sq)->has_alpha = 1;
  ObjNode* clear = TestPicture("W0/panel/clear", 10, 10, 15, 5, 2);
  TestFillSolid(LayerOf(clear), Bgra(white) & 0x00FFFFFF);
  LayerOf(clear)->has_alpha = 1;
  // An added square, and a bottom row shown through a hard-edged mask at half progress.
  ObjNode* add = TestPicture("W0/add", 8, 8, 50, 30, 2);
  TestFillSolid(LayerOf(add), Bgra(grey));
  LayerOf(add)->blend_mode = 1;
  ObjNode* mask = TestPicture("W0/mask", 20, 1, 0, 0, 3);
  LayerOf(mask)->visible = 0;
  for (i32 x = 0; x < 20; x++) LayerOf(mask)->pixels[x * 4] = static_cast<u8>(x * 13);
  ObjNode* row = TestPicture("W0/row", 20, 1, 0, 47, 4);
  TestFillSolid(LayerOf(row), Bgra(white));
  std::strcpy(LayerOf(row)->mask_name, "W0/mask");
  LayerOf(row)->mask_progress = 128;
  LayerOf(row)->mask_softness = 256;

  UseWorkers(2);
  ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
  fs::path out = dir / "frame.png";
  std::string why;
  ASSERT_EQ(FrameDumpPng(out.c_str(), &why), 0) << why;
  EXPECT_FALSE(fs::exists(dir / "frame.png.tmp"));

  std::ifstream in(out, std::ios::binary);
  std::vector<u8> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture pic{};
  ASSERT_EQ(ImageDecodePng(file.data(), static_cast<u32>(file.size()), "frame.png", &pic), 0);
  ASSERT_EQ(pic.width, 64);
  ASSERT_EQ(pic.height, 48);
  auto mix = [](Rgb d, Rgb s, i32 op) {
    auto m = [op](i32 dv, i32 sv) { return dv + static_cast<i32>(std::floor((sv - dv) * op / 256.0)); };
    return Rgb{m(d.r, s.r), m(d.g, s.g), m(d.b, s.b)};
  };
  for (i32 y = 0; y < 48; y++) {
    for (i32 x = 0; x < 64; x++) {
      Rgb want = bg;
      if (x >= 10 && x < 40 && y >= 8 && y < 28) {
        i32 px = x - 10, py = y - 8;
        Rgb inner = panel;
        if (px >= 5 && px < 15 && py >= 5 && py < 15) inner = green;
        want = mix(bg, inner, 64);
      }
      if (x >= 50 && x < 58 && y >= 30 && y < 38)
        want = {std::min(bg.r + grey.r, 255), std::min(bg.g + grey.g, 255), std::min(bg.b + grey.b, 255)};
      if (y == 47 && x < 20 && x * 13 >= 128) want = white;
      const u8* p = pic.pixels + (y * 64 + x) * 4;
      ASSERT_EQ((Rgb{p[2], p[1], p[0]}), want) << x << "," << y;
    }
  }
  std::free(pic.pixels);
}

TEST_F(DumpTest, NothingIsWrittenWithoutAPicture) {
  fs::path out = dir / "none.png";
  LayerRelease(RootNode());
  std::string why;
  EXPECT_EQ(FrameDumpPng(out.c_str(), &why), -1);
  EXPECT_EQ(why, "the main window has no picture");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(FrameDumpPng("", &why), -1);
}

TEST_F(DumpTest, AnUnwritablePlaceFailsWithoutLeavingFiles) {
  fs::path out = dir / "missing-folder" / "f.png";
  std::string why;
  EXPECT_EQ(FrameDumpPng(out.c_str(), &why), -1);
  EXPECT_EQ(why, "No such file or directory");
  EXPECT_FALSE(fs::exists(dir / "missing-folder"));
}

}  // namespace
