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

i32 CmdUndefined();   // error 900050, fatal; -1
i32 CmdNotBuilt();    // error 900050, fatal, naming the command; -1
i32 CmdNop();         // 0 without decoding its arguments
i32 CmdProgramEnd();  // command 14
i32 CmdFrameRateSet();  // command 29
i32 CmdFontSet();     // command 27 (cmd_shell.cpp)
i32 CmdFontInfo();    // command 28
i32 CmdInputSet();    // command 50
i32 CmdCursorSet();   // command 70
i32 CmdSoundSet();    // command 87
i32 CmdSoundDelete(); // command 88
i32 CmdSoundQuery();  // command 89

// The script name of a command slot, from the command definitions ("" when unknown).
const char* CmdDefName(i32 slot);
