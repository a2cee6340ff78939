// The decoded arguments of one command line as a shell command's body reads them, by parameter
// id: what the argument decoder leaves in its slots (given flag, 64-bit value, string, assignment
// operator), copied so that the body can run on the main thread while the script thread waits.
// A string points into the decoder's buffers and lives as long as the line's decode.
#pragma once
#include "common/types.h"

enum { CMD_ARG_PARAMS = 32 };
// The command slots of the shell's own commands.
enum { CMD_SCREEN_SET = 91, CMD_WINDOW_SET = 103 };

struct CmdArgRecord {
  u8 given[CMD_ARG_PARAMS];
  i64 value[CMD_ARG_PARAMS];
  const char* str[CMD_ARG_PARAMS];  // null when the parameter is not a string
  u32 op[CMD_ARG_PARAMS];
};

// The body of a command: 0 to go on, -1 to stop the line (other values as the command says).
typedef i32 (*CmdBodyFn)(const CmdArgRecord* a);

// Runs a command's body on the main thread, which owns the windows, while the calling (script)
// thread waits. -1 when the program ends before the body could run.
i32 CmdRunOnMain(CmdBodyFn body, const CmdArgRecord* a);

// The argument decoder for the running line of command slot, its slots copied into the record.
// 0, or -1 when the arguments cannot be decoded (after the decoder's error).
i32 ArgDecodeRecord(i32 slot, CmdArgRecord* out);
// The name of a command's parameter in the command definitions (for error texts; "" when none).
const char* CmdDefArgName(i32 slot, i32 param);
