// Resource marker blocks. The signature exists once in the executable, inside the blocks
// themselves: searches copy it out of the blocks rather than spelling it again.
#include "platform/resource.h"

#include <cstring>

namespace {

struct ResourceBlock {
  char signature[16];
  char type[8];
  i32 id;
  u32 size;
  u8 value[PLAT_RESOURCE_VALUE_MAX];
};
static_assert(sizeof(ResourceBlock) == 36, "the block layout is read from executables on disk");

// volatile: the values are patched in the file after linking, so they must be read from memory.
__attribute__((used)) volatile ResourceBlock s_Blocks[] = {
    {"\x89ZPRESOURCE\r\n\x1a", "ZP_RES", 201, 4, {4, 0, 0, 0}},
    {"\x89ZPRESOURCE\r\n\x1a", "ZP_BIN", 148, 4, {0, 0, 0, 0}},
};

ResourceBlock Load(size_t i) {
  ResourceBlock b;
  const volatile u8* src = reinterpret_cast<const volatile u8*>(&s_Blocks[i]);
  u8* dst = reinterpret_cast<u8*>(&b);
  for (size_t k = 0; k < sizeof b; k++) dst[k] = src[k];
  return b;
}

bool TypeIs(const ResourceBlock& b, const char* type) {
  char t[sizeof b.type + 1] = {};
  std::memcpy(t, b.type, sizeof b.type);
  return std::strcmp(t, type) == 0;
}

constexpr size_t kBlockCount = sizeof s_Blocks / sizeof s_Blocks[0];

i32 FindBlock(const char* type, i32 id, ResourceBlock* out) {
  for (size_t i = 0; i < kBlockCount; i++) {
    *out = Load(i);
    if (out->id == id && TypeIs(*out, type)) return static_cast<i32>(i);
  }
  return -1;
}

}  // namespace

i32 PlatResourceRead(const char* type, i32 id, void* out, u32 cap) {
  ResourceBlock b;
  if (FindBlock(type, id, &b) < 0) return -1;
  u32 size = b.size <= PLAT_RESOURCE_VALUE_MAX ? b.size : u32{PLAT_RESOURCE_VALUE_MAX};
  if (out) std::memcpy(out, b.value, size < cap ? size : cap);
  return static_cast<i32>(size);
}

i32 PlatResourceSize(const char* type, i32 id) { return PlatResourceRead(type, id, nullptr, 0); }

const u8* PlatResourceData(const char* type, i32 id) {
  static thread_local u8 copies[kBlockCount][PLAT_RESOURCE_VALUE_MAX];
  ResourceBlock b;
  i32 i = FindBlock(type, id, &b);
  if (i < 0) return nullptr;
  std::memcpy(copies[i], b.value, PLAT_RESOURCE_VALUE_MAX);
  return copies[i];
}

i64 PlatResourceFindInImage(const u8* image, size_t n, const char* type, i32 id, u32* size) {
  ResourceBlock sig = Load(0);
  for (size_t at = 0; at + sizeof(ResourceBlock) <= n; at++) {
    const void* hit = std::memchr(image + at, sig.signature[0], n - sizeof(ResourceBlock) + 1 - at);
    if (!hit) break;
    at = static_cast<size_t>(static_cast<const u8*>(hit) - image);
    if (std::memcmp(image + at, sig.signature, sizeof sig.signature) != 0) continue;
    ResourceBlock b;
    std::memcpy(&b, image + at, sizeof b);
    if (b.id != id || !TypeIs(b, type) || b.size > PLAT_RESOURCE_VALUE_MAX) continue;
    if (size) *size = b.size;
    return static_cast<i64>(at + offsetof(ResourceBlock, value));
  }
  return -1;
}
