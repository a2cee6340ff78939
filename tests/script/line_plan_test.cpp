// Planned lines against the general path: each script runs once as bound (its short lines
// planned) and once with the plans taken away, and every variable, the thread's stacks, the
// return codes and the error text must come out the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmd_game.h"
#include "kit/script_files.h"
#include "script/expr.h"
#include "script/line_plan.h"

namespace {

struct LinePlanTest : CmdGameTest {
  void SetUp() override {
    plain_codes = {ERR_VAR_WRONG_TYPE, ERR_EXPR_STRING_MIX, ERR_EXPR_UNDEFINED_VAR,
                   ERR_EXPR_BAD_CODE,  ERR_TASK_LOOP_END,   ERR_TASK_NESTING};
  }

  // Runs the lines from 0 as the scheduler does (at most 200), and writes down everything a
  // line can change.
  std::string RunAndSnapshot() {
    TaskContext* t = w.task;
    std::string out;
    for (int steps = 0; steps < 200 && t->next_line < t->line_count && !g_QuitRequested; steps++) {
      const u32 n = t->next_line;
      t->next_line = n + 1;
      g_CurrentLine = n;
      // As the scheduler: a planned line may run in its handler's place.
      const i32 r = t->plans && PlanRunLine(t, n) ? 0 : t->handlers[1][n]();
      // The line's return and the first two variables after it, so no two faults can cancel.
      out += std::to_string(n) + ":" + std::to_string(r) + "=" + std::to_string(VarGetIntElement(1000, 0)) + "," +
             std::to_string(VarGetIntElement(1001, 0)) + " ";
      if ((r & 0xFF) != 0) break;
    }
    out += "| next " + std::to_string(t->next_line) + " blocks " + std::to_string(t->block_depth) + " loops " +
           std::to_string(t->loop_depth);
    for (i32 b = 0; b < t->block_depth; b++)
      if (t->blocks[b])
        out += " b" + std::to_string(t->blocks[b]->head_line) + "-" + std::to_string(t->blocks[b]->end_line);
    for (i32 l = 0; l < t->loop_depth; l++)
      if (t->loops[l]) out += " l" + std::to_string(t->loops[l]->counter) + "/" + std::to_string(t->loops[l]->limit);
    for (u32 id = VAR_SYS_ID_LIMIT; id < g_VarCount; id++) {
      const VarRecord* v = VarRecordOf(id);
      if (!v || v->type == VAR_TYPE_NONE) continue;
      out += " | " + std::to_string(id) + " t" + std::to_string(v->type) + " c" + std::to_string(v->count) + ":";
      for (i64 k = 0; k < v->count && k < 4; k++) {
        if (v->type == VAR_TYPE_INT && v->ints) out += " " + std::to_string(v->ints[k]);
        if (v->type == VAR_TYPE_FLOAT && v->floats) out += " " + std::to_string(v->floats[k]);
        if (v->type == VAR_TYPE_STR && v->strs) out += std::string(" '") + v->strs[k] + "'";
      }
    }
    out += " | quit " + std::to_string(g_QuitRequested.load()) + " err " + g_ErrLastText;
    return out;
  }

  // The fixture's thread is freed whole; the records the flow commands made go first.
  void Close() {
    for (i32 d = 0; d < TASK_DEPTH_MAX; d++) {
      std::free(w.task->blocks[d]);
      std::free(w.task->loops[d]);
      w.task->blocks[d] = nullptr;
      w.task->loops[d] = nullptr;
    }
    w.Close();
  }

  u32 PlannedLines() const {
    u32 planned = 0;
    for (u32 i = 0; i < w.task->line_count; i++) planned += w.task->plans[i].kind != LINE_PLAN_GENERAL;
    return planned;
  }
};

const char kDecl[] =
    "global int n = 10\nglobal int m = -3\nglobal int big = 9223372036854775807\n"
    "global int low = -9223372036854775807\nglobal float f = 2.75\nglobal str s = 'ab'\nglobal int a[3]\n"
    "*SYSTEM_START\n";

struct Case {
  const char* lines;
  bool planned;  // at least one line is expected to take a plan
};

const Case kCases[] = {
    // Every operator with literals of each width, zero divisors and the 64-bit wrap.
    {"n = 5\nn += 1\nn -= -3\nn *= 3\nn /= 2\nn %= 4\nn &= 6\nn |= 9\nn ^= 5\n", true},
    {"n /= 0\nn %= 0\nm += 300\nm -= 70000\nm *= 5000000000\nm += -129\n", true},
    {"big += 1\nlow -= 2\nbig *= 2\nlow *= -1\nlow /= -1\nlow %= -1\n", true},
    // Variables as values: alone and against a literal under each operator the plans take.
    {"m = n\nm += n\nm = n + 7\nm = n - 7\nm = big + 1\nm = low - 5\n", true},
    {"m = n == 10\nm += n != 10\nm += n < 11\nm += n > 11\nm += n <= 10\nm += n >= 11\n", true},
    // Comparisons at the ends of the range, and subtraction of the most negative literal.
    {"m = big >= 9223372036854775807\nm += big > 9223372036854775806\nm += low <= -9223372036854775807\n"
     "m += low < -9223372036854775806\nm += big != -1\nm += low == -9223372036854775807\n"
     "n = big - -9223372036854775807\nm += low > 0\nm += big >= 0\nm += low <= 0\nm += big < 0\n",
     true},
    {"low -= 1\nm = low <= 5\nm += low > 5\nn = low == -9223372036854775807\nn = low - 1\n", true},
    // Values and targets the plans leave to the general path, decided when the line runs.
    {"n = f\nf = n\nf += 3\nn += f\ns += 'c'\n", true},
    {"n = a[1]\na[2] = n\nn = n * 2\nn = 3 + n\n@125 = 7\nn = @125\n", false},
    // A variable retyped while the script runs: its planned lines follow the new type.
    {"n += 1\ndim_float var=n, value=1.5\nn += 1\nm = n\ndim_str var=m, value='x'\nm += 2\n", true},
    {"dim_str var=n, value='q'\nm = n + 1\nif n == 1\nm = 99\nendif\n", true},
    // Conditions and loop counts: taken, not taken, else-if chains, a zero count and a variable.
    {"if n == 10\nm = 1\nelif n > 5\nm = 2\nelse\nm = 3\nendif\nif n != 10\nm += 10\nendif\n", true},
    {"if n < 5\nm = 1\nelif n >= 10\nm = 2\nendif\nif 0\nm += 100\nendif\nif n\nm += 1000\nendif\n", true},
    {"loop 3\nm += 1\nif m == -1\nbreak\nendif\nendloop\nloop 0\nm = 50\nendloop\n", true},
    {"loop n\nn -= 1\nm += 1\nendloop\nloop m - 5\nn += 1\nendloop\n", true},
    {"if f\nm = 1\nendif\nif f == 2\nm += 2\nendif\nloop f\nm += 10\nendloop\n", true},
    {"if s == 'ab'\nm = 1\nendif\nif n == 10\nm = 2\nendif\n", true},
};

}  // namespace

TEST_F(LinePlanTest, PlannedLinesRunAsTheGeneralPath) {
  for (const Case& c : kCases) {
    const std::string text = std::string(kDecl) + c.lines;
    Load(text);
    ASSERT_NE(w.task->plans, nullptr);
    if (c.planned) {
      EXPECT_GT(PlannedLines(), 0u) << c.lines;
    }
    const std::string planned = RunAndSnapshot();
    Close();

    Load(text);
    w.task->plans = nullptr;
    const std::string general = RunAndSnapshot();
    Close();
    EXPECT_EQ(planned, general) << c.lines;
  }
}

// The short forms decode exactly the byte code that spans them, and nothing longer or shorter.
TEST_F(LinePlanTest, ShortFormsDecodeOnlyWhatTheySpan) {
  const std::vector<u8> lit = KitCodeInt(-129);
  ExprShortForm f = ExprDecodeShortInt(lit.data(), static_cast<u32>(lit.size()));
  EXPECT_EQ(f.form, EXPR_SHORT_LITERAL);
  EXPECT_EQ(f.literal, -129);
  for (u32 size = 0; size < lit.size(); size++)
    EXPECT_EQ(ExprDecodeShortInt(lit.data(), size).form, EXPR_SHORT_NONE) << size;
  std::vector<u8> longer = lit;
  longer.push_back(0);
  EXPECT_EQ(ExprDecodeShortInt(longer.data(), static_cast<u32>(longer.size())).form, EXPR_SHORT_NONE);

  const std::vector<u8> sys = {EXPR_OP_VAR, 3, 0, 0, 125, 0};  // a system variable is left to the evaluator
  EXPECT_EQ(ExprDecodeShortInt(sys.data(), static_cast<u32>(sys.size())).form, EXPR_SHORT_NONE);
  std::vector<u8> cmp = {EXPR_OP_VAR, 3, 0, 0, 0xE8, 3};  // variable 1000
  cmp.insert(cmp.end(), lit.begin(), lit.end());
  cmp.insert(cmp.end(), {EXPR_OP_LE, 0, 0});
  f = ExprDecodeShortInt(cmp.data(), static_cast<u32>(cmp.size()));
  EXPECT_EQ(f.form, EXPR_SHORT_VAR_OP_LIT);
  EXPECT_EQ(f.var, 1000);
  EXPECT_EQ(f.op, EXPR_OP_LE);
  EXPECT_EQ(f.literal, -129);
  cmp[cmp.size() - 3] = EXPR_OP_MUL;  // not an operator the plans take
  EXPECT_EQ(ExprDecodeShortInt(cmp.data(), static_cast<u32>(cmp.size())).form, EXPR_SHORT_NONE);
}

// A plan keeps the records it found; a new variable table (its records freed) makes it read them
// again, so a planned line never writes a freed record.
TEST_F(LinePlanTest, PlansFollowANewVariableTable) {
  Load(std::string(kDecl) + "n += 1\nif n == 11\nm = n\nendif\n");
  RunAndSnapshot();
  EXPECT_EQ(VarGetIntElement(1001, 0), 11);
  const u32 count = g_VarCount;
  ASSERT_EQ(VarTableCreate(count), 0);
  ASSERT_EQ(VarDeclareFile(-1), 0);
  ASSERT_EQ(VarGetIntElement(1000, 0), 10) << "declared afresh";
  w.task->next_line = 0;
  RunAndSnapshot();
  EXPECT_EQ(VarGetIntElement(1000, 0), 11);
  EXPECT_EQ(VarGetIntElement(1001, 0), 11);
  Close();
}
