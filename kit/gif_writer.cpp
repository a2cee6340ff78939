// GIF writer (see gif_writer.h). The coder's table is a child array indexed by (code, index);
// entries are defined from clear code + 2 upward, one per data code, and the code width grows
// once the next entry no longer fits it, the same rule the runtime's decoder follows one code
// later.
#include "kit/gif_writer.h"

#include <algorithm>
#include <cstring>

namespace {

struct BitWriter {
  std::vector<u8>* out;
  u32 acc = 0, count = 0;
  void Put(u32 code, u32 width) {
    acc |= code << count;
    count += width;
    while (count >= 8) {
      out->push_back(static_cast<u8>(acc));
      acc >>= 8;
      count -= 8;
    }
  }
  void Flush() {
    if (count > 0) out->push_back(static_cast<u8>(acc));
    acc = count = 0;
  }
};

void Put16(std::vector<u8>* out, u32 v) {
  out->push_back(static_cast<u8>(v));
  out->push_back(static_cast<u8>(v >> 8));
}

// The size code of a colour table (entries = 2 << code) and the table padded to that size.
u8 PaletteCode(const std::vector<u8>& palette, std::vector<u8>* padded) {
  size_t entries = (palette.size() + 2) / 3;
  u8 code = 0;
  while ((2u << code) < entries && code < 7) code++;
  *padded = palette;
  padded->resize(size_t{3} << (code + 1), 0);
  return code;
}

}  // namespace

std::vector<u8> KitGifLzwEncode(const u8* indexes, size_t n, const KitGifCodeOptions& opt, KitGifCodeStats* stats) {
  KitGifCodeStats local;
  KitGifCodeStats& st = stats ? *stats : local;
  const u32 clear = 1u << opt.min_code_size, end = clear + 1;
  std::vector<u8> out;
  BitWriter bw{&out};
  const u32 symbols = std::min<u32>(clear, 256);      // indexes are bytes
  std::vector<u16> child(size_t{4096} * symbols, 0);  // 0: none (no entry is code 0)
  std::vector<u32> used;                              // slots of child to empty at a clear
  u32 next = clear + 2, width = opt.min_code_size + 1;
  i64 last_defined = -1;
  u32 since_clear = 0;

  auto reset = [&] {
    for (u32 slot : used) child[slot] = 0;
    used.clear();
    next = clear + 2;
    width = opt.min_code_size + 1;
    last_defined = -1;
    since_clear = 0;
  };
  auto put_clear = [&] {
    bw.Put(clear, width);
    st.clears++;
    reset();
  };
  // Writes the code of the current string; the string + k becomes the next entry.
  auto emit = [&](u32 code, i32 k) {
    if (static_cast<i64>(code) == last_defined) st.kwkwk++;
    if (next >= 4096) st.full_codes++;
    bw.Put(code, width);
    st.codes++;
    since_clear++;
    last_defined = -1;
    if (k < 0) {
      // The decoder counts the last code too before it reads the end code.
      if (next + 1 > (1u << width) && width < 12) width++;
      return;
    }
    if (next < 4096) {
      u32 slot = code * symbols + static_cast<u32>(k);
      child[slot] = static_cast<u16>(next);
      used.push_back(slot);
      last_defined = next;
      st.max_defined = std::max(st.max_defined, next);
      next++;
      if (next > (1u << width) && width < 12) width++;
    }
    if (next >= 4096 && !opt.keep_full) put_clear();
    else if (opt.clear_every && since_clear >= opt.clear_every) put_clear();
  };

  if (opt.clear_first) put_clear();
  if (n > 0) {
    u32 cur = indexes[0] & (symbols - 1u);  // an index beyond the code size wraps
    for (size_t i = 1; i < n; i++) {
      u32 k = indexes[i] & (symbols - 1u);
      u16 c = child[cur * symbols + k];
      if (c) {
        cur = c;
        continue;
      }
      emit(cur, static_cast<i32>(k));
      cur = k;
    }
    emit(cur, -1);
  }
  bw.Put(end, width);
  bw.Flush();
  return out;
}

std::vector<u8> KitGifSubBlocks(const u8* data, size_t n) {
  std::vector<u8> out;
  for (size_t at = 0; at < n; at += 255) {
    size_t len = std::min<size_t>(255, n - at);
    out.push_back(static_cast<u8>(len));
    out.insert(out.end(), data + at, data + at + len);
  }
  out.push_back(0);
  return out;
}

std::vector<u8> KitGifComment(const std::string& text) {
  std::vector<u8> out = {0x21, 0xFE};
  std::vector<u8> body = KitGifSubBlocks(reinterpret_cast<const u8*>(text.data()), text.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<u8> KitGifPlainText(const std::string& text) {
  // Grid at (0, 0) of 8 x 8 cells of 8 x 8 pixels, colours 1 on 0.
  std::vector<u8> out = {0x21, 0x01, 12, 0, 0, 0, 0, 64, 0, 64, 0, 8, 8, 1, 0};
  std::vector<u8> body = KitGifSubBlocks(reinterpret_cast<const u8*>(text.data()), text.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<u8> KitGifApplication(const std::string& identifier, const std::vector<u8>& first,
                                  const std::vector<u8>& rest) {
  std::vector<u8> out = {0x21, 0xFF, 11};
  std::string id = identifier;
  id.resize(11, ' ');
  out.insert(out.end(), id.begin(), id.end());
  size_t n = std::min<size_t>(first.size(), 255);
  if (n > 0) {
    out.push_back(static_cast<u8>(n));
    out.insert(out.end(), first.begin(), first.begin() + static_cast<long>(n));
  }
  std::vector<u8> body = KitGifSubBlocks(rest.data(), rest.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Rows in the order the four interlace passes store them.
static std::vector<u8> InterlaceRows(const KitGifImage& im) {
  static const u32 kFirst[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  std::vector<u8> out;
  out.reserve(im.indexes.size());
  for (int pass = 0; pass < 4; pass++)
    for (u32 y = kFirst[pass]; y < im.height; y += kStep[pass])
      out.insert(out.end(), im.indexes.begin() + static_cast<long>(y) * im.width,
                 im.indexes.begin() + static_cast<long>(y + 1) * im.width);
  return out;
}

int KitGifEncode(const KitGif& gif, std::vector<u8>* out, KitGifCodeStats* stats) {
  *out = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(out, gif.width);
  Put16(out, gif.height);
  std::vector<u8> global;
  u8 gcode = gif.palette.empty() ? 0 : PaletteCode(gif.palette, &global);
  out->push_back(static_cast<u8>((gif.palette.empty() ? 0 : 0x80) | 0x70 | gcode));
  out->push_back(gif.background);
  out->push_back(0);
  out->insert(out->end(), global.begin(), global.end());
  if (gif.loops >= 0) {
    std::vector<u8> loop = {1, static_cast<u8>(gif.loops), static_cast<u8>(gif.loops >> 8)};
    std::vector<u8> block = KitGifApplication("NETSCAPE2.0", loop);
    out->insert(out->end(), block.begin(), block.end());
  }
  for (const KitGifImage& im : gif.images) {
    if (im.indexes.size() != size_t{im.width} * im.height) return -1;
    out->insert(out->end(), im.before.begin(), im.before.end());
    if (im.control) {
      out->insert(out->end(), {0x21, 0xF9, 4});
      out->push_back(static_cast<u8>((im.disposal & 7) << 2 | (im.transparent ? 1 : 0)));
      Put16(out, im.delay);
      out->push_back(im.transparent_index);
      out->push_back(0);
    }
    out->push_back(0x2C);
    Put16(out, im.left);
    Put16(out, im.top);
    Put16(out, im.width);
    Put16(out, im.height);
    std::vector<u8> local;
    u8 lcode = im.palette.empty() ? 0 : PaletteCode(im.palette, &local);
    out->push_back(static_cast<u8>((im.palette.empty() ? 0 : 0x80) | (im.interlaced ? 0x40 : 0) | lcode));
    out->insert(out->end(), local.begin(), local.end());
    out->push_back(static_cast<u8>(im.code.min_code_size));
    std::vector<u8> rows = im.interlaced ? InterlaceRows(im) : im.indexes;
    std::vector<u8> codes = KitGifLzwEncode(rows.data(), rows.size(), im.code, stats);
    std::vector<u8> blocks = KitGifSubBlocks(codes.data(), codes.size());
    out->insert(out->end(), blocks.begin(), blocks.end());
  }
  out->insert(out->end(), gif.after.begin(), gif.after.end());
  out->push_back(0x3B);
  return 0;
}
