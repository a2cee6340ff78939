// The body shared by the picture fuzz targets: one decode through the type-code dispatcher on a
// fresh picture, the buffer freed after. Only the first error of the process opens the (stderr)
// dialog; the quit flag is cleared each time since the PNG decoder fails while it is set.
#pragma once
#include <cstdlib>

#include "core/sys.h"
#include "layer/image.h"
#include "platform/platform.h"

inline int FuzzImageDecode(u8 type, const u8* data, size_t size) {
  static const bool s_Ready = [] {
    PlatDialogsSetStderr(true);
    return true;
  }();
  (void)s_Ready;
  if (size > 0xFFFFFFFFu) return 0;
  g_QuitRequested = 0;
  ImagePicture pic{};
  ImageDecode(type, data, static_cast<u32>(size), "fuzz", &pic);
  std::free(pic.pixels);
  return 0;
}
