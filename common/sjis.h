// Shift-JIS (code page 932) string helpers. Every helper steps over the trail byte of a
// double-byte character, and a lead byte right before the terminating zero never makes a
// helper step past the end of the string.
#pragma once
#include <string>

#include "common/types.h"

// 1 for the lead bytes 0x81-0x9F and 0xE0-0xFC; 0xA1-0xDF are single-byte half-width katakana.
extern const u8 g_SjisLeadTable[256];

inline bool SjisIsLead(u8 c) { return g_SjisLeadTable[c] != 0; }

// Length in bytes of the character at s (1 or 2); 1 for a lead byte followed by the terminator.
inline size_t SjisCharLen(const char* s) { return (SjisIsLead(static_cast<u8>(s[0])) && s[1] != '\0') ? 2 : 1; }

// A-Z become a-z in place; double-byte characters are left alone.
void StrLowerSjis(char* s);
// Every single-byte character equal to from becomes to.
void StrReplaceCharSjis(char* s, char from, char to);
// 1 when s ends with suffix, A-Z compared without regard to case.
int StrEndsWith(const char* s, const char* suffix);
// Copies the part after the last "\" or "/" into dst (capacity dst_size); empty when the path has
// no separator or ends in one. Returns 0.
int StrFileNamePartSjis(char* dst, size_t dst_size, const char* path);
// Bounded copy into a fixed buffer: at most dst_size - 1 bytes, cut before a character that does
// not fit whole; always terminated when dst_size > 0. Returns the number of bytes copied.
size_t StrCopySjis(char* dst, size_t dst_size, const char* src);
// Byte count of the longest prefix of s[0..len) that is at most max_bytes and ends on a
// character boundary.
size_t StrCutSjis(const char* s, size_t len, size_t max_bytes);
// Case-insensitive (A-Z) comparison of two whole strings; double-byte characters compare exactly.
bool StrEqualNoCaseSjis(const char* a, const char* b);

// Follows links of table while the index exceeds bound, at most 4096 steps.
i32 MemChainFollow(const i32* table, i32 start, i32 bound);
// Zero-filled heap block of n bytes (calloc); NULL when the allocation fails. Usable before the
// pixel kernels are chosen.
void* MemAllocZeroed(size_t n);
