// The command table's storage and the handlers every table needs: the undefined and no-op slots
// and the stand-in for a command not built yet. The rows live with the roof, which sees every
// module's handlers.
#include "script/cmd.h"

#include "core/err.h"
#include "script/arg.h"
#include "script/task.h"

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

TaskLineHandler CmdHandlerFor(u8 opcode) { return opcode < CMD_SLOT_COUNT ? g_CmdHandlers[opcode] : CmdUndefined; }
