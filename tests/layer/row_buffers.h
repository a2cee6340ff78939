// Rows placed at a chosen offset inside guard bytes, for kernel tests: a kernel must write its
// row and nothing around it. Buffers are made once and reused, so sweeps stay fast under ASan.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/types.h"

struct RowBuf {
  std::vector<u8> mem;
  u8* base = nullptr;  // 64-byte aligned, 64 guard bytes before it
  u8* row = nullptr;
  int n = 0;
  u8 guard;

  RowBuf(int max_bytes, u8 guard_byte) : mem(static_cast<size_t>(max_bytes) + 256), guard(guard_byte) {
    uintptr_t p = reinterpret_cast<uintptr_t>(mem.data());
    base = mem.data() + ((64 - (p & 63)) & 63) + 64;
  }
  // Copies bytes of data to base + offset (offset 0..31) and guards 64 bytes either side.
  u8* Place(const u8* data, int bytes, int offset) {
    row = base + offset;
    n = bytes;
    std::memset(base - 64, guard, static_cast<size_t>(64 + offset + bytes + 64));
    if (bytes > 0) std::memcpy(row, data, static_cast<size_t>(bytes));
    return row;
  }
  bool GuardsIntact() const {
    for (const u8* p = base - 64; p < row; p++)
      if (*p != guard) return false;
    for (const u8* p = row + n; p < row + n + 64; p++)
      if (*p != guard) return false;
    return true;
  }
};
