// Fuzz target for a standalone game's appended data: the marker-block search through the
// executable part, the trailer and its marker, the screen saver's preview, and (when the input
// carries appended data) the scan of the appended pack and the reading of its entries.
#include <cstdint>
#include <cstdlib>

#include "core/pack.h"
#include "fuzz_game.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  FuzzGameFolder();
  FuzzErrorsReset();
  PackScrambleSetup();  // the end of the input before left the packs reset
  FuzzWriteGameFile("game.bin", data, size);
  g_PackExeNative = FuzzGameFolder() + "/game.bin";
  if (PackDetectAppended() == 1) {
    u32 n = 0;
    std::free(PackReadAppendedPreview(&n));
    if (PackScanAll() == 0) {
      for (const char* name : {"chbin\\zpcfg.zbn", "chbin\\zpt.zbn", "a.bin"}) {
        PackLookup lookup{};
        if (PackFindAnySource(&lookup, name, 1) > 0 && PackReadBySource(&lookup, name) == 0) std::free(lookup.data);
      }
    }
  }
  PackReset();
  g_ScreenSaverBuild = 0;
  FuzzRemoveGameFile("game.bin");
  return 0;
}
