// Command 100, the variable utilities: type conversion, removing and extracting characters, width
// and case conversion, and the one-dimensional resize, insert and delete, and re-initialising the
// globals. Texts never pass the 4095 bytes an element holds and positions are checked before any
// element moves.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "common/sjis_conv.h"
#include "core/err.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_var.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/var.h"

namespace {

enum { SLOT = 100 };

struct VarRef {
  i64 id;
  i64 element;
};

VarRef RefOf(u8 param) {
  u8 p = ArgPos(param);
  return p ? VarRef{g_ArgVarId[p], g_ArgVarElem[p]} : VarRef{0, 0};
}

i32 Fail(i32 code) {
  ErrRaiseAtScript(code, 1);
  return -1;
}

bool IsNumberType(i8 t) { return t == VAR_TYPE_INT || t == VAR_TYPE_FLOAT; }

// "0x" and 1 to 16 hexadecimal digits.
bool ParseHex(const char* s, i64* out) {
  if (s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
  size_t n = std::strlen(s + 2);
  if (n < 1 || n > 16) return false;
  u64 v = 0;
  for (const char* p = s + 2; *p; p++) {
    int d = *p >= '0' && *p <= '9'   ? *p - '0'
            : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
            : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10
                                     : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<u64>(d);
  }
  *out = static_cast<i64>(v);
  return true;
}

i32 Convert(VarRef src, VarRef dst) {
  const i8 st = CmdVarType(src.id), dt = CmdVarType(dst.id);
  if (st == dt || (IsNumberType(st) && IsNumberType(dt)) || st == VAR_TYPE_NONE || dt == VAR_TYPE_NONE)
    return Fail(ERR_VAR_CONVERT);
  char text[64];
  if (st == VAR_TYPE_INT) {
    std::snprintf(text, sizeof text, "%" PRId64, VarGetIntElement(src.id, src.element));
    VarSetStrElement(dst.id, dst.element, text);
    return 0;
  }
  if (st == VAR_TYPE_FLOAT) {
    static char ftext[VAR_STR_BUF];  // "%f" of a large double runs to hundreds of digits
    std::snprintf(ftext, sizeof ftext, "%f", VarGetFloatElement(src.id, src.element));
    VarSetStrElement(dst.id, dst.element, ftext);
    return 0;
  }
  const char* s = VarGetStrElement(src.id, src.element);
  if (!s) s = "";
  i64 hex = 0;
  if (ParseHex(s, &hex)) {
    VarSetNumElement(dst.id, dst.element, hex);
    return 0;
  }
  bool dot = false;
  for (const char* p = s; *p; p++) {
    if (*p == '.') dot = true;
    else if (*p != '-' && (*p < '0' || *p > '9')) return Fail(ERR_VAR_NOT_NUMBER);
  }
  if (dot) VarSetFloatElement(dst.id, dst.element, std::strtod(s, nullptr));
  else VarSetNumElement(dst.id, dst.element, std::strtoll(s, nullptr, 10));
  return 0;
}

// Characters start (from 1) to start + count - 1 of the source text: removed (remove) or kept.
i32 Substring(VarRef src, VarRef dst, bool remove) {
  if (CmdVarType(src.id) != VAR_TYPE_STR || CmdVarType(dst.id) != VAR_TYPE_STR) return Fail(ERR_VAR_NOT_STRING);
  static char text[VAR_STR_BUF];
  const char* s = VarGetStrElement(src.id, src.element);
  StrCopySjis(text, sizeof text, s ? s : "");
  const i64 chars = static_cast<i64>(StrCharCountSjis(text));
  const i64 start = ArgInt(4), count = ArgInt(5);
  if (start < 1 || start > chars) return Fail(remove ? ERR_VAR_REMOVE_START : ERR_VAR_EXTRACT_START);
  if (count < 0 || count > chars - (start - 1)) return Fail(remove ? ERR_VAR_REMOVE_COUNT : ERR_VAR_EXTRACT_COUNT);
  const size_t a = StrCharOffsetSjis(text, static_cast<size_t>(start - 1));
  const size_t b = a + StrCharOffsetSjis(text + a, static_cast<size_t>(count));
  static char out[VAR_STR_BUF];
  if (remove) {
    std::memcpy(out, text, a);
    std::strcpy(out + a, text + b);
  } else {
    std::memcpy(out, text + a, b - a);
    out[b - a] = '\0';
  }
  VarSetStrElement(dst.id, dst.element, out);
  return 0;
}

typedef void (*CaseFn)(char* s);
void CaseLowerAscii(char* s) { StrLowerSjis(s); }

// Every text operation reads the source element and writes the destination element.
i32 TextOp(VarRef src, VarRef dst, u8 param) {
  if (CmdVarType(src.id) != VAR_TYPE_STR || CmdVarType(dst.id) != VAR_TYPE_STR) return Fail(ERR_VAR_NOT_STRING);
  static char text[VAR_STR_BUF];
  static char out[VAR_STR_BUF];
  const char* s = VarGetStrElement(src.id, src.element);
  StrCopySjis(text, sizeof text, s ? s : "");
  switch (param) {
    case 11: StrToFullWidthSjis(out, sizeof out, text); break;
    case 12: StrToHalfWidthSjis(out, sizeof out, text); break;
    default: {
      static const CaseFn kCase[4] = {StrUpperAsciiSjis, StrUpperMbSjis, CaseLowerAscii, StrLowerMbSjis};
      std::strcpy(out, text);
      kCase[param - 7](out);
      break;
    }
  }
  VarSetStrElement(dst.id, dst.element, out);
  return 0;
}

// The messages are written in UTF-8 here and shown as Shift-JIS, converted once.
enum { MSG_RESIZE_DIMS, MSG_RESIZE_SIZE, MSG_INSERT_DIMS, MSG_DELETE_DIMS, MSG_COUNT };
const char* Message(int m) {
  static const char* const kUtf8[MSG_COUNT] = {
      "配列サイズを変更しようとしましたが、この変数は１次元配列ではありません。",
      "変更後の配列サイズが不正です。",
      "配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。",
      "配列削除処理をしようとしましたが、この変数は１次元配列ではありません。",
  };
  static std::string sjis[MSG_COUNT];
  if (sjis[m].empty()) sjis[m] = PlatUtf8ToSjis(kUtf8[m]);
  return sjis[m].c_str();
}

VarRecord* OneDim(i64 id, int message) {
  VarRecord* v = VarRecordOf(id);
  if (v && v->dim_count == 1 && id >= VAR_SYS_ID_LIMIT) return v;
  ErrMessageBoxF("", "%s", Message(message));
  return nullptr;
}

i64 ApplyOp(u32 op, i64 cur, i64 v) {
  const u64 a = static_cast<u64>(cur), b = static_cast<u64>(v);
  switch (op) {
    case 0: return v;
    case 1: return static_cast<i64>(a + b);
    case 2: return static_cast<i64>(a - b);
    case 3: return static_cast<i64>(a * b);
    case 4: return v == 0 || v == -1 ? (v == 0 ? cur : static_cast<i64>(0 - a)) : cur / v;
    default: return cur;
  }
}

i32 Resize(i64 id) {
  VarRecord* v = OneDim(id, MSG_RESIZE_DIMS);
  if (!v) return -1;
  const i64 n = ApplyOp(g_ArgOp[ArgPos(13)], v->count, ArgInt(13));
  if (n < 1 || n > VAR_ELEMENT_MAX) {
    ErrMessageBoxF("", "%s", Message(MSG_RESIZE_SIZE));
    return -1;
  }
  if (n == v->count) return 0;
  return VarResize1D(id, n) == 0 ? 0 : -1;
}

// Clears element k to 0, 0.0 or the empty string.
void ClearElement(VarRecord* v, i64 id, i64 k) {
  if (v->type == VAR_TYPE_STR) VarSetStrElement(id, k, "");
  else VarSetNumElement(id, k, 0);
}

// Moves element from to to (same variable, both inside).
void MoveElement(VarRecord* v, i64 to, i64 from) {
  switch (v->type) {
    case VAR_TYPE_INT: v->ints[to] = v->ints[from]; break;
    case VAR_TYPE_FLOAT: v->floats[to] = v->floats[from]; break;
    case VAR_TYPE_STR: {
      // Swap the buffers with their capacities, so no text is copied or cut.
      char* s = v->strs[to];
      u16 cap = v->str_caps[to];
      v->strs[to] = v->strs[from];
      v->str_caps[to] = v->str_caps[from];
      v->strs[from] = s;
      v->str_caps[from] = cap;
      break;
    }
    default: break;
  }
}

bool HasStorage(const VarRecord* v) {
  return (v->type == VAR_TYPE_INT && v->ints) || (v->type == VAR_TYPE_FLOAT && v->floats) ||
         (v->type == VAR_TYPE_STR && v->strs && v->str_caps);
}

i32 Insert(i64 id) {
  VarRecord* v = OneDim(id, MSG_INSERT_DIMS);
  if (!v) return -1;
  const i64 k = ArgInt(14);
  if (k < 0 || k >= v->count || !HasStorage(v)) return 0;  // a position outside moves nothing
  for (i64 i = v->count - 1; i > k; i--) MoveElement(v, i, i - 1);
  ClearElement(v, id, k);
  return 0;
}

i32 Delete(i64 id) {
  VarRecord* v = OneDim(id, MSG_DELETE_DIMS);
  if (!v) return -1;
  const i64 k = ArgInt(15);
  if (k < 0 || k >= v->count || !HasStorage(v)) return 0;
  for (i64 i = k; i + 1 < v->count; i++) MoveElement(v, i, i + 1);
  ClearElement(v, id, v->count - 1);
  return 0;
}

}  // namespace

i32 VarReinitGlobals(const u8 int_classes[4], const u8 float_classes[4], const u8 str_classes[4]) {
  for (u32 i = 0; i < g_VarDefCount; i++) {
    VarDefView d;
    if (!ScriptVarDefGet(i, &d)) return -1;
    if (d.group != VARDEF_GROUP_GLOBAL || d.var_class < 1 || d.var_class > 4) continue;
    const u8* sel = d.type == VAR_TYPE_INT ? int_classes : d.type == VAR_TYPE_FLOAT ? float_classes : str_classes;
    if (!sel[d.var_class - 1]) continue;
    if (!VarRecordOf(d.id)) continue;
    if (VarApplyDef(d) != 0) return -1;
  }
  return 0;
}

i32 CmdVarEdit() {
  if (ArgDecode(SLOT) != 0) return -1;
  if (!ArgGiven(0)) return 0;
  const VarRef var = RefOf(0);
  const VarRef dst = ArgGiven(1) ? RefOf(1) : var;
  if (ArgGiven(6)) return Convert(var, dst);
  if (ArgGiven(3)) return Substring(var, dst, true);
  if (ArgGiven(2)) return Substring(var, dst, false);
  static const u8 kTextOps[] = {11, 12, 7, 8, 9, 10};
  for (u8 p : kTextOps)
    if (ArgGiven(p) && TextOp(var, dst, p) != 0) return -1;
  if (ArgGiven(13) && Resize(var.id) != 0) return -1;
  if (ArgGiven(14) && Insert(var.id) != 0) return -1;
  if (ArgGiven(15) && Delete(var.id) != 0) return -1;
  if (ArgGiven(16)) {
    u8 sel[12];
    for (u8 k = 0; k < 12; k++) sel[k] = ArgGiven(static_cast<u8>(17 + k)) ? 1 : 0;
    if (VarReinitGlobals(sel, sel + 4, sel + 8) != 0) return -1;
  }
  return 0;
}
