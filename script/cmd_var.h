// Shared pieces of the variable, data and math commands: the byte code of a decoded argument and
// evaluation through the float or string entries of a value type, with the value type checked
// before it selects an entry.
#pragma once
#include "common/types.h"

enum {
  ERR_VAR_EMPTY_STRING = 101450,
  ERR_VAR_CONVERT = 108200,
  ERR_VAR_NOT_NUMBER = 108210,
  ERR_VAR_NOT_STRING = 108220,
  ERR_VAR_EXTRACT_START = 120010,
  ERR_VAR_EXTRACT_COUNT = 120020,
  ERR_VAR_REMOVE_START = 120110,
  ERR_VAR_REMOVE_COUNT = 120120,
};

// Value types 1 to 4 name an entry; with 5 or 10 added they name its float forms.
inline bool CmdValueTypeValid(u32 vt) { return vt >= 1 && vt <= 4; }

// The byte code of decoded position p (its bounds were checked by the decoder).
const u8* CmdArgCode(u8 p);
// Evaluates code through the float entry value type + plus (5 or 10): 0, or -1 after error
// 900030 for a value type outside 1 to 4.
i32 CmdEvalFloat(u32 value_type, u32 plus, const u8* code, u32 size, double* out);
// The variable record type of an id (VAR_TYPE_NONE outside the table).
i8 CmdVarType(i64 id);
