// libFuzzer target: a JPEG frame set loaded from memory into a layer record of its own and every
// frame shown (at most 64, plus the clamped -1 and n), the decompression object kept across runs
// as in the engine.
#include <cstdlib>
#include <cstring>

#include "core/sys.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  static const bool s_Ready = [] {
    PlatDialogsSetStderr(true);
    return true;
  }();
  (void)s_Ready;
  if (size > 0xFFFFFFFFu) return 0;
  g_QuitRequested = 0;
  LayerRecord* rec = static_cast<LayerRecord*>(std::calloc(1, sizeof(LayerRecord)));
  ObjNode node{};
  node.payload = rec;
  rec->width = rec->height = 1;
  u8* bytes = static_cast<u8*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(bytes, data, size);
  if (ImageFrameSetTake(rec, bytes, static_cast<u32>(size), "fuzz") == 0 && rec->frame_set) {
    i64 n = rec->frame_set->frame_count;
    for (i64 k = -1; k <= n && k < 64; k++) ImageFrameSetShow(&node, k);
  }
  LayerRecordFree(rec);
  return 0;
}
