// Variable store: one VarRecord per variable id in g_VarTable; ids below 1000 are system
// variables computed when read. Invariants: a record's storage of its type holds exactly
// `count` elements or is absent (count 0 after a failed count check); storage of other types is
// always absent; every string element is a heap buffer of its capacity holding a NUL-terminated
// text of at most 4095 bytes (4096 when it was loaded whole from save data).
#pragma once
#include <cstdint>

#include "common/types.h"

enum { VAR_TYPE_NONE = 0, VAR_TYPE_INT = 1, VAR_TYPE_FLOAT = 2, VAR_TYPE_STR = 3 };
enum {
  VAR_DIM_MAX = 8,
  VAR_ELEMENT_MAX = 4000000,
  VAR_STR_MAX = 4095,       // bytes of text in a string element
  VAR_STR_SAVED_MAX = 4096, // bytes of a text loaded from save data, kept whole
  VAR_STR_BUF = 4096,       // a buffer that holds any string element
  VAR_SYS_ID_LIMIT = 1000,  // ids below are system variables
};
enum {
  ERR_VAR_TOO_MANY = 101100,
  ERR_VAR_TOO_FEW = 101110,
  ERR_VAR_WRONG_TYPE = 101140,
  ERR_VAR_READ_ONLY = 101150,
  ERR_VAR_DROP_INDEX = 107010,
};

struct VarRecord {
  u8 var_class;  // 1 to 4, assigned by the compiler
  i8 type;       // VAR_TYPE_...
  i8 dim_count;  // 0 (scalar) to 8
  u32 dims[VAR_DIM_MAX];
  i64 count;  // product of the dimensions, 1 to 4,000,000
  i64* ints;
  double* floats;
  char** strs;
  u16* str_caps;  // per string element its buffer size
};

extern VarRecord** g_VarTable;
extern u32 g_VarCount;
// Changes whenever the table is freed, so a record pointer kept with the stamp it was read under
// stays valid while the stamp is the same. Never 0.
extern u32 g_VarTableStamp;

// Makes a table of count empty records (the old table is freed). 0, or -1 after error 100010.
i32 VarTableCreate(u32 count);
// The record of an id, or null outside the table.
VarRecord* VarRecordOf(i64 id);

// Element getters. Outside the bounds: 0, 0.0 or null. Ids below 1000 are computed.
i64 VarGetIntElement(i64 id, i64 index);
double VarGetFloatElement(i64 id, i64 index);
char* VarGetStrElement(i64 id, i64 index);

// Element setters: -1 and no store outside the bounds. A string variable given a number raises
// error 101140 and gives 0; a number variable given a text raises 101140 and gives -1.
i32 VarSetNumElement(i64 id, i64 index, i64 value);
i32 VarSetFloatElement(i64 id, i64 index, double value);
i32 VarSetStrElement(i64 id, i64 index, const char* text);
i32 VarSetStrElementN(i64 id, i64 index, const char* text, size_t len);
// As VarSetStrElementN for a text loaded from save data, which keeps up to 4096 bytes whole.
i32 VarSetStrElementSaved(i64 id, i64 index, const char* text, size_t len);

// Recomputes the element count from the dimensions: 0, or -1 after error 101100 (more than
// 4,000,000) or 101110 (less than 1), leaving the record empty (count 0, no storage).
i32 VarCalcElementCount(i64 id);
// Retype the record to its current dimensions with every element the value (for strings the
// first len bytes of text, up to its terminator). -1 after a count error or error 100010, the
// record then empty.
i32 VarTypeInt(i64 id, i64 value);
i32 VarTypeFloat(i64 id, double value);
i32 VarTypeString(i64 id, const char* text, size_t len);
// Resizes a one-dimensional variable keeping the first min(old, n) elements. -1 on failure,
// the record unchanged.
i32 VarResize1D(i64 id, i64 n);

// Writes the transition counter of key k under the key counter rule: a released key takes only
// negative values and a held key only positive ones; anything else stores 0. -1 for a key outside
// the key table.
i32 VarSetSysSetting(i64 key, i64 value);

// Float to integer as the store does it: truncated toward zero, NaN 0, out of range saturated.
inline i64 VarFloatToInt(double v) {
  if (__builtin_isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<i64>(v);  // truncated toward zero
}

// Element-assignment operators of the assignment command (var_ops.cpp): entries 0 to 8 take an
// integer value (iv), entries 9 to 17 a float value (fv), each in the order of the operator codes
// "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=". An element outside the bounds, and a division
// or remainder by zero, change nothing (-1). Integer arithmetic wraps.
enum { VAR_ASSIGN_OP_COUNT = 9, VAR_ASSIGN_FLOAT_BASE = 9 };
typedef i32 (*VarAssignOpFn)(i64 id, i64 index, i64 iv, double fv);
extern VarAssignOpFn g_VarAssignOps[2 * VAR_ASSIGN_OP_COUNT];
void VarInitAssignOps();

// System variables (var_sys.cpp). Element index is the flattened index.
i64 VarGetSysInt(i64 id, i64 index);
double VarGetSysFloat(i64 id, i64 index);
// Builds the text of a string system variable into buf (VAR_STR_BUF bytes).
void VarBuildSysString(i64 id, i64 index, char* buf);
// The write side: changes the engine state behind a writable system variable. 0, or -1 after
// error 101150 for a read-only one. The caller then stores the value into the element itself.
i32 VarSetSysInt(i64 id, i64 index, i64 value);
i32 VarSetSysStr(i64 id, i64 index, const char* text);

// Tests: frees the table and every record.
void VarReset();
