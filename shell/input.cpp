// Input key table (see input.h).
#include "shell/input.h"

#include <cstring>

InputKeyTable g_InputKeyTable;

void InputKeyTableReset() {
  std::memset(g_InputKeyTable.down, 0, sizeof g_InputKeyTable.down);
  std::memset(g_InputKeyTable.state, 0, sizeof g_InputKeyTable.state);
  std::memset(g_InputKeyTable.counter, 0, sizeof g_InputKeyTable.counter);
  std::memset(g_InputKeyTable.presses, 0, sizeof g_InputKeyTable.presses);
}
