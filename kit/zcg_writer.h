// The kit's writer of the engine's own picture format ".zcg", built on the same header numbers
// the runtime's decoder reads (layer/image.h), so writer and reader cannot drift.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// Encodes a width x height picture of B, G, R, A pixels (rows top-down, stride width * 4).
// method 0 stores the pixels raw; method 1 stores two zlib streams, the first holding the first
// split bytes of the pixels (at most all of them), the second the rest. Returns 0, or -1 for a
// size outside 1 to 8192 or an unknown method.
int KitZcgEncode(const u8* bgra, i32 width, i32 height, u32 method, u64 split, std::vector<u8>* out);

// Method 1 with the pixels cut in the middle, the way pictures are usually stored.
u64 KitZcgDefaultSplit(i32 width, i32 height);

// Writes a file through a temporary file renamed into place. 0 or -1.
int KitZcgWriteFile(const char* path, const u8* bgra, i32 width, i32 height, u32 method, u64 split);

// A BMP, PNG or JPEG file's bytes (chosen by the name's extension) decoded by the runtime's own
// decoders and encoded as ".zcg" (method 1, default split). 0, 1 when the name is no such picture
// (out untouched), or -1 with a message in err when the file does not decode.
int KitZcgFromPictureFile(const std::string& name, const std::vector<u8>& data, std::vector<u8>* out, std::string* err);
