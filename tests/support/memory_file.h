// A file in a run-time preload list, as the file commands put one there: name and data copied to
// the heap (the data with a spare byte), its size counted in the list's total. List 0 is the
// first file source that every lookup tries.
#pragma once
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/pack.h"

inline void TestAddMemoryFile(const char* name, u8 type, const u8* data, size_t size, u32 list = 0) {
  PackMemoryList& l = g_PackMemoryLists[list];
  PackMemoryItem& it = l.items[l.count++];
  it.name = strdup(name);
  it.type = type;
  it.size = static_cast<u32>(size);
  it.data = static_cast<u8*>(std::malloc(size + 1));
  if (size) std::memcpy(it.data, data, size);
  l.total += it.size;
}

inline void TestAddMemoryFile(const char* name, u8 type, const std::vector<u8>& data, u32 list = 0) {
  TestAddMemoryFile(name, type, data.data(), data.size(), list);
}
