// Standalone games: a copy of the zephra executable with a pack appended. The copy's "ZP_RES"
// marker block is patched to the executable's own size A; at A follow "ZPER", the pack offset
// (16, from A), the preview size (0: not a screen saver), 4 bytes not read, then the pack.
#pragma once
#include <string>

// Returns 0, or -1 with a message in err.
int KitBundleWrite(const std::string& zephra_native, const std::string& pack_native, const std::string& out_native,
                   std::string* err);
