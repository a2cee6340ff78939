// The command tests' game: one script file compiled by the kit, its tables loaded and its body
// bound to the test thread, and error texts "E<code>" (with "[%s|%s]" for codes raised with a
// name) so a test sees which error a line raised.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/script_compiler.h"
#include "script_fixture.h"

struct CmdGameTest : ::testing::Test {
  ScriptWorld w;
  std::vector<i32> plain_codes, named_codes;

  void TearDown() override { w.Close(); }
  void Load(const std::string& text) {
    w.LoadCompiled(text);
    VarInitAssignOps();  // start-up fills the operator table
    SetErrTexts();
  }
  void SetErrTexts() {
    static std::string texts[USER_ERR_MAX];
    UserErrReset();
    ErrReset();
    g_QuitRequested = 0;
    i32 n = 0;
    for (i32 code : plain_codes) {
      texts[n] = "E" + std::to_string(code);
      g_UserErrCodes[n] = static_cast<u32>(code);
      g_UserErrTexts[n] = texts[n].c_str();
      n++;
    }
    for (i32 code : named_codes) {
      texts[n] = "E" + std::to_string(code) + "[%s|%s]";
      g_UserErrCodes[n] = static_cast<u32>(code);
      g_UserErrTexts[n] = texts[n].c_str();
      n++;
    }
    g_UserErrCount = n;
  }
  void RunAll(u32 first, u32 last) {
    for (u32 i = first; i <= last; i++) ASSERT_EQ(w.Run(i), 0) << "line " << i << ": " << g_ErrLastText;
  }
  static std::string Str(i64 id, i64 k = 0) {
    const char* s = VarGetStrElement(id, k);
    return s ? s : "<none>";
  }
};
