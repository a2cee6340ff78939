// The project's error texts that the kit writes into "chbin\zpe.zbn": one text for every
// numbered error the engine raises outside its built-in table, with printf conversions in the
// order in which the engine passes its arguments.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitErrText {
  u32 code;
  std::string text;  // Shift-JIS
};

// The kit's texts, converted to Shift-JIS.
std::vector<KitErrText> KitDefaultErrorTexts();
