// The kit's GIF writer: GIF89a files with global and local palettes, interlaced images,
// graphic control (transparency, delay, disposal), comment, plain-text and application blocks,
// and several images, each image coded with its own LZW options: a clear code at will, a table
// cleared when it fills, or a full table kept with no clear code at all (as some encoders do).
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitGifCodeOptions {
  u32 min_code_size = 8;    // written as given (1 to 11 code; the runtime refuses above 11)
  u32 clear_every = 0;      // a clear code after every N data codes; 0: none at will
  bool clear_first = true;  // the stream opens with a clear code
  bool keep_full = false;   // a full table is kept (no clear code); else cleared once code 4095 is defined
};

// What the coder did, so a test can see that the case it wants was really written.
struct KitGifCodeStats {
  u32 codes = 0;        // data codes
  u32 clears = 0;       // clear codes, the opening one included
  u32 kwkwk = 0;        // codes used in the very step that defines them
  u32 max_defined = 0;  // the highest table entry defined
  u32 full_codes = 0;   // data codes written while the table was full
};

// The LZW code stream of n colour indexes (each below 1 << min_code_size), not yet cut into
// sub-blocks. stats (optional) adds up what was written.
std::vector<u8> KitGifLzwEncode(const u8* indexes, size_t n, const KitGifCodeOptions& opt, KitGifCodeStats* stats);

struct KitGifImage {
  u16 left = 0, top = 0, width = 1, height = 1;
  std::vector<u8> indexes;  // width * height, rows top-down
  std::vector<u8> palette;  // local colour table, R, G, B per entry; empty: none
  bool interlaced = false;
  bool control = false;  // a graphic control block before the image
  u8 disposal = 0;
  u16 delay = 0;
  bool transparent = false;
  u8 transparent_index = 0;
  KitGifCodeOptions code;
  std::vector<u8> before;  // whole blocks written before the image (see the helpers below)
};

struct KitGif {
  u16 width = 1, height = 1;  // the logical screen
  std::vector<u8> palette;    // global colour table; empty: none
  u8 background = 0;
  i32 loops = -1;  // a NETSCAPE2.0 loop block when 0 or more
  std::vector<KitGifImage> images;
  std::vector<u8> after;  // whole blocks written before the trailer
};

// 0, or -1 when an image's indexes do not match its size.
int KitGifEncode(const KitGif& gif, std::vector<u8>* out, KitGifCodeStats* stats = nullptr);

// Data cut into sub-blocks of at most 255 bytes, with the zero-length terminator.
std::vector<u8> KitGifSubBlocks(const u8* data, size_t n);
// Whole extension blocks.
std::vector<u8> KitGifComment(const std::string& text);
std::vector<u8> KitGifPlainText(const std::string& text);
// An application block: the 11-byte identifier, then first (one sub-block of 1 to 255 bytes),
// then rest in sub-blocks.
std::vector<u8> KitGifApplication(const std::string& identifier, const std::vector<u8>& first,
                                  const std::vector<u8>& rest = {});
