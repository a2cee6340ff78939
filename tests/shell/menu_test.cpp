// Menus from the menu tree without a display: the tree built by the menu commands, the menus
// built from it (read back as the platform prints them), the submenu limit, destroying and
// rebuilding sets, and commands 63 to 66, 104 and 105 on their edge cases.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "common/sjis.h"
#include "core/obj.h"
#include "core/state.h"
#include "platform/menu.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_game.h"
#include "script/menu.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/window.h"

namespace {

struct MenuTest : CmdGameTest {
  void SetUp() override {
    SysObjReset();
    ASSERT_EQ(SysCreateRoots(), 0);
    ASSERT_EQ(WinObjsCreate(), 0);
    named_codes = {100240, 100260, 101250, 101330};
    plain_codes = {100010};
    menus_before = PlatMenuCount();
  }
  void TearDown() override {
    WinMenuShutdown();
    EXPECT_EQ(PlatMenuCount(), menus_before) << "every menu handle was destroyed";
    WinReset();
    SysObjReset();
    CmdGameTest::TearDown();
  }
  // Runs every line of a script of menu commands.
  void Build(const std::string& lines, u32 count) {
    Load("global int r = -1\nglobal str s\n*SYSTEM_START\n" + lines);
    RunAll(0, count - 1);
  }
  std::string SetText(i32 set, i32 index = 0) { return PlatMenuDescribe(g_MenuHandles.handle[set][index]); }
  i32 menus_before = 0;
};

const char* kTree =
    "menu path='m/', text='m', order=1\n"
    "menu path='m/open', text='Open', order=2, id=11\n"
    "menu path='m/sep', text='', order=3\n"
    "menu path='m/grey', text='Grey', order=4, enabled=0, check=1, id=12\n"
    "menu path='m/hidden', text='Hidden', order=5, shown=0, id=13\n"
    "menu path='m/f/', text='Folder', order=6\n"
    "menu path='m/f/x', text='X', order=1, id=21\n"
    "menu path='m/empty/', text='Empty', order=7, id=14\n"
    "menu path='m/blank/', text='', order=8\n"
    "menu path='m/blank/y', text='Y', order=1, id=22\n"
    "menu path='m/first', text='First', order=1, id=10\n";

}  // namespace

TEST_F(MenuTest, ItemsBuildAsTheTreeSays) {
  Build(kTree, 11);
  WindowObject* w = g_WindowObjects[0];
  ASSERT_EQ(WinMenuSet("m", w), 0);
  // Order values sort; hidden items are left out; a folder is a submenu only with children and a
  // text; an empty text is a separator even for a folder with children.
  const std::string want = "First = 10\nOpen = 11\n----\nGrey [x] (grey) = 12\nFolder\n  X = 21\nEmpty = 14\n----\n";
  EXPECT_EQ(SetText(MENU_SET_BAR), want);
  EXPECT_EQ(g_MenuHandles.counter, 2) << "one submenu below the root";
  // With or without the trailing "/", and relative to the menu base.
  ASSERT_EQ(WinMenuSet("m/", w), 0);
  EXPECT_EQ(SetText(MENU_SET_BAR), want);
  // The popup set: a root with one "MENUSET" item whose submenu holds the folder's items.
  ASSERT_EQ(WinMenuBuildPopupSet(MENU_SET_POPUP, WinMenuFind("m/f")), 0);
  EXPECT_EQ(SetText(MENU_SET_POPUP), "MENUSET\n  X = 21\n");
  EXPECT_EQ(SetText(MENU_SET_BAR), want) << "the bar's set is untouched";
  // An empty name removes the bar's menus; an unknown one is error 101250.
  ASSERT_EQ(WinMenuSet("", w), 0);
  for (u32 h : g_MenuHandles.handle[MENU_SET_BAR]) EXPECT_EQ(h, 0u);
  EXPECT_EQ(WinMenuSet("nothing", w), -1);
  EXPECT_NE(g_ErrLastText.find("E101250"), std::string::npos) << g_ErrLastText;
}

TEST_F(MenuTest, AtMost127SubmenusASetAndTheRestStops) {
  struct {
    i32 folders;
    i32 want;
  } cases[] = {{125, 0}, {126, 0}, {127, -1}, {200, -1}};
  for (const auto& c : cases) {
    std::string lines = "menu path='big/', text='big', order=1\n";
    for (i32 i = 0; i < c.folders; i++) {
      lines += "menu path='big/f" + std::to_string(i) + "/', text='F', order=" + std::to_string(i + 1) + "\n";
      lines += "menu path='big/f" + std::to_string(i) + "/x', text='x', order=1, id=" + std::to_string(i) + "\n";
    }
    Build(lines, 1 + 2 * static_cast<u32>(c.folders));
    MenuHandleSets& m = g_MenuHandles;
    WinMenuSetDestroy(MENU_SET_BAR);
    m.handle[MENU_SET_BAR][0] = PlatMenuCreate();
    m.counter = 0;
    EXPECT_EQ(WinMenuBuildItems(MENU_SET_BAR, WinMenuFind("big")), c.want) << c.folders;
    EXPECT_LE(m.counter, MENU_SET_SIZE);
    // What was built stays: every stored submenu is a menu.
    for (i32 i = 1; i < m.counter && i < MENU_SET_SIZE; i++)
      EXPECT_TRUE(PlatMenuExists(m.handle[MENU_SET_BAR][i])) << i;
    EXPECT_EQ(PlatMenuItemCount(m.handle[MENU_SET_BAR][0]), std::min(c.folders, 127));
    w.Close();
    SysObjReset();
    ASSERT_EQ(SysCreateRoots(), 0);
  }
}

TEST_F(MenuTest, SetsRebuiltAndDestroyedTwiceLeaveNoMenus) {
  Build(kTree, 11);
  for (int round = 0; round < 5; round++) {
    ASSERT_EQ(WinMenuSet("m", g_WindowObjects[0]), 0);
    ASSERT_EQ(WinMenuBuildPopupSet(MENU_SET_POPUP, WinMenuFind("m")), 0);
  }
  EXPECT_EQ(PlatMenuCount(), menus_before + 2 + 3) << "only the last build of each set is alive";
  WinMenuSetDestroy(MENU_SET_POPUP);
  WinMenuSetDestroy(MENU_SET_POPUP);  // the handles were cleared: nothing is destroyed twice
  EXPECT_EQ(PlatMenuCount(), menus_before + 2);
}

TEST_F(MenuTest, OrderArithmeticNeverTraps) {
  struct {
    i64 order;
    u32 op;
    i64 value;
    i64 want;
  } cases[] = {
      {5, ARG_OP_SET, -3, -3},
      {5, ARG_OP_ADD, 2, 7},
      {5, ARG_OP_ADD, -10, -5},  // "+=" is not raised to 1
      {5, ARG_OP_SUB, 10, 1},
      {5, ARG_OP_MUL, 0, 1},
      {INT64_MAX, ARG_OP_MUL, 3, INT64_MAX - 2},  // wraps as the machine does
      {INT64_MAX, ARG_OP_MUL, 2, 1},              // wraps below 1
      {INT64_MIN, ARG_OP_DIV, -1, 1},             // the one quotient that does not fit
      {7, ARG_OP_DIV, 0, 7},                      // a zero divisor leaves it
      {7, ARG_OP_DIV, 2, 3},
      {INT64_MAX, ARG_OP_ADD, 1, INT64_MIN},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MenuOrderApply(c.order, c.op, c.value), c.want) << c.order << " op " << c.op << " " << c.value;
}

TEST_F(MenuTest, ItemCommandsOnTheirEdgeCases) {
  std::string long_text(259, 'a');
  long_text += "\x8a\xbf";  // a two-byte character that no longer fits the 261-byte buffer
  Build(
      "menu path='n/', text='n', order=1\n"
      "menu path='n/a', text='A', order=5, id=70000\n"
      "menu path='n/a', order-=10\n"                     // "-=" below 1 leaves 1
      "menu path='n/a', check=1\n"                       // changing needs no text or order
      "menu_info result=r, path='n/a', order=1\n"        // 4
      "menu_info result=r, path='n/a', check=1, id=1\n"  // 5: check comes before id
      "menu_info result=s, path='n/a', text=1\n"         // 6
      "menu path='n/a', text='" +
          long_text +
          "'\n"                                             // 7
          "menu_info result=s, path='n/a', text=1\n"        // 8
          "menu_info result=r, path='n/gone', exists=1\n",  // 9
      4);
  ASSERT_EQ(w.Run(4), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
  ASSERT_EQ(w.Run(5), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 1);
  ASSERT_EQ(w.Run(6), 0);
  EXPECT_EQ(Str(1001), "A");
  ASSERT_EQ(w.Run(7), 0);
  ASSERT_EQ(w.Run(8), 0);
  EXPECT_EQ(Str(1001), std::string(259, 'a')) << "cut at a whole character";
  ASSERT_EQ(w.Run(9), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0) << "a missing item answers 0";
  const ObjNode* a = ObjFindNode(g_MenuRoot, "n/a", OBJ_FIND_ITEM);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(static_cast<const MenuItem*>(a->payload)->command_id, 70000);
  w.Close();

  // New items need a text first, then an order value.
  Load("*SYSTEM_START\nmenu path='p', order=1\nmenu path='p', text='P'\n");
  EXPECT_NE(w.Run(0), 0);
  EXPECT_NE(g_ErrLastText.find("E100260"), std::string::npos) << g_ErrLastText;
  SetErrTexts();
  EXPECT_NE(w.Run(1), 0);
  EXPECT_NE(g_ErrLastText.find("E100240"), std::string::npos) << g_ErrLastText;
  EXPECT_EQ(ObjFindNode(g_MenuRoot, "p", OBJ_FIND_ITEM), nullptr);
}

TEST_F(MenuTest, DeleteTakesSubtreesButNeverTheRoot) {
  Build(
      "menu path='d/', text='d', order=1\n"
      "menu path='d/e/', text='e', order=1\n"
      "menu path='d/e/x', text='x', order=1\n"
      "menu path='d/y', text='y', order=2\n"
      "menu path='keep', text='k', order=3\n"
      "menu_delete path='/'\n"
      "menu_delete path=''\n"
      "menu_delete path='d/y'\n"
      "menu_delete path='d/'\n"
      "menu_delete path='d/'\n",
      10);
  EXPECT_EQ(ObjFindNode(g_MenuRoot, "d", OBJ_FIND_FOLDER), nullptr);
  EXPECT_NE(ObjFindNode(g_MenuRoot, "keep", OBJ_FIND_ITEM), nullptr) << "the root and its other children stay";
  EXPECT_NE(g_MenuRoot, nullptr);
}

TEST_F(MenuTest, PopupRequestBuildsSetOneAndEndsAsNothingChosenHeadless) {
  Build(kTree + std::string("menu_popup path='m/f', show=1\n"     // 11
                            "menu_popup path='m/f', show=0\n"     // 12: only 1 shows
                            "menu_popup path='none', show=1\n"),  // 13
        11);
  ASSERT_EQ(w.Run(12), 0);
  EXPECT_EQ(g_PopupMenuRequest.set, 0);
  ASSERT_EQ(w.Run(13), 0);
  EXPECT_EQ(g_PopupMenuRequest.set, 0);
  ASSERT_EQ(w.Run(11), 0);
  EXPECT_EQ(g_PopupMenuRequest.set, MENU_SET_POPUP);
  testing::internal::CaptureStderr();
  WinMenuPopupRun();
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_PopupMenuRequest.set, 0);
  EXPECT_NE(out.find("[popup menu]"), std::string::npos);
  EXPECT_NE(out.find("X = 21"), std::string::npos) << out;
}

TEST_F(MenuTest, WindowHideAndQuery) {
  WindowObject* sub = g_WindowObjects[2];
  sub->width = 333;
  StrCopySjis(sub->title, sizeof sub->title, "T2");
  Load(
      "global int r = -1\nglobal str s = 'x'\n*SYSTEM_START\n"
      "window_hide index=0\n"                       // 0: the main window cannot be hidden
      "window_hide index=2\n"                       // 1: not open: nothing
      "window_info index=2, result=r, width=1\n"    // 2: not open: 0
      "window_info index=2, result=s, title=1\n");  // 3: not open: ""
  EXPECT_NE(w.Run(0), 0);
  EXPECT_NE(g_ErrLastText.find("E101330"), std::string::npos) << g_ErrLastText;
  SetErrTexts();
  EXPECT_EQ(w.Run(1), 0);
  EXPECT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
  EXPECT_EQ(w.Run(3), 0);
  EXPECT_EQ(Str(1001), "");
  g_WindowOpen[2] = 1;  // open (without a system window: its client area is unknown)
  EXPECT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 333);
  EXPECT_EQ(w.Run(3), 0);
  EXPECT_EQ(Str(1001), "T2");
  g_WindowOpen[2] = -1;
}
