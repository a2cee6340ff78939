// The executable's resources "ZP_RES" (id 201: the size of the executable without appended
// game data, 4 when nothing is appended) and "ZP_BIN" (id 148). On this platform a resource is a
// marker block in the executable's initialised data: a signature, the type name, the id, the
// size and up to four value bytes. `zpkit bundle` finds the block in a copy of the executable and
// patches the value; the running program reads it back from its own memory.
#pragma once
#include <string>

#include "common/types.h"
#include "platform/platform.h"  // PlatResourceSize, PlatResourceData

enum { PLAT_RESOURCE_VALUE_MAX = 4 };

// Copies its bytes (at most cap) into out; returns the size, or -1 when missing.
i32 PlatResourceRead(const char* type, i32 id, void* out, u32 cap);
// In an executable image (a copy of a zephra executable read from disk): the offset of the
// resource's value bytes, its size in *size; -1 when the image carries no such block.
i64 PlatResourceFindInImage(const u8* image, size_t n, const char* type, i32 id, u32* size);
