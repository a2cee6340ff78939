// Save data: save files, memory save slots and snapshots.
#pragma once
#include "common/types.h"

// Frees one save data block, or every block with index -1 (shutdown).
void SaveFreeBlocks(i32 index);
