// The command table (see cmd.h), one row a slot in slot order, and the handlers this module owns:
// the undefined and no-op slots, the unbuilt stand-in, and commands 14 and 29.
#include "script/cmd.h"

#include "layer/layer_cmd.h"
#include "script/arg.h"
#include "script/task.h"
#include "shell/err.h"
#include "shell/frame.h"
#include "shell/screen.h"
#include "shell/wincmd.h"

TaskLineHandler g_CmdHandlers[CMD_SLOT_COUNT];
u8 g_CmdFlags[128];

i32 CmdUndefined() {
  ErrRaiseAtScript(ERR_CMD_UNDEFINED, 1);
  return -1;
}

i32 CmdNotBuilt() {
  i32 op = ScriptCurrentOpcode();
  ErrRaiseAtScriptF(ERR_CMD_UNDEFINED, 1, op >= 0 ? ArgCommandName(static_cast<u8>(op)) : "");
  return -1;
}

i32 CmdNop() { return 0; }

const char* CmdDefName(i32 slot) { return slot >= 0 && slot < CMD_SLOT_COUNT ? ArgCommandName(static_cast<u8>(slot)) : ""; }

i32 CmdProgramEnd() {
  if (ArgDecode(14) != 0) return -1;
  return FrameProgramEnd(ArgGiven(0), ArgInt(0));
}

i32 CmdFrameRateSet() {
  if (ArgDecode(29) != 0) return -1;
  return FrameRateSet(ArgGiven(0), ArgInt(0), ArgGiven(1), ArgInt(1));
}

struct CmdRow {
  u8 slot;
  TaskLineHandler handler;
  const char* name;  // the handler the slot holds once its part is built
};

// Slots not listed hold CmdUndefined.
static const CmdRow kCmdRows[] = {
    {0, CmdArgsEval, "CmdArgsEval"},
    {1, CmdLayerCreate, "CmdLayerCreate"},
    {2, CmdNotBuilt, "CmdLayerEdit"},
    {3, CmdLayerDelete, "CmdLayerDelete"},
    {4, CmdLayerInfo, "CmdLayerInfo"},
    {5, CmdNotBuilt, "CmdClipboardSetText"},
    {6, CmdNotBuilt, "CmdClipboardGetText"},
    {7, CmdNotBuilt, "CmdNop7"},
    {8, CmdNotBuilt, "CmdCsvFileRead"},
    {9, CmdNop, "CmdNop"},
    {10, CmdMessageBox, "CmdMessageBox"},
    {11, CmdBlockBranch, "CmdBlockBranch"},
    {12, CmdNotBuilt, "CmdEmoteControl"},
    {13, CmdNotBuilt, "CmdEmoteQuery"},
    {14, CmdProgramEnd, "CmdProgramEnd"},
    {15, CmdNotBuilt, "CmdCommandFlagsSet"},
    {16, CmdNotBuilt, "CmdNop16"},
    {21, CmdNotBuilt, "CmdFileOp"},
    {22, CmdNotBuilt, "CmdFileInfoGet"},
    {23, CmdNotBuilt, "CmdFlashOpen"},
    {24, CmdNotBuilt, "CmdFlashClose"},
    {25, CmdNotBuilt, "CmdFlashQuery"},
    {26, CmdVarDefineFloat, "CmdVarDefineFloat"},
    {27, CmdFontSet, "CmdFontSet"},
    {28, CmdFontInfo, "CmdFontInfo"},
    {29, CmdFrameRateSet, "CmdFrameRateSet"},
    {43, CmdLabelJump, "CmdLabelJump"},
    {44, CmdLabelCall, "CmdLabelCall"},
    {45, CmdBlockBegin, "CmdBlockBegin"},
    {46, CmdBlockJumpEnd, "CmdBlockJumpEnd"},
    {47, CmdBlockBreak, "CmdBlockBreak"},
    {48, CmdBlockContinue, "CmdBlockContinue"},
    {49, CmdBlockEnd, "CmdBlockEnd"},
    {50, CmdInputSet, "CmdInputSet"},
    {51, CmdVarDefineInt, "CmdVarDefineInt"},
    {52, CmdNop, "CmdNop"},
    {53, CmdLabelExists, "CmdLabelExists"},
    {54, CmdVarAssign, "CmdVarAssign"},
    {55, CmdNotBuilt, "CmdSaveDataLoad"},
    {56, CmdLoopStart, "CmdLoopStart"},
    {57, CmdLoopBreak, "CmdLoopBreak"},
    {58, CmdLoopContinue, "CmdLoopContinue"},
    {59, CmdLoopEnd, "CmdLoopEnd"},
    {61, CmdMathCalc, "CmdMathCalc"},
    {62, CmdMotionCalc, "CmdMotionCalc"},
    {63, CmdNotBuilt, "CmdMenuItemSet"},
    {64, CmdNotBuilt, "CmdMenuPopupShow"},
    {65, CmdNotBuilt, "CmdMenuItemDelete"},
    {66, CmdNotBuilt, "CmdMenuItemGet"},
    {67, CmdNotBuilt, "CmdNop67"},
    {68, CmdNotBuilt, "CmdNop68"},
    {69, CmdNotBuilt, "CmdNop69"},
    {70, CmdCursorSet, "CmdCursorSet"},
    {71, CmdNotBuilt, "CmdMoviePlay"},
    {72, CmdNotBuilt, "CmdMovieStop"},
    {73, CmdNotBuilt, "CmdMovieQuery"},
    {74, CmdNotBuilt, "CmdMovieNoOp"},
    {75, CmdNop, "CmdNop"},
    {76, CmdNotBuilt, "CmdRegistryRead"},
    {77, CmdCallReturn, "CmdCallReturn"},
    {78, CmdNop, "CmdNop"},
    {79, CmdMessageEnd, "CmdMessageEnd"},
    {80, CmdNop, "CmdNop"},
    {81, CmdNop, "CmdNop"},
    {82, CmdNop, "CmdNop"},
    {84, CmdNotBuilt, "CmdSaveDataWrite"},
    {85, CmdNotBuilt, "CmdSaveBufferClear"},
    {86, CmdNop86, "CmdNop86"},
    {87, CmdSoundSet, "CmdSoundSet"},
    {88, CmdSoundDelete, "CmdSoundDelete"},
    {89, CmdSoundQuery, "CmdSoundQuery"},
    {90, CmdVarDefineStr, "CmdVarDefineStr"},
    {91, CmdScreenSet, "CmdScreenSet"},
    {92, CmdNotBuilt, "CmdScriptFileInfoGet"},
    {93, CmdTaskStart, "CmdTaskStart"},
    {94, CmdTaskEnd, "CmdTaskEnd"},
    {95, CmdTaskStateSave, "CmdTaskStateSave"},
    {96, CmdMessageSet, "CmdMessageSet"},
    {97, CmdMessageInfo, "CmdMessageInfo"},
    {98, CmdNotBuilt, "CmdTrayIconSet"},
    {99, CmdNop99, "CmdNop99"},
    {100, CmdVarEdit, "CmdVarEdit"},
    {101, CmdVarInfoGet, "CmdVarInfoGet"},
    {102, CmdTaskWait, "CmdTaskWait"},
    {103, CmdWindowSet, "CmdWindowSet"},
    {104, CmdNotBuilt, "CmdWindowHide"},
    {105, CmdNotBuilt, "CmdWindowInfoGet"},
    {106, CmdMessageTextAppend, "CmdMessageTextAppend"},
    {107, CmdNotBuilt, "CmdFrameSetLoad"},
    {108, CmdNotBuilt, "CmdFrameSetRelease"},
    {109, CmdNotBuilt, "CmdFrameSetInfoGet"},
    {110, CmdMessagePrintValue, "CmdMessagePrintValue"},
};

void CmdInitTable() {
  for (TaskLineHandler& h : g_CmdHandlers) h = CmdUndefined;
  for (const CmdRow& row : kCmdRows) g_CmdHandlers[row.slot] = row.handler;
}

TaskLineHandler CmdHandlerFor(u8 opcode) { return opcode < CMD_SLOT_COUNT ? g_CmdHandlers[opcode] : CmdUndefined; }

const char* CmdHandlerName(u8 slot) {
  for (const CmdRow& row : kCmdRows)
    if (row.slot == slot) return row.name;
  return "CmdUndefined";
}
