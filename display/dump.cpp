// The frame dump of ZEPHRA_FRAME_DUMP: the main window's root picture as an RGB PNG, encoded by
// the image writers' PNG encoder and written to a temporary file beside the target that is
// renamed into place, so a reader never sees half a file.
#include "core/state.h"
#include "display/present.h"
#include "layer/image_write.h"
#include "layer/layer.h"
#include "platform/file.h"
#include "sound/movie.h"

i32 FrameEncodePng(const u8* bgra, i32 width, i32 height, std::string* out) {
  out->clear();
  // The library's default level and filters: the dump is read by tools, not kept small.
  const ImagePngFormat fmt{-1, 0, 0, 0};
  ImageOutBuffer buf{};
  if (ImagePngEncode(bgra, width, height, &fmt, &buf) != 0) return -1;
  out->assign(reinterpret_cast<const char*>(buf.data), buf.size);
  ImageOutFree(&buf);
  return 0;
}

i32 FrameDumpPng(const char* path, std::string* why) {
  why->clear();
  WindowObject* w = g_WindowObjects[0];
  const LayerRecord* r = w ? LayerOf(w->root_layer) : nullptr;
  if (!path || !path[0]) {
    *why = "no file named";
    return -1;
  }
  std::string png;
  // A movie covers the picture: what the window shows is the movie over its black client area.
  std::vector<u8> shown;
  i32 sw = 0, sh = 0;
  const bool movie = (g_MoviePlaying || g_MovieMciOpen) && MovieShownPicture(&shown, &sw, &sh);
  if (!movie && !LayerHasPixels(r)) {
    *why = "the main window has no picture";
    return -1;
  }
  if ((movie ? FrameEncodePng(shown.data(), sw, sh, &png) : FrameEncodePng(r->pixels, r->width, r->height, &png)) !=
      0) {
    *why = "the picture could not be encoded";
    return -1;
  }
  if (PlatFileWriteAtomicNative(path, png.data(), png.size()) != 0) {
    *why = PlatLastErrorText();
    return -1;
  }
  return 0;
}
