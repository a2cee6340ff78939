// Inputs shared by the file tests and the fuzz seeds: registry stores in each encoding that
// hold every value type, and CSV texts that exercise each splitting rule.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// UTF-8 to UTF-16LE for the test files (characters of the basic plane).
inline std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size();) {
    u32 c = static_cast<u8>(utf8[i]);
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    if (n == 2) c = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
    if (n == 3) c = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
    i += static_cast<size_t>(n);
  }
  return out;
}

inline const char* const kStoreBody =
    "\r\n; a comment\r\n"
    "[HKEY_CURRENT_USER\\Software\\Zephra Test]\r\n"
    "@=\"default\"\r\n"
    "\"Name\"=\"日本\"\r\n"
    "\"Quote\"=\"a\\\"b\\\\c\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Zero\"=dword:00000000\r\n"
    "\"Bin\"=hex:41,42,00,43\r\n"
    "\"Long\"=hex:41,41,\\\r\n  42,42\r\n"
    "\"Gone\"=\"x\"\r\n"
    "\"Gone\"=-\r\n";
inline const char* const kStoreOther =
    "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
    "\"v\"=\"machine\"\r\n";

// The same store as UTF-16LE, UTF-8 with its byte-order mark, and REGEDIT4.
inline std::vector<std::string> TestRegistryStores() {
  const std::string v5 = std::string("Windows Registry Editor Version 5.00\r\n") + kStoreBody +
                         "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
                         "\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\r\n" +
                         kStoreOther;
  const std::string v4 = std::string("REGEDIT4\n") + kStoreBody +
                         "\"Expand\"=hex(2):25,50,41,54,48,25,00\n\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\n" +
                         kStoreOther;
  return {Utf16(v5), "\xEF\xBB\xBF" + v5, v4};
}

// CSV texts as the command walks them (CR LF appended).
inline std::vector<std::string> TestCsvTexts() {
  return {"a,b\r\nc\r\n\r\n",
          "\"x, y\",z\r\n",
          "'p,q',r\r\n",
          "\"a,b\r\nc,d\r\n",
          "a,b\rc,d\ne,f\r\n",
          "  a \t, \tb c \r\n",
          ",a\r\n",
          " \"\" ''\r\n",
          "\x82,,\x95\x5c\r\n",
          std::string(4094, 'x') + "\x82\xa0yyy,z\r\n"};
}
