// Standalone-game writer. The pack is appended unchanged: its offsets are relative to its own
// start, which the runtime takes as the base of the appended pack.
#include "kit/bundle.h"

#include <cstring>
#include <vector>

#include "common/types.h"
#include "core/pack.h"
#include "platform/file.h"
#include "platform/resource.h"

static void Put32(std::vector<u8>& out, u32 v) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(v >> (8 * i)));
}

static u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

int KitSaverPreviewFromBmp(const std::vector<u8>& bmp, std::vector<u8>* out, std::string* err) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return *err = "the preview is not a BMP file", -1;
  i32 w = static_cast<i32>(Le32(&bmp[18])), h = static_cast<i32>(Le32(&bmp[22]));
  u32 bits = static_cast<u32>(bmp[28]) | static_cast<u32>(bmp[29]) << 8;
  u32 data = Le32(&bmp[10]);
  if (bits != 24 || Le32(&bmp[30]) != 0) return *err = "the preview must be a 24-bit uncompressed BMP", -1;
  bool top_down = h < 0;
  i64 rows = top_down ? -static_cast<i64>(h) : h;
  if (w <= 0 || rows <= 0 || w > 8192 || rows > 8192) return *err = "the preview's size is out of range", -1;
  u64 stride = (static_cast<u64>(w) * 3 + 3) & ~u64{3};
  if (data < 54 || data > bmp.size() || stride * static_cast<u64>(rows) > bmp.size() - data)
    return *err = "the preview's rows run past the end of the file", -1;
  size_t row = static_cast<size_t>(w) * 3;
  out->assign(54, 0);
  (*out)[0] = 'B';
  (*out)[1] = 'M';
  u32 total = static_cast<u32>(54 + row * static_cast<size_t>(rows));
  auto put = [&](size_t at, u32 v) {
    for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<u8>(v >> (8 * i));
  };
  put(2, total);
  put(10, 54);
  put(14, 40);
  put(18, static_cast<u32>(w));
  put(22, static_cast<u32>(rows));
  (*out)[26] = 1;
  (*out)[28] = 24;
  put(34, static_cast<u32>(row * static_cast<size_t>(rows)));
  for (i64 y = 0; y < rows; y++) {
    // Stored bottom-up: the first stored row is the picture's last.
    i64 src_row = top_down ? rows - 1 - y : y;
    const u8* r = &bmp[data + static_cast<size_t>(stride) * static_cast<size_t>(src_row)];
    out->insert(out->end(), r, r + row);
  }
  return 0;
}

int KitBundleWrite(const std::string& zephra_native, const std::string& pack_native, const std::string& out_native,
                   std::string* err, const std::string& preview_bmp_native) {
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return -1;
  };
  std::vector<u8> exe, pack;
  if (PlatFileReadAllNative(zephra_native, &exe) != 0) return fail("cannot read " + zephra_native);
  if (PlatFileReadAllNative(pack_native, &pack) != 0) return fail("cannot read " + pack_native);
  if (pack.size() < PACK_HEADER_SIZE || std::memcmp(pack.data(), kPackMagic, 4) != 0)
    return fail(pack_native + " is not a pack archive");
  std::vector<u8> preview;
  if (!preview_bmp_native.empty()) {
    std::vector<u8> bmp;
    if (PlatFileReadAllNative(preview_bmp_native, &bmp) != 0) return fail("cannot read " + preview_bmp_native);
    std::string why;
    if (KitSaverPreviewFromBmp(bmp, &preview, &why) != 0) return fail(preview_bmp_native + ": " + why);
  }
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
  Put32(exe, static_cast<u32>(PACK_APPENDED_HEADER + preview.size()));  // pack offset from A
  Put32(exe, static_cast<u32>(preview.size()));                         // 0: not a screen saver
  Put32(exe, 0);
  exe.insert(exe.end(), preview.begin(), preview.end());
  exe.insert(exe.end(), pack.begin(), pack.end());
  if (PlatFileWriteAtomicNative(out_native, exe.data(), exe.size(), true) != 0)
    return fail("cannot write " + out_native);
  return 0;
}
