// The checks a build runs on a game's source: what the engine would refuse at start-up is an
// error; what it would meet only when a line runs, or would show otherwise than the author
// meant, is a warning naming the file and line.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "kit/build.h"

// Returns 0 with the warnings appended (UTF-8), or -1 with err when the game could not start.
int KitCheckGame(const KitGameSource& src, const KitScriptFacts& facts, std::vector<std::string>* warnings,
                 std::string* err);
// Whether a PNG file carries a transparency chunk (tRNS) ahead of its image data.
bool KitPngHasTrns(const std::vector<u8>& png);
