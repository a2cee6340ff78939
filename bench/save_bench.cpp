// Save data of a typical game state: 10,000 variables in three group blocks (6,000 integers,
// 2,000 floats, 2,000 strings of 32 bytes) and the 1280 x 720 screen as a thumbnail, saved and
// loaded back, through a save file (rewritten in place, as a player's save is) and through a
// memory save slot. Aims: under 50 ms for the file, under 20 ms for the slot.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "core/err.h"
#include "core/obj.h"
#include "core/sys.h"
#include "kit/demo_art.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/layer_save.h"
#include "platform/platform.h"
#include "script/save.h"
#include "script/var.h"
#include "shell/startup.h"

namespace {

enum { INTS = 6000, FLOATS = 2000, STRS = 2000, FIRST_ID = 1000, SCREEN_W = 1280, SCREEN_H = 720 };

ObjNode* g_Screen = nullptr;
std::string g_Path;

void BuildState() {
  PlatDialogsSetStderr(true);
  BlendInitCpuKernels();
  LayerSaveInstallHooks();
  SysObjReset();
  SysCreateRoots();
  VarTableCreate(FIRST_ID + INTS + FLOATS + STRS);
  char text[48];  // the first 32 bytes are kept
  for (u32 k = 0; k < INTS + FLOATS + STRS; k++) {
    const i64 id = FIRST_ID + k;
    VarRecordOf(id)->var_class = 1;
    if (k < INTS) {
      VarTypeInt(id, static_cast<i64>(k) * 7919);
    } else if (k < INTS + FLOATS) {
      VarTypeFloat(id, k * 0.37);
    } else {
      std::snprintf(text, sizeof text, "flag_%08u_scene_%03u_route_%04u", k, k % 97, k % 1000);
      VarTypeString(id, text, 32);
    }
  }
  // The screen: the demo game's pictures composed as the game shows them (background, character,
  // message window), with a little grain so it compresses no better than a painted scene.
  g_Screen = LayerCreateNode("screen", 0, 1);
  LayerRecord* r = LayerRecordNew(g_Screen);
  r->pixels = ImageAllocPixels(nullptr, SCREEN_W, SCREEN_H, "");
  r->width = SCREEN_W;
  r->height = SCREEN_H;
  const std::vector<KitDemoPicture> art = KitDemoPictures(SCREEN_W, SCREEN_H);
  std::memset(r->pixels, 0, static_cast<size_t>(SCREEN_W) * SCREEN_H * 4);
  for (const KitDemoPicture& pic : art) {
    const i32 ox = (SCREEN_W - pic.width) / 2, oy = SCREEN_H - pic.height;
    for (i32 y = 0; y < pic.height; y++)
      for (i32 x = 0; x < pic.width; x++) {
        const u8* s = &pic.bgra[(static_cast<size_t>(y) * pic.width + x) * 4];
        u8* d = r->pixels + (static_cast<size_t>(y + oy) * SCREEN_W + x + ox) * 4;
        const u32 a = pic.alpha ? s[3] : 255u;
        for (int c = 0; c < 3; c++) d[c] = static_cast<u8>((d[c] * (255 - a) + s[c] * a) / 255);
        d[3] = 255;
      }
  }
  u32 noise = 1;
  for (size_t k = 0; k < static_cast<size_t>(SCREEN_W) * SCREEN_H * 4; k += 4) {
    noise = noise * 1664525u + 1013904223u;
    r->pixels[k] = static_cast<u8>(r->pixels[k] ^ (noise >> 31));
  }
  g_Path =
      (std::filesystem::temp_directory_path() / ("zephra-save-bench-" + std::to_string(PlatTimeMs()) + ".sd")).string();
}

// The four blocks, then out into the file or the slot. 0 when all went well.
int Save(bool slot) {
  int failed = 0;
  for (i64 dno = 1; dno <= 3; dno++) {
    SaveWriteRequest r{};
    r.has_dno = true;
    r.dno = dno;
    r.group = static_cast<u16>(1u << (4 * (dno - 1)));  // class 1 integers, floats, strings
    failed |= SaveDataWrite(r);
  }
  SaveWriteRequest r{};
  r.has_dno = true;
  r.dno = 4;
  r.layer = g_Screen;
  r.layer_path = "screen";
  r.path = slot ? nullptr : g_Path.c_str();
  r.has_slot = slot;
  r.slot = 0;
  failed |= SaveDataWrite(r);
  return failed;
}

int Load(bool slot) {
  int failed = 0;
  for (i64 dno = 1; dno <= 4; dno++) {
    SaveLoadRequest r{};
    r.path = slot ? nullptr : g_Path.c_str();
    r.slot = 0;
    r.dno = dno;
    if (dno == 4) {
      g_Screen = ObjFindNode(g_LayerRoot, "screen", OBJ_FIND_ITEM);
      r.layer = g_Screen;
      r.layer_path = "screen";
    }
    // A group ends the thread's turn (-1) when it applied; an error is what counts.
    SaveDataLoad(r);
    failed |= g_ErrFatalRaised ? 1 : 0;
  }
  g_Screen = ObjFindNode(g_LayerRoot, "screen", OBJ_FIND_ITEM);
  return failed;
}

void BM_SaveAndLoad(benchmark::State& state) {
  const bool slot = state.range(0) != 0;
  BuildState();
  if (Save(slot) != 0) state.SkipWithError("the first save failed");
  for (auto _ : state) {
    if (Save(slot) != 0 || Load(slot) != 0 || !g_Screen) {
      state.SkipWithError("save or load failed");
      break;
    }
  }
  const LayerRecord* r = LayerOf(g_Screen);
  if (!r || r->width != SCREEN_W || VarGetIntElement(FIRST_ID + 5, 0) != 5 * 7919)
    state.SkipWithError("state not restored");
  state.SetLabel(slot ? "memory save slot" : "save file");
  SaveReset();
  SysObjReset();
  VarReset();
  std::remove(g_Path.c_str());
}
BENCHMARK(BM_SaveAndLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Wall time per save and load, in ms, by label: the median when the run is repeated.
std::map<std::string, double> g_Ms;
class Collect : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.error_occurred || (r.run_type == Run::RT_Aggregate && !median)) continue;
      // Real time per iteration: the picture is deflated on several threads.
      const double ms = r.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(r.time_unit);
      if (median || !medians_.count(r.report_label)) g_Ms[r.report_label] = ms;
      if (median) medians_[r.report_label] = true;
    }
  }

 private:
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collect reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");  // the reporter's last line may end in a colour code without a newline
  int missed = 0;
  auto goal = [&](const char* name, const char* label, double target) {
    if (!g_Ms.count(label)) {
      std::printf("goal %s: not measured (goal under %.0f ms) missed\n", name, target);
      missed++;
      return;
    }
    const bool met = g_Ms[label] < target;
    missed += !met;
    std::printf("goal %s: %.1f ms (goal under %.0f ms) %s\n", name, g_Ms[label], target, met ? "met" : "missed");
  };
  goal("save and load through a file", "save file", 50);
  goal("save and load through a memory slot", "memory save slot", 20);
  std::printf("%d goal(s) missed\n", missed);
  benchmark::Shutdown();
  return 0;
}
