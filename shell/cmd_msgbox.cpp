// Command 10: a message box with its buttons, default button and icon, or the text-input window
// (which cannot be cancelled). Both go through the platform's dialogs, on the main thread for the
// input window, which owns the windows.
#include <cstring>

#include "core/err.h"
#include "core/sys.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_var.h"
#include "script/var.h"
#include "shell/input.h"

namespace {

enum { SLOT = 10 };

struct InputCall {
  const char* title;
  const char* prompt;
  const char* initial;
  int max_bytes;
  char* buf;
  int result;
};

void RunInput(void* arg) {
  InputCall* c = static_cast<InputCall*>(arg);
  c->result = PlatInputDialog(c->title, c->prompt, c->initial, c->max_bytes, c->buf, VAR_STR_BUF);
}

// The answer as the script reads it: 1 OK or Yes, 2 Cancel or No, 3 Cancel beside Yes and No.
i64 AnswerCode(u32 buttons, int answer) {
  if (buttons == PLAT_MB_OK || buttons == PLAT_MB_OKCANCEL) {
    if (answer == PLAT_IDOK) return 1;
    if (answer == PLAT_IDCANCEL) return 2;
    return 0;
  }
  if (answer == PLAT_IDYES) return 1;
  if (answer == PLAT_IDNO) return 2;
  if (answer == PLAT_IDCANCEL) return 3;
  return 0;
}

void StoreAnswer(i64 value) {
  u8 p = ArgPos(11);
  if (p) VarSetNumElement(g_ArgVarId[p], g_ArgVarElem[p], value);
}

}  // namespace

u32 CmdMessageBoxStyle() {
  u32 buttons = PLAT_MB_OK;
  if (ArgGiven(13)) buttons = PLAT_MB_OKCANCEL;
  if (ArgGiven(14)) buttons = PLAT_MB_YESNO;
  if (ArgGiven(15)) buttons = PLAT_MB_YESNOCANCEL;
  const i64 def = ArgInt(18), icon = ArgInt(19);
  u32 style = buttons;
  if (ArgGiven(18) && def == 2) style |= PLAT_MB_DEFBUTTON2;
  if (ArgGiven(18) && def == 3) style |= PLAT_MB_DEFBUTTON3;
  static const u32 kIcons[5] = {0, PLAT_MB_ICONINFO, PLAT_MB_ICONQUESTION, PLAT_MB_ICONWARNING, PLAT_MB_ICONERROR};
  if (ArgGiven(19) && icon >= 1 && icon <= 4) style |= kIcons[icon];
  return style;
}

i32 CmdMessageBox() {
  if (ArgDecode(SLOT) != 0) return -1;
  InputForceCursorVisible();
  InputApplyCursorVisibility();
  if (!ArgGiven(16)) {
    const u32 style = CmdMessageBoxStyle();
    const int answer = PlatMessageBox(ArgStr(0), ArgStr(1), style);
    const i64 code = AnswerCode(style & 0xF, answer);
    if (code) StoreAnswer(code);
    return 0;
  }
  static char buf[VAR_STR_BUF];
  const i64 max = ArgInt(17);
  InputCall call = {ArgStr(0), ArgStr(1), ArgStr(9), max > 0 && max < VAR_STR_BUF ? static_cast<int>(max) : 0, buf, -1};
  if (!PlatCallOnMain(RunInput, &call, &g_QuitRequested) || call.result != 0) return -1;
  StoreAnswer(1);
  u8 p = ArgPos(10);
  if (p) VarSetStrElement(g_ArgVarId[p], g_ArgVarElem[p], buf);
  return 0;
}
