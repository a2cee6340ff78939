// Writer of the ".zcg" picture format: the 56-byte header (fields the reader skips are zero),
// then the raw pixels or the two zlib parts, each a complete stream of zlib's compress format.
#include "kit/zcg_writer.h"

#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "layer/image.h"
#include "platform/file.h"

static void Put32(std::vector<u8>* out, size_t at, u32 v) {
  for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<u8>(v >> (8 * i));
}

// Appends one zlib stream of n bytes; returns its stored size, or -1.
static i64 AppendPart(std::vector<u8>* out, const u8* src, u64 n) {
  uLongf cap = compressBound(static_cast<uLong>(n));
  size_t at = out->size();
  out->resize(at + cap);
  if (compress2(out->data() + at, &cap, src, static_cast<uLong>(n), Z_BEST_COMPRESSION) != Z_OK) return -1;
  out->resize(at + cap);
  return static_cast<i64>(cap);
}

u64 KitZcgDefaultSplit(i32 width, i32 height) { return static_cast<u64>(width) * static_cast<u64>(height) * 4 / 2; }

int KitZcgEncode(const u8* bgra, i32 width, i32 height, u32 method, u64 split, std::vector<u8>* out) {
  out->clear();
  if (width < 1 || height < 1 || width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE) return -1;
  if (method != IMAGE_ZCG_METHOD_RAW && method != IMAGE_ZCG_METHOD_ZLIB) return -1;
  u64 bytes = static_cast<u64>(width) * static_cast<u64>(height) * 4;
  out->assign(IMAGE_ZCG_HEADER_SIZE, 0);
  std::memcpy(out->data(), g_ImageZcgMagic, 4);
  Put32(out, IMAGE_ZCG_OFS_WIDTH, static_cast<u32>(width));
  Put32(out, IMAGE_ZCG_OFS_HEIGHT, static_cast<u32>(height));
  Put32(out, IMAGE_ZCG_OFS_METHOD, method);
  if (method == IMAGE_ZCG_METHOD_RAW) {
    out->insert(out->end(), bgra, bgra + bytes);
    return 0;
  }
  u64 first = split < bytes ? split : bytes;
  i64 stored1 = AppendPart(out, bgra, first);
  i64 stored2 = stored1 < 0 ? -1 : AppendPart(out, bgra + first, bytes - first);
  if (stored2 < 0) {
    out->clear();
    return -1;
  }
  Put32(out, IMAGE_ZCG_OFS_PART1_RAW, static_cast<u32>(first));
  Put32(out, IMAGE_ZCG_OFS_PART1_STORED, static_cast<u32>(stored1));
  Put32(out, IMAGE_ZCG_OFS_PART2_RAW, static_cast<u32>(bytes - first));
  Put32(out, IMAGE_ZCG_OFS_PART2_STORED, static_cast<u32>(stored2));
  return 0;
}

int KitZcgWriteFile(const char* path, const u8* bgra, i32 width, i32 height, u32 method, u64 split) {
  std::vector<u8> bytes;
  if (KitZcgEncode(bgra, width, height, method, split, &bytes) != 0) return -1;
  return PlatFileWriteAtomicNative(path, bytes.data(), bytes.size()) == 0 ? 0 : -1;
}

int KitZcgFromPictureFile(const std::string& name, const std::vector<u8>& data, std::vector<u8>* out,
                          std::string* err) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto ends = [&](const char* ext) {
    size_t n = std::strlen(ext);
    return lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0;
  };
  ImageDecodeFn decode = nullptr;
  if (ends(".bmp")) decode = ImageDecodeBmp;
  else if (ends(".png")) decode = ImageDecodePng;
  else if (ends(".jpg") || ends(".jpeg")) decode = ImageDecodeJpeg;
  if (!decode) return 1;
  if (data.size() > 0xFFFFFFFFull) {
    *err = name + ": too large";
    return -1;
  }
  ImagePicture pic = {nullptr, 0, 0, 0};
  int r = decode(data.data(), static_cast<u32>(data.size()), name.c_str(), &pic);
  if (r != 0 || !pic.pixels || pic.width < 1 || pic.height < 1) {
    std::free(pic.pixels);
    *err = name + ": not a picture the engine can read";
    return -1;
  }
  ImageFillTransparent(&pic);
  r = KitZcgEncode(pic.pixels, pic.width, pic.height, IMAGE_ZCG_METHOD_ZLIB, KitZcgDefaultSplit(pic.width, pic.height),
                   out);
  std::free(pic.pixels);
  if (r != 0) *err = name + ": cannot be stored as .zcg";
  return r == 0 ? 0 : -1;
}
