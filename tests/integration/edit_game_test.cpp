// A game that edits pictures with the layer edit command: a cross-fade, a soft rule transition, a
// blit with alpha, a canvas and a trim, and a row of effects, each result shown at its own place
// (every shown picture opaque, so composition copies it as it is). It saves the cross-fade and
// the rule transition as PNG files, which must equal the pictures worked out here from the
// formulas; run with one and with four drawing workers its frame dumps are identical and equal
// the golden picture.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/config_writer.h"
#include "kit/demo_art.h"
#include "layer/image.h"
#include "support/golden_frame.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

constexpr i32 kW = 48, kH = 32;

std::vector<u8> Picture(u32 (*f)(i32, i32), i32 w = kW, i32 h = kH) {
  std::vector<u8> p(static_cast<size_t>(w) * h * 4);
  for (i32 y = 0; y < h; y++)
    for (i32 x = 0; x < w; x++) {
      const u32 v = f(x, y);
      for (int c = 0; c < 4; c++) p[(static_cast<size_t>(y) * w + x) * 4 + c] = static_cast<u8>(v >> (8 * c));
    }
  return p;
}

u32 PicA(i32 x, i32 y) { return 0xFF000000u | static_cast<u32>(x * 5) << 16 | static_cast<u32>(y * 7) << 8 | 200u; }
u32 PicB(i32 x, i32 y) { return ((x / 6 + y / 4) % 2) ? 0xFFF0E040u : 0xFF2040A0u; }
u32 PicRule(i32 x, i32) { return 0xFF000000u | static_cast<u32>(x * 255 / (kW - 1)) * 0x010101u; }
// A sprite: opaque disc on a clear ground.
u32 PicSprite(i32 x, i32 y) {
  const i32 dx = x - 12, dy = y - 12;
  return dx * dx + dy * dy <= 100 ? 0xFF30F0F0u : 0x00000000u;
}

void Write(const fs::path& p, const std::vector<u8>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Each result's place in the 320 x 240 frame follows from its order in the list.
const char* const kShown[] = {"fade",  "ruled", "canvas", "bright", "blur",    "mosaic", "swirl", "wave",
                              "sepia", "sat",   "neg",    "mirror", "scatter", "flip",   "trim",  "balance"};

}  // namespace

TEST_F(ZephraRun, EditGameRunsTransitionsBlitsAndEffectsAndMatchesItsGoldenPicture) {
  const fs::path src = root / "edit-src", game = root / "edit";
  Write(src / "cg" / "a.bmp", KitBmpEncode(Picture(PicA).data(), kW, kH, false));
  Write(src / "cg" / "b.bmp", KitBmpEncode(Picture(PicB).data(), kW, kH, false));
  Write(src / "cg" / "rule.bmp", KitBmpEncode(Picture(PicRule).data(), kW, kH, false));
  Write(src / "cg" / "sprite.bmp", KitBmpEncode(Picture(PicSprite, 24, 24).data(), 24, 24, true));
  std::ofstream(src / "project.txt") << "width = 320\nheight = 240\ntitle = Edit\n";
  std::string s =
      "*SYSTEM_START\n"
      "fps rate = 60\n"
      "layer name = 'W0/a', file = 'cg/a.bmp', order = 1, visible = 0\n"
      "layer name = 'W0/b', file = 'cg/b.bmp', order = 1, visible = 0\n"
      "layer name = 'W0/rule', file = 'cg/rule.bmp', order = 1, visible = 0\n"
      "layer name = 'W0/sprite', file = 'cg/sprite.bmp', order = 1, visible = 0\n"
      "layer name = 'W0/fade', file = '', order = 2, width = 48, height = 32\n"
      "layer name = 'W0/ruled', file = '', order = 2, width = 48, height = 32\n"
      "layer_edit src = 'W0/a', dst = 'W0/b', layer2 = 'W0/fade', crossfade = 1, value = 100\n"
      "layer_edit src = 'W0/a', dst = 'W0/b', layer2 = 'W0/rule', layer3 = 'W0/ruled', rule = 1, value = 150, "
      "value2 = 64\n"
      // The sprite is blitted over the corner of a copy of b grown by a margin of 4 all round,
      // which is then cut back to b's size.
      "layer_edit src = 'W0/b', dst = 'W0/canvas', copy = 1\n"
      "layer_edit src = 'W0/canvas', canvas = 1, x1 = 4, y1 = 4, x2 = 4, y2 = 4\n"
      "layer_edit src = 'W0/sprite', dst = 'W0/canvas', blit = 1, x1 = 40, y1 = -6\n"
      "layer_edit src = 'W0/canvas', canvas = 1, x1 = -4, y1 = -4, x2 = -4, y2 = -4\n"
      "layer_edit src = 'W0/a', dst = 'W0/bright', brightness = 1, value = 200\n"
      "layer_edit src = 'W0/b', dst = 'W0/blur', blur_fast = 1, value = 3\n"
      "layer_edit src = 'W0/a', dst = 'W0/mosaic', mosaic = 1, value = 5\n"
      "layer_edit src = 'W0/b', dst = 'W0/swirl', swirl = 1, value = 1800\n"
      "layer_edit src = 'W0/b', dst = 'W0/wave', wave = 1, value = 4, value2 = 30\n"
      "layer_edit src = 'W0/a', dst = 'W0/sepia', sepia = 1\n"
      "layer_edit src = 'W0/a', dst = 'W0/sat', saturation = 1, value = 240\n"
      "layer_edit src = 'W0/b', dst = 'W0/neg', negative = 1\n"
      "layer_edit src = 'W0/a', dst = 'W0/mirror', mirror = 1\n"
      "layer_edit src = 'W0/b', dst = 'W0/scatter', scatter = 1, value = 12\n"
      "layer_edit src = 'W0/a', dst = 'W0/flip', flip = 1, x1 = 8, y1 = 4, x2 = 39, y2 = 27\n"
      "layer_edit src = 'W0/sprite', dst = 'W0/trim', trim = 1, value = 15\n"
      "layer_edit src = 'W0/a', dst = 'W0/balance', balance = 1, value = 0xC06020\n"
      "file folder = 'out', mkdir = 1\n"
      "file file = 'out/fade', layer = 'W0/fade', png = 1\n"
      "file file = 'out/ruled', layer = 'W0/ruled', png = 1\n";
  for (size_t i = 0; i < std::size(kShown); i++)
    s += std::string("layer name = 'W0/") + kShown[i] +
         "', visible = 1, order = 3, x = " + std::to_string(8 + (i % 5) * 62) +
         ", y = " + std::to_string(8 + (i / 5) * 44) + "\n";
  s += "wait frames = 100000\n";
  fs::create_directories(src / "script");
  std::ofstream(src / "script" / "main.zs") << s;
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  std::vector<std::vector<u8>> frames;
  for (u32 workers : {0u, 4u}) {
    SCOPED_TRACE(workers);
    std::vector<u32> settings = KitEngineSettingsDefaults();
    settings[4] = workers;  // 0: one drawing worker
    ASSERT_EQ(KitSettingsValuesWrite((game / "zpcfg.dat").string(), settings), 0);
    const fs::path dump = root / ("frame" + std::to_string(workers) + ".png");
    std::string err;
    ASSERT_EQ(
        RunToEnd({game.string()},
                 {"ZEPHRA_EXIT_AFTER_FRAMES=5", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
        0)
        << err;
    EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
    std::ifstream in(dump, std::ios::binary);
    frames.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(frames.back().empty());
  }

  // The saved cross-fade (weight 101) and rule transition (p = 106, softness 64: weight
  // min(255, (m * 64 >> 1) + 32 * 106 - 8192 + 106) + 1 for mask byte m, B where it is below 2).
  ImagePicture fade{}, ruled{};
  ASSERT_TRUE(DecodePngFile(game / "out" / "fade.png", &fade));
  ASSERT_TRUE(DecodePngFile(game / "out" / "ruled.png", &ruled));
  ASSERT_EQ(fade.width, kW);
  ASSERT_EQ(ruled.height, kH);
  const std::vector<u8> a = Picture(PicA), b = Picture(PicB), m = Picture(PicRule);
  size_t off = 0;
  for (size_t i = 0; i < a.size(); i++) {
    const int fw = 101;
    off += fade.pixels[i] != static_cast<u8>((a[i] * (256 - fw) + b[i] * fw) >> 8);
    const int mask = m[i / 4 * 4];
    const int w = std::min(255, ((mask * 64) >> 1) + 32 * 106 - 8192 + 106) + 1;
    const int want = w < 2 ? b[i] : b[i] - static_cast<int>(std::floor((b[i] - a[i]) * w / 256.0));
    off += ruled.pixels[i] != static_cast<u8>(want);
  }
  EXPECT_EQ(off, 0u);
  std::free(fade.pixels);
  std::free(ruled.pixels);

  EXPECT_EQ(frames[0], frames[1]) << "one and four drawing workers";
  ImagePicture got{}, want{};
  ASSERT_TRUE(DecodePngFile(root / "frame0.png", &got));
  ASSERT_TRUE(
      DecodePngFile(fs::path(ZEPHRA_SOURCE_DIR) / "tests" / "integration" / "golden" / "edit_last_frame.png", &want));
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  size_t diffs = 0;
  for (size_t i = 0; i < static_cast<size_t>(got.width) * got.height * 4; i++)
    if (i % 4 != 3 && got.pixels[i] != want.pixels[i] && diffs++ < 5) ADD_FAILURE() << "byte " << i;
  EXPECT_EQ(diffs, 0u);
  std::free(got.pixels);
  std::free(want.pixels);
}
