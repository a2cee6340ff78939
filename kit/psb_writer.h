// The kit's writer of the animated-character file ".psb" (the format is described with its
// reader, emote/psb.h, whose model both share), and the readable description it is made from.
//
// The description ("zpkit psb SRC OUT.psb"), one statement a line, "#" starts a comment:
//   canvas W H
//   var NAME DEFAULT
//   part NAME PICTURE.png PARENT|- X Y PIVOTX PIVOTY      (picture relative to the description)
//   bind PART x|y|scale|rotation|opacity|visible VAR IN:OUT ...   (variable value -> property)
//   clip motion|timeline NAME LENGTH [loop] [auto]          (auto: starts with the player)
//   track VAR FRAME:VALUE ...                               (a track of the last clip)
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "emote/psb.h"

// The file's bytes for a model. 0, or -1 with err for a model the reader would refuse.
int KitPsbEncode(const EmoteModel& m, std::vector<u8>* out, std::string* err);
// A model from a description; pictures are read relative to folder. 0, or -1 with err (the line).
int KitPsbParse(const std::string& text, const std::string& folder, EmoteModel* m, std::string* err);
// SRC description to OUT file (written through a temporary file). 0, or -1 with err.
int KitPsbWriteFile(const std::string& src, const std::string& out, std::string* err);
