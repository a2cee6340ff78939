// Expressions evaluated per second: a small integer expression, the same in float arithmetic,
// and string concatenation, compiled by the kit as a game's argument would be.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kit/script_compiler.h"
#include "script/expr.h"
#include "script/var.h"

namespace {

enum { X = 1000, Y = 1001, S = 1002 };

std::vector<u8> Prepare(const char* text) {
  static bool ready = false;
  if (!ready) {
    VarTableCreate(1010);
    VarTypeInt(X, 12);
    VarTypeInt(Y, 5);
    VarTypeString(S, "message ", 8);
    ExprReset();
    ready = true;
  }
  std::vector<u8> code;
  u8 vt = 0;
  std::string err;
  KitCompileExpr(text, {{"x", X, 1, {}}, {"y", Y, 1, {}}, {"s", S, 3, {}}}, &code, &vt, &err);
  return code;
}

void BM_SmallArithmetic(benchmark::State& state) {
  std::vector<u8> code = Prepare("x * 3 + y / 2 - 7");
  for (auto _ : state) benchmark::DoNotOptimize(ExprEvalInt(code.data(), static_cast<u32>(code.size())));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SmallArithmetic);

void BM_SmallArithmeticFloat(benchmark::State& state) {
  std::vector<u8> code = Prepare("x * 3 + y / 2 - 7");
  for (auto _ : state) benchmark::DoNotOptimize(ExprEvalFloat(code.data(), static_cast<u32>(code.size())));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SmallArithmeticFloat);

void BM_StringConcatenation(benchmark::State& state) {
  std::vector<u8> code = Prepare("s + 'number ' + str(x) + ' of ' + str(y)");
  char buf[EXPR_STR_BUF];
  for (auto _ : state) benchmark::DoNotOptimize(ExprEvalStr(code.data(), static_cast<u32>(code.size()), buf));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StringConcatenation);

}  // namespace

BENCHMARK_MAIN();
