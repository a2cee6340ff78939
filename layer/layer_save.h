// The layer side of save data: the record image of the save files and the layer a load makes,
// offered to save data through the hooks of core/hooks.h.
#pragma once
#include "common/types.h"

struct LayerRecord;

// The 1600-byte image of a record as the save files hold it (pointer fields 0).
void LayerSaveRecordImage(const LayerRecord* rec, u8* image);
// Installs the save-data hooks (start-up, and tests that save layers).
void LayerSaveInstallHooks();
