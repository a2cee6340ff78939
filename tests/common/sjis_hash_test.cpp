#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/hash.h"
#include "common/sjis.h"

TEST(Crc32, KnownValuesAndChunking) {
  EXPECT_EQ(MemCrc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(MemCrc32("", 0), 0u);
  EXPECT_EQ(MemCrc32("123456789", 9), 0xCBF43926u);
  // The four-at-a-time path gives the byte-wise result at every length and alignment.
  unsigned char buf[64];
  for (int i = 0; i < 64; i++) buf[i] = static_cast<unsigned char>(i * 37 + 11);
  for (size_t off = 0; off < 4; off++)
    for (size_t len = 0; len + off <= 64; len++) {
      u32 c = 0xFFFFFFFFu;
      for (size_t k = 0; k < len; k++) c = g_Crc32Table[(c ^ buf[off + k]) & 0xFF] ^ (c >> 8);
      ASSERT_EQ(MemCrc32(buf + off, len), ~c) << off << " " << len;
      ASSERT_EQ(MemCrc32Update(MemCrc32(buf + off, len / 2), buf + off + len / 2, len - len / 2), ~c);
    }
}

TEST(Murmur2, PublishedVectors) {
  // Reference values of the published 32-bit MurmurHash2.
  EXPECT_EQ(HashMurmur2("", 0, 0), 0u);
  EXPECT_EQ(HashMurmur2("", 0, 1), 0x5BD15E36u);
  EXPECT_EQ(HashMurmur2("a", 1, 0), 0x92685F5Eu);
  EXPECT_EQ(HashMurmur2("abc", 3, 0), 0x13577C9Bu);
  // Cross-checked with an independent implementation: the 4-byte body and all three tails.
  EXPECT_EQ(HashMurmur2("abcd", 4, 0), 0x26873021u);
  EXPECT_EQ(HashMurmur2("Hello, world!", 13, 1234), 0xEEAA5E2Eu);
  EXPECT_EQ(HashMurmur2("The quick brown fox jumps over the lazy dog", 43, 0), 0x212729D0u);
}

TEST(Sjis, LeadTableMarksExactlyTheLeadRanges) {
  for (int c = 0; c < 256; c++) {
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    EXPECT_EQ(g_SjisLeadTable[c] != 0, lead) << c;
  }
}

TEST(Sjis, LowerCaseLeavesTrailBytesAlone) {
  char s[] =
      "AB\x82\x41Z\x83\x5A"
      "C";  // trail bytes 0x41 ('A') and 0x5A ('Z')
  StrLowerSjis(s);
  EXPECT_STREQ(s,
               "ab\x82\x41z\x83\x5A"
               "c");
  char half[] = "\xB1X";  // half-width katakana is single-byte
  StrLowerSjis(half);
  EXPECT_STREQ(half, "\xB1x");
  char tail[] = "A\x82";  // a lead byte right before the terminator
  StrLowerSjis(tail);
  EXPECT_STREQ(tail, "a\x82");
}

TEST(Sjis, ReplaceSkipsTrailBackslash) {
  char s[] = "a/b\x95\x5C/c";  // 0x955C is one character whose trail byte is '\'
  StrReplaceCharSjis(s, '\\', '/');
  EXPECT_STREQ(s, "a/b\x95\x5C/c");
  StrReplaceCharSjis(s, '/', '\\');
  EXPECT_STREQ(s, "a\\b\x95\x5C\\c");
}

TEST(Sjis, EndsWithAndFileNamePart) {
  EXPECT_EQ(StrEndsWith("photo.PNG", ".png"), 1);
  EXPECT_EQ(StrEndsWith("png", ".png"), 0);
  EXPECT_EQ(StrEndsWith(".png", ".png"), 1);
  char out[32];
  StrFileNamePartSjis(out, sizeof out, "c:\\tools\\editor.exe");
  EXPECT_STREQ(out, "editor.exe");
  StrFileNamePartSjis(out, sizeof out, "editor.exe");
  EXPECT_STREQ(out, "");
  StrFileNamePartSjis(out, sizeof out, "c:/tools/");
  EXPECT_STREQ(out, "");
  StrFileNamePartSjis(out, sizeof out, "dir\\\x95\x5C.txt");  // trail byte '\' is not a separator
  EXPECT_STREQ(out, "\x95\x5C.txt");
}

TEST(Sjis, BoundedCopyCutsAtWholeCharacter) {
  char out[4];
  EXPECT_EQ(StrCopySjis(out, sizeof out, "ab\x82\xA0"), 2u);  // the double-byte char would not fit
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(StrCopySjis(out, sizeof out, "a\x82\xA0z"), 3u);
  EXPECT_STREQ(out, "a\x82\xA0");
  EXPECT_EQ(StrCutSjis("\x82\xA0\x82\xA0", 4, 3), 2u);
  EXPECT_EQ(StrCutSjis("ab\x82", 3, 10), 3u);  // a lone lead byte at the end counts as one byte
}

TEST(Sjis, EqualNoCaseAndUtf8) {
  EXPECT_TRUE(StrEqualNoCaseSjis("TeraPad.EXE", "terapad.exe"));
  EXPECT_FALSE(StrEqualNoCaseSjis("\x82\x41", "\x82\x61"));  // trail bytes compare exactly
  EXPECT_FALSE(StrEqualNoCaseSjis("abc", "ab"));
}

TEST(MemChain, StopsOnBoundAndOnCycles) {
  const i32 table[] = {0, 0, 1, 2, 3, 6, 5};
  EXPECT_EQ(MemChainFollow(table, 4, 1), 1);
  EXPECT_EQ(MemChainFollow(table, 1, 1), 1);
  // 5 and 6 link to each other above the bound: the walk gives up after 4096 steps.
  EXPECT_EQ(MemChainFollow(table, 5, 2), 5);
  void* p = MemAllocZeroed(100);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; i++) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0);
  free(p);
}
