// Handlers of the message commands (79, 96, 97, 106, 110): each decodes its line and hands the
// values to the message record (layer/message.h).
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "layer/message.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/cmd_var.h"
#include "script/expr.h"
#include "script/task.h"
#include "script/var.h"

i32 CmdMessageEnd() {
  if (ArgDecode(79) != 0) return -1;
  TaskContext* t = g_CurrentTask;
  u32 source_line = t && t->line_numbers && g_CurrentLine < t->line_count ? t->line_numbers[g_CurrentLine] : 0;
  return TextMessageEnd(t, g_CurrentLine, source_line);
}

i32 CmdMessageSet() {
  CmdArgRecord a;
  if (ArgDecodeRecord(96, &a) != 0) return -1;
  return TextMessageSet(&a);
}

i32 CmdMessageInfo() {
  CmdArgRecord a;
  if (ArgDecodeRecord(97, &a) != 0) return -1;
  i64 value = 0;
  if (TextMessageInfo(&a, &value) && a.given[MSG_INFO_RESULT])
    VarSetNumElement(a.var_id[MSG_INFO_RESULT], a.var_elem[MSG_INFO_RESULT], value);
  return 0;
}

// The text stands as raw bytes in the script's expression area; the decoder checked that they
// lie inside it.
i32 CmdMessageTextAppend() {
  if (ArgDecode(106) != 0) return -1;
  if (!ArgGiven(0)) return 0;
  // The bytes at the argument's offset, whatever kind the command definitions give it.
  u8 p = ArgPos(0);
  return TextMessageAppendText(reinterpret_cast<const char*>(CmdArgCode(p)), static_cast<i32>(g_ArgSize[p])) == 0 ? 0
                                                                                                                  : -1;
}

// The value by its kind: a string as it is, a float with "%f", an integer in decimal.
static i32 FormatValue(u8 value_type, const u8* code, u32 size, char* buf) {
  if (value_type == 3 || value_type == 4) {
    i32 len = 0;
    if (ExprEvalByTypeStr(value_type, code, size, buf, &len) != 0) return -1;
    return static_cast<i32>(std::strlen(buf));
  }
  // Type 2 is a float expression read as an integer elsewhere; here its value is shown whole.
  if (value_type == 2) return std::snprintf(buf, MSG_PRINT_BUF, "%f", ExprEvalFloat(code, size));
  if (value_type < EXPR_VALUE_TYPES && g_ExprNumEntry[value_type].as_float) {
    double f = 0;
    if (ExprEvalByTypeFloat(value_type, code, size, &f) != 0) return -1;
    return std::snprintf(buf, MSG_PRINT_BUF, "%f", f);
  }
  i64 v = 0;
  if (ExprEvalByTypeInt(value_type, code, size, &v) != 0) return -1;
  return std::snprintf(buf, MSG_PRINT_BUF, "%" PRId64, v);
}

i32 CmdMessagePrintValue() {
  if (ArgDecode(110) != 0) return -1;
  if (!ArgGiven(0)) return 0;
  // Evaluated here by its value type, whatever kind the command definitions give it.
  u8 p = ArgPos(0);
  static char buf[MSG_PRINT_BUF];
  i32 len = FormatValue(static_cast<u8>(g_ArgValueType[p]), CmdArgCode(p), g_ArgSize[p], buf);
  if (len < 0) return -1;
  // snprintf reports what it would have written; the buffer holds at most its size less one.
  if (len >= MSG_PRINT_BUF) len = MSG_PRINT_BUF;
  return TextMessagePrintText(buf, len) == 0 ? 0 : -1;
}
