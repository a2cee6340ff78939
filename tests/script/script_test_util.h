// Shared helpers of the script tests: error codes made visible through the project's error texts,
// and declaring variables of a chosen type and shape.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "script/var.h"

// Gives each listed code the text "E<code>" followed by suffix, so g_ErrLastText names the
// raised code and the arguments the suffix's conversions take.
inline void TestErrTextsSuffixed(std::initializer_list<i32> codes, const char* suffix) {
  static std::string texts[USER_ERR_MAX];
  UserErrReset();
  ErrReset();
  g_QuitRequested = 0;
  i32 n = 0;
  for (i32 code : codes) {
    texts[n] = "E" + std::to_string(code) + suffix;
    g_UserErrCodes[n] = static_cast<u32>(code);
    g_UserErrTexts[n] = texts[n].c_str();
    n++;
  }
  g_UserErrCount = n;
}

// "E<code>[%s]": the raised code and its first argument.
inline void TestErrTexts(std::initializer_list<i32> codes) { TestErrTextsSuffixed(codes, "[%s]"); }

inline std::string TestErr(i32 code, const std::string& arg = "") {
  return "E" + std::to_string(code) + "[" + arg + "]";
}

// Sets the shape of a variable and retypes it with a zero (or empty) value.
inline i32 TestDeclare(i64 id, i8 type, std::initializer_list<u32> dims) {
  VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  v->dim_count = static_cast<i8>(dims.size());
  int d = 0;
  for (u32 size : dims) v->dims[d++] = size;
  switch (type) {
    case VAR_TYPE_INT: return VarTypeInt(id, 0);
    case VAR_TYPE_FLOAT: return VarTypeFloat(id, 0.0);
    default: return VarTypeString(id, "", 0);
  }
}
