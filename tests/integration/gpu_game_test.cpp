// A game run with GPU drawing (drawing mode 0) on the platform's EGL device, headless: the device
// starts without the fall-back box, and since nothing is GPU-drawn without the character bridge
// and mode 0 never reads back, its last frame equals the CPU run's byte for byte. Without an EGL
// display the same game falls back to CPU drawing with the box and still shows the same frame.
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/config_writer.h"
#include "kit/demo_art.h"
#include "platform/gpu.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

std::vector<u8> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(ZephraRun, GpuDrawingModeZeroShowsTheCpuFrameAndFallsBackWithoutADisplay) {
  PlatGpuDisplay* d = PlatGpuDisplayOpen();
  if (!d) GTEST_SKIP() << "no EGL display can be opened on this machine";
  PlatGpuDisplayClose(d);

  const i32 W = 160, H = 120;
  std::vector<u8> bg(static_cast<size_t>(W) * H * 4), spot(40 * 30 * 4);
  for (i32 y = 0; y < H; y++)
    for (i32 x = 0; x < W; x++) {
      u8* p = bg.data() + (static_cast<size_t>(y) * W + x) * 4;
      p[0] = static_cast<u8>(x * 3), p[1] = static_cast<u8>(y * 2), p[2] = static_cast<u8>(x + y), p[3] = 255;
    }
  for (size_t i = 0; i < spot.size(); i += 4) spot[i] = 200, spot[i + 1] = 40, spot[i + 2] = 90, spot[i + 3] = 255;
  fs::path src = root / "gpu-src";
  fs::create_directories(src / "cg");
  fs::create_directories(src / "script");
  {
    std::vector<u8> b = KitBmpEncode(bg.data(), W, H, false), s = KitBmpEncode(spot.data(), 40, 30, false);
    std::ofstream(src / "cg" / "bg.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    std::ofstream(src / "cg" / "spot.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  }
  std::ofstream(src / "project.txt") << "width = 160\nheight = 120\ntitle = Gpu\n";
  std::ofstream(src / "script" / "main.zs")
      << "*SYSTEM_START\n"
         "layer name = 'W0/bg', file = 'cg/bg.bmp', order = 1\n"
         "layer name = 'W0/spot', file = 'cg/spot.bmp', order = 2, x = 30, y = 20, opacity = 160\n"
         "wait frames = 2\n"
         "layer name = 'W0/spot', x += 17, y += 9\n"
         "wait frames = 100000\n";
  fs::path game = root / "gpu";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  struct Run {
    u32 mode;
    const char* extra_env;  // empty: none
    bool fallback;
  } runs[] = {{3, "", false}, {0, "", false}, {0, "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/zephra.json", true}};
  std::vector<u8> cpu_frame;
  int i = 0;
  for (const Run& r : runs) {
    std::vector<u32> settings = KitEngineSettingsDefaults();
    settings[8] = r.mode;
    ASSERT_EQ(KitSettingsValuesWrite((game / "zpcfg.dat").string(), settings), 0);
    fs::path dump = root / ("frame" + std::to_string(i++) + ".png");
    std::vector<std::string> env = {"ZEPHRA_EXIT_AFTER_FRAMES=8", "ZEPHRA_FIXED_CLOCK=1",
                                    "ZEPHRA_FRAME_DUMP=" + dump.string()};
    if (r.extra_env[0]) env.push_back(r.extra_env);
    std::string err;
    ASSERT_EQ(RunToEnd({game.string()}, env, &err), 0) << err;
    const bool boxed = err.find("GPU描画が出来ませんでした。CPU描画に移行します。") != std::string::npos;
    EXPECT_EQ(boxed, r.fallback) << "mode " << r.mode << ": " << err;
    EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
    std::vector<u8> frame = ReadBytes(dump);
    ASSERT_FALSE(frame.empty());
    if (cpu_frame.empty()) cpu_frame = frame;
    else EXPECT_TRUE(frame == cpu_frame) << "mode " << r.mode << " frame differs from the CPU run";
  }
}
