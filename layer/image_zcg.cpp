// Decoder of the engine's own picture format ".zcg" and the inflating of its two zlib parts.
// Nothing is decoded before the header has been checked against the file: the size is 1 to 8192
// each way, the raw pixels or both stored parts lie inside the file, and the two inflated sizes
// add up to at most the picture's bytes. Each part inflates into at most its declared length; a
// part that gives fewer bytes is no failure: part 2's bytes follow right behind part 1's, and
// whatever neither part fills is transparent black.
#include <zlib.h>

#include <cstring>

#include "core/err.h"
#include "layer/image.h"
#include "platform/platform.h"

ImageInflatePairFn g_ImageInflatePair = ImageInflatePairHere;

static u32 Rd32(const u8* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24); }

void ImageJobInflate(ImageInflatePart* part) {
  uLongf len = part->dst_size;
  part->result = uncompress(part->dst, &len, part->src, part->src_size);
  part->produced = static_cast<u32>(len);
}

static bool PartFailed(const ImageInflatePart& p) { return p.result != Z_OK; }

void ImageInflatePairHere(ImageInflatePart parts[2]) {
  ImageJobInflate(&parts[0]);
  if (PartFailed(parts[0])) {
    parts[1].result = Z_STREAM_ERROR;  // not tried
    parts[1].produced = 0;
    return;
  }
  ImageJobInflate(&parts[1]);
}

static void InflateThreadMain(void* arg) { ImageJobInflate(static_cast<ImageInflatePart*>(arg)); }

void ImageInflatePairThreaded(ImageInflatePart parts[2]) {
  // Each side writes only its own part record and its own stretch of the buffer.
  PlatThread* t = PlatThreadStart(InflateThreadMain, &parts[1]);
  ImageJobInflate(&parts[0]);
  if (t) PlatThreadJoin(t);
  else ImageJobInflate(&parts[1]);
}

// The format's own complaint: a plain message box without an error code.
static void ZcgMessage(const char* text) { ErrMessageBoxF("", text); }

int ImageDecodeZcg(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  if (size < IMAGE_ZCG_HEADER_SIZE) {
    ZcgMessage("File Check Error.");
    return -1;
  }
  // A wrong magic is reported and then ignored, as the format always was.
  if (std::memcmp(data, g_ImageZcgMagic, 4) != 0) ZcgMessage("File Check Error.");
  i32 width = static_cast<i32>(Rd32(data + IMAGE_ZCG_OFS_WIDTH));
  i32 height = static_cast<i32>(Rd32(data + IMAGE_ZCG_OFS_HEIGHT));
  if (width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE || width < 1 || height < 1) {
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return -1;
  }
  u32 method = Rd32(data + IMAGE_ZCG_OFS_METHOD);
  u64 bytes = static_cast<u64>(width) * static_cast<u64>(height) * 4;
  u64 avail = size - IMAGE_ZCG_HEADER_SIZE;
  ImageInflatePart parts[2] = {};
  parts[0].dst_size = Rd32(data + IMAGE_ZCG_OFS_PART1_RAW);
  parts[0].src_size = Rd32(data + IMAGE_ZCG_OFS_PART1_STORED);
  parts[1].dst_size = Rd32(data + IMAGE_ZCG_OFS_PART2_RAW);
  parts[1].src_size = Rd32(data + IMAGE_ZCG_OFS_PART2_STORED);
  bool ok;
  if (method == IMAGE_ZCG_METHOD_RAW) ok = bytes <= avail;
  else if (method == IMAGE_ZCG_METHOD_ZLIB)
    ok = static_cast<u64>(parts[0].dst_size) + parts[1].dst_size <= bytes &&
         static_cast<u64>(parts[0].src_size) + parts[1].src_size <= avail;
  else ok = false;
  if (!ok) {
    ZcgMessage("File Check Error.");
    return -1;
  }

  u8* pixels = ImageAllocPixels(pic->pixels, width, height, name);
  if (!pixels) return -1;
  pic->pixels = pixels;
  pic->width = width;
  pic->height = height;
  pic->has_alpha = 1;

  const u8* body = data + IMAGE_ZCG_HEADER_SIZE;
  if (method == IMAGE_ZCG_METHOD_RAW) {
    std::memcpy(pixels, body, bytes);
    return 0;
  }
  parts[0].src = body;
  parts[0].dst = pixels;
  parts[1].src = body + parts[0].src_size;
  parts[1].dst = pixels + parts[0].dst_size;
  g_ImageInflatePair(parts);
  if (PartFailed(parts[0])) {
    ZcgMessage("Uncompress Status Error 1.");
    return -1;
  }
  if (PartFailed(parts[1])) {
    ZcgMessage("Uncompress Status Error 2.");
    return -1;
  }
  // Every hook inflates part 2 at its declared place (the two may run at once); a short part 1
  // moves it down to where one pass after the other would have put it.
  const size_t filled = static_cast<size_t>(parts[0].produced) + parts[1].produced;
  if (parts[0].produced < parts[0].dst_size) std::memmove(pixels + parts[0].produced, parts[1].dst, parts[1].produced);
  std::memset(pixels + filled, 0, bytes - filled);
  return 0;
}
