// Screen-saver mode (see saver.h). The preview is the only thing such a run shows: no engine
// start-up happens, the process ends when the chooser's window goes.
#include "shell/saver.h"

#include <cstdlib>
#include <cstring>

#include "core/err.h"
#include "core/pack.h"
#include "platform/platform.h"
#include "platform/preview.h"
#include "platform/video.h"
#include "shell/startup.h"

// The preview's picture and row table (top-down BGRA rows).
static u8* s_PreviewPixels = nullptr;
static u8** s_PreviewRows = nullptr;
static i32 s_PreviewWidth = 0, s_PreviewHeight = 0;

static u32 Le32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

WinSaverAction WinSaverParse(const std::vector<std::string>& args, u64* parent) {
  *parent = 0;
  if (args.empty()) return SAVER_ABOUT;
  const std::string& a = args[0];
  if (a.size() < 2 || (a[0] != '/' && a[0] != '-')) return SAVER_RUN;
  char letter = static_cast<char>(a[1] | 0x20);
  if (letter == 'p' && args.size() == 2) {
    const std::string& id = args[1];
    u64 v = 0;
    if (id.empty() || id.size() > 10) return SAVER_END;
    for (char c : id) {
      if (c < '0' || c > '9') return SAVER_END;
      v = v * 10 + static_cast<u64>(c - '0');
    }
    if (v == 0 || v > 0xFFFFFFFFu) return SAVER_END;
    *parent = v;
    return SAVER_PREVIEW;
  }
  if (letter == 'a' && args.size() == 2) return SAVER_END;
  if (letter == 'c' && args.size() == 1) return SAVER_ABOUT;
  return SAVER_RUN;
}

u64 WinSaverParseWindowId(const std::string& text) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] | 0x20) != 'x') return 0;
  u64 v = 0;
  for (size_t i = 2; i < text.size(); i++) {
    char c = static_cast<char>(text[i] | 0x20);
    if (c >= '0' && c <= '9') v = v * 16 + static_cast<u64>(c - '0');
    else if (c >= 'a' && c <= 'f') v = v * 16 + static_cast<u64>(c - 'a' + 10);
    else return 0;
  }
  return v;
}

i32 WinSaverArgs() {
  u64 parent = 0;
  switch (WinSaverParse(SysGameArgs(), &parent)) {
    case SAVER_RUN:
      // Run by xscreensaver: the game draws into the window it names, as into a whole screen.
      PlatVideoUseForeignWindow(WinSaverParseWindowId(PlatGetEnv("XSCREENSAVER_WINDOW")));
      return 0;
    case SAVER_PREVIEW:
      // A preview that cannot be made ends the run at once: no quit would ever come.
      if (WinSaverPreviewCreate(parent) == 0) PlatPreviewRun();
      return -1;
    case SAVER_END: return -1;
    case SAVER_ABOUT:
      ErrMessageBoxF(PlatUtf8ToSjis("情報").c_str(), "%s", PlatUtf8ToSjis("スクリーンセーバー\n\nVersion 1.00"));
      return -1;
  }
  return 0;
}

i32 WinSaverPreviewCreate(u64 parent) { return PlatPreviewCreate(parent, WinSaverPreviewProc) == 0 ? 0 : 1; }

u8* WinSaverLoadBitmap(u32* size) { return PackReadAppendedPreview(size); }

i32 WinSaverDecodePreview(const u8* bmp, u32 size, u8** pixels, i32* width, i32* height) {
  *pixels = nullptr;
  *width = *height = 0;
  if (!bmp || size < 54) return -1;
  i32 w = static_cast<i32>(Le32(bmp + 18)), h = static_cast<i32>(Le32(bmp + 22));
  if (w <= 0 || h <= 0) return -1;
  u64 row = static_cast<u64>(w) * 3;
  if (row * static_cast<u64>(h) > size - 54) return -1;
  u8* out = static_cast<u8*>(std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
  if (!out) return -1;
  for (i32 y = 0; y < h; y++) {
    const u8* src = bmp + 54 + row * static_cast<u64>(h - 1 - y);  // stored bottom-up
    u8* dst = out + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
    for (i32 x = 0; x < w; x++) {
      dst[x * 4] = src[x * 3];
      dst[x * 4 + 1] = src[x * 3 + 1];
      dst[x * 4 + 2] = src[x * 3 + 2];
      dst[x * 4 + 3] = 255;
    }
  }
  *pixels = out;
  *width = w;
  *height = h;
  return 0;
}

void MemStaticFree() {
  std::free(s_PreviewPixels);
  std::free(s_PreviewRows);
  s_PreviewPixels = nullptr;
  s_PreviewRows = nullptr;
  s_PreviewWidth = s_PreviewHeight = 0;
}

void MemStaticFreeRegister() {
  static bool registered = false;
  if (!registered) std::atexit(MemStaticFree);
  registered = true;
}

void WinSaverPreviewProc(u32 msg) {
  switch (msg) {
    case PLAT_PREVIEW_CREATE: {
      MemStaticFree();
      MemStaticFreeRegister();
      u32 size = 0;
      u8* bmp = WinSaverLoadBitmap(&size);
      u8* pixels = nullptr;
      i32 w = 0, h = 0;
      // A missing or damaged picture: the preview stays black.
      if (WinSaverDecodePreview(bmp, size, &pixels, &w, &h) == 0) {
        s_PreviewRows = static_cast<u8**>(std::malloc(sizeof(u8*) * static_cast<size_t>(h)));
        if (s_PreviewRows) {
          for (i32 y = 0; y < h; y++) s_PreviewRows[y] = pixels + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
          s_PreviewPixels = pixels;
          s_PreviewWidth = w;
          s_PreviewHeight = h;
        } else {
          std::free(pixels);
        }
      }
      std::free(bmp);
      break;
    }
    case PLAT_PREVIEW_PAINT:
      if (s_PreviewPixels) PlatPreviewDraw(s_PreviewPixels, s_PreviewWidth, s_PreviewHeight);
      break;
    case PLAT_PREVIEW_DESTROY: break;  // the run ends with the window
  }
}
