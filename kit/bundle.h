// Standalone games: a copy of the zephra executable with a pack appended. The copy's "ZP_RES"
// marker block is patched to the executable's own size A; at A follow "ZPER", the pack offset
// (16, from A), the preview size (0: not a screen saver), 4 bytes not read, then the pack.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// Returns 0, or -1 with a message in err. With a preview picture (a 24-bit uncompressed BMP) the
// game is a screen saver: the picture is stored at A + 16 as a 54-byte header and unpadded
// bottom-up rows of width * 3 bytes, its size at A + 8, and the pack follows it.
int KitBundleWrite(const std::string& zephra_native, const std::string& pack_native, const std::string& out_native,
                   std::string* err, const std::string& preview_bmp_native = "");
// The stored form of a preview picture from a 24-bit BMP file (rows padded or not, bottom-up or
// top-down). Returns 0, or -1 with err.
int KitSaverPreviewFromBmp(const std::vector<u8>& bmp, std::vector<u8>* out, std::string* err);
