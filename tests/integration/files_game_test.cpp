// A packed game that uses the file commands, run headless: it reads a CSV table from its pack,
// round-trips Japanese text through the clipboard, writes a layer as PNG into folders it makes,
// preloads a sound, copies garbage over that sound's file and still plays the preloaded one,
// and deletes a save file. Its message boxes and the files it wrote are checked.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kit/demo_art.h"
#include "kit/ogg_writer.h"
#include "layer/image.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

namespace {

using zephra_run::ZephraRun;

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

}  // namespace

TEST_F(ZephraRun, FilesGameReadsCsvUsesClipboardWritesPngAndPlaysPreloadedSound) {
  const i32 W = 24, H = 16;
  std::vector<u8> pic(static_cast<size_t>(W) * H * 4);
  for (i32 i = 0; i < W * H; i++) {
    pic[i * 4] = static_cast<u8>(i * 3);
    pic[i * 4 + 1] = static_cast<u8>(i);
    pic[i * 4 + 2] = static_cast<u8>(255 - i);
    pic[i * 4 + 3] = 255;
  }
  std::vector<i16> tone(11025);
  for (size_t i = 0; i < tone.size(); i++) tone[i] = static_cast<i16>((i % 50) * 400 - 10000);
  std::vector<u8> wav;
  ASSERT_EQ(KitWavEncode(tone.data(), tone.size(), 1, 22050, 16, &wav), 0);

  const fs::path src = root / "files-src";
  const std::vector<u8> bmp = KitBmpEncode(pic.data(), W, H, false);
  WriteFile(src / "cg" / "pic.bmp", std::string(bmp.begin(), bmp.end()));
  WriteFile(src / "data" / "Items.csv", "name,price\r\n\"Sword, old\",120\r\n");
  WriteFile(src / "project.txt", "width = 320\nheight = 240\ntitle = Files\n");
  // "日本語" in the script text: the kit writes it as Shift-JIS.
  WriteFile(src / "script" / "main.zs",
            "global str s[8]\nglobal str t\nglobal int n\nglobal int r\n*SYSTEM_START\n"
            "csv_read file='data/items.csv', read=1, result=s\n"
            "csv_read file='data/items.csv', count=1, result=n\n"
            "msgbox title='CSV', text=s[0] + '/' + s[1] + '/' + s[2] + '/' + s[3] + ' count=' + str(n)\n"
            "clip_set set=1, text='日本語 copy'\n"
            "clip_get get=1, result=t\n"
            "msgbox title='Clip', text='[' + t + ']'\n"
            "layer name='W0/pic', file='cg/pic', order=1\n"
            "file folder='Shots/2024', mkdir=1\n"
            "file file='Shots/2024/Pic', layer='W0/pic', png=1, quality=9\n"
            "file file='se/beep', preload_sound=1\n"
            "file folder='se', mkdir=1\n"
            "file file='junk.bin', file2='se/beep.wav', copy=1\n"
            "sound name='se', file='se/beep', play=1\n"
            "sound_info name='se', rate=1, result=r\n"
            "msgbox title='Sound', text=str(r)\n"
            "file file='old', delete=1\n"
            "file file='keep.txt', delete=1\n"
            "end\n");
  WriteFile(src / "se" / "beep.wav", std::string(wav.begin(), wav.end()));
  const std::string cmd =
      std::string("'") + ZPKIT_BIN + "' build '" + src.string() + "' '" + (root / "files").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const fs::path game = root / "files";
  ASSERT_FALSE(fs::exists(game / "data" / "Items.csv")) << "the table lives in the pack";
  WriteFile(game / "junk.bin", "not a wave file at all");
  WriteFile(game / "old.sd", "save");
  WriteFile(game / "keep.txt", "not a save");

  std::string err;
  ASSERT_EQ(RunToEnd({game.string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=600", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0) << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] CSV\nname/price/\"Sword, old\"/120 count=6\n"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] Clip\n[日本語 copy]\n"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] Sound\n22050\n"), std::string::npos)
      << "the preloaded sound plays, not the file now on disk: " << err;

  std::ifstream in(game / "shots" / "2024" / "pic.png", std::ios::binary);
  std::vector<u8> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture shot{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "pic.png", &shot), 0);
  ASSERT_EQ(shot.width, W);
  ASSERT_EQ(shot.height, H);
  EXPECT_EQ(std::memcmp(shot.pixels, pic.data(), pic.size()), 0);
  std::free(shot.pixels);
  EXPECT_EQ(fs::file_size(game / "se" / "beep.wav"), 22u) << "the copy";
  EXPECT_FALSE(fs::exists(game / "old.sd"));
  EXPECT_TRUE(fs::exists(game / "keep.txt")) << "only save files are deleted";
}
