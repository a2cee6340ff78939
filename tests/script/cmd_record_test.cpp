// The decoded-argument record of the shell's commands: what the decoder leaves, copied by
// parameter id, and the parameter names for their error texts.
#include <gtest/gtest.h>

#include "cmd_game.h"
#include "script/cmdargs.h"
#include "shell/screen.h"
#include "shell/wincmd.h"

namespace {
struct CmdRecordTest : CmdGameTest {};
}  // namespace

TEST_F(CmdRecordTest, RecordHoldsGivenValuesStringsAndOperators) {
  Load("*SYSTEM_START\nwindow index=1, title='T' + 'x', x += 5, height=7 * 3\n");
  g_CurrentLine = 0;
  CmdArgRecord a;
  ASSERT_EQ(ArgDecodeRecord(CMD_WINDOW_SET, &a), 0);
  EXPECT_EQ(a.given[0], 1);
  EXPECT_EQ(a.value[0], 1);
  ASSERT_NE(a.str[1], nullptr);
  EXPECT_STREQ(a.str[1], "Tx");
  EXPECT_STREQ(a.str[0], "") << "a number has no string";
  EXPECT_EQ(a.given[4], 1);
  EXPECT_EQ(a.value[4], 5);
  EXPECT_EQ(a.op[4], 1u);
  EXPECT_EQ(a.value[8], 21);
  EXPECT_EQ(a.given[2], 0);
  EXPECT_EQ(a.given[5], 0);
  EXPECT_STREQ(ArgName(CMD_WINDOW_SET, 8), "height");
  EXPECT_STREQ(ArgName(CMD_SCREEN_SET, 2), "width");
  EXPECT_STREQ(ArgName(CMD_SCREEN_SET, 200), "");
}

TEST_F(CmdRecordTest, DecodeFailureFailsTheRecord) {
  Load("*SYSTEM_START\nwindow index=9\n");  // index has range class 5 (0 to 3)
  g_CurrentLine = 0;
  CmdArgRecord a;
  EXPECT_EQ(ArgDecodeRecord(CMD_WINDOW_SET, &a), -1);
  EXPECT_EQ(a.given[0], 0) << "nothing is handed to the body";
}

TEST_F(CmdRecordTest, SlotsHoldTheShellCommands) {
  EXPECT_EQ(g_CmdHandlers[CMD_SCREEN_SET], &CmdScreenSet);
  EXPECT_EQ(g_CmdHandlers[CMD_WINDOW_SET], &CmdWindowSet);
}
