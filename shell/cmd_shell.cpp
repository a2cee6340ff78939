// Handlers of commands whose bodies live in other modules (fonts, input, sound): each decodes its line
// and hands the decoded arguments to its body, and stores a query's answer into the variable the
// line names.
#include "layer/font.h"
#include "layer/message.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/var.h"
#include "shell/input.h"
#include "sound/sound_cmd.h"

static void FontArgs(u8 slot, FontCmdArgs* a) {
  *a = FontCmdArgs{};
  a->command_name = ArgCommandName(slot);
  for (u8 id = 0; id < FONT_CMD_PARAM_COUNT; id++) {
    a->given[id] = ArgGiven(id) ? 1 : 0;
    a->op[id] = ArgGiven(id) ? static_cast<u8>(g_ArgOp[ArgPos(id)]) : 0;
    a->value[id] = ArgInt(id);
    a->text[id] = ArgStr(id);
    a->param_names[id] = ArgName(slot, id);
  }
}

i32 CmdFontSet() {
  if (ArgDecode(27) != 0) return -1;
  FontCmdArgs a;
  FontArgs(27, &a);
  return FontSetApply(&a, g_MessageRecord ? &g_MessageRecord->font : nullptr) == 0 ? 0 : -1;
}

i32 CmdFontInfo() {
  enum { RESULT = 18 };
  if (ArgDecode(28) != 0) return -1;
  FontCmdArgs a;
  FontArgs(28, &a);
  FontInfoValue v{};
  if (FontInfoQuery(&a, g_MessageRecord ? &g_MessageRecord->font : nullptr, &v) != 0) return -1;
  if (!ArgGiven(RESULT)) return 0;
  u8 p = ArgPos(RESULT);
  if (v.is_text) VarSetStrElement(g_ArgVarId[p], g_ArgVarElem[p], v.text);
  else VarSetNumElement(g_ArgVarId[p], g_ArgVarElem[p], v.number);
  return 0;
}

static void InputArgs(InputCmdArgs* a) {
  *a = InputCmdArgs{};
  for (u8 id = 0; id < INPUT_CMD_PARAMS; id++) {
    a->given[id] = ArgGiven(id) ? 1 : 0;
    a->value[id] = ArgInt(id);
  }
  a->layer = ArgStr(10);
}

i32 CmdInputSet() {
  if (ArgDecode(50) != 0) return -1;
  InputCmdArgs a;
  InputArgs(&a);
  return InputProcessingSet(&a);
}

i32 CmdCursorSet() {
  if (ArgDecode(70) != 0) return -1;
  InputCmdArgs a;
  InputArgs(&a);
  return InputCursorSet(&a);
}

static void SoundArgs(SoundCmdArgs* a) {
  *a = SoundCmdArgs{};
  for (u8 id = 0; id < SOUND_PARAM_COUNT; id++) {
    a->given[id] = ArgGiven(id) ? 1 : 0;
    a->value[id] = ArgInt(id);
    a->text[id] = ArgStr(id);
  }
  if (ArgGiven(SOUND_PARAM_RESULT)) {
    u8 p = ArgPos(SOUND_PARAM_RESULT);
    a->result_var = g_ArgVarId[p];
    a->result_index = g_ArgVarElem[p];
  }
}

i32 CmdSoundSet() {
  if (ArgDecode(CMD_SLOT_SOUND_SET) != 0) return -1;
  SoundCmdArgs a;
  SoundArgs(&a);
  return SoundCmdSet(&a);
}

i32 CmdSoundDelete() {
  if (ArgDecode(CMD_SLOT_SOUND_DELETE) != 0) return -1;
  SoundCmdArgs a;
  SoundArgs(&a);
  return SoundCmdDelete(&a);
}

i32 CmdSoundQuery() {
  if (ArgDecode(CMD_SLOT_SOUND_QUERY) != 0) return -1;
  SoundCmdArgs a;
  SoundArgs(&a);
  return SoundCmdQuery(&a);
}
