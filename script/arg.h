// Argument decoding: every command handler first decodes its line's argument records into the
// ArgSlots, evaluated by the kind of each parameter and range-checked by its class. Positions
// count from 1 in record order (at most 255 a line); the parameter map covers all 256 ids and is
// cleared at every decode, so a parameter left out reads as not given.
#pragma once
#include "common/types.h"

enum { ARG_POSITIONS = 256, ARG_PARAM_IDS = 256, ARG_STR_BUF = 4096 };
enum {
  ERR_ARG_RANGE = 101000,
  ERR_ARG_MINIMUM = 101010,
  ERR_ARG_COLOUR_OR_NONE = 101020,
  ERR_ARG_COLOUR = 101030,
  ERR_ARG_ABOVE = 101210,
  ERR_ARG_NEGATIVE = 101220,
};

extern u8 g_ArgSlotByParam[ARG_PARAM_IDS];  // position of each parameter; 0 = not given
extern u8 g_ArgCount;
// By position (index 0 unused).
extern u32 g_ArgParam[ARG_POSITIONS];
extern u32 g_ArgValueType[ARG_POSITIONS];
extern u32 g_ArgOp[ARG_POSITIONS];
extern u32 g_ArgSize[ARG_POSITIONS];
extern u32 g_ArgOffset[ARG_POSITIONS];
extern i64 g_ArgInt[ARG_POSITIONS];
extern char* g_ArgStr[ARG_POSITIONS];  // 4096-byte buffers, allocated on first use and kept
extern u32 g_ArgVarId[ARG_POSITIONS];
extern i64 g_ArgVarElem[ARG_POSITIONS];
extern u8 g_ArgWhole[ARG_POSITIONS];
extern u8 g_ArgVarNamed[ARG_POSITIONS];    // a variable was named (its id may be 0)
extern const u8* g_ArgRaw[ARG_POSITIONS];  // kind 2: the byte code in the running file

// Decodes the current line of the running thread for command slot. 0, or -1 at the first range
// failure (the rest is not decoded) or a malformed record.
i32 ArgDecode(u8 slot);
// Range-checks value by class for the argument's messages (command slot, parameter id). 0 or -1
// after the class's error.
i32 ArgCheckRange(u8 slot, u8 param, u8 cls, i64 value);
// Command 0: an expression statement.
i32 CmdArgsEval();

// Reading the decoded arguments by parameter id.
inline u8 ArgPos(u8 param) { return g_ArgSlotByParam[param]; }
inline bool ArgGiven(u8 param) { return g_ArgSlotByParam[param] != 0; }
inline i64 ArgInt(u8 param) { return ArgGiven(param) ? g_ArgInt[ArgPos(param)] : 0; }
// The string of a string argument; "" when not given or not decoded as a string.
const char* ArgStr(u8 param);
// The name of a command's parameter in the command definitions ("" when none).
const char* ArgName(u8 slot, u8 param);
const char* ArgCommandName(u8 slot);

// Assignment operators of an argument (g_ArgOp).
enum { ARG_OP_SET = 0, ARG_OP_ADD = 1, ARG_OP_SUB = 2, ARG_OP_MUL = 3, ARG_OP_DIV = 4 };
// The operator over the current value: set, add, subtract, multiply, divide (truncating; a zero
// divisor keeps the current value); other codes keep it too. Arithmetic wraps.
i64 ArgApplyOpInt64(u32 op, i64 cur, i64 arg);
// As ArgApplyOpInt64, then: set unclamped, add clamped at high only, subtract at low only,
// multiply and divide at both.
i64 ArgApplyOpClamped(u32 op, i64 cur, i64 arg, i64 low, i64 high);
// As ArgApplyOpInt64; subtract, multiply and divide results are raised to low.
i64 ArgApplyOpMin(u32 op, i64 cur, i64 arg, i64 low);
// The operator of a given parameter (ARG_OP_SET when not given).
inline u32 ArgOp(u8 param) { return ArgGiven(param) ? g_ArgOp[ArgPos(param)] : u32{ARG_OP_SET}; }

// Tests: frees the string buffers and clears the slots.
void ArgReset();
