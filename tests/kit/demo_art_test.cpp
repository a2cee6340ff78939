// The demo pictures and the conversion of pictures into the own format by `zpkit pack --zcg`:
// pictures drawn by the kit, written as BMP files, packed converted, and loaded by the engine's
// picture loader through the pack must be the pictures that were drawn.
#include "kit/demo_art.h"
#include "shell/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/obj.h"
#include "core/pack.h"
#include "core/pack_fixture.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "platform/platform.h"

namespace {

struct DemoArtTest : PackFixture {
  void TearDown() override {
    SysObjReset();
    PackFixture::TearDown();
  }
  // The picture the engine should show for a drawn one: fully transparent pixels become the fill
  // colour, and a picture stored without alpha is opaque.
  static std::vector<u8> Expected(const KitDemoPicture& p) {
    std::vector<u8> out = p.bgra;
    for (size_t i = 0; i < out.size(); i += 4) {
      if (!p.alpha) out[i + 3] = 255;
      if (out[i + 3] == 0) std::memcpy(&out[i], &g_ImageFillColour, 4);
    }
    return out;
  }
};

}  // namespace

TEST_F(DemoArtTest, PicturesHaveTheirShapes) {
  std::vector<KitDemoPicture> pics = KitDemoPictures(640, 480);
  ASSERT_EQ(pics.size(), 3u);
  const KitDemoPicture& bg = pics[0];
  EXPECT_EQ(bg.width, 640);
  EXPECT_EQ(bg.height, 480);
  const KitDemoPicture& ch = pics[1];
  auto alpha = [](const KitDemoPicture& p, i32 x, i32 y) {
    return p.bgra[(static_cast<size_t>(y) * p.width + x) * 4 + 3];
  };
  EXPECT_EQ(alpha(ch, 0, 0), 0) << "around the figure is transparent";
  EXPECT_EQ(alpha(ch, ch.width / 2, ch.height / 2), 255) << "the figure is opaque";
  bool soft = false;
  for (i32 x = 0; x < ch.width; x++)
    soft = soft || (alpha(ch, x, ch.height / 6) > 0 && alpha(ch, x, ch.height / 6) < 255);
  EXPECT_TRUE(soft) << "the outline is soft";
  const KitDemoPicture& win = pics[2];
  i32 centre = alpha(win, win.width / 2, win.height / 2);
  EXPECT_GT(centre, 0);
  EXPECT_LT(centre, 255) << "the window is translucent";
}

TEST_F(DemoArtTest, ZpkitPackStoresPicturesInTheOwnFormatUnderTheirNames) {
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "demo-art", game.Path("src"), "160", "120"}), 0);
  game.Write("src/readme.txt", std::string("not a picture"));
  ASSERT_EQ(PlatSpawnWait({ZPKIT_BIN, "pack", game.Path("src"), game.Path("data.zpf"), "--zcg"}), 0);
  ASSERT_EQ(PackScanAll(), 0);
  ASSERT_EQ(SysCreateRoots(), 0);
  PackLookup lookup{};
  EXPECT_EQ(Read("readme.txt"), "not a picture") << "other files stay as they are";
  for (const KitDemoPicture& p : KitDemoPictures(160, 120)) {
    SCOPED_TRACE(p.name);
    std::string name = p.name;
    for (char& c : name) c = c == '/' ? '\\' : c;
    ASSERT_EQ(PackFindAnySource(&lookup, name.c_str(), 1), 2);
    EXPECT_EQ(lookup.type, IMAGE_TYPE_ZCG);
    ObjNode* node = ObjCreateNode(g_LayerRoot, name.c_str() + 3, OBJ_ITEM, 1);
    LayerRecord* rec = LayerRecordNew(node);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(ImageLoad(rec, p.name.c_str()), 0);
    ASSERT_EQ(rec->width, p.width);
    ASSERT_EQ(rec->height, p.height);
    EXPECT_EQ(rec->has_alpha, 1);
    EXPECT_EQ(std::vector<u8>(rec->pixels, rec->pixels + p.bgra.size()), Expected(p));
  }
  EXPECT_NE(PlatSpawnWait({ZPKIT_BIN, "demo-art", game.Path("x"), "10", "10"}), 0);
}

TEST_F(DemoArtTest, ZpkitPackRefusesAPictureThatDoesNotDecode) {
  game.Write("src/bad.png", std::string("PNG? no"));
  EXPECT_NE(PlatSpawnWait({ZPKIT_BIN, "pack", game.Path("src"), game.Path("data.zpf"), "--zcg"}), 0);
  EXPECT_FALSE(std::filesystem::exists(game.Path("data.zpf")));
}
