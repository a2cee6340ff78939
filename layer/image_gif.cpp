// GIF decoder (see image_gif.h). Table invariant of the LZW decoder: an entry is defined only
// with the last code as its prefix, and the last code is always a pixel or an entry defined
// before, so every prefix chain runs strictly downwards to a pixel; an entry is defined only
// while the code it defines is at most 4095, so a stream that leaves the table full and goes on
// without a clear code decodes with the table as it stands.
#include "layer/image_gif.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "layer/image.h"

// ---- Byte readers ----------------------------------------------------------------------------

static const u8* g_GifData;
static u32 g_GifPos;
static u32 g_GifSize;

static u8 ImageGifReadByte() { return g_GifPos < g_GifSize ? g_GifData[g_GifPos++] : 0; }

static u32 ImageGifReadWord() {
  u32 lo = ImageGifReadByte();
  return lo | u32{ImageGifReadByte()} << 8;
}

// Copies up to n bytes; the part past the end of the data is zero-filled.
static void ImageGifReadBytes(u8* dst, u32 n) {
  u32 have = std::min(n, g_GifSize - g_GifPos);
  if (have) std::memcpy(dst, g_GifData + g_GifPos, have);
  std::memset(dst + have, 0, n - have);
  g_GifPos += have;
}

static void SkipBytes(u32 n) { g_GifPos += std::min(n, g_GifSize - g_GifPos); }

// Data sub-blocks up to and including the zero-length terminator (or the end of the data).
static void SkipSubBlocks() {
  for (u8 n = ImageGifReadByte(); n != 0; n = ImageGifReadByte()) SkipBytes(n);
}

// ---- Blocks ----------------------------------------------------------------------------------

void* ImageGifAllocBlock(u64 n) {
  // The size sits in a 16-byte head so the block itself stays aligned.
  if (n > SIZE_MAX - 16) return nullptr;
  u8* p = static_cast<u8*>(std::calloc(1, static_cast<size_t>(n) + 16));
  if (!p) return nullptr;
  std::memcpy(p, &n, sizeof n);
  return p + 16;
}

void ImageGifFreeBlock(void* block) {
  if (block) std::free(static_cast<u8*>(block) - 16);
}

ImageGifFrame** ImageGifNewFrameTable() {
  return static_cast<ImageGifFrame**>(std::calloc(IMAGE_GIF_MAX_FRAMES, sizeof(ImageGifFrame*)));
}

void ImageGifFreeFrames(ImageGifFrame** table) {
  if (!table) return;
  for (int i = 0; i < IMAGE_GIF_MAX_FRAMES; i++) ImageGifFreeBlock(table[i]);
  std::free(table);
}

// ---- LZW -------------------------------------------------------------------------------------

// next_free stops here: far enough that no code can be defined any more.
enum { NEXT_FREE_CAP = IMAGE_GIF_MAX_CODES + 2 };

void ImageGifStateInit(ImageGifState* s, u32 min_code_size) {
  s->min_code_size = min_code_size;
  s->clear_code = 1u << min_code_size;
  s->end_code = s->clear_code + 1;
  s->next_free = s->clear_code + 2;
  s->code_width = min_code_size + 1;
  s->code_limit = 1u << s->code_width;
  s->last_code = IMAGE_GIF_NO_CODE;
  s->stack_size = 0;
  s->bits = s->bit_count = 0;
  s->end_of_data = 0;
  s->block_pos = s->block_len = 0;
  for (i32& p : s->prefix) p = IMAGE_GIF_NO_CODE;
}

u8 ImageGifNextByte(ImageGifState* s) {
  if (s->end_of_data) return 0;
  if (s->block_pos < s->block_len) return s->block[s->block_pos++];
  u8 n = ImageGifReadByte();
  if (n == 0) {
    s->end_of_data = 1;
    return 0;
  }
  ImageGifReadBytes(s->block, n);
  s->block_len = n;
  s->block_pos = 1;
  return s->block[0];
}

u32 ImageGifReadCode(ImageGifState* s) {
  while (s->bit_count < s->code_width) {
    s->bits |= u32{ImageGifNextByte(s)} << s->bit_count;
    s->bit_count += 8;
  }
  u32 code = s->bits & ((1u << s->code_width) - 1);
  s->bits >>= s->code_width;
  s->bit_count -= s->code_width;
  if (s->next_free < NEXT_FREE_CAP) s->next_free++;
  if (s->next_free > s->code_limit && s->code_width < 12) {
    s->code_limit <<= 1;
    s->code_width++;
  }
  return code;
}

static void ClearTable(ImageGifState* s) {
  // Only entries defined since the last clear can differ from "no code".
  u32 hi = std::min<u32>(s->next_free, IMAGE_GIF_MAX_CODES + 2);
  for (u32 e = s->clear_code + 2; e + 2 <= hi && e < IMAGE_GIF_MAX_CODES; e++) s->prefix[e] = IMAGE_GIF_NO_CODE;
  s->next_free = s->end_code + 1;
  s->code_width = s->min_code_size + 1;
  s->code_limit = 1u << s->code_width;
  s->last_code = IMAGE_GIF_NO_CODE;
}

i32 ImageGifDecodeLine(ImageGifState* s, u8* row, u32 length) {
  u32 i = 0;
  u8* stack = s->stack;
  while (s->stack_size > 0 && i < length) row[i++] = stack[--s->stack_size];
  while (i < length) {
    u32 c = ImageGifReadCode(s);
    if (c == s->end_code) return length - i == 1 ? 0 : -1;  // one pixel short counts as full
    if (c == s->clear_code) {
      ClearTable(s);
      continue;
    }
    u32 first;
    if (c < s->clear_code) {
      first = c;
      row[i++] = static_cast<u8>(c);
    } else {
      u32 sp = 0;
      u32 code = c;
      if (s->prefix[c] == IMAGE_GIF_NO_CODE) {
        // Only the entry this very code defines may be used before it exists (KwKwK).
        if (c != s->next_free - 2 || s->last_code == IMAGE_GIF_NO_CODE) return -1;
        stack[sp++] =
            static_cast<u8>(MemChainFollow(s->prefix, static_cast<i32>(s->last_code), static_cast<i32>(s->clear_code)));
        code = s->last_code;
      }
      while (code > s->clear_code) {
        if (code >= IMAGE_GIF_MAX_CODES || sp >= IMAGE_GIF_MAX_CODES - 1) return -1;
        stack[sp++] = s->suffix[code];
        code = static_cast<u32>(s->prefix[code]);
      }
      first = code;
      stack[sp++] = static_cast<u8>(code);
      while (sp > 0 && i < length) row[i++] = stack[--sp];
      s->stack_size = sp;
    }
    if (s->last_code != IMAGE_GIF_NO_CODE && s->next_free - 2 < IMAGE_GIF_MAX_CODES) {
      u32 e = s->next_free - 2;
      s->prefix[e] = static_cast<i32>(s->last_code);
      s->suffix[e] = static_cast<u8>(first);
    }
    s->last_code = c;
  }
  return 0;
}

void ImageGifSkipData(ImageGifState* s) {
  if (s->end_of_data) return;
  SkipSubBlocks();
  s->end_of_data = 1;
}

// ---- Parser ----------------------------------------------------------------------------------

namespace {

// The graphic-control and loop values in force; they carry from one image to the next.
struct GifControl {
  u32 disposal, transparent, delay, transparent_index, loop_count;
};

struct GifDecode {
  ImageGifFrame** table;
  ImageGifState* state;
  GifControl control;
  u8 palette[768];  // the palette in force
  u32 frame_index;
  u64 record_bytes;  // of this file's records so far
};

}  // namespace

static void ReadPalette(u8* palette, u8 packed) { ImageGifReadBytes(palette, 3u << ((packed & 7) + 1)); }

// Once the data has ended and no bit or stacked pixel is left, every further code is pixel 0,
// which the zeroed rows already hold: a short file asking for a huge image stops there.
static bool OnlyZerosLeft(const ImageGifState* s) { return s->end_of_data && s->bits == 0 && s->stack_size == 0; }

static void DecodeRows(ImageGifState* s, u8* indexes, u32 width, u32 height, bool interlaced) {
  static const u32 kPassFirst[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};
  if (!interlaced) {
    for (u32 y = 0; y < height && !OnlyZerosLeft(s); y++)
      ImageGifDecodeLine(s, indexes + static_cast<size_t>(y) * width, width);
    return;
  }
  for (int pass = 0; pass < 4; pass++)
    for (u32 y = kPassFirst[pass]; y < height && !OnlyZerosLeft(s); y += kPassStep[pass])
      ImageGifDecodeLine(s, indexes + static_cast<size_t>(y) * width, width);
}

// One image: its descriptor, palette and code stream into the next record. 0, or -1.
static int ReadImage(GifDecode* d) {
  u32 left = ImageGifReadWord(), top = ImageGifReadWord();
  u32 width = ImageGifReadWord(), height = ImageGifReadWord();
  u8 packed = ImageGifReadByte();
  if (packed & 0x80) ReadPalette(d->palette, packed);
  u32 min_code_size = ImageGifReadByte();
  if (width > IMAGE_MAX_SIZE || height > IMAGE_MAX_SIZE || min_code_size > IMAGE_GIF_MAX_MIN_CODE_SIZE) return -1;

  u64 bytes = u64{width} * height + IMAGE_GIF_INDEX_OFFSET + IMAGE_GIF_RECORD_SPARE;
  u32 index = d->frame_index++;
  if (index >= IMAGE_GIF_MAX_FRAMES || d->record_bytes + bytes > kImageGifRecordBudget) {
    // Read over without a record; a record left from an earlier file goes too.
    if (index < IMAGE_GIF_MAX_FRAMES) {
      ImageGifFreeBlock(d->table[index]);
      d->table[index] = nullptr;
    }
    d->state->end_of_data = 0;
    ImageGifSkipData(d->state);
    return 0;
  }
  ImageGifFrame* f = static_cast<ImageGifFrame*>(ImageGifAllocBlock(bytes));
  if (!f) return -1;
  ImageGifFreeBlock(d->table[index]);
  d->table[index] = f;
  d->record_bytes += bytes;
  f->left = left;
  f->top = top;
  f->width = width;
  f->height = height;
  f->disposal = d->control.disposal;
  f->transparent = d->control.transparent;
  f->delay = d->control.delay;
  f->transparent_index = d->control.transparent_index;
  f->loop_count = d->control.loop_count;
  std::memcpy(f->palette, d->palette, sizeof f->palette);

  ImageGifStateInit(d->state, min_code_size);
  DecodeRows(d->state, ImageGifIndexes(f), width, height, (packed & 0x40) != 0);
  ImageGifSkipData(d->state);
  return 0;
}

// An extension after its 0x21 introducer. Blocks are read by their own size bytes, so a longer
// block than usual (an XMP packet, a colour profile) is passed over whole. 0, or -1 for an
// unknown label.
static int ReadExtension(GifDecode* d) {
  u8 label = ImageGifReadByte();
  u8 buf[255];
  switch (label) {
    case 0xF9: {  // graphic control
      u8 n = ImageGifReadByte();
      std::memset(buf, 0, sizeof buf);
      ImageGifReadBytes(buf, n);
      d->control.disposal = (buf[0] >> 2) & 7;
      d->control.transparent = buf[0] & 1;
      d->control.delay = buf[1] | u32{buf[2]} << 8;
      d->control.transparent_index = buf[3];
      if (n != 0) SkipSubBlocks();
      return 0;
    }
    case 0xFE:  // comment
    case 0x01:  // plain text: its 12-byte header is the first sub-block
      SkipSubBlocks();
      return 0;
    case 0xFF: {  // application: identifier, then a first data sub-block that may hold the loop count
      u8 n = ImageGifReadByte();
      if (n == 0) return 0;
      SkipBytes(n);
      n = ImageGifReadByte();
      if (n == 0) return 0;
      ImageGifReadBytes(buf, n);
      if (n >= 3) d->control.loop_count = buf[1] | u32{buf[2]} << 8;
      SkipSubBlocks();
      return 0;
    }
    default: return -1;
  }
}

static int ReadBlocks(GifDecode* d) {
  for (;;) {
    u8 b = ImageGifReadByte();
    if (b == 0x3B) return d->frame_index > 0 ? 0 : -1;  // a file without an image shows nothing
    if (b == 0x2C) {
      if (ReadImage(d) != 0) return -1;
    } else if (b != 0x21 || ReadExtension(d) != 0) {
      return -1;
    }
  }
}

// Frame 0 into the logical screen, clipped to it; every pixel outside it is clear.
static int DrawFirstFrame(const ImageGifFrame* f, u32 screen_w, u32 screen_h, const char* name, ImagePicture* pic) {
  if (!f) return -1;
  i32 w = static_cast<i32>(screen_w), h = static_cast<i32>(screen_h);
  u8* px = ImageAllocPixels(pic->pixels, w, h, name);
  if (!px) return -1;
  pic->pixels = px;
  pic->width = w;
  pic->height = h;
  std::memset(px, 0, static_cast<size_t>(w) * h * 4);

  u32 colours[256];
  for (u32 i = 0; i < 256; i++) {
    const u8* p = f->palette + i * 3;
    colours[i] = 0xFF000000u | u32{p[0]} << 16 | u32{p[1]} << 8 | p[2];
  }
  if (f->transparent) colours[f->transparent_index & 255] = 0;

  u32 cw = f->left < screen_w ? std::min(f->width, screen_w - f->left) : 0;
  u32 ch = f->top < screen_h ? std::min(f->height, screen_h - f->top) : 0;
  const u8* src = ImageGifIndexes(const_cast<ImageGifFrame*>(f));
  for (u32 y = 0; y < ch; y++) {
    const u8* s = src + static_cast<size_t>(y) * f->width;
    u8* d = px + (static_cast<size_t>(f->top + y) * screen_w + f->left) * 4;
    for (u32 x = 0; x < cw; x++, d += 4) std::memcpy(d, &colours[s[x]], 4);
  }
  bool covers = f->left == 0 && f->top == 0 && f->width >= screen_w && f->height >= screen_h;
  pic->has_alpha = f->transparent || !covers ? 1 : 0;
  return 0;
}

static int DecodeFile(const char* name, ImagePicture* pic) {
  SkipBytes(6);  // the signature is not checked
  u32 screen_w = ImageGifReadWord(), screen_h = ImageGifReadWord();
  u8 packed = ImageGifReadByte();
  SkipBytes(2);  // background colour, aspect ratio

  GifDecode d{};
  d.control.loop_count = 1;
  if (packed & 0x80) ReadPalette(d.palette, packed);
  if (screen_w > IMAGE_MAX_SIZE || screen_h > IMAGE_MAX_SIZE) {
    ErrRaiseAtScriptF(IMAGE_ERR_TOO_LARGE, 1, name);
    return -1;
  }
  if (screen_w == 0 || screen_h == 0) return -1;

  d.table = pic->gif_frames ? pic->gif_frames : ImageGifNewFrameTable();
  d.state = static_cast<ImageGifState*>(ImageGifAllocBlock(sizeof(ImageGifState)));
  int r = -1;
  if (d.table && d.state && ReadBlocks(&d) == 0) r = DrawFirstFrame(d.table[0], screen_w, screen_h, name, pic);
  ImageGifFreeBlock(d.state);
  if (!pic->gif_frames) ImageGifFreeFrames(d.table);
  return r;
}

int ImageDecodeGif(const u8* data, u32 size, const char* name, ImagePicture* pic) {
  g_GifData = data;
  g_GifPos = 0;
  g_GifSize = data ? size : 0;
  int r = DecodeFile(name, pic);
  g_GifData = nullptr;
  g_GifPos = g_GifSize = 0;
  return r;
}
