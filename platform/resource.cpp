// Program resources: a table of the custom resources the engine looks for in its own program.
// "ZP_BIN" (id 148) marks a genuine runtime build; it must exist and hold at most 4 bytes.
#include <cstring>

#include "platform/platform.h"

struct PlatResource {
  const char* type;
  i32 id;
  const u8* data;
  i32 size;
};

static const u8 kZpBin[4] = {0, 0, 0, 0};

static const PlatResource kResources[] = {
    {"ZP_BIN", 148, kZpBin, static_cast<i32>(sizeof kZpBin)},
};

static const PlatResource* FindResource(const char* type, i32 id) {
  for (const PlatResource& r : kResources)
    if (r.id == id && std::strcmp(r.type, type) == 0) return &r;
  return nullptr;
}

i32 PlatResourceSize(const char* type, i32 id) {
  const PlatResource* r = FindResource(type, id);
  return r ? r->size : -1;
}

const u8* PlatResourceData(const char* type, i32 id) {
  const PlatResource* r = FindResource(type, id);
  return r ? r->data : nullptr;
}
