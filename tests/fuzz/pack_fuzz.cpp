// Fuzz target for pack archives as a game folder holds them: the scan (header, entry table, name
// lengths and scrambling, duplicate settlement, the sort), then the first entries the table names
// found and read (stored and zlib entries, the data hash and the repair from the recovery block).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/pack.h"
#include "fuzz_game.h"

namespace {

u32 Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<u32>(p[3]) << 24; }

// The names the input's entry table holds, decoded as the scan decodes them (the first 4: reading
// more entries reaches nothing the first ones do not, and costs every input the lookups).
std::vector<std::string> TableNames(const uint8_t* data, size_t size) {
  std::vector<std::string> names;
  if (size < PACK_HEADER_SIZE) return names;
  const u32 count = Le32(data + 8);
  size_t q = PACK_HEADER_SIZE;
  for (u32 k = 0; k < count && names.size() < 4 && q + 5 <= size; k++) {
    const u32 len = g_NameLengthTable[255 - data[q + 4]];
    if (q + PACK_RECORD_FIXED + len > size) break;
    std::string name(len, '\0');
    for (u32 i = 0; i < len; i++) name[i] = static_cast<char>(255 - data[q + 5 + i]);
    names.push_back(name.c_str());
    q += PACK_RECORD_FIXED + len;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  FuzzGameFolder();
  FuzzErrorsReset();
  PackScrambleSetup();  // the end of the input before left the packs reset
  FuzzWriteGameFile("data.zpf", data, size);
  if (PackScanAll() == 0) {
    // The table's names straight from the packs (their probe for loose files of the same names
    // is the resolver's, which names_fuzz tests); the configuration through every source.
    for (const std::string& n : TableNames(data, size)) {
      PackLookup lookup{};
      if (PackFindInArchives(&lookup, n.c_str()) > 0 && PackReadBySource(&lookup, n.c_str()) == 0)
        std::free(lookup.data);
    }
    PackLookup lookup{};
    if (PackFindAnySource(&lookup, "chbin\\zpcfg.zbn", 1) > 0 && PackReadBySource(&lookup, "chbin\\zpcfg.zbn") == 0)
      std::free(lookup.data);
  }
  PackReset();
  FuzzRemoveGameFile("data.zpf");
  return 0;
}
