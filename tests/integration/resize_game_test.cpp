// A game that resizes one picture with each of the five filters and turns it both ways, run
// headless on the fixed clock. Its last frame must equal, byte for byte, the picture the filter
// references give. The picture's channel values are multiples of 4 and the sizes are chosen so
// that the bilinear positions fall on whole and half pixels: then the plain and threaded
// bilinear sums, and the plain and SIMD halving, agree on every processor.
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/demo_art.h"
#include "layer/image.h"
#include "layer/resize_reference.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;
using namespace resize_ref;

TEST_F(ZephraRun, ResizeGameUsesEveryFilterAndBothRotationsAndMatchesItsGoldenFrame) {
  const i32 W = 320, H = 240, SW = 16, SH = 12;
  Pic src{SW, SH, std::vector<u8>(ImagePixelBytes(SW, SH), 0)};
  for (i32 y = 0; y < SH; y++)
    for (i32 x = 0; x < SW; x++) {
      u8* p = src.px.data() + (static_cast<size_t>(y) * SW + x) * 4;
      p[0] = static_cast<u8>((x * 16) & 0xFC);
      p[1] = static_cast<u8>((y * 20) & 0xFC);
      p[2] = static_cast<u8>(((x / 4 + y / 4) * 40) & 0xFC);
      p[3] = 255;
    }
  fs::path dir = root / "resize-src";
  fs::create_directories(dir / "cg");
  fs::create_directories(dir / "script");
  std::vector<u8> bmp = KitBmpEncode(src.px.data(), SW, SH, false);
  std::ofstream(dir / "cg" / "src.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  std::ofstream(dir / "project.txt") << "width = 320\nheight = 240\ntitle = Resize\n";

  const Rect whole{0, 0, (SW - 1) * 100, (SH - 1) * 100};
  struct Shown {
    const char* name;
    const char* edit;
    i32 x, y;
    Out want;
    i32 w, h;
  } shown[] = {
      {"n", "new_w = 40, new_h = 30, resize_nearest = 1", 20, 0, RefNearest(src, whole, 4000, 3000), 40, 30},
      {"b", "new_w = 31, new_h = 23, resize_bilinear = 1", 70, 0, RefBilinear(src, whole, 3100, 2300), 31, 23},
      {"c", "new_w = 24, new_h = 20, resize_bicubic = 1", 110, 0, RefBicubic(src, whole, 2400, 2000), 24, 20},
      {"t", "new_w = 8, new_h = 6, resize_threaded = 1", 140, 0, RefThreaded(src, whole, 800, 600), 8, 6},
      {"s", "new_w = 29, new_h = 7, resize_sinc = 1", 160, 0, RefSinc(src, whole, 2900, 700), 29, 7},
      {"r", "rotate = 1, value = 30", 200, 0, RefRotate(src, 30, ROTATE_TESTED), SW, SH},
      {"q", "rotate = 2, value = 45 - 135", 220, 0, RefRotate(src, -90, ROTATE_CLAMPED), SW, SH},
      {"p",
       "new_w100 = 1650, new_h100 = 1250, x1_100 = -50, y1_100 = 20, x2_100 = 1490, y2_100 = 1130, resize_bicubic = 1",
       240, 0, RefBicubic(src, {-50, 20, 1490, 1130}, 1650, 1250), 16, 12},
  };
  std::string script = "*SYSTEM_START\nfps rate = 60\nlayer name = 'W0/src', file = 'cg/src.bmp', order = 1\n";
  for (const Shown& s : shown)
    script += std::string("layer_edit src = 'W0/src', dst = 'W0/") + s.name + "', " + s.edit + "\n";
  for (const Shown& s : shown)
    script += std::string("layer name = 'W0/") + s.name + "', x = " + std::to_string(s.x) +
              ", y = " + std::to_string(s.y) + "\n";
  script += "wait frames = 100000\n";
  std::ofstream(dir / "script" / "main.zs") << script;
  std::string cmd =
      std::string("'") + ZPKIT_BIN + "' build '" + dir.string() + "' '" + (root / "resize").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  fs::path dump = root / "last.png";
  std::string err;
  ASSERT_EQ(
      RunToEnd({(root / "resize").string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=5", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  std::ifstream in(dump, std::ios::binary);
  std::vector<u8> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "last.png", &shot), 0) << err;
  ASSERT_EQ(shot.width, W);
  ASSERT_EQ(shot.height, H);

  // The golden frame: black, the picture at 0, 0 and each result copied at its place (the turned
  // pictures' clear pixels are transparent black, which leaves black as it is).
  std::vector<u32> golden(static_cast<size_t>(W) * H, 0);
  for (i32 y = 0; y < SH; y++)
    for (i32 x = 0; x < SW; x++) golden[static_cast<size_t>(y) * W + x] = src.at(x, y);
  for (const Shown& s : shown)
    for (i32 y = 0; y < s.h; y++)
      for (i32 x = 0; x < s.w; x++)
        golden[static_cast<size_t>(s.y + y) * W + s.x + x] = s.want[static_cast<size_t>(y) * s.w + x];

  size_t diffs = 0;
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++)
      for (int c = 0; c < 3; c++) {
        u8 got = shot.pixels[(static_cast<size_t>(y) * W + x) * 4 + c];
        u8 want = static_cast<u8>(golden[static_cast<size_t>(y) * W + x] >> (8 * c));
        if (got != want && diffs++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(got) << " != " << int(want);
      }
  EXPECT_EQ(diffs, 0u);
  std::free(shot.pixels);
}

}  // namespace
