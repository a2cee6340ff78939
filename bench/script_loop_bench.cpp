// Script lines per second: a loop of 1,000,000 rounds with an assignment and a comparison in each,
// compiled by the kit and run by the scheduler in one pass, against the same loop in Lua 5.4
// ("lua5.4" on the PATH; bench/script_loop.sh installs it). The ratio is printed at the end.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "kit/build.h"
#include "kit/script_compiler.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"
#include "shell/frame.h"
#include "shell/startup.h"

namespace {

// 1,000,000 rounds of four lines: assignment, if, endif, endloop.
constexpr double kLines = 4e6;

const char kScript[] =
    "int n = 0\n"
    "*SYSTEM_START\n"
    "loop 1000000\n"
    "    n += 1\n"
    "    if n == -1\n"
    "        break\n"
    "    endif\n"
    "endloop\n"
    "wait frames=1000000\n";

const char kLua[] =
    "local t = os.clock() local n = 0 "
    "for i = 1, 1000000 do n = n + 1 if n == -1 then break end end "
    "print(os.clock() - t)";

double s_ScriptBest = 0.0, s_LuaBest = 0.0;

// A game folder of its own, loaded once.
bool LoadGame() {
  static bool loaded = false;
  if (loaded) return true;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("zephra-bench-" + std::to_string(PlatTimeMs()));
  std::filesystem::create_directories(dir);
  std::vector<KitCompiledFile> files;
  std::string err;
  if (KitCompileScripts({{"script\\main.zs", kScript, 0}}, &files, &err) != 0 ||
      KitWriteFilesLoose(dir.string(), files, &err) != 0) {
    fprintf(stderr, "%s\n", err.c_str());
    return false;
  }
  PlatSetCurrentFolder(dir.string());
  PlatFileReset();
  StrCopySjis(g_ExeFolder, sizeof g_ExeFolder, "c:\\zephra-bench\\game\\");
  StrCopySjis(g_GameFolderNative, sizeof g_GameFolderNative, dir.string().c_str());
  PlatFileMapFolder(g_ExeFolder, dir.string());
  PlatDialogsSetStderr(true);
  VarInitAssignOps();  // as start-up does
  ExprInitOpTable(1);
  if (PackScrambleSetup() != 0 || SysCreateRoots() != 0 || ScriptLoadAll() != 0) return false;
  loaded = true;
  return true;
}

TaskContext* System() {
  ObjNode* node = ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM);
  return node ? static_cast<TaskContext*>(node->payload) : nullptr;
}

void BM_ScriptLoop(benchmark::State& state) {
  if (!LoadGame()) {
    state.SkipWithError("the game did not load");
    return;
  }
  i32 label = ScriptFindLabel("SYSTEM_START", 12);
  for (auto _ : state) {
    TaskContext* t = System();
    t->next_line = g_Labels[label]->line;
    t->loop_depth = t->block_depth = 0;
    t->wait_frames = 0;
    g_StepCounter++;
    auto start = std::chrono::steady_clock::now();
    TaskRunGroup(g_TaskRoot);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (g_QuitRequested || t->wait_frames == 0) {
      state.SkipWithError("the loop stopped with an error");
      return;
    }
    state.SetIterationTime(secs);
    if (s_ScriptBest == 0.0 || secs < s_ScriptBest) s_ScriptBest = secs;
  }
  state.counters["lines_per_s"] = benchmark::Counter(kLines, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScriptLoop)->Unit(benchmark::kMillisecond)->UseManualTime();

// The same loop in Lua: the time Lua reports for it, not the process start.
void BM_LuaLoop(benchmark::State& state) {
  for (auto _ : state) {
    FILE* p = popen(("lua5.4 -e '" + std::string(kLua) + "' 2>/dev/null").c_str(), "r");
    double secs = -1.0;
    if (!p || fscanf(p, "%lf", &secs) != 1) secs = -1.0;
    if (p) pclose(p);
    if (secs < 0) {
      state.SkipWithError("lua5.4 is not installed (bench/script_loop.sh installs it)");
      return;
    }
    state.SetIterationTime(secs);
    if (s_LuaBest == 0.0 || secs < s_LuaBest) s_LuaBest = secs;
  }
  state.counters["lines_per_s"] = benchmark::Counter(kLines, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LuaLoop)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool measured = s_ScriptBest > 0 && s_LuaBest > 0;
  if (measured)
    printf("script loop %.1f ms, Lua 5.4 %.1f ms: the script takes %.2f times as long as Lua\n", s_ScriptBest * 1000,
           s_LuaBest * 1000, s_ScriptBest / s_LuaBest);
  const double ratio = measured ? s_ScriptBest / s_LuaBest : -1;
  const bool met = measured && ratio <= 3.0;
  printf("goal script loop against Lua 5.4: %.2fx (goal within 3.00x) %s\n", ratio, met ? "met" : "missed");
  printf("%d goal(s) missed\n", met ? 0 : 1);
  return 0;
}
