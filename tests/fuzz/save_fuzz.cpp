// Fuzz target for save data: the input is a save file. The first blocks its directory names (and
// the snapshot block 1024) are loaded from the file and, with the same bytes as a memory save slot,
// from the slot, each into one of the targets (variables of each type: scalar, whole, one element;
// the layer "pic"; nothing), chosen by the input's last byte, so every target is reached across
// inputs while an input costs a few loads. Seeds: save_fuzz_seeds (the engine's own writer).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "save_fuzz.h"

namespace {

struct Target {
  i64 var_id;
  bool whole;
  i64 element;
  bool layer;
};
const Target kTargets[] = {
    {1000, false, 0, false}, {1001, false, 0, false}, {1002, false, 0, false}, {1003, true, 0, false},
    {1004, true, 0, false},  {1005, true, 0, false},  {1005, false, 2, false}, {1003, false, 3, false},
    {0, false, 0, true},     {0, false, 0, false},
};

std::string s_Path;

bool Init() {
  PlatDialogsSetStderr(true);
  SaveFuzzDeclare();
  SaveFuzzPicture(3, 2, 1);
  // In memory where there is such a folder: each input is written there.
  const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : PlatFolderTemp();
  s_Path = dir + "/zephra-save-fuzz-" + std::to_string(getpid()) + ".sd";
  return true;
}

u32 U32At(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }

void Load(const char* path, i64 dno, const Target& t) {
  SaveLoadRequest r{};
  r.path = path;
  r.slot = 0;
  r.dno = dno;
  r.has_var = t.var_id != 0;
  r.var_id = t.var_id;
  r.whole = t.whole;
  r.element = t.element;
  if (t.layer) {
    r.layer = SaveFuzzPicture(3, 2, 1);
    r.layer_path = "pic";
  }
  SaveDataLoad(r);
  ErrReset();
  g_QuitRequested = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Init();
  (void)ready;
  FILE* f = std::fopen(s_Path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  // The first blocks the directory names (at most 4 of them), and the snapshot.
  std::vector<i64> dnos;
  for (i64 d = 1; d < SAVE_DNO_COUNT && dnos.size() < 4; d++)
    if (size >= static_cast<size_t>(16 + 4 * d) && U32At(data + 12 + 4 * d) != 0) dnos.push_back(d);
  if (dnos.empty()) dnos.push_back(1);
  dnos.push_back(SAVE_SNAPSHOT_DNO);
  const size_t pick = size ? data[size - 1] : 0;
  const size_t targets = sizeof kTargets / sizeof kTargets[0];

  SaveSlot& s = g_SaveSlots[0];
  std::free(s.data);
  s.data = static_cast<u8*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(s.data, data, size);
  s.capacity = s.length = static_cast<i32>(size);
  for (size_t k = 0; k < dnos.size(); k++) {
    Load(s_Path.c_str(), dnos[k], kTargets[(pick + k) % targets]);
    Load(nullptr, dnos[k], kTargets[(pick + k + targets / 2) % targets]);
  }
  SaveFreeAll();
  std::remove(s_Path.c_str());
  return 0;
}
