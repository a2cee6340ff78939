// Own-drawn menus: the handle table, menu bars as part of a window's frame (on the dummy video
// driver), the drop-down's layout, and one golden picture of a Japanese drop-down.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "display/present.h"
#include "layer/image.h"
#include "platform/menu.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "platform/video.h"

namespace fs = std::filesystem;

namespace {

PlatMenuItem Item(u32 id, const char* utf8, u32 state = 0, u32 submenu = 0) {
  PlatMenuItem i{};
  i.id = id;
  i.state = state;
  i.text = PlatUtf8ToSjis(utf8);
  i.submenu = submenu;
  i.separator = i.text.empty();
  return i;
}

}  // namespace

TEST(PlatMenu, HandlesInsertByPositionAndDestroyWithTheirSubmenus) {
  const i32 before = PlatMenuCount();
  u32 root = PlatMenuCreate(), sub = PlatMenuCreate(), loose = PlatMenuCreate();
  ASSERT_NE(root, 0u);
  ASSERT_TRUE(PlatMenuInsertItem(root, 0, Item(2, "b")));
  ASSERT_TRUE(PlatMenuInsertItem(root, 0, Item(1, "a")));           // before the first
  ASSERT_TRUE(PlatMenuInsertItem(root, 99, Item(0, "s", 0, sub)));  // past the end appends
  ASSERT_TRUE(PlatMenuInsertItem(sub, 0, Item(3, "c", PLAT_MENU_GRAYED | PLAT_MENU_CHECKED)));
  EXPECT_FALSE(PlatMenuInsertItem(root, 0, Item(9, "self", 0, root))) << "a menu is never its own submenu";
  EXPECT_FALSE(PlatMenuInsertItem(root, 0, Item(9, "x", 0, 0xFFFFFFF0u))) << "nor a handle that is no menu";
  EXPECT_EQ(PlatMenuDescribe(root), "a = 1\nb = 2\ns\n  c [x] (grey) = 3\n");
  EXPECT_TRUE(PlatMenuDestroy(root));
  EXPECT_FALSE(PlatMenuExists(sub)) << "submenus go with their menu";
  EXPECT_FALSE(PlatMenuDestroy(sub)) << "a second destroy finds nothing, harmlessly";
  EXPECT_FALSE(PlatMenuDestroy(0));
  EXPECT_EQ(PlatMenuItemCount(root), -1);
  EXPECT_TRUE(PlatMenuExists(loose));
  PlatMenuDestroy(loose);
  EXPECT_EQ(PlatMenuCount(), before);
}

TEST(PlatMenu, DropDownRowsStackAndTheRightColumnLinesUp) {
  std::vector<PlatUiMenuEntry> e = {{40, 0, false}, {0, 0, true}, {90, 30, false}, {20, 50, false}};
  PlatUiMenuLayout l = PlatUiLayoutMenu(e);
  ASSERT_EQ(l.items.size(), e.size());
  EXPECT_EQ(l.items[0].top, UI_MENU_BORDER);
  for (size_t i = 1; i < l.items.size(); i++) EXPECT_EQ(l.items[i].top, l.items[i - 1].bottom);
  EXPECT_EQ(l.items[1].bottom - l.items[1].top, UI_MENU_SEPARATOR_HEIGHT);
  EXPECT_EQ(l.height, l.items.back().bottom + UI_MENU_BORDER);
  // The widest left text and the widest right column, with the gap, fit between the columns.
  EXPECT_GE(l.right_column - (l.items[0].left + UI_MENU_CHECK_WIDTH), 90 + UI_MENU_COLUMN_GAP + 50);
  EXPECT_EQ(l.right_column, l.items[0].right - UI_MENU_ARROW_WIDTH);
  EXPECT_EQ(PlatUiHitTest(l.items, 10, l.items[2].top), 2);
  EXPECT_EQ(PlatUiHitTest(l.items, 10, l.height - 1), -1) << "the bottom border holds no item";

  // Keyboard steps skip separators and wrap; nothing selectable gives -1.
  std::vector<bool> sel = {true, false, true, false};
  EXPECT_EQ(PlatUiMenuStep(sel, -1, 1), 0);
  EXPECT_EQ(PlatUiMenuStep(sel, 0, 1), 2);
  EXPECT_EQ(PlatUiMenuStep(sel, 2, 1), 0);
  EXPECT_EQ(PlatUiMenuStep(sel, -1, -1), 2);
  EXPECT_EQ(PlatUiMenuStep({false, false}, -1, 1), -1);

  // Placement: at the point, flipped to the other side of the anchor at a screen edge.
  const PlatRect screen{0, 0, 800, 600};
  struct {
    i32 x, y, ax, ay, w, h, want_x, want_y;
  } cases[] = {
      {100, 100, 100, 100, 200, 150, 100, 100},
      {700, 100, 700, 100, 200, 150, 500, 100},  // right edge: left of the point
      {100, 500, 100, 480, 200, 150, 100, 330},  // bottom: above the anchor
      {700, 500, 650, 480, 900, 700, 0, 0},      // larger than the screen: its top left corner
  };
  for (const auto& c : cases) {
    i32 x, y;
    PlatUiPlaceMenu(c.x, c.y, c.ax, c.ay, c.w, c.h, screen, &x, &y);
    EXPECT_EQ(x, c.want_x) << c.x << "," << c.y;
    EXPECT_EQ(y, c.want_y) << c.x << "," << c.y;
  }
}

// The golden drop-down: IPA Gothic at 12 pixels a em as Debian ships it. FreeType versions may
// move anti-aliased edges: at most 2 % of the pixels may differ, each by any amount, and the
// ink (dark pixels) must stay within 10 % of the golden picture's; the frame and the lit row's
// colour must match exactly. ZEPHRA_WRITE_GOLDEN=1 writes the picture instead.
TEST(PlatMenu, JapaneseDropDownMatchesTheGoldenPicture) {
  u32 root = PlatMenuCreate(), sub = PlatMenuCreate();
  PlatMenuInsertItem(sub, 0, Item(21, "項目"));
  PlatMenuInsertItem(root, 0, Item(1, "開く(&O)\tCtrl+O"));
  PlatMenuInsertItem(root, 1, Item(2, "保存(&S)"));
  PlatMenuInsertItem(root, 2, Item(0, ""));
  PlatMenuInsertItem(root, 3, Item(3, "灰色の項目", PLAT_MENU_GRAYED | PLAT_MENU_CHECKED));
  PlatMenuInsertItem(root, 4, Item(4, "サブメニュー", 0, sub));
  PlatMenuInsertItem(root, 5, Item(5, "終了します。よろしいですか？", PLAT_MENU_CHECKED));
  PlatUiCanvas c;
  ASSERT_TRUE(PlatMenuRender(root, 1, &c));
  PlatMenuDestroy(root);
  ASSERT_GT(c.width, 0);
  std::vector<u8> bgra(c.px.size() * 4);
  for (size_t i = 0; i < c.px.size(); i++)
    for (int k = 0; k < 4; k++) bgra[i * 4 + k] = k == 3 ? 255 : static_cast<u8>(c.px[i] >> (8 * k));
  const fs::path golden = fs::path(ZEPHRA_SOURCE_DIR) / "tests" / "platform" / "golden" / "menu_dropdown.png";
  if (PlatGetEnv("ZEPHRA_WRITE_GOLDEN") == "1") {
    std::string png;
    ASSERT_EQ(FrameEncodePng(bgra.data(), c.width, c.height, &png), 0);
    fs::create_directories(golden.parent_path());
    std::ofstream(golden, std::ios::binary) << png;
  }
  std::ifstream in(golden, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ImagePicture want{};
  ASSERT_EQ(ImageDecodePng(reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()), "golden", &want),
            0);
  ASSERT_EQ(want.width, c.width);
  ASSERT_EQ(want.height, c.height);
  size_t off = 0, ink_got = 0, ink_want = 0;
  for (size_t i = 0; i < c.px.size(); i++) {
    const u8* a = &bgra[i * 4];
    const u8* b = want.pixels + i * 4;
    off += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
    ink_got += a[0] + a[1] + a[2] < 300;
    ink_want += b[0] + b[1] + b[2] < 300;
  }
  EXPECT_LE(off, c.px.size() / 50);
  EXPECT_GT(ink_want, 300u) << "the golden picture shows text";
  EXPECT_NEAR(static_cast<double>(ink_got), static_cast<double>(ink_want), ink_want * 0.10);
  EXPECT_EQ(c.px[0], u32{UI_COLOR_EDGE});
  // The lit second row: its left end is the highlight colour.
  PlatUiMenuLayout l = PlatUiLayoutMenu({{0, 0, false}, {0, 0, false}});
  EXPECT_EQ(c.px[static_cast<size_t>(l.items[1].top + 1) * c.width + l.items[1].left], u32{UI_COLOR_HILITE});
  std::free(want.pixels);
}

struct PlatMenuBarTest : ::testing::Test {
  void SetUp() override { ASSERT_EQ(PlatVideoInit(), 0); }
  void TearDown() override { PlatVideoQuit(); }
  static void SdlSize(PlatWindow* w, int* width, int* height) { SDL_GetWindowSize(PlatWindowSdl(w), width, height); }
};

TEST_F(PlatMenuBarTest, TheBarGrowsTheWindowAndADestroyedMenuLeavesEveryBar) {
  PlatWindowDesc d{"a", 10, 40, 320, 200, PLAT_WINDOW_FRAMED, nullptr};
  PlatWindow* a = PlatWindowCreate(&d);
  PlatWindow* b = PlatWindowCreate(&d);
  ASSERT_TRUE(a && b);
  u32 menu = PlatMenuCreate();
  PlatMenuInsertItem(menu, 0, Item(7, "ファイル"));
  PlatWindowSetMenuBar(a, menu, PLAT_MENU_BAR_FRAME);
  PlatWindowSetMenuBar(b, menu, PLAT_MENU_BAR_FRAME);
  int sw, sh;
  SdlSize(a, &sw, &sh);
  EXPECT_EQ(sh, 200 + UI_MENU_BAR_HEIGHT) << "the window grows by the bar";
  i32 x, y, cw, ch;
  ASSERT_TRUE(PlatWindowClientRect(a, &x, &y, &cw, &ch));
  EXPECT_EQ(cw, 320);
  EXPECT_EQ(ch, 200) << "the client area keeps its size below the bar";
  i32 ew, eh, ew0, eh0;
  PlatWindowFrameExtras(a, &ew, &eh);
  PlatWindowSetMenuBar(a, menu, PLAT_MENU_BAR_FRAME);  // again: no second growth
  SdlSize(a, &sw, &sh);
  EXPECT_EQ(sh, 200 + UI_MENU_BAR_HEIGHT);
  PlatWindowSetClientSize(a, 300, 150);
  SdlSize(a, &sw, &sh);
  EXPECT_EQ(sh, 150 + UI_MENU_BAR_HEIGHT) << "a client size keeps room for the bar";
  // An overlay bar changes no geometry.
  PlatWindowSetMenuBar(b, menu, PLAT_MENU_BAR_OVERLAY);
  SdlSize(b, &sw, &sh);
  EXPECT_EQ(sh, 200);
  PlatWindowSetMenuBar(b, menu, PLAT_MENU_BAR_FRAME);
  // The menu destroyed (a set rebuilt for another window): no bar is left on it.
  PlatMenuDestroy(menu);
  EXPECT_EQ(PlatWindowMenuBar(a), 0u);
  EXPECT_EQ(PlatWindowMenuBar(b), 0u);
  SdlSize(a, &sw, &sh);
  EXPECT_EQ(sh, 150) << "the bar's rows go with it";
  PlatWindowFrameExtras(a, &ew0, &eh0);
  EXPECT_EQ(eh - eh0, UI_MENU_BAR_HEIGHT) << "the bar counts as frame";
  // A bar set from another thread is carried out by the pump.
  u32 other = PlatMenuCreate();
  PlatMenuInsertItem(other, 0, Item(8, "x"));
  std::thread([&] { PlatWindowSetMenuBar(a, other, PLAT_MENU_BAR_FRAME); }).join();
  PlatPollEvents();
  EXPECT_EQ(PlatWindowMenuBar(a), other);
  PlatMenuDestroy(other);
  PlatWindowDestroy(a);
  PlatWindowDestroy(b);
}

TEST_F(PlatMenuBarTest, WithoutADisplayAPopupPrintsItsItemsAndChoosesNothing) {
  u32 menu = PlatMenuCreate(), sub = PlatMenuCreate();
  PlatMenuInsertItem(sub, 0, Item(12, "子"));
  PlatMenuInsertItem(menu, 0, Item(11, "一"));
  PlatMenuInsertItem(menu, 1, Item(0, "親", 0, sub));
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlatMenuTrack(menu, 5, 6), 0u);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("[popup menu] at 5, 6\n一 = 11\n親\n  子 = 12\n"), std::string::npos) << out;
  PlatMenuDestroy(menu);
  u32 empty = PlatMenuCreate();
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlatMenuTrack(empty, 5, 6), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "an empty menu opens nothing";
  PlatMenuDestroy(empty);
}
