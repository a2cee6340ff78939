// Shift-JIS helpers over the lead-byte table; see sjis.h for the stepping rule.
#include "common/sjis.h"

#include <cstdlib>
#include <cstring>

static constexpr struct LeadTableHolder {
  u8 v[256];
  constexpr LeadTableHolder() : v() {
    for (int c = 0; c < 256; c++) v[c] = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 1 : 0;
  }
} kLead{};

const u8 g_SjisLeadTable[256] = {
#define R(i) kLead.v[i], kLead.v[i + 1], kLead.v[i + 2], kLead.v[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96),  R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
#undef R
};

void StrLowerSjis(char* s) {
  while (*s) {
    size_t n = SjisCharLen(s);
    if (n == 1 && *s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s + ('a' - 'A'));
    s += n;
  }
}

void StrReplaceCharSjis(char* s, char from, char to) {
  while (*s) {
    size_t n = SjisCharLen(s);
    if (n == 1 && *s == from) *s = to;
    s += n;
  }
}

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

int StrEndsWith(const char* s, const char* suffix) {
  size_t ls = std::strlen(s), lx = std::strlen(suffix);
  if (ls < lx) return 0;
  const char* t = s + ls - lx;
  for (size_t i = 0; i < lx; i++)
    if (LowerAscii(t[i]) != LowerAscii(suffix[i])) return 0;
  return 1;
}

int StrFileNamePartSjis(char* dst, size_t dst_size, const char* path) {
  const char* after = nullptr;
  for (const char* p = path; *p;) {
    size_t n = SjisCharLen(p);
    if (n == 1 && (*p == '\\' || *p == '/')) after = p + 1;
    p += n;
  }
  StrCopySjis(dst, dst_size, after ? after : "");
  return 0;
}

size_t StrCutSjis(const char* s, size_t len, size_t max_bytes) {
  size_t i = 0;
  while (i < len) {
    size_t n = (SjisIsLead(static_cast<u8>(s[i])) && i + 1 < len && s[i + 1] != '\0') ? 2 : 1;
    if (i + n > max_bytes) break;
    i += n;
  }
  return i;
}

size_t StrCopySjis(char* dst, size_t dst_size, const char* src) {
  if (dst_size == 0) return 0;
  size_t n = StrCutSjis(src, std::strlen(src), dst_size - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return n;
}

bool StrEqualNoCaseSjis(const char* a, const char* b) {
  while (*a && *b) {
    size_t na = SjisCharLen(a), nb = SjisCharLen(b);
    if (na != nb) return false;
    if (na == 1) {
      if (LowerAscii(*a) != LowerAscii(*b)) return false;
    } else if (a[0] != b[0] || a[1] != b[1]) {
      return false;
    }
    a += na;
    b += nb;
  }
  return *a == *b;
}

i32 MemChainFollow(const i32* table, i32 start, i32 bound) {
  i32 i = start;
  for (int steps = 0; i > bound && steps < 4096; steps++) i = table[i];
  return i;
}

void* MemAllocZeroed(size_t n) { return std::calloc(1, n ? n : 1); }
