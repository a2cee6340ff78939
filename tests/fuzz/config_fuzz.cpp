// Fuzz target for the settings and configuration files read at start-up: the first input byte
// picks "zpcfg.dat" (engine settings), "zpsfs.dat" (save-folder settings), "chbin\zpcfg.zbn"
// (the project configuration) or "chbin\zpt.zbn" (the variable-slot file); the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/pack.h"
#include "fuzz_game.h"
#include "script/script.h"
#include "script/var.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  FuzzGameFolder();
  FuzzErrorsReset();
  CfgReset();
  PackReset();
  PackScrambleSetup();
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  switch (data[0] % 4) {
    case 0:
      FuzzWriteGameFile("zpcfg.dat", body, n);
      CfgLoadEngineSettings();
      FuzzRemoveGameFile("zpcfg.dat");
      break;
    case 1:
      FuzzWriteGameFile("zpsfs.dat", body, n);
      CfgLoadSaveFolder();
      FuzzRemoveGameFile("zpsfs.dat");
      break;
    case 2:
      FuzzWriteGameFile("chbin/zpcfg.zbn", body, n);
      CfgLoadProjectConfig();
      FuzzRemoveGameFile("chbin/zpcfg.zbn");
      break;
    default: {
      u8* image = static_cast<u8*>(std::malloc(n ? n : 1));
      if (n) std::memcpy(image, body, n);
      ScriptParseVarSlots(image, static_cast<u32>(n));  // owns the image
      VarReset();
      ScriptReset();
      break;
    }
  }
  CfgReset();
  return 0;
}
