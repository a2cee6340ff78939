// Command 21 run from compiled lines in a temporary game folder: a layer written in the format
// the line chooses, folders made level by level, copies, save-file deletes, opens and preloads.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "layer/image.h"
#include "layer_cmd_fixture.h"
#include "support/game_folder.h"

namespace fs = std::filesystem;

namespace {

struct CmdFileOpTest : LayerCmdTest {
  TestGameFolder game;
  std::vector<u8> Bytes(const std::string& rel) {
    std::ifstream f(game.Path(rel), std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
};

}  // namespace

TEST_F(CmdFileOpTest, LayerIsWrittenInTheChosenFormat) {
  ObjNode* n = TestPicture("W0/shot", 6, 4, 0, 0, 0);
  TestFillSolid(LayerOf(n), 0xFF336699);
  Load(
      "*SYSTEM_START\n"
      "file folder='Shots/Sub', mkdir=1\n"
      "file file='Shots/Sub/Thumb', layer='W0/shot'\n"
      "file file='shots/a', layer='W0/shot', bmp=1\n"
      "file file='shots/b.bmp', layer='W0/shot', bmp=1, jpeg=1, quality=100\n"
      "file file='shots/c', layer='W0/sh', layer_num=7\n");
  RunAll(0, 3);
  const std::vector<u8> png = Bytes("shots/sub/thumb.png");
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png[1], 'P');
  ImagePicture pic{};
  ASSERT_EQ(ImageDecodePng(png.data(), static_cast<u32>(png.size()), "t", &pic), 0);
  EXPECT_EQ(pic.width, 6);
  EXPECT_EQ(std::memcmp(pic.pixels, LayerOf(n)->pixels, 6 * 4 * 4), 0);
  std::free(pic.pixels);
  EXPECT_EQ(Bytes("shots/a.bmp").size(), 54u + 20 * 4) << "rows of 18 bytes padded to 20";
  const std::vector<u8> jpg = Bytes("shots/b.bmp.jpg");
  ASSERT_GT(jpg.size(), 2u) << "the later format wins and brings its extension";
  EXPECT_EQ(jpg[0], 0xFF);
  EXPECT_EQ(w.Run(4), -1);
  EXPECT_NE(g_ErrLastText.find("E101250|"), std::string::npos) << g_ErrLastText;
  EXPECT_NE(g_ErrLastText.find("W0/sh.7"), std::string::npos) << g_ErrLastText;
  EXPECT_FALSE(fs::exists(game.Path("shots/c.png")));
}

TEST_F(CmdFileOpTest, CopyDeleteFoldersAndOpen) {
  game.Write("notes.txt", "keep me");
  game.Write("notes.txt.sd", "save");
  game.Write("Save01.sd", "save");
  game.Write("data.txt", "payload");
  game.Write("run.sh", "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$2\" > opened.txt\n");
  chmod(game.Path("run.sh").c_str(), 0755);
  fs::create_directories(game.Path("full/inner"));
  fs::create_directories(game.Path("empty"));
  Load(
      "*SYSTEM_START\n"
      "file file='notes.txt', delete=1\nfile file='SAVE01', delete=1\n"
      "file file='data.txt', file2='Copy.TXT', copy=1\nfile file='data.txt', file2='DATA.txt', copy=1\n"
      "file folder='empty', delete=1\nfile folder='full', delete=1\n"
      "file file='run.sh', open_wait=1, params='a  b'\n");
  RunAll(0, 6);
  EXPECT_EQ(Bytes("notes.txt").size(), 7u) << "only save files are deleted";
  EXPECT_FALSE(fs::exists(game.Path("notes.txt.sd")));
  EXPECT_FALSE(fs::exists(game.Path("Save01.sd")));
  EXPECT_EQ(Bytes("copy.txt").size(), 7u) << "a new file gets the lower-case name";
  EXPECT_EQ(Bytes("data.txt").size(), 7u) << "a file copied onto itself stays whole";
  EXPECT_FALSE(fs::exists(game.Path("empty")));
  EXPECT_TRUE(fs::exists(game.Path("full/inner")));
  const std::vector<u8> opened = Bytes("opened.txt");
  EXPECT_EQ(std::string(opened.begin(), opened.end()), "a|b");
}

TEST_F(CmdFileOpTest, PreloadListsAreCheckedOneToFour) {
  game.Write("se/hit.ogg", "ogg");
  game.Write("cg/bg.png", "png");
  Load(
      "*SYSTEM_START\n"
      "file file='se/hit', preload_sound=2\nfile file='cg/bg', preload_image=4\n"
      "file file='se/hit', preload_sound=0\nfile file='cg/bg', preload_image=4294967298\n");
  RunAll(0, 3);
  ASSERT_EQ(g_PackMemoryLists[1].count, 1);
  EXPECT_STREQ(g_PackMemoryLists[1].items[0].name, "se\\hit.ogg");
  ASSERT_EQ(g_PackMemoryLists[3].count, 1);
  EXPECT_EQ(g_PackMemoryLists[3].items[0].type, PACK_TYPE_PNG);
  EXPECT_EQ(g_PackMemoryLists[0].count + g_PackMemoryLists[2].count, 0) << "0 and a number outside 1 to 4 ask nothing";
}
