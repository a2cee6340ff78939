// Shift-JIS width and case conversions of the variable utilities. Each reads a NUL-terminated
// text and writes into dst (capacity dst_size, at least 1), cut before a character that does not
// fit whole, so the result is always terminated and never splits a double-byte character.
#pragma once
#include <cstddef>

#include "common/types.h"

// Single-byte characters to their full-width forms: printable ASCII through the code page's
// double-byte mapping, half-width katakana 0xA1-0xDF through a fixed table. Others unchanged.
size_t StrToFullWidthSjis(char* dst, size_t dst_size, const char* src);
// The reverse: every double-byte character that has a single-byte form gets it; voiced katakana
// become the base letter and the half-width voicing mark.
size_t StrToHalfWidthSjis(char* dst, size_t dst_size, const char* src);
// A-Z / a-z in place, stepping over double-byte characters.
void StrUpperAsciiSjis(char* s);
// A-Z / a-z and the full-width Latin letters (0x8260-0x8279 upper, 0x8281-0x829A lower) in place.
void StrUpperMbSjis(char* s);
void StrLowerMbSjis(char* s);
// Characters of a text, a double-byte character counting as one.
size_t StrCharCountSjis(const char* s);
// Byte offset of character n (counted from 0); the text's length when n is at or past the end.
size_t StrCharOffsetSjis(const char* s, size_t n);
