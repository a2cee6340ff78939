// Object-tree path lookups in a tree of 10000 layers (folders four deep: 5 x 5 x 5 x 5 folders,
// 16 layers in each of the 625 innermost), and variable element reads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/obj.h"
#include "layer/layer.h"
#include "script/var.h"
#include "shell/startup.h"

namespace {

enum { FANOUT = 5, DEPTH = 4, LAYERS_PER_FOLDER = 16, VAR_ID = 1000, VAR_ELEMENTS = 1 << 16 };

std::vector<std::string> g_Paths;

void BuildTree() {
  SysObjReset();
  SysCreateRoots();
  g_Paths.clear();
  std::vector<std::string> level = {""};
  for (int d = 0; d < DEPTH; d++) {
    std::vector<std::string> next;
    for (const std::string& parent : level)
      for (int i = 0; i < FANOUT; i++) {
        std::string path = parent + "folder" + std::to_string(d) + "_" + std::to_string(i);
        ObjCreateNode(g_LayerRoot, path.c_str(), OBJ_FOLDER, i);
        LayerRecordNew(ObjFindNode(g_LayerRoot, path.c_str(), OBJ_FIND_FOLDER));
        next.push_back(path + "/");
      }
    level = next;
  }
  for (const std::string& folder : level)
    for (int i = 0; i < LAYERS_PER_FOLDER; i++) {
      std::string path = folder + "layer" + std::to_string(i);
      LayerRecordNew(ObjCreateNode(g_LayerRoot, path.c_str(), OBJ_ITEM, i));
      g_Paths.push_back(path);
    }
  // Visit the layers in a scattered order so lookups do not walk the lists in step.
  for (size_t i = 0; i < g_Paths.size(); i++) std::swap(g_Paths[i], g_Paths[(i * 7919) % g_Paths.size()]);
}

void BM_FindNode(benchmark::State& state) {
  BuildTree();
  size_t i = 0, found = 0;
  for (auto _ : state) {
    ObjNode* n = ObjFindNode(g_LayerRoot, g_Paths[i].c_str(), OBJ_FIND_ITEM);
    found += n != nullptr;
    benchmark::DoNotOptimize(n);
    if (++i == g_Paths.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["layers"] = static_cast<double>(g_Paths.size());
  if (found != static_cast<size_t>(state.iterations())) state.SkipWithError("a layer was not found");
  SysObjReset();
}
BENCHMARK(BM_FindNode);

// 50,000 layers created by name in one folder as the layer command does it (looked up first,
// then made), with a handful of order values: the whole run is timed (aim: under 0.5 s).
void BM_Create50000LayersInOneFolder(benchmark::State& state) {
  std::vector<std::string> paths;
  for (int i = 0; i < 50000; i++) paths.push_back("many/layer" + std::to_string(i));
  for (auto _ : state) {
    state.PauseTiming();
    SysObjReset();
    SysCreateRoots();
    ObjCreateNode(g_LayerRoot, "many", OBJ_FOLDER, 1);
    state.ResumeTiming();
    for (size_t i = 0; i < paths.size(); i++) {
      if (ObjFindNode(g_LayerRoot, paths[i].c_str(), OBJ_FIND_ITEM)) continue;
      LayerRecordNew(ObjCreateNode(g_LayerRoot, paths[i].c_str(), OBJ_ITEM, static_cast<i64>(i % 7)));
    }
  }
  state.counters["layers"] = static_cast<double>(paths.size());
  SysObjReset();
}
BENCHMARK(BM_Create50000LayersInOneFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

// What a layer command does with a name: join it to the base path, then look it up.
void BM_ResolveAndFind(benchmark::State& state) {
  BuildTree();
  std::vector<std::string> relative;
  for (const std::string& p : g_Paths) relative.push_back(p.substr(p.find('/') + 1));
  std::snprintf(g_LayerBase, sizeof g_LayerBase, "%s", g_Paths[0].substr(0, g_Paths[0].find('/')).c_str());
  size_t i = 0, found = 0;
  char out[OBJ_PATH_MAX];
  for (auto _ : state) {
    // Folder names repeat at each level, so every relative path names a layer under the base.
    ObjResolvePath(out, sizeof out, relative[i].c_str(), g_LayerBase, 0);
    ObjNode* n = ObjFindNode(g_LayerRoot, out, OBJ_FIND_ITEM);
    found += n != nullptr;
    benchmark::DoNotOptimize(n);
    if (++i == relative.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  if (found != static_cast<size_t>(state.iterations())) state.SkipWithError("a layer was not found");
  SysObjReset();
}
BENCHMARK(BM_ResolveAndFind);

void Declare(i8 type) {
  VarTableCreate(VAR_ID + 1);
  VarRecord* v = VarRecordOf(VAR_ID);
  v->dim_count = 1;
  v->dims[0] = VAR_ELEMENTS;
  if (type == VAR_TYPE_INT) VarTypeInt(VAR_ID, 3);
  if (type == VAR_TYPE_FLOAT) VarTypeFloat(VAR_ID, 3.0);
  if (type == VAR_TYPE_STR) VarTypeString(VAR_ID, "text", 4);
}

void BM_ReadIntElement(benchmark::State& state) {
  Declare(VAR_TYPE_INT);
  i64 i = 0, sum = 0;
  for (auto _ : state) {
    sum += VarGetIntElement(VAR_ID, i);
    i = (i + 1) & (VAR_ELEMENTS - 1);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
  VarReset();
}
BENCHMARK(BM_ReadIntElement);

void BM_ReadFloatElement(benchmark::State& state) {
  Declare(VAR_TYPE_FLOAT);
  i64 i = 0;
  double sum = 0;
  for (auto _ : state) {
    sum += VarGetFloatElement(VAR_ID, i);
    i = (i + 1) & (VAR_ELEMENTS - 1);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
  VarReset();
}
BENCHMARK(BM_ReadFloatElement);

void BM_ReadStrElement(benchmark::State& state) {
  Declare(VAR_TYPE_STR);
  i64 i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VarGetStrElement(VAR_ID, i));
    i = (i + 1) & (VAR_ELEMENTS - 1);
  }
  state.SetItemsProcessed(state.iterations());
  VarReset();
}
BENCHMARK(BM_ReadStrElement);

}  // namespace

BENCHMARK_MAIN();
