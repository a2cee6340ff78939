// Commands whose bodies live in the font and input modules, run from compiled lines.
#include <gtest/gtest.h>

#include "core/obj.h"
#include "kit/script_compiler.h"
#include "layer/font.h"
#include "script/script_fixture.h"
#include "shell/input.h"
#include "shell/startup.h"

namespace {

struct CmdShellTest : ::testing::Test {
  ScriptWorld w;
  void TearDown() override {
    w.Close();
    InputReset();
    FontReset();
  }
  // Compiles one file, loads its tables and binds its body to the test thread.
  void Load(const std::string& text) { w.LoadCompiled(text); }
};

}  // namespace

TEST_F(CmdShellTest, InputCommandSwitchesProcessing) {
  InputReset();
  Load("*SYSTEM_START\ninput keyboard=0, mouse=0\ninput keyboard=1\n");
  EXPECT_EQ(w.Run(0), 0);
  EXPECT_EQ(g_InputKeyboardOn, 0);
  EXPECT_EQ(g_InputMouseOn, 0);
  EXPECT_EQ(g_InputJoystickOn, 1) << "left out: unchanged";
  EXPECT_EQ(w.Run(1), 0);
  EXPECT_EQ(g_InputKeyboardOn, 1);
}

TEST_F(CmdShellTest, CursorCommandSetsTheDelay) {
  InputReset();
  Load("*SYSTEM_START\ncursor delay=700\n");
  EXPECT_EQ(w.Run(0), 0);
  EXPECT_EQ(g_CursorHideDelay, 700);
}

TEST_F(CmdShellTest, FontInfoStoresIntoTheNamedVariable) {
  Load(
      "global int r = -1\nglobal str name\n*SYSTEM_START\nfont slot=0, width=24\nfont_info width=1, result=r\n"
      "font_info zero=1, result=r\n");
  ASSERT_EQ(w.Run(0), 0);
  ASSERT_EQ(w.Run(1), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 24);
  ASSERT_EQ(w.Run(2), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 0);
}

TEST_F(CmdShellTest, SoundQueryStoresIntoTheNamedElement) {
  ASSERT_EQ(SysCreateRoots(), 0);
  Load("global int r[3] = -1\n*SYSTEM_START\nsound_info name='nothing', state=1, result=r[2]\n");
  ASSERT_EQ(w.Run(0), 0);
  EXPECT_EQ(VarGetIntElement(1000, 2), 0) << "a missing object answers 0";
  EXPECT_EQ(VarGetIntElement(1000, 1), -1);
  SysObjReset();
}
