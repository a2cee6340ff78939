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
// What a game folder's bundle wrote and what it warns of (paths relative to the bundle, UTF-8).
struct KitBundleReport {
  std::vector<std::string> written;
  std::vector<std::string> warnings;
};
// A folder a player can run, from a game folder that zpkit build made: the standalone game named
// after the folder out_native (the runtime without its debugging sections, the game's one pack
// appended), every other file of the game but its saves (movies, settings files), the character
// player library when the game ships the driver file "emotedriver.dll", and README.txt naming
// the Debian packages a player needs. runtime_native is the zephra to copy; the library is taken
// from beside it. out_native must be new or empty. Returns 0, or -1 with err.
int KitBundleGameFolder(const std::string& runtime_native, const std::string& game_native,
                        const std::string& out_native, KitBundleReport* report, std::string* err);
// The stored form of a preview picture from a 24-bit BMP file (rows padded or not, bottom-up or
// top-down). Returns 0, or -1 with err.
int KitSaverPreviewFromBmp(const std::vector<u8>& bmp, std::vector<u8>* out, std::string* err);
