// The command table's rows (see script/cmd.h): one row a slot in slot order, binding each slot to
// its handler in whichever module owns it; and commands 14 and 29, whose bodies are the frame
// loop's.
#include "script/cmd.h"

#include "core/err.h"
#include "display/emote.h"
#include "layer/layer_cmd.h"
#include "layer/layer_edit.h"
#include "script/arg.h"
#include "script/save.h"
#include "script/task.h"
#include "shell/frame.h"
#include "shell/screen.h"
#include "shell/wincmd.h"
#include "sound/movie.h"

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
    {2, CmdLayerEdit, "CmdLayerEdit"},
    {3, CmdLayerDelete, "CmdLayerDelete"},
    {4, CmdLayerInfo, "CmdLayerInfo"},
    {5, CmdClipboardSetText, "CmdClipboardSetText"},
    {6, CmdClipboardGetText, "CmdClipboardGetText"},
    {7, CmdNop7, "CmdNop7"},
    {8, CmdCsvFileRead, "CmdCsvFileRead"},
    {9, CmdNop, "CmdNop"},
    {10, CmdMessageBox, "CmdMessageBox"},
    {11, CmdBlockBranch, "CmdBlockBranch"},
    {12, CmdEmoteControl, "CmdEmoteControl"},
    {13, CmdEmoteQuery, "CmdEmoteQuery"},
    {14, CmdProgramEnd, "CmdProgramEnd"},
    {15, CmdCommandFlagsSet, "CmdCommandFlagsSet"},
    {16, CmdNop16, "CmdNop16"},
    {21, CmdFileOp, "CmdFileOp"},
    {22, CmdFileInfoGet, "CmdFileInfoGet"},
    {23, CmdFlashOpen, "CmdFlashOpen"},
    {24, CmdFlashClose, "CmdFlashClose"},
    {25, CmdFlashQuery, "CmdFlashQuery"},
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
    {55, CmdSaveDataLoad, "CmdSaveDataLoad"},
    {56, CmdLoopStart, "CmdLoopStart"},
    {57, CmdLoopBreak, "CmdLoopBreak"},
    {58, CmdLoopContinue, "CmdLoopContinue"},
    {59, CmdLoopEnd, "CmdLoopEnd"},
    {61, CmdMathCalc, "CmdMathCalc"},
    {62, CmdMotionCalc, "CmdMotionCalc"},
    {63, CmdMenuItemSet, "CmdMenuItemSet"},
    {64, CmdMenuPopupShow, "CmdMenuPopupShow"},
    {65, CmdMenuItemDelete, "CmdMenuItemDelete"},
    {66, CmdMenuItemGet, "CmdMenuItemGet"},
    {67, CmdNop67, "CmdNop67"},
    {68, CmdNop68, "CmdNop68"},
    {69, CmdNop69, "CmdNop69"},
    {70, CmdCursorSet, "CmdCursorSet"},
    {71, CmdMoviePlay, "CmdMoviePlay"},
    {72, CmdMovieStop, "CmdMovieStop"},
    {73, CmdMovieQuery, "CmdMovieQuery"},
    {74, CmdMovieNoOp, "CmdMovieNoOp"},
    {75, CmdNop, "CmdNop"},
    {76, CmdRegistryRead, "CmdRegistryRead"},
    {77, CmdCallReturn, "CmdCallReturn"},
    {78, CmdNop, "CmdNop"},
    {79, CmdMessageEnd, "CmdMessageEnd"},
    {80, CmdNop, "CmdNop"},
    {81, CmdNop, "CmdNop"},
    {82, CmdNop, "CmdNop"},
    {84, CmdSaveDataWrite, "CmdSaveDataWrite"},
    {85, CmdSaveBufferClear, "CmdSaveBufferClear"},
    {86, CmdNop86, "CmdNop86"},
    {87, CmdSoundSet, "CmdSoundSet"},
    {88, CmdSoundDelete, "CmdSoundDelete"},
    {89, CmdSoundQuery, "CmdSoundQuery"},
    {90, CmdVarDefineStr, "CmdVarDefineStr"},
    {91, CmdScreenSet, "CmdScreenSet"},
    {92, CmdScriptFileInfoGet, "CmdScriptFileInfoGet"},
    {93, CmdTaskStart, "CmdTaskStart"},
    {94, CmdTaskEnd, "CmdTaskEnd"},
    {95, CmdTaskStateSave, "CmdTaskStateSave"},
    {96, CmdMessageSet, "CmdMessageSet"},
    {97, CmdMessageInfo, "CmdMessageInfo"},
    {98, CmdTrayIconSet, "CmdTrayIconSet"},
    {99, CmdNop99, "CmdNop99"},
    {100, CmdVarEdit, "CmdVarEdit"},
    {101, CmdVarInfoGet, "CmdVarInfoGet"},
    {102, CmdTaskWait, "CmdTaskWait"},
    {103, CmdWindowSet, "CmdWindowSet"},
    {104, CmdWindowHide, "CmdWindowHide"},
    {105, CmdWindowInfoGet, "CmdWindowInfoGet"},
    {106, CmdMessageTextAppend, "CmdMessageTextAppend"},
    {107, CmdFrameSetLoad, "CmdFrameSetLoad"},
    {108, CmdFrameSetRelease, "CmdFrameSetRelease"},
    {109, CmdFrameSetInfoGet, "CmdFrameSetInfoGet"},
    {110, CmdMessagePrintValue, "CmdMessagePrintValue"},
};

void CmdInitTable() {
  for (TaskLineHandler& h : g_CmdHandlers) h = CmdUndefined;
  for (const CmdRow& row : kCmdRows) g_CmdHandlers[row.slot] = row.handler;
}

const char* CmdHandlerName(u8 slot) {
  for (const CmdRow& row : kCmdRows)
    if (row.slot == slot) return row.name;
  return "CmdUndefined";
}
