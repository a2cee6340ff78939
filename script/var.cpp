// Variable store (see var.h): the table, element access with bounds, retyping and resizing.
// Element counts are computed in 64 bits and stopped at the limit, so eight 32-bit dimensions
// never overflow; string texts are cut at a whole Shift-JIS character to 4095 bytes (4096 when
// loaded from save data), so a capacity never passes 4097 and always fits its 16-bit field.
#include "script/var.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/state.h"

VarRecord** g_VarTable = nullptr;
u32 g_VarCount = 0;
u32 g_VarTableStamp = 1;

static char s_SysText[VAR_STR_BUF];

// ---- Table -----------------------------------------------------------------------------------

static void FreeStorage(VarRecord* v) {
  if (v->strs) {
    for (i64 i = 0; i < v->count; i++) free(v->strs[i]);
  }
  free(v->strs);
  free(v->str_caps);
  free(v->ints);
  free(v->floats);
  v->strs = nullptr;
  v->str_caps = nullptr;
  v->ints = nullptr;
  v->floats = nullptr;
}

void VarReset() {
  if (g_VarTable) {
    for (u32 id = 0; id < g_VarCount; id++) {
      if (!g_VarTable[id]) continue;
      FreeStorage(g_VarTable[id]);
      free(g_VarTable[id]);
    }
  }
  free(g_VarTable);
  g_VarTable = nullptr;
  g_VarCount = 0;
  if (++g_VarTableStamp == 0) g_VarTableStamp = 1;
}

i32 VarTableCreate(u32 count) {
  VarReset();
  VarRecord** table = static_cast<VarRecord**>(MemAllocZeroed(size_t{count} * sizeof(VarRecord*)));
  if (!table && count) {
    ErrRaise(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  g_VarTable = table;
  for (u32 id = 0; id < count; id++) {
    table[id] = static_cast<VarRecord*>(MemAllocZeroed(sizeof(VarRecord)));
    if (!table[id]) {
      g_VarCount = id;
      VarReset();
      ErrRaise(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
  }
  g_VarCount = count;
  return 0;
}

VarRecord* VarRecordOf(i64 id) {
  if (id < 0 || id >= static_cast<i64>(g_VarCount) || !g_VarTable) return nullptr;
  return g_VarTable[id];
}

static bool InBounds(const VarRecord* v, i64 index) { return v && index >= 0 && index < v->count; }

// ---- Getters ---------------------------------------------------------------------------------

i64 VarGetIntElement(i64 id, i64 index) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index)) return 0;
  if (id < VAR_SYS_ID_LIMIT) return VarGetSysInt(id, index);
  if (v->type == VAR_TYPE_INT && v->ints) return v->ints[index];
  if (v->type == VAR_TYPE_FLOAT && v->floats) return VarFloatToInt(v->floats[index]);
  return 0;
}

double VarGetFloatElement(i64 id, i64 index) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index)) return 0.0;
  if (id < VAR_SYS_ID_LIMIT) return VarGetSysFloat(id, index);
  if (v->type == VAR_TYPE_FLOAT && v->floats) return v->floats[index];
  if (v->type == VAR_TYPE_INT && v->ints) return static_cast<double>(v->ints[index]);
  return 0.0;
}

char* VarGetStrElement(i64 id, i64 index) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index) || v->type != VAR_TYPE_STR || !v->strs) return nullptr;
  if (id < VAR_SYS_ID_LIMIT) {
    VarBuildSysString(id, index, s_SysText);
    VarSetStrElement(id, index, s_SysText);
  }
  return v->strs[index];
}

// ---- Setters ---------------------------------------------------------------------------------

i32 VarSetNumElement(i64 id, i64 index, i64 value) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index)) return -1;
  switch (v->type) {
    case VAR_TYPE_INT:
      if (!v->ints) return -1;
      v->ints[index] = value;
      return 0;
    case VAR_TYPE_FLOAT:
      if (!v->floats) return -1;
      v->floats[index] = static_cast<double>(value);
      return 0;
    default: ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1); return 0;
  }
}

i32 VarSetFloatElement(i64 id, i64 index, double value) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index)) return -1;
  switch (v->type) {
    case VAR_TYPE_INT:
      if (!v->ints) return -1;
      v->ints[index] = VarFloatToInt(value);
      return 0;
    case VAR_TYPE_FLOAT:
      if (!v->floats) return -1;
      v->floats[index] = value;
      return 0;
    default: ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1); return 0;
  }
}

// Copies len bytes of text (cut to a whole character at max) into element index, growing its
// buffer when it is too small. The text may lie inside the element itself.
static i32 StoreText(VarRecord* v, i64 index, const char* text, size_t len, size_t max) {
  len = StrCutSjis(text, len, max);
  char* buf = v->strs[index];
  if (!buf || v->str_caps[index] < len + 1) {
    char* grown = static_cast<char*>(realloc(buf, len + 1));
    if (!grown) {
      ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    buf = grown;
    v->strs[index] = buf;
    v->str_caps[index] = static_cast<u16>(len + 1);
  }
  std::memmove(buf, text, len);
  buf[len] = '\0';
  return 0;
}

static i32 SetStrElement(i64 id, i64 index, const char* text, size_t len, size_t max) {
  VarRecord* v = VarRecordOf(id);
  if (!InBounds(v, index)) return -1;
  if (v->type != VAR_TYPE_STR) {
    ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1);
    return -1;
  }
  if (!v->strs) return -1;
  if (!text) text = "";
  return StoreText(v, index, text, strnlen(text, len), max);
}

i32 VarSetStrElementN(i64 id, i64 index, const char* text, size_t len) {
  return SetStrElement(id, index, text, len, VAR_STR_MAX);
}

i32 VarSetStrElementSaved(i64 id, i64 index, const char* text, size_t len) {
  return SetStrElement(id, index, text, len, VAR_STR_SAVED_MAX);
}

i32 VarSetStrElement(i64 id, i64 index, const char* text) {
  return VarSetStrElementN(id, index, text, text ? std::strlen(text) : 0);
}

// ---- Counts, retyping, resizing --------------------------------------------------------------

// The element count of dims, or -1 after error 101100 or 101110.
static i64 CountOf(i8 dim_count, const u32* dims) {
  if (dim_count < 0 || dim_count > VAR_DIM_MAX) {
    ErrRaiseAtScriptF(ERR_VAR_TOO_MANY, 1, VAR_ELEMENT_MAX);
    return -1;
  }
  for (int d = 0; d < dim_count; d++) {
    if (dims[d] == 0) {
      ErrRaiseAtScript(ERR_VAR_TOO_FEW, 1);
      return -1;
    }
  }
  // Stopping at the limit keeps the product below 4,000,000 * 2^32 < 2^63.
  i64 count = 1;
  for (int d = 0; d < dim_count; d++) {
    count *= dims[d];
    if (count > VAR_ELEMENT_MAX) {
      ErrRaiseAtScriptF(ERR_VAR_TOO_MANY, 1, VAR_ELEMENT_MAX);
      return -1;
    }
  }
  return count;
}

i32 VarCalcElementCount(i64 id) {
  VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  i64 count = CountOf(v->dim_count, v->dims);
  if (count < 0) {
    FreeStorage(v);
    v->count = 0;
    return -1;
  }
  if (count != v->count) {
    FreeStorage(v);  // storage of the old count no longer matches
    v->count = count;
  }
  return 0;
}

// Frees every storage, sets the type and the count and returns the count, or -1 with the record
// left empty.
static i64 Retype(VarRecord* v, i8 type) {
  FreeStorage(v);
  v->count = 0;
  v->type = type;
  i64 count = CountOf(v->dim_count, v->dims);
  if (count > 0) v->count = count;
  return count;
}

static i32 OutOfMemory(VarRecord* v) {
  FreeStorage(v);
  v->count = 0;
  ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
  return -1;
}

i32 VarTypeInt(i64 id, i64 value) {
  VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  i64 count = Retype(v, VAR_TYPE_INT);
  if (count < 0) return -1;
  v->ints = static_cast<i64*>(malloc(static_cast<size_t>(count) * sizeof(i64)));
  if (!v->ints) return OutOfMemory(v);
  for (i64 i = 0; i < count; i++) v->ints[i] = value;
  return 0;
}

i32 VarTypeFloat(i64 id, double value) {
  VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  i64 count = Retype(v, VAR_TYPE_FLOAT);
  if (count < 0) return -1;
  v->floats = static_cast<double*>(malloc(static_cast<size_t>(count) * sizeof(double)));
  if (!v->floats) return OutOfMemory(v);
  for (i64 i = 0; i < count; i++) v->floats[i] = value;
  return 0;
}

i32 VarTypeString(i64 id, const char* text, size_t len) {
  VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  i64 count = Retype(v, VAR_TYPE_STR);
  if (count < 0) return -1;
  if (!text) text = "";
  len = StrCutSjis(text, strnlen(text, len), VAR_STR_MAX);
  // Zeroed arrays: FreeStorage may run on a partly filled table.
  v->strs = static_cast<char**>(MemAllocZeroed(static_cast<size_t>(count) * sizeof(char*)));
  v->str_caps = static_cast<u16*>(MemAllocZeroed(static_cast<size_t>(count) * sizeof(u16)));
  if (!v->strs || !v->str_caps) return OutOfMemory(v);
  for (i64 i = 0; i < count; i++) {
    char* buf = static_cast<char*>(malloc(len + 1));
    if (!buf) return OutOfMemory(v);
    std::memcpy(buf, text, len);
    buf[len] = '\0';
    v->strs[i] = buf;
    v->str_caps[i] = static_cast<u16>(len + 1);
  }
  return 0;
}

i32 VarResize1D(i64 id, i64 n) {
  VarRecord* v = VarRecordOf(id);
  if (!v || v->dim_count != 1) return -1;
  if (n < 1) {
    ErrRaiseAtScript(ERR_VAR_TOO_FEW, 1);
    return -1;
  }
  if (n > VAR_ELEMENT_MAX) {
    ErrRaiseAtScriptF(ERR_VAR_TOO_MANY, 1, VAR_ELEMENT_MAX);
    return -1;
  }
  size_t count = static_cast<size_t>(n);
  i64 keep = 0;
  switch (v->type) {
    case VAR_TYPE_INT: {
      keep = v->ints ? (v->count < n ? v->count : n) : 0;
      i64* ints = static_cast<i64*>(MemAllocZeroed(count * sizeof(i64)));
      if (!ints) break;
      if (keep) std::memcpy(ints, v->ints, static_cast<size_t>(keep) * sizeof(i64));
      free(v->ints);
      v->ints = ints;
      v->dims[0] = static_cast<u32>(n);
      v->count = n;
      return 0;
    }
    case VAR_TYPE_FLOAT: {
      keep = v->floats ? (v->count < n ? v->count : n) : 0;
      double* floats = static_cast<double*>(MemAllocZeroed(count * sizeof(double)));
      if (!floats) break;
      if (keep) std::memcpy(floats, v->floats, static_cast<size_t>(keep) * sizeof(double));
      free(v->floats);
      v->floats = floats;
      v->dims[0] = static_cast<u32>(n);
      v->count = n;
      return 0;
    }
    case VAR_TYPE_STR: {
      keep = v->strs ? (v->count < n ? v->count : n) : 0;
      char** strs = static_cast<char**>(MemAllocZeroed(count * sizeof(char*)));
      u16* caps = static_cast<u16*>(MemAllocZeroed(count * sizeof(u16)));
      bool ok = strs && caps;
      for (i64 i = keep; ok && i < n; i++) {
        strs[i] = static_cast<char*>(MemAllocZeroed(1));
        caps[i] = 1;
        ok = strs[i] != nullptr;
      }
      if (!ok) {
        // Nothing of the old record has been touched yet.
        if (strs)
          for (i64 i = keep; i < n; i++) free(strs[i]);
        free(strs);
        free(caps);
        break;
      }
      if (keep) {
        std::memcpy(strs, v->strs, static_cast<size_t>(keep) * sizeof(char*));
        std::memcpy(caps, v->str_caps, static_cast<size_t>(keep) * sizeof(u16));
      }
      if (v->strs)
        for (i64 i = keep; i < v->count; i++) free(v->strs[i]);
      free(v->strs);
      free(v->str_caps);
      v->strs = strs;
      v->str_caps = caps;
      v->dims[0] = static_cast<u32>(n);
      v->count = n;
      return 0;
    }
    default: return -1;
  }
  ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
  return -1;
}

// ---- Keys ------------------------------------------------------------------------------------

i32 VarSetSysSetting(i64 key, i64 value) {
  if (key < 0 || key >= INPUT_KEY_COUNT) return -1;
  bool held = g_InputKeyTable.state[key] != 0;
  bool allowed = held ? value > 0 : value < 0;
  g_InputKeyTable.counter[key] = allowed ? value : 0;
  return 0;
}
