// Shift-JIS width and case conversions (see sjis_conv.h). The tables hold the double-byte code of
// each single-byte character; the half-width direction searches them, so the two directions can
// never disagree.
#include "common/sjis_conv.h"

#include <cstring>

#include "common/sjis.h"

namespace {

// Printable ASCII 0x20-0x7E.
const u16 kAsciiWide[95] = {
    0x8140, 0x8149, 0x8168, 0x8194, 0x8190, 0x8193, 0x8195, 0x8166, 0x8169, 0x816A, 0x8196, 0x817B, 0x8143, 0x817C,
    0x8144, 0x815E, 0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256, 0x8257, 0x8258, 0x8146, 0x8147,
    0x8183, 0x8181, 0x8184, 0x8148, 0x8197, 0x8260, 0x8261, 0x8262, 0x8263, 0x8264, 0x8265, 0x8266, 0x8267, 0x8268,
    0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E, 0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276,
    0x8277, 0x8278, 0x8279, 0x816D, 0x818F, 0x816E, 0x814F, 0x8151, 0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285,
    0x8286, 0x8287, 0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F, 0x8290, 0x8291, 0x8292, 0x8293,
    0x8294, 0x8295, 0x8296, 0x8297, 0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8150,
};

// Half-width katakana 0xA1-0xDF.
const u16 kKanaWide[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385,
    0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E, 0x8350, 0x8352,
    0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384,
    0x8386, 0x8388, 0x8389, 0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

u16 WideOf(u8 c) {
  if (c >= 0x20 && c <= 0x7E) return kAsciiWide[c - 0x20];
  if (c >= 0xA1 && c <= 0xDF) return kKanaWide[c - 0xA1];
  return 0;
}

u8 NarrowOf(u16 code) {
  for (int k = 0; k < 95; k++)
    if (kAsciiWide[k] == code) return static_cast<u8>(0x20 + k);
  for (int k = 0; k < 63; k++)
    if (kKanaWide[k] == code) return static_cast<u8>(0xA1 + k);
  return 0;
}

// Appends n bytes when they fit with the terminator; false once the output is full.
bool Put(char* dst, size_t dst_size, size_t* at, const u8* bytes, size_t n) {
  if (*at + n + 1 > dst_size) return false;
  std::memcpy(dst + *at, bytes, n);
  *at += n;
  return true;
}

}  // namespace

size_t StrToFullWidthSjis(char* dst, size_t dst_size, const char* src) {
  size_t at = 0;
  for (size_t i = 0; src[i];) {
    size_t n = SjisCharLen(src + i);
    u8 out[2] = {static_cast<u8>(src[i]), n == 2 ? static_cast<u8>(src[i + 1]) : u8{0}};
    u16 wide = n == 1 ? WideOf(out[0]) : 0;
    if (wide) {
      out[0] = static_cast<u8>(wide >> 8);
      out[1] = static_cast<u8>(wide);
    }
    if (!Put(dst, dst_size, &at, out, wide ? 2 : n)) break;
    i += n;
  }
  dst[at] = '\0';
  return at;
}

// A voiced katakana (ガ, パ, ヴ ...) as its base letter and the half-width voicing mark; 0 for
// any other character. The ranges keep out ヮ, ヰ, ヱ, ヵ and ヶ, which sit next to base letters.
static u8 VoicedBaseOf(u16 code, u8* mark) {
  if (code == 0x8394) {  // ヴ
    *mark = 0xDE;
    return 0xB3;
  }
  const bool ka_to = code >= 0x834B && code <= 0x8368, ha_ho = code >= 0x836F && code <= 0x837C;
  if (!ka_to && !ha_ho) return 0;
  if (u8 base = NarrowOf(static_cast<u16>(code - 1))) {
    *mark = 0xDE;
    return base;
  }
  if (u8 base = ha_ho ? NarrowOf(static_cast<u16>(code - 2)) : 0) {
    *mark = 0xDF;
    return base;
  }
  return 0;
}

size_t StrToHalfWidthSjis(char* dst, size_t dst_size, const char* src) {
  size_t at = 0;
  for (size_t i = 0; src[i];) {
    size_t n = SjisCharLen(src + i);
    const u16 code = n == 2 ? static_cast<u16>(static_cast<u8>(src[i]) << 8 | static_cast<u8>(src[i + 1])) : 0;
    u8 out[2] = {n == 2 ? NarrowOf(code) : u8{0}, 0};
    size_t len = 1;
    if (n == 2 && !out[0]) {
      out[0] = VoicedBaseOf(code, &out[1]);
      len = 2;
    }
    bool ok =
        out[0] ? Put(dst, dst_size, &at, out, len) : Put(dst, dst_size, &at, reinterpret_cast<const u8*>(src + i), n);
    if (!ok) break;
    i += n;
  }
  dst[at] = '\0';
  return at;
}

void StrUpperAsciiSjis(char* s) {
  for (size_t i = 0; s[i];) {
    size_t n = SjisCharLen(s + i);
    if (n == 1 && s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - 'a' + 'A');
    i += n;
  }
}

static void CaseMb(char* s, bool upper) {
  for (size_t i = 0; s[i];) {
    size_t n = SjisCharLen(s + i);
    u8 c = static_cast<u8>(s[i]);
    if (n == 1) {
      if (upper && c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 'a' + 'A');
      if (!upper && c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c - 'A' + 'a');
    } else if (c == 0x82) {
      u8 t = static_cast<u8>(s[i + 1]);
      if (upper && t >= 0x81 && t <= 0x9A) s[i + 1] = static_cast<char>(t - 0x21);
      if (!upper && t >= 0x60 && t <= 0x79) s[i + 1] = static_cast<char>(t + 0x21);
    }
    i += n;
  }
}

void StrUpperMbSjis(char* s) { CaseMb(s, true); }
void StrLowerMbSjis(char* s) { CaseMb(s, false); }

size_t StrCharCountSjis(const char* s) {
  size_t count = 0;
  for (size_t i = 0; s[i]; i += SjisCharLen(s + i)) count++;
  return count;
}

size_t StrCharOffsetSjis(const char* s, size_t n) {
  size_t i = 0;
  for (size_t k = 0; k < n && s[i]; k++) i += SjisCharLen(s + i);
  return i;
}
