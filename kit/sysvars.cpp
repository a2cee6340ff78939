// System variable shapes (see sysvars.h), one row a range in id order.
#include "kit/sysvars.h"

#include "shell/input.h"

const std::vector<KitSysVar>& KitSysVars() {
  enum { INT = 1, FLOAT = 2, STR = 3, SLOTS = 17, JOY = INPUT_JOY_MAX, BUTTONS = INPUT_JOY_MAX * INPUT_JOY_BUTTONS };
  static const std::vector<KitSysVar> rows = {
      {0, 0, INT, {16}},  // local time now, then at start-up
      {1, 1, INT, {5}},   // clock and the four script timers
      {2, 7, INT, {}},
      {9, 9, INT, {}},
      {10, 10, FLOAT, {}},  // pi
      {11, 11, INT, {}},
      {12, 12, STR, {9}},  // command-line arguments
      {13, 13, INT, {}},
      {14, 14, STR, {256}},  // dropped files
      {15, 15, INT, {}},
      {48, 49, INT, {}},
      {53, 53, INT, {SLOTS}},  // call arguments
      {54, 54, FLOAT, {SLOTS}},
      {55, 55, STR, {SLOTS}},
      {56, 57, INT, {SLOTS}},
      {58, 58, FLOAT, {SLOTS}},
      {59, 59, STR, {SLOTS}},
      {60, 61, INT, {SLOTS}},
      {62, 62, FLOAT, {SLOTS}},
      {63, 63, STR, {SLOTS}},
      {96, 100, STR, {}},  // folders
      {101, 114, INT, {}},
      {115, 116, STR, {}},  // message text and codes
      {117, 117, INT, {}},
      {118, 118, STR, {}},  // running thread's name
      {119, 119, INT, {}},
      {120, 120, STR, {256}},  // one-byte strings by character code
      {121, 124, STR, {}},     // base paths
      {125, 136, INT, {}},
      {137, 137, INT, {INPUT_KEY_COUNT}},
      {138, 268, INT, {}},
      {269, 272, INT, {JOY}},
      {273, 273, INT, {BUTTONS}},
      {274, 401, INT, {}},
      {403, 406, INT, {JOY}},
      {407, 407, INT, {BUTTONS}},
      {408, 535, INT, {}},
      {536, 539, INT, {JOY}},
      {540, 540, INT, {BUTTONS}},
  };
  return rows;
}

const KitSysVar* KitFindSysVar(u32 id) {
  for (const KitSysVar& r : KitSysVars())
    if (id >= r.first && id <= r.last) return &r;
  return nullptr;
}
