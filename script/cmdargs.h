// The one record a command body reads its arguments from: per parameter id whether it was given,
// its assignment operator, its 64-bit value, its string and the variable element it names, as
// the argument decoder left them in its slots. A body reads it through CmdArg...; the copy lets a
// body run on the main thread while the script thread waits and the decoder's slots are reused.
// A string points into the decoder's buffers and lives as long as the line's decode.
#pragma once
#include "common/types.h"

enum { CMD_ARG_PARAMS = 32 };
// The command slots of the shell's own commands.
enum { CMD_SCREEN_SET = 91, CMD_WINDOW_SET = 103 };

struct CmdArgRecord {
  u8 slot;  // the command's slot, for its names in messages
  u8 given[CMD_ARG_PARAMS];
  u32 op[CMD_ARG_PARAMS];  // ARG_OP_...
  i64 value[CMD_ARG_PARAMS];
  const char* str[CMD_ARG_PARAMS];  // a given parameter's string ("" when not decoded as one)
  u32 var_id[CMD_ARG_PARAMS];       // the variable element a given parameter names
  i64 var_elem[CMD_ARG_PARAMS];
};

inline bool CmdArgGiven(const CmdArgRecord* a, i32 p) { return p >= 0 && p < CMD_ARG_PARAMS && a->given[p]; }
inline i64 CmdArgInt(const CmdArgRecord* a, i32 p) { return CmdArgGiven(a, p) ? a->value[p] : 0; }
inline u32 CmdArgOp(const CmdArgRecord* a, i32 p) { return CmdArgGiven(a, p) ? a->op[p] : 0; }
// The string of a given parameter, "" otherwise.
inline const char* CmdArgStr(const CmdArgRecord* a, i32 p) { return CmdArgGiven(a, p) && a->str[p] ? a->str[p] : ""; }
// The command's name and a parameter's name in the command definitions ("" when none).
const char* CmdArgCommandName(const CmdArgRecord* a);
const char* CmdArgName(const CmdArgRecord* a, i32 p);

// The body of a command: 0 to go on, -1 to stop the line (other values as the command says).
typedef i32 (*CmdBodyFn)(const CmdArgRecord* a);

// Runs a command's body on the main thread, which owns the windows, while the calling (script)
// thread waits. -1 when the program ends before the body could run.
i32 CmdRunOnMain(CmdBodyFn body, const CmdArgRecord* a);

// Decodes the running line of command slot and copies its slots into the record. 0, or -1 when
// the arguments cannot be decoded (after the decoder's error).
i32 ArgDecodeRecord(i32 slot, CmdArgRecord* out);
