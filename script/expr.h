// Expression evaluator: postfix byte code (u8 opcode, u16 operand length, operand) run on one
// stack of slots that each carry an integer, a double and a string-pool index. Invariants: the
// stack never passes 1024 slots, an evaluation never takes more than 1023 pool strings, every pool
// string is NUL-terminated within 4095 bytes, and a slot's integer and double always hold the same
// value in the two arithmetics (the one in force is read). One evaluator for the whole engine,
// used only by the thread that runs frames.
#pragma once
#include "common/types.h"

// Opcodes of the byte code (shared with the kit's compiler).
enum : u8 {
  EXPR_OP_STR = 'M',  // quote character, text up to the next quote
  EXPR_OP_I8 = 'B',
  EXPR_OP_I16 = 'W',
  EXPR_OP_I32 = 'I',
  EXPR_OP_I64 = 'L',
  EXPR_OP_F64 = 'F',
  EXPR_OP_VAR = 'H',         // u8 marker, u16 variable id: element 0
  EXPR_OP_INDEX_OPEN = 'V',  // same operand: an index list follows
  EXPR_OP_INDEX_CLOSE = ')',
  EXPR_OP_WHOLE = 'v',  // same operand: the whole variable
  EXPR_OP_NEG = 'R',
  EXPR_OP_TO_TEXT = 's',
  EXPR_OP_TO_NUM = 'i',
  EXPR_OP_ADD = '+',
  EXPR_OP_SUB = '-',
  EXPR_OP_MUL = '*',
  EXPR_OP_DIV = '/',
  EXPR_OP_MOD = '%',
  EXPR_OP_EQ = '=',
  EXPR_OP_NE = '!',
  EXPR_OP_LT = '<',
  EXPR_OP_GT = '>',
  EXPR_OP_LE = 'S',
  EXPR_OP_GE = 'Z',
  EXPR_OP_AND = '&',
  EXPR_OP_OR = '|',
  EXPR_OP_BIT_AND = 'A',
  EXPR_OP_BIT_OR = 'O',
  EXPR_OP_BIT_XOR = '^',
  EXPR_OP_NOP = ',',
};

enum {
  EXPR_STACK_SLOTS = 1024,
  EXPR_POOL_BUFFERS = 1024,  // index 0 is never used
  EXPR_STR_BUF = 4096,
  EXPR_STR_MAX = 4095,
  EXPR_INSTR_HEADER = 3,  // opcode and operand length
  EXPR_VAR_OPERAND = 3,   // marker and variable id
  EXPR_INDEX_MAX = 8,     // dimensions of a variable
};

enum { EXPR_MODE_INT = 1, EXPR_MODE_FLOAT = 2, EXPR_MODE_STR = 3, EXPR_MODE_STR_FLOAT = 4 };

// Value types of argument records that select an entry; 0, 5 and 10 select none.
enum { EXPR_VALUE_TYPES = 15, EXPR_STR_VALUE_TYPES = 5 };

enum {
  ERR_EXPR_INDEX = 107010,
  ERR_EXPR_UNDEFINED_VAR = 108010,
  ERR_EXPR_NOT_NUMBER = 108210,
  ERR_EXPR_STRING_MIX = 160010,
  ERR_EXPR_BAD_CODE = 900030,
};

struct ExprSlot {
  i64 i;
  double f;
  u16 str;  // pool index, 0 = not a string
};

// The last variable reference of an evaluation (the define commands read the index list).
struct ExprVarRef {
  u32 var_id;      // 0 when none (or system variable 0: see named)
  u8 named;        // a variable was referred to
  i64 element;     // flattened
  u8 whole;        // a whole-variable reference
  u8 index_count;  // of the last closed index list
  i64 indexes[EXPR_INDEX_MAX];
};

struct ExprState {
  ExprSlot stack[EXPR_STACK_SLOTS];
  u16 top;
  u16 pool_next;
  u8 mode;
  u16 list_depth;
  u16 list_base[EXPR_STACK_SLOTS];  // stack position of each open list's placeholder
  u8 not_constant;                  // a variable was read while the readers abort
  u8 failed;                        // the last entry's run stopped at a failing operator
  ExprVarRef ref;
};

extern ExprState g_Expr;
// Declaration mode: set by the define commands around one evaluation.
extern u8 g_ExprDeclareMode;

// An operator: 0 goes on, -1 ends the evaluation.
typedef i32 (*ExprOpFn)(const u8* operand, u16 len);
extern ExprOpFn g_ExprOps[256];

typedef i64 (*ExprIntEntryFn)(const u8* code, u32 size);
typedef double (*ExprFloatEntryFn)(const u8* code, u32 size);
typedef i32 (*ExprStrEntryFn)(const u8* code, u32 size, char* buf);
// Per value type at most one of the two is set.
struct ExprNumEntry {
  ExprIntEntryFn as_int;
  ExprFloatEntryFn as_float;
};
extern const ExprNumEntry g_ExprNumEntry[EXPR_VALUE_TYPES];
extern const ExprStrEntryFn g_ExprStrEntry[EXPR_STR_VALUE_TYPES];

// Fills g_ExprOps. Flag 0 makes the variable readers "H", "V" and "v" mark the expression as not
// constant and fail (the loader evaluates label names as constants); 1 restores them.
void ExprInitOpTable(u8 flag);

// Runs the instructions on the current state; 0, or -1 at the first operator that fails.
i32 ExprRun(const u8* code, u32 size);
// The commonest short integer expressions (a literal, an integer variable, a variable against a
// literal) on a state just reset in integer mode (the caller's duty), with every effect ExprRun
// has on it: 1 done, -1 done and failed (as ExprRun's -1), 0 not one of them (the state is
// untouched for ExprRun).
i32 ExprRunShortInt(const u8* code, u32 size);

// A short integer expression decoded once, when its script is bound: a lone integer literal, a
// lone script variable (id 1000 and above, whose reads have no side effects), or such a variable
// against a literal under one of = ! < > S Z + -.
enum : u8 { EXPR_SHORT_NONE = 0, EXPR_SHORT_LITERAL, EXPR_SHORT_VAR, EXPR_SHORT_VAR_OP_LIT };
struct ExprShortForm {
  u8 form;  // EXPR_SHORT_...
  u8 op;    // the operator of EXPR_SHORT_VAR_OP_LIT
  u16 var;
  i64 literal;
};
// The form of code (which must span exactly size bytes); EXPR_SHORT_NONE when it is none of them.
ExprShortForm ExprDecodeShortInt(const u8* code, u32 size);
// Set while the table holds the standard operators with the real variable readers.
extern bool g_ExprTableStandard;

// The entry functions: each resets the state, runs the code in its mode and returns slot 0.
i64 ExprEvalInt(const u8* code, u32 size);
i64 ExprEvalFloatAsInt(const u8* code, u32 size);
double ExprEvalIntAsFloat(const u8* code, u32 size);
double ExprEvalFloat(const u8* code, u32 size);
// Copy slot 0's string and its NUL into buf (EXPR_STR_BUF bytes) and return its length; a result
// that is not a string gives the empty string.
i32 ExprEvalStr(const u8* code, u32 size, char* buf);
i32 ExprEvalStr4(const u8* code, u32 size, char* buf);

// Evaluation through an argument's value type: 0, or -1 after error 900030 for a value type
// without an entry. A float entry's double is truncated toward zero for the integer form; an
// integer entry's value is converted for the float form.
i32 ExprEvalByTypeInt(u8 value_type, const u8* code, u32 size, i64* out);
i32 ExprEvalByTypeFloat(u8 value_type, const u8* code, u32 size, double* out);
i32 ExprEvalByTypeStr(u8 value_type, const u8* code, u32 size, char* buf, i32* len);

// Tests: frees the pool buffers and resets the state and the table (flag 1).
void ExprReset();

// ---- Inside the evaluator (expr.cpp and expr_ops.cpp) ----------------------------------------

// Float arithmetic is in force in the float modes outside index lists.
inline bool ExprFloatArith() {
  return (g_Expr.mode == EXPR_MODE_FLOAT || g_Expr.mode == EXPR_MODE_STR_FLOAT) && g_Expr.list_depth == 0;
}
// Raise 900030 (fatal, at the script position) and give -1.
i32 ExprFailCode();
// Push helpers: -1 after the overflow error.
inline i32 ExprPushInt(i64 v) {
  if (g_Expr.top >= EXPR_STACK_SLOTS) return ExprFailCode();
  g_Expr.stack[g_Expr.top++] = ExprSlot{v, static_cast<double>(v), 0};
  return 0;
}
i32 ExprPushFloat(double v);
// Pushes a number read in integer or float form, converted to the arithmetic in force.
i32 ExprPushNumberConverted(bool is_float, i64 i, double f);
inline i32 ExprPushNumber(bool is_float, i64 i, double f) {
  if (!is_float && !ExprFloatArith()) return ExprPushInt(i);  // the commonest: no conversion
  return ExprPushNumberConverted(is_float, i, f);
}
// A new pool buffer; null after error 900030 (pool exhausted) or 100010.
char* ExprPoolNew(u16* index);
char* ExprPoolText(u16 index);
// Pushes a copy of text (cut at a whole character to 4095 bytes) as a new string.
i32 ExprPushText(const char* text, size_t len);
// The variable operators (real forms; the aborting forms live with the table).
i32 ExprOpVar(const u8* operand, u16 len);
i32 ExprOpIndexOpen(const u8* operand, u16 len);
i32 ExprOpIndexClose(const u8* operand, u16 len);
i32 ExprOpWhole(const u8* operand, u16 len);
