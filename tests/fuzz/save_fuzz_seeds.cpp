// Writes the seed corpus of save_fuzz with the engine's own writer: a file holding a block of
// every kind for the target's variables and layer, one with the snapshot of two memory save
// slots, and one rewritten after an append. Usage: save_fuzz_seeds OUT_DIR
#include <cstdio>
#include <filesystem>
#include <string>

#include "save_fuzz.h"

namespace fs = std::filesystem;

static int Write(const std::string& path, i64 slot, i64 dno, i64 var, bool whole, u16 group, bool layer) {
  SaveWriteRequest r{};
  r.path = path.empty() ? nullptr : path.c_str();
  r.has_slot = slot >= 0;
  r.slot = slot;
  r.has_dno = dno > 0;
  r.dno = dno;
  r.has_var = var != 0;
  r.var_id = var;
  r.whole = whole;
  r.group = group;
  if (layer) {
    r.layer = SaveFuzzPicture(5, 3, 9);
    r.layer_path = "pic";
  }
  return SaveDataWrite(r);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: save_fuzz_seeds OUT_DIR\n");
    return 2;
  }
  fs::create_directories(argv[1]);
  const std::string dir = fs::absolute(argv[1]).string() + "/";
  PlatDialogsSetStderr(true);
  SaveFuzzDeclare();
  VarSetStrElement(1005, 1, "\x82\xa0\x82\xa2 two");
  int failed = 0;
  const std::string all = dir + "blocks.sd";
  for (const SaveFuzzVar& v : kSaveFuzzVars) failed |= Write("", -1, v.id - 999, v.id, v.dims > 0, 0, false);
  failed |= Write("", -1, 7, 1005, false, 0, false);               // one element
  failed |= Write("", -1, 8, 0, false, 1u << 4, false);            // the class 1 floats
  failed |= Write("", -1, 9, 0, false, 1u << 5 | 1u << 1, false);  // the class 2 floats
  failed |= Write(all, -1, 10, 0, false, 0, true);                 // the picture, and all out
  failed |= Write("", 0, 1, 1003, true, 0, false);
  failed |= Write("", 5, 2, 1005, true, 0, false);
  failed |= Write("", SAVE_SNAPSHOT_SLOT, 0, 0, false, 0, false);
  failed |= Write(dir + "snapshot.sd", -1, 0, 0, false, 0, false);
  failed |= Write(dir + "merged.sd", -1, 1, 1000, false, 0, false);
  failed |= Write(dir + "merged.sd", -1, 3, 1002, false, 0, false);
  failed |= Write(dir + "merged.sd", -1, 1, 1001, false, 0, false);
  SaveFreeAll();
  return failed ? 1 : 0;
}
