// A game that saves and, in a second run of the process, loads: variables, a group, a picture, a
// memory save slot kept through a snapshot file. The loaded values come back in a message box and
// the loaded picture in the last frame.
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/demo_art.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {
using zephra_run::ZephraRun;
}  // namespace

TEST_F(ZephraRun, SavedStateComesBackInTheNextRun) {
  const i32 PW = 16, PH = 12;
  std::vector<u8> pic(static_cast<size_t>(PW) * PH * 4), other(8 * 8 * 4, 0x55);
  for (size_t k = 0; k < pic.size(); k++) pic[k] = (k % 4 == 3) ? 255 : static_cast<u8>(40 + k * 3);
  for (size_t k = 3; k < other.size(); k += 4) other[k] = 255;
  const fs::path src = root / "save-src", game = root / "saver";
  fs::create_directories(src / "cg");
  fs::create_directories(src / "script");
  for (const auto& [name, bytes, w, h] : {std::tuple{"pic.bmp", &pic, PW, PH}, std::tuple{"other.bmp", &other, 8, 8}}) {
    std::vector<u8> bmp = KitBmpEncode(bytes->data(), w, h, false);
    std::ofstream(src / "cg" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  }
  std::ofstream(src / "project.txt") << "width = 128\nheight = 96\ntitle = Saves\n";
  std::ofstream(src / "script" / "main.zs")
      << "global int n\nglobal float x\nglobal str s\nglobal class 2 int g[3]\nglobal str t\n"
         "*SYSTEM_START\n"
         "if @12[1] == 'load'\n    goto *LOAD\nendif\n"
         "layer name = 'W0/pic', file = 'cg/pic.bmp', order = 1, x = 10, y = 20\n"
         "n = 42\nx = 2.5\ns = 'さようなら'\ng[0] = 7\ng[1] = 8\ng[2] = 9\n"
         "save dno = 1, var = n\nsave dno = 2, var = s\nsave dno = 3, int2 = 1\nsave dno = 4, layer = 'W0/pic'\n"
         "save file = 'Save01'\n"
         "save dno = 1, var = x, slot = 3\nsave slot = 99999\nsave file = 'snap'\n"
         "end\n"
         "*LOAD\n"
         "layer name = 'W0/pic', file = 'cg/other.bmp', order = 1, x = 30, y = 30\n"
         "load file = 'SAVE01', dno = 1, var = n\nload file = 'save01.sd', dno = 2, var = s\n"
         "load file = 'save01', dno = 3\nload file = 'save01', dno = 4, layer = 'W0/pic'\n"
         "load file = 'snap', dno = 1024\nload slot = 3, dno = 1, var = x\n"
         "t = str(n) + ' ' + s + ' ' + str(g[0] + g[1] + g[2])\nt += ' ' + str(x)\n"
         "msgbox title = 'Loaded', text = t\n"
         "wait frames = 100000\n";
  std::string cmd = std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + game.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  std::string err;
  ASSERT_EQ(RunToEnd({game.string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=600", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(game / "savech" / "save01.sd"));
  EXPECT_TRUE(fs::exists(game / "savech" / "snap.sd"));

  const fs::path dump = root / "last.png";
  ASSERT_EQ(
      RunToEnd({game.string(), "load"},
               {"ZEPHRA_EXIT_AFTER_FRAMES=30", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + dump.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] Loaded\n42 さようなら 24 2.500000\n"), std::string::npos) << err;

  // The saved picture, at the place a fresh layer takes (0, 0); the picture it replaced is gone.
  std::ifstream in(dump, std::ios::binary);
  std::vector<u8> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "last.png", &shot), 0);
  ASSERT_EQ(shot.width, 128);
  size_t diffs = 0;
  for (i32 y = 0; y < shot.height; y++)
    for (i32 x = 0; x < shot.width; x++)
      for (int c = 0; c < 3; c++) {
        const u8 got = shot.pixels[(static_cast<size_t>(y) * shot.width + x) * 4 + c];
        const u8 want = x < PW && y < PH ? pic[(static_cast<size_t>(y) * PW + x) * 4 + c] : 0;
        if (got != want && diffs++ < 5)
          ADD_FAILURE() << x << "," << y << " channel " << c << ": " << int(got) << " != " << int(want);
      }
  EXPECT_EQ(diffs, 0u);
  std::free(shot.pixels);
}
