// Running a decoder in a test: fresh error state, the project's texts for the picture codes made
// recognisable, stderr captured so the one error dialog and the message boxes can be checked.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "layer/image.h"
#include "platform/platform.h"

// The outcome of one decode: the result, a copy of the picture and what was shown.
struct TestDecoded {
  int result = 0;
  i32 width = 0, height = 0;
  u8 has_alpha = 0;
  bool same_buffer = false;  // the picture kept the buffer it was handed
  std::vector<u8> pixels;    // width * height * 4 bytes
  std::string shown;         // dialogs and message boxes printed by the sink
  i32 error = 0;             // code of the error dialog shown, 0 when none
  bool quit = false;

  // Pixel (x, y) as a little-endian B, G, R, A word.
  u32 At(i32 x, i32 y) const {
    u32 v;
    std::memcpy(&v, pixels.data() + (static_cast<size_t>(y) * width + x) * 4, 4);
    return v;
  }
};

// Gives every picture error code a text "E<code>[%s]" so the dialog names the code.
inline void TestInstallImageErrorTexts() {
  static const u32 kCodes[] = {100030, 100070, 100080, 100090, 100091, 100092, 100200, 100210, 100215, 100220};
  static char texts[ZP_COUNTOF(kCodes)][32];
  UserErrReset();
  for (size_t i = 0; i < ZP_COUNTOF(kCodes); i++) {
    std::snprintf(texts[i], sizeof texts[i], "E%u[%%s]", kCodes[i]);
    g_UserErrCodes[i] = kCodes[i];
    g_UserErrTexts[i] = texts[i];
  }
  g_UserErrCount = static_cast<i32>(ZP_COUNTOF(kCodes));
}

inline i32 TestShownErrorCode(const std::string& shown) {
  size_t at = shown.find("[error dialog]");
  if (at == std::string::npos) return 0;
  at = shown.find('\n', at);
  if (at == std::string::npos) return 0;
  std::string text = shown.substr(at + 1);
  if (text[0] == 'E') return std::atoi(text.c_str() + 1);
  if (text.rfind("メモリ不足です。", 0) == 0) return ERR_OUT_OF_MEMORY;
  if (text.rfind("メモリ不足のため", 0) == 0) return ERR_FILE_READ_NOMEM;
  return -1;
}

// Decodes through the dispatcher (type > 0) or one decoder (fn), starting from a 2 x 3 picture
// so that a failed decode can be seen to leave the picture alone.
inline TestDecoded TestDecode(u8 type, const std::vector<u8>& file, ImageDecodeFn fn = nullptr) {
  ErrReset();
  TestInstallImageErrorTexts();
  g_QuitRequested = 0;
  ImagePicture pic{};
  pic.pixels = static_cast<u8*>(std::calloc(1, ImagePixelBytes(2, 3)));
  pic.width = 2;
  pic.height = 3;
  pic.has_alpha = fn ? 0 : 1;  // the dispatcher must clear it
  u8* before = pic.pixels;
  // A copy sized exactly, so the sanitizer sees any read past the end.
  u8* copy = static_cast<u8*>(std::malloc(file.size() ? file.size() : 1));
  if (!file.empty()) std::memcpy(copy, file.data(), file.size());
  TestDecoded d;
  testing::internal::CaptureStderr();
  d.result = fn ? fn(copy, static_cast<u32>(file.size()), "pic", &pic)
                : ImageDecode(type, copy, static_cast<u32>(file.size()), "pic", &pic);
  d.shown = testing::internal::GetCapturedStderr();
  std::free(copy);
  d.width = pic.width;
  d.height = pic.height;
  d.has_alpha = pic.has_alpha;
  d.same_buffer = pic.pixels == before;
  if (pic.pixels) d.pixels.assign(pic.pixels, pic.pixels + static_cast<size_t>(pic.width) * pic.height * 4);
  std::free(pic.pixels);
  d.error = TestShownErrorCode(d.shown);
  d.quit = g_QuitRequested != 0;
  g_QuitRequested = 0;
  UserErrReset();
  return d;
}
