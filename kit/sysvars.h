// The shapes of the system variables (ids below 1000) that the kit declares for every game: the
// engine computes their values, but their records, like any variable's, come from the compiled
// definitions.
#pragma once
#include <vector>

#include "common/types.h"

struct KitSysVar {
  u16 first, last;
  u8 type;                // 1 integer, 2 float, 3 string
  std::vector<u32> dims;  // empty: a scalar
};

const std::vector<KitSysVar>& KitSysVars();
// The row that holds id, or null for an id the engine does not answer.
const KitSysVar* KitFindSysVar(u32 id);
