// The decoded arguments of a shell command copied into its record (see cmdargs.h): the body then
// reads them on the main thread while the decoder's slots may be reused.
#include "script/cmdargs.h"

#include "script/arg.h"

const char* CmdDefArgName(i32 slot, i32 param) {
  if (slot < 0 || slot > 255 || param < 0 || param > 255) return "";
  return ArgName(static_cast<u8>(slot), static_cast<u8>(param));
}

i32 ArgDecodeRecord(i32 slot, CmdArgRecord* out) {
  *out = CmdArgRecord{};
  if (slot < 0 || slot > 255 || ArgDecode(static_cast<u8>(slot)) != 0) return -1;
  for (u8 param = 0; param < CMD_ARG_PARAMS; param++) {
    const u8 p = ArgPos(param);
    if (!p) continue;
    out->given[param] = 1;
    out->value[param] = g_ArgInt[p];
    out->op[param] = g_ArgOp[p];
    const char* s = ArgStr(param);
    out->str[param] = g_ArgStr[p] && s == g_ArgStr[p] ? s : nullptr;  // decoded as a string
  }
  return 0;
}
