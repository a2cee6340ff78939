// The demo game built from examples/demo by the kit and run headless on the fixed clock: its last
// frame (the scene at dusk with the two typed message lines) matches the golden picture. The
// glyphs come from the installed IPA fonts, whose rendering may move a pixel between FreeType
// versions: the text area may differ a little, everything else must match.
#include <cstdlib>

#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

bool DecodePng(const fs::path& file, ImagePicture* pic) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  *pic = ImagePicture{};
  return !bytes.empty() && ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()),
                                          file.string().c_str(), pic) == 0;
}

// The text layer's place in the 640 x 480 demo.
constexpr i32 kTextLeft = 44, kTextTop = 368, kTextRight = 44 + 552, kTextBottom = 368 + 84;

bool InText(i32 x, i32 y) { return x >= kTextLeft && x < kTextRight && y >= kTextTop && y < kTextBottom; }

}  // namespace

TEST_F(ZephraRun, DemoTypesItsMessageAndEndsOnTheGoldenPicture) {
  const fs::path src = root / "demo-src", game = root / "demo", out = root / "last.png";
  fs::copy(fs::path(ZEPHRA_SOURCE_DIR) / "examples" / "demo", src, fs::copy_options::recursive);
  std::string cmd = std::string("'") + ZPKIT_BIN + "' demo-art '" + src.string() + "' && '" + ZPKIT_BIN +
                    "' demo-chara '" + src.string() + "' && '" + ZPKIT_BIN + "' demosounds '" + src.string() +
                    "' && '" + ZPKIT_BIN + "' build '" + src.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::string err;
  ASSERT_EQ(
      RunToEnd({game.string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=5000", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + out.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;

  ImagePicture got{}, want{};
  ASSERT_TRUE(DecodePng(out, &got));
  ASSERT_TRUE(
      DecodePng(fs::path(ZEPHRA_SOURCE_DIR) / "tests" / "integration" / "golden" / "demo_last_frame.png", &want));
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  // Outside the text: within 2 levels a channel. Inside: at most 3 % of its pixels differ by more
  // than 2, and the amount of ink (bright pixels) is within 10 % of the golden picture's.
  size_t outside_off = 0, text_off = 0, ink_got = 0, ink_want = 0;
  for (i32 y = 0; y < got.height; y++)
    for (i32 x = 0; x < got.width; x++) {
      const u8* a = got.pixels + (static_cast<size_t>(y) * got.width + x) * 4;
      const u8* b = want.pixels + (static_cast<size_t>(y) * want.width + x) * 4;
      int diff = 0;
      for (int c = 0; c < 3; c++) diff = std::max(diff, std::abs(a[c] - b[c]));
      if (!InText(x, y)) {
        outside_off += diff > 2;
        continue;
      }
      text_off += diff > 2;
      ink_got += a[0] + a[1] + a[2] > 400;
      ink_want += b[0] + b[1] + b[2] > 400;
    }
  EXPECT_EQ(outside_off, 0u);
  EXPECT_LE(text_off, static_cast<size_t>((kTextRight - kTextLeft) * (kTextBottom - kTextTop) * 3 / 100));
  EXPECT_GT(ink_want, 1000u) << "the golden picture shows the text";
  EXPECT_NEAR(static_cast<double>(ink_got), static_cast<double>(ink_want), ink_want * 0.10);
  std::free(got.pixels);
  std::free(want.pixels);
}
