// Input key table: per key the raw down byte, the state byte, the transition counter (1 on the
// press frame, then 2, 3, ...; -1 on the release frame, then -2, ...) and the press count,
// indexed by virtual-key code or pseudo key. Index 0 is the any-key; joystick j owns the 36 keys
// from 384 + 36 j (four directions, then 32 buttons). Written once a frame by the input update.
#pragma once
#include "common/types.h"

enum {
  INPUT_KEY_COUNT = 1024,
  INPUT_JOY_FIRST_KEY = 384,
  INPUT_JOY_KEYS = 36,
  INPUT_JOY_BUTTONS = 32,
  INPUT_JOY_MAX = 16,
};
enum { INPUT_STATE_UP = 0, INPUT_STATE_HELD = 2 };

// Indexed by state + (down ? 1 : 0).
typedef void (*InputKeyHandler)(u32 key);

struct InputKeyTable {
  u8 down[INPUT_KEY_COUNT];      // 0x80 when down at the last sample
  u8 state[INPUT_KEY_COUNT];     // INPUT_STATE_UP or INPUT_STATE_HELD
  i64 counter[INPUT_KEY_COUNT];
  u64 presses[INPUT_KEY_COUNT];
  InputKeyHandler handlers[4];
};

extern InputKeyTable g_InputKeyTable;

// Tests: every key up, counters and press counts 0 (the handlers are kept).
void InputKeyTableReset();
