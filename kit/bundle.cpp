// Standalone-game writer. The pack is appended unchanged: its offsets are relative to its own
// start, which the runtime takes as the base of the appended pack.
#include "kit/bundle.h"

#include <cstring>
#include <vector>

#include "common/types.h"
#include "platform/file.h"
#include "platform/resource.h"
#include "core/pack.h"

static void Put32(std::vector<u8>& out, u32 v) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

int KitBundleWrite(const std::string& zephra_native, const std::string& pack_native, const std::string& out_native,
                   std::string* err) {
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return -1;
  };
  std::vector<u8> exe, pack;
  if (PlatFileReadAllNative(zephra_native, &exe) != 0) return fail("cannot read " + zephra_native);
  if (PlatFileReadAllNative(pack_native, &pack) != 0) return fail("cannot read " + pack_native);
  if (pack.size() < PACK_HEADER_SIZE || std::memcmp(pack.data(), kPackMagic, 4) != 0)
    return fail(pack_native + " is not a pack archive");
  u32 size = 0;
  i64 at = PlatResourceFindInImage(exe.data(), exe.size(), "ZP_RES", 201, &size);
  if (at < 0 || size < 4) return fail(zephra_native + " carries no ZP_RES marker block");
  u32 old = static_cast<u32>(exe[at]) | static_cast<u32>(exe[at + 1]) << 8 | static_cast<u32>(exe[at + 2]) << 16 |
            static_cast<u32>(exe[at + 3]) << 24;
  if (old != 4) return fail(zephra_native + " is already a standalone game");
  if (exe.size() > UINT32_MAX) return fail(zephra_native + " is too large");
  u32 a = static_cast<u32>(exe.size());
  for (int i = 0; i < 4; i++) exe[static_cast<size_t>(at) + i] = static_cast<u8>(a >> (8 * i));
  exe.insert(exe.end(), kPackAppendMarker, kPackAppendMarker + 4);
  Put32(exe, PACK_APPENDED_HEADER);  // pack offset from A
  Put32(exe, 0);                     // no preview picture
  Put32(exe, 0);
  exe.insert(exe.end(), pack.begin(), pack.end());
  if (PlatFileWriteAtomicNative(out_native, exe.data(), exe.size(), true) != 0) return fail("cannot write " + out_native);
  return 0;
}
