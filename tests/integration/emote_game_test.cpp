// A game that shows the demo's animated character: the kit writes the character and a background,
// the script loads her and the background into GPU layers, chooses a read-back layer so that the
// GPU picture reaches the frame, starts her head-turn motion and shows one of her variables (command 13's dump) in a
// message box. Headless on the fixed clock with the GL device (llvmpipe): frame dumps taken at two
// frames differ where she stands and each matches its golden picture.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "kit/demo_art.h"
#include "kit/demo_chara.h"
#include "layer/image.h"
#include "platform/gpu.h"
#include "support/golden_frame.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

// Where she stands in the 200 x 240 game: her feet at (100, 230).
constexpr i32 kLeft = 40, kTop = 10, kRight = 160, kBottom = 235;

}  // namespace

TEST_F(ZephraRun, AnimatedCharacterMovesAndMatchesItsGoldenFrames) {
  PlatGpuDisplay* d = PlatGpuDisplayOpen();
  if (!d) GTEST_SKIP() << "no EGL display can be opened on this machine";
  PlatGpuDisplayClose(d);

  const i32 W = 200, H = 240;
  const fs::path src = root / "chara-src", game = root / "chara";
  fs::create_directories(src / "cg");
  fs::create_directories(src / "script");
  std::string err;
  ASSERT_EQ(KitDemoCharacterWrite(src.string(), &err), 0) << err;
  std::vector<u8> bg(static_cast<size_t>(W) * H * 4);
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++) {
      u8* p = bg.data() + (static_cast<size_t>(y) * W + x) * 4;
      p[0] = static_cast<u8>(120 + y / 4), p[1] = static_cast<u8>(90 + x / 8), p[2] = 60, p[3] = 255;
    }
  std::vector<u8> bmp = KitBmpEncode(bg.data(), W, H, false);
  std::ofstream(src / "cg" / "bg.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  // The player's driver among the game's files turns the characters on.
  std::ofstream(src / "emotedriver.dll") << "driver";
  std::ofstream(src / "project.txt") << "width = 200\nheight = 240\ntitle = Chara\n";
  std::ofstream(src / "script" / "main.zs")
      << "global str d\n"
         "*SYSTEM_START\n"
         "layer name = 'W0/view', file = 'cg/bg.bmp', order = 1, readback = 1\n"
         "layer name = 'W0/bg', file = 'cg/bg.bmp', order = 2, gpu = 1\n"
         "layer name = 'W0/girl', file = 'cg/girl.psb', gpu = 1, order = 3, x = 100, y = 230\n"
         "emote name = 'W0/girl', motion = 'turn', start = 1\n"
         "wait frames = 10\n"
         "emote_info name = 'W0/girl', result = d, dump = 1\n"
         "msgbox text = d\n"
         "wait frames = 100000\n";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  struct Shot {
    int frames;
    const char* golden;
  } shots[] = {{8, "chara_frame8.png"}, {40, "chara_frame40.png"}};
  std::vector<ImagePicture> got;
  for (const Shot& s : shots) {
    const fs::path dump = root / ("frame" + std::to_string(s.frames) + ".png");
    ASSERT_EQ(RunToEnd({game.string()},
                       {"ZEPHRA_EXIT_AFTER_FRAMES=" + std::to_string(s.frames), "ZEPHRA_FIXED_CLOCK=1",
                        "ZEPHRA_FRAME_DUMP=" + dump.string()},
                       &err),
              0)
        << err;
    EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
    EXPECT_EQ(err.find("GPU描画が出来ませんでした"), std::string::npos) << err;
    if (s.frames == 40) {
      // The dump shows the head turned part of the way: "head_turn", the separator, 0 < value <= 1000.
      const size_t at = err.find("head_turn￡");
      ASSERT_NE(at, std::string::npos) << err;
      const int v = std::atoi(err.c_str() + at + std::strlen("head_turn￡"));
      EXPECT_GT(v, 0) << err;
      EXPECT_LE(v, 1000) << err;
      EXPECT_NE(err.find("breath￡"), std::string::npos) << err;
    }
    ImagePicture pic{};
    ASSERT_TRUE(DecodePngFile(dump, &pic));
    ASSERT_EQ(pic.width, W);
    ASSERT_EQ(pic.height, H);
    if (std::getenv("ZEPHRA_UPDATE_GOLDEN"))
      fs::copy_file(dump, fs::path(ZEPHRA_SOURCE_DIR) / "tests" / "integration" / "golden" / s.golden,
                    fs::copy_options::overwrite_existing);
    got.push_back(pic);
    ImagePicture want{};
    ASSERT_TRUE(DecodePngFile(fs::path(ZEPHRA_SOURCE_DIR) / "tests" / "integration" / "golden" / s.golden, &want));
    if (want.width != W || want.height != H) {
      std::free(want.pixels);
      FAIL() << s.golden;
    }
    // Tolerance: every channel of every pixel within 3 levels of the golden picture (the GPU's
    // filtering may round differently between drivers).
    int worst = 0;
    for (size_t i = 0; i < static_cast<size_t>(W) * H * 4; i++)
      if (i % 4 != 3) worst = std::max(worst, std::abs(pic.pixels[i] - want.pixels[i]));
    EXPECT_LE(worst, 3) << s.golden;
    std::free(want.pixels);
  }
  // She moved: the two frames differ inside her area, and only there.
  size_t inside = 0, outside = 0;
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++) {
      const size_t i = (static_cast<size_t>(y) * W + x) * 4;
      const bool differs = std::memcmp(got[0].pixels + i, got[1].pixels + i, 3) != 0;
      const bool in = x >= kLeft && x < kRight && y >= kTop && y < kBottom;
      (in ? inside : outside) += differs;
    }
  EXPECT_GT(inside, 100u);
  EXPECT_EQ(outside, 0u);
  for (ImagePicture& p : got) std::free(p.pixels);
}
