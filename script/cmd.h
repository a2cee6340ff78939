// The command table: 119 handlers indexed by opcode, and the per-command flag bytes. A slot whose
// handler belongs to a part of the engine not built yet holds CmdNotBuilt, which stops the line
// with the unbuilt-command error rather than doing nothing; unused slots hold CmdUndefined.
#pragma once
#include "common/types.h"
#include "script/script.h"

enum { ERR_CMD_UNDEFINED = 900050 };

extern TaskLineHandler g_CmdHandlers[CMD_SLOT_COUNT];
// Per command slot; all 1 after start-up (command 15 changes them).
extern u8 g_CmdFlags[128];

// Fills the table in slot order.
void CmdInitTable();
// The handler an opcode runs: its slot's, or CmdUndefined above 118.
TaskLineHandler CmdHandlerFor(u8 opcode);
// The name of the handler a slot holds by design (for messages and tests).
const char* CmdHandlerName(u8 slot);

i32 CmdUndefined();          // error 900050, fatal; -1
i32 CmdNotBuilt();           // error 900050, fatal, naming the command; -1
i32 CmdNop();                // 0 without decoding its arguments
i32 CmdProgramEnd();         // command 14
i32 CmdFrameRateSet();       // command 29
i32 CmdFontSet();            // command 27 (cmd_shell.cpp)
i32 CmdFontInfo();           // command 28
i32 CmdInputSet();           // command 50
i32 CmdCursorSet();          // command 70
i32 CmdSoundSet();           // command 87
i32 CmdSoundDelete();        // command 88
i32 CmdSoundQuery();         // command 89
i32 CmdMessageEnd();         // command 79 (cmd_message.cpp)
i32 CmdMessageSet();         // command 96
i32 CmdMessageInfo();        // command 97
i32 CmdMessageTextAppend();  // command 106
i32 CmdMessagePrintValue();  // command 110

// Variable, data and math commands (cmd_var.cpp, cmd_varedit.cpp, cmd_math.cpp).
i32 CmdVarDefineFloat();  // 26
i32 CmdVarDefineInt();    // 51
i32 CmdVarDefineStr();    // 90
i32 CmdVarAssign();       // 54
i32 CmdLabelExists();     // 53
i32 CmdVarEdit();         // 100
i32 CmdVarInfoGet();      // 101
i32 CmdNop86();
i32 CmdNop99();
i32 CmdMathCalc();    // 61
i32 CmdMotionCalc();  // 62
// Re-initialises the global variables (load group 1) of the selected classes 1 to 4 per type to
// their definitions' dimensions and initial values. 0, or -1 after a retyping error.
i32 VarReinitGlobals(const u8 int_classes[4], const u8 float_classes[4], const u8 str_classes[4]);
// The random draw of command 61: lo + (r mod (hi - lo + 1)); over the whole 64-bit range two
// draws make every value reachable.
i64 MathRandomBetween(i64 a, i64 b);
// |v|, with abs(INT64_MIN) = INT64_MAX.
i64 MathAbsInt(i64 v);
// The motion formulas of command 62: A[0..7] and B[0..30] in, B[31..34] out.
void MotionCompute(const i64 a[8], const double b[31], double out[4]);

// File, clipboard, CSV and registry commands (cmd_file.cpp); command 21 is CmdFileOp
// (layer/layer_cmd.h).
i32 CmdClipboardSetText();   // 5
i32 CmdClipboardGetText();   // 6
i32 CmdNop7();               // 7
i32 CmdCsvFileRead();        // 8
i32 CmdCommandFlagsSet();    // 15
i32 CmdNop16();              // 16
i32 CmdFileInfoGet();        // 22
i32 CmdRegistryRead();       // 76
i32 CmdScriptFileInfoGet();  // 92

// Command 10 (cmd_msgbox.cpp) and the message box style its decoded arguments give.
i32 CmdMessageBox();
// The menu tree, the popup menu and the engine windows (shell/cmd_menu.cpp).
i32 CmdMenuItemSet();     // 63
i32 CmdMenuPopupShow();   // 64
i32 CmdMenuItemDelete();  // 65
i32 CmdMenuItemGet();     // 66
i32 CmdNop67();
i32 CmdNop68();
i32 CmdNop69();
i32 CmdTrayIconSet();    // 98 (shell/tray.cpp)
i32 CmdWindowHide();     // 104
i32 CmdWindowInfoGet();  // 105
// A menu item's order value after an assignment operator (ARG_OP_...) with a value.
i64 MenuOrderApply(i64 order, u32 op, i64 value);
u32 CmdMessageBoxStyle();
