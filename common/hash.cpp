// CRC-32 with a table built at compile time, four bytes a step; MurmurHash2 as published.
#include "common/hash.h"

#include <cstring>

static constexpr u32 Crc32Entry(u32 n) {
  u32 c = n;
  for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

static constexpr struct Crc32TableHolder {
  u32 v[256];
  constexpr Crc32TableHolder() : v() {
    for (u32 i = 0; i < 256; i++) v[i] = Crc32Entry(i);
  }
} kCrc32{};

const u32 g_Crc32Table[256] = {
#define R(i) kCrc32.v[i], kCrc32.v[i + 1], kCrc32.v[i + 2], kCrc32.v[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96),  R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
#undef R
};

u32 MemCrc32Update(u32 crc, const void* data, size_t len) {
  const u8* p = static_cast<const u8*>(data);
  u32 c = ~crc;
  while (len >= 4) {
    u32 w;
    std::memcpy(&w, p, 4);  // little-endian: the first byte is the low byte
    c ^= w;
    c = g_Crc32Table[c & 0xFF] ^ (c >> 8);
    c = g_Crc32Table[c & 0xFF] ^ (c >> 8);
    c = g_Crc32Table[c & 0xFF] ^ (c >> 8);
    c = g_Crc32Table[c & 0xFF] ^ (c >> 8);
    p += 4;
    len -= 4;
  }
  while (len--) c = g_Crc32Table[(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

u32 MemCrc32(const void* data, size_t len) { return MemCrc32Update(0, data, len); }

u32 HashMurmur2(const void* data, size_t len, u32 seed) {
  const u32 m = 0x5bd1e995;
  const int r = 24;
  const u8* p = static_cast<const u8*>(data);
  u32 h = seed ^ static_cast<u32>(len);
  while (len >= 4) {
    u32 k;
    std::memcpy(&k, p, 4);
    k *= m;
    k ^= k >> r;
    k *= m;
    h *= m;
    h ^= k;
    p += 4;
    len -= 4;
  }
  switch (len) {
    case 3: h ^= static_cast<u32>(p[2]) << 16; [[fallthrough]];
    case 2: h ^= static_cast<u32>(p[1]) << 8; [[fallthrough]];
    case 1: h ^= p[0]; h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}
