// Games whose scripts compute with the variable and math commands and show the result in a
// message box: run headless, the box's title and text appear on stderr.
#include <string>

#include "support/zephra_run.h"

namespace {
using zephra_run::ZephraRun;
}  // namespace

TEST_F(ZephraRun, MessageBoxShowsTextAScriptComputed) {
  TestWriteGameScripts(root / "game",
                       "global int n\nglobal int list[1]\nglobal str t\nglobal int r = -1\n*SYSTEM_START\n"
                       "n = 6\nn *= 7\ndim_int var=list[3], value=n\nlist[2] += 100\n"
                       "var_info var=list, result=r, find=1, find_int=142\n"
                       "t = 'answer=' + str(list[0]) + ' at ' + str(r)\nt += ' crc'\n"
                       "math result=n, crc=1, s='123456789'\nt += '=' + str(n)\n"
                       "msgbox title='Result', text=t, yes_no=1, result=r\n"
                       "msgbox title='Answer', text=str(r)\nend\n");
  std::string err;
  ASSERT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=600", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0)
      << err;
  EXPECT_NE(err.find("[message box] Result\nanswer=42 at 2 crc=3421780262\n"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] Answer\n1\n"), std::string::npos) << "the default Yes is stored as 1: " << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
}

TEST_F(ZephraRun, TextEntryTakesItsInitialTextOnStderr) {
  TestWriteGameScripts(root / "game",
                       "global str t = 'before'\nglobal int r\n*SYSTEM_START\n"
                       "msgbox title='Name', text='Who?', input=1, max_length=8, initial='Ann', input_result=t, "
                       "result=r\n"
                       "msgbox title='Got', text='[' + t + '] ' + str(r)\nend\n");
  std::string err;
  ASSERT_EQ(RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=600", "ZEPHRA_FIXED_CLOCK=1"}, &err), 0)
      << err;
  EXPECT_NE(err.find("[input] Name\nWho?\n"), std::string::npos) << err;
  EXPECT_NE(err.find("[message box] Got\n[Ann] 1\n"), std::string::npos) << err;
}
