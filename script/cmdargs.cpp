// The decoded arguments of a command copied into its record (see cmdargs.h).
#include "script/cmdargs.h"

#include "script/arg.h"

const char* CmdArgCommandName(const CmdArgRecord* a) { return ArgCommandName(a->slot); }

const char* CmdArgName(const CmdArgRecord* a, i32 p) {
  return p >= 0 && p <= 255 ? ArgName(a->slot, static_cast<u8>(p)) : "";
}

i32 ArgDecodeRecord(i32 slot, CmdArgRecord* out) {
  *out = CmdArgRecord{};
  if (slot < 0 || slot > 255) return -1;
  out->slot = static_cast<u8>(slot);
  if (ArgDecode(static_cast<u8>(slot)) != 0) return -1;
  for (u8 param = 0; param < CMD_ARG_PARAMS; param++) {
    const u8 p = ArgPos(param);
    if (!p) continue;
    out->given[param] = 1;
    out->value[param] = g_ArgInt[p];
    out->op[param] = g_ArgOp[p];
    out->str[param] = ArgStr(param);
    out->var_id[param] = g_ArgVarId[p];
    out->var_elem[param] = g_ArgVarElem[p];
  }
  return 0;
}
