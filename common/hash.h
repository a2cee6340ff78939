// Checksums shared by packs, labels, object trees and save data: the standard CRC-32
// (reflected polynomial 0xEDB88320) and MurmurHash2 (m = 0x5bd1e995, r = 24).
#pragma once
#include "common/types.h"

extern const u32 g_Crc32Table[256];

// Standard CRC-32: initial 0xFFFFFFFF, reflected, final complement.
u32 MemCrc32(const void* data, size_t len);
// Continues a CRC over more data; start with crc = 0 (the value MemCrc32 returns for no bytes).
u32 MemCrc32Update(u32 crc, const void* data, size_t len);

// The published MurmurHash2 (32-bit); the state starts at seed XOR length. The engine passes seed 0.
u32 HashMurmur2(const void* data, size_t len, u32 seed);
