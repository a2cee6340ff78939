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

i32 CmdFontSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(27, &a) != 0) return -1;
  return FontSetApply(&a, g_MessageRecord ? &g_MessageRecord->font : nullptr) == 0 ? 0 : -1;
}

i32 CmdFontInfo() {
  enum { RESULT = 18 };
  CmdArgRecord a;
  if (ArgDecodeRecord(28, &a) != 0) return -1;
  FontInfoValue v{};
  if (FontInfoQuery(&a, g_MessageRecord ? &g_MessageRecord->font : nullptr, &v) != 0) return -1;
  if (!a.given[RESULT]) return 0;
  if (v.is_text) VarSetStrElement(a.var_id[RESULT], a.var_elem[RESULT], v.text);
  else VarSetNumElement(a.var_id[RESULT], a.var_elem[RESULT], v.number);
  return 0;
}

i32 CmdInputSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(50, &a) != 0) return -1;
  return InputProcessingSet(&a);
}

i32 CmdCursorSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(70, &a) != 0) return -1;
  return InputCursorSet(&a);
}

i32 CmdSoundSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_SOUND_SET, &a) != 0) return -1;
  return SoundCmdSet(&a);
}

i32 CmdSoundDelete() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_SOUND_DELETE, &a) != 0) return -1;
  return SoundCmdDelete(&a);
}

i32 CmdSoundQuery() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_SOUND_QUERY, &a) != 0) return -1;
  return SoundCmdQuery(&a);
}
