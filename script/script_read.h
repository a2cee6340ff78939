// Inside the compiled-script loader: a bounds-checked little-endian reader over a file image,
// and the helpers the loader's files share. A read past the end clears ok and yields zeros, so
// a parser checks ok once after a group of reads.
#pragma once
#include <cstring>

#include "common/types.h"
#include "script/script.h"

struct ScriptReader {
  const u8* data;
  u32 size;
  u64 pos;
  bool ok;

  const u8* Bytes(u64 n) {
    if (!ok || pos > size || n > size - pos) {
      ok = false;
      return nullptr;
    }
    const u8* p = data + pos;
    pos += n;
    return p;
  }
  u64 Le(int n) {
    const u8* p = Bytes(static_cast<u64>(n));
    u64 v = 0;
    if (p)
      for (int k = n - 1; k >= 0; k--) v = v << 8 | p[k];
    return v;
  }
  u8 U8() { return static_cast<u8>(Le(1)); }
  u16 U16() { return static_cast<u16>(Le(2)); }
  u32 U32() { return static_cast<u32>(Le(4)); }
  u64 U64() { return Le(8); }
  // A NUL text inside the image; null (and not ok) when no NUL ends it.
  const char* Text() {
    if (!ok || pos >= size) {
      ok = false;
      return nullptr;
    }
    const void* nul = std::memchr(data + pos, 0, size - pos);
    if (!nul) {
      ok = false;
      return nullptr;
    }
    const char* t = reinterpret_cast<const char*>(data + pos);
    pos = static_cast<u64>(static_cast<const u8*>(nul) - data) + 1;
    return t;
  }
};

// Frees image, raises 105000 (fatal) with the file's name and gives -1.
i32 ScriptBadFile(const char* name, u8* image);
// Reads a compiled file through the file sources into a malloc'd block: 0, or -1 after the
// lookup's error (none when quiet and the file is missing).
i32 ScriptFetchFile(const char* name, bool quiet, u8** data, u32* size);
void ScriptFreeRecord(ScriptFileRecord* rec);
