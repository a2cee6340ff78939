// A game that shows pictures: it creates layers from BMP files, moves one, fades one in by steps
// and deletes one, run headless on the fixed clock. Its last frame must equal, byte for byte, the
// picture worked out here from the pictures and the blending rules (copy for opaque pictures,
// per-pixel alpha weight alpha + 1, opacity weight for the opacity path).
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/demo_art.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

struct Pic {
  i32 w, h;
  std::vector<u8> bgra;
  u8 px(i32 x, i32 y, int c) const { return bgra[(static_cast<size_t>(y) * w + x) * 4 + c]; }
};

template <class F>
Pic Make(i32 w, i32 h, F f) {
  Pic p{w, h, std::vector<u8>(static_cast<size_t>(w) * h * 4)};
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) {
      u32 v = f(x, y);
      for (int c = 0; c < 4; c++) p.bgra[(static_cast<size_t>(y) * w + x) * 4 + c] = static_cast<u8>(v >> (8 * c));
    }
  return p;
}

void WriteFile(const fs::path& p, const std::vector<u8>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Blends a picture at (ox, oy) into the frame with weight(dst, src pixel) per channel.
template <class W>
void BlendInto(std::vector<u8>* frame, i32 fw, i32 fh, const Pic& p, i32 ox, i32 oy, W weight) {
  for (i32 y = 0; y < p.h; y++)
    for (i32 x = 0; x < p.w; x++) {
      i32 fx = ox + x, fy = oy + y;
      if (fx < 0 || fy < 0 || fx >= fw || fy >= fh) continue;
      u8* d = frame->data() + (static_cast<size_t>(fy) * fw + fx) * 3;
      int wgt = weight(p.px(x, y, 3));
      for (int c = 0; c < 3; c++) d[c] = static_cast<u8>((d[c] * (256 - wgt) + p.px(x, y, c) * wgt) >> 8);
    }
}

}  // namespace

TEST_F(ZephraRun, LayerGameCreatesMovesFadesAndDeletesAndMatchesItsGoldenFrame) {
  const i32 W = 320, H = 240;
  Pic bg = Make(W, H, [](i32 x, i32 y) { return 0xFF000000u | ((x + y) & 255) << 16 | (y & 255) << 8 | (x & 255); });
  // A picture with its own alpha: opaque on the left, a checkerboard of clear and opaque pixels on
  // the right, clear in a band at the top. Partial alpha is left out on purpose: the drawing
  // kernels may round it differently from one processor to the next. Under a's final place the
  // background's bytes stay at or below 128, where the clear pixels' fill colour (weight 1)
  // rounds away under every kernel.
  Pic a = Make(40, 30, [](i32 x, i32 y) {
    u32 alpha = x < 20 ? 255u : (y < 10 || (x + y) % 2 ? 0u : 255u);
    return alpha << 24 | 0x30u << 16 | static_cast<u32>(y * 8) << 8 | static_cast<u32>(x * 6);
  });
  Pic b = Make(50, 40, [](i32 x, i32 y) {
    return 0xFF000000u | static_cast<u32>(200 - y) << 16 | 0x40u << 8 | static_cast<u32>(x * 5);
  });
  Pic c = Make(60, 60, [](i32, i32) { return 0xFFFFFFFFu; });

  fs::path src = root / "layers-src";
  WriteFile(src / "cg" / "bg.bmp", KitBmpEncode(bg.bgra.data(), bg.w, bg.h, false));
  WriteFile(src / "cg" / "a.bmp", KitBmpEncode(a.bgra.data(), a.w, a.h, true));
  WriteFile(src / "cg" / "b.bmp", KitBmpEncode(b.bgra.data(), b.w, b.h, false));
  WriteFile(src / "cg" / "c.bmp", KitBmpEncode(c.bgra.data(), c.w, c.h, false));
  fs::create_directories(src / "script");
  std::ofstream(src / "project.txt") << "width = 320\nheight = 240\ntitle = Layers\n";
  std::ofstream(src / "script" / "main.zs")
      << "*SYSTEM_START\n"
         "fps rate = 60\n"
         "layer name = 'W0/bg', file = 'cg/bg.bmp', order = 1\n"
         "layer name = 'W0/a', file = 'cg/a.bmp', order = 2, x = 10, y = 25\n"
         "layer name = 'W0/b', file = 'cg/b', order = 3, x = 100, y = 50, opacity = 0\n"
         "layer name = 'W0/c', file = 'cg/c.bmp', order = 4, x = 150, y = 100\n"
         "wait frames = 1\n"
         "layer name = 'W0/b', opacity += 64\n"
         "wait frames = 1\n"
         "layer name = 'W0/a', x += 30, y -= 5\n"
         "layer name = 'W0/b', opacity += 64\n"
         "wait frames = 1\n"
         "layer name = 'W0/b', opacity += 64, x += 7\n"
         "layer_delete name = 'W0/c'\n"
         "wait frames = 100000\n";
  std::string cmd =
      std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / "layers").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  fs::path dump = root / "last.png";
  std::string err;
  ASSERT_EQ(
      RunToEnd({(root / "layers").string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=20", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  std::ifstream in(dump, std::ios::binary);
  std::vector<u8> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "last.png", &shot), 0) << err;
  ASSERT_EQ(shot.width, W);
  ASSERT_EQ(shot.height, H);

  // The golden frame: the background copied, a (moved to 40, 20) over it by its alpha, where a
  // clear pixel shows the fill colour with weight 1, then b at (107, 50) with opacity 192.
  std::vector<u8> golden(static_cast<size_t>(W) * H * 3);
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++)
      for (int c = 0; c < 3; c++) golden[(static_cast<size_t>(y) * W + x) * 3 + c] = bg.px(x, y, c);
  Pic a_shown = a;
  for (size_t i = 0; i < a_shown.bgra.size(); i += 4)
    if (a_shown.bgra[i + 3] == 0) a_shown.bgra[i] = a_shown.bgra[i + 1] = a_shown.bgra[i + 2] = 0x80;
  BlendInto(&golden, W, H, a_shown, 40, 20, [](int alpha) { return alpha + 1; });
  BlendInto(&golden, W, H, b, 107, 50, [](int) { return 192; });

  size_t diffs = 0;
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++)
      for (int c = 0; c < 3; c++) {
        u8 got = shot.pixels[(static_cast<size_t>(y) * W + x) * 4 + c];
        u8 want = golden[(static_cast<size_t>(y) * W + x) * 3 + c];
        if (got != want && diffs++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(got) << " != " << int(want);
      }
  EXPECT_EQ(diffs, 0u);
  std::free(shot.pixels);
}
