// Screen-saver mode: a standalone game whose appended data carries a preview picture honours the
// screen-saver switches (first argument, "/" or "-" and a letter, either case): p ID draws the
// preview inside the window ID and ends with it, a ends, c and no argument show the version box,
// anything else runs the game.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

enum WinSaverAction : u8 { SAVER_RUN, SAVER_PREVIEW, SAVER_END, SAVER_ABOUT };

// What the arguments (the game's own, without the program) ask for; *parent is the preview's
// window id, strictly decimal. A preview id that is not a window id ends the run.
WinSaverAction WinSaverParse(const std::vector<std::string>& args, u64* parent);
// The window id xscreensaver names in XSCREENSAVER_WINDOW ("0x" and hexadecimal digits); 0 when
// the text is not one.
u64 WinSaverParseWindowId(const std::string& text);
// 0 the normal run follows (in the xscreensaver window when one is named); -1 the run ends.
i32 WinSaverArgs();

// The preview: 0 created, 1 failed.
i32 WinSaverPreviewCreate(u64 parent);
void WinSaverPreviewProc(u32 msg);
// The stored preview bitmap (heap copy, the caller frees it) and its size; null when missing.
u8* WinSaverLoadBitmap(u32* size);

// The preview picture: the 54-byte header, then width * 3 * height bytes of bottom-up rows as
// stored (no padding). Filled into top-down BGRA pixels (width * height * 4 bytes, heap).
// 0, or -1 when the sizes do not hold (nothing is read past size).
i32 WinSaverDecodePreview(const u8* bmp, u32 size, u8** pixels, i32* width, i32* height);

// The preview's picture, freed at program exit.
void MemStaticFree();
void MemStaticFreeRegister();
