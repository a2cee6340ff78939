#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "shell/saver.h"

namespace {

struct SwitchCase {
  std::vector<std::string> args;
  WinSaverAction action;
  u64 parent;
};

// A stored preview: the 54-byte header with the given width and height, then the given rows.
std::vector<u8> Stored(i32 w, i32 h, const std::vector<u8>& rows) {
  std::vector<u8> b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  for (int i = 0; i < 4; i++) {
    b[18 + i] = static_cast<u8>(static_cast<u32>(w) >> (8 * i));
    b[22 + i] = static_cast<u8>(static_cast<u32>(h) >> (8 * i));
  }
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

}  // namespace

TEST(SaverSwitches, EachSwitchChoosesItsAction) {
  const SwitchCase cases[] = {
      {{}, SAVER_ABOUT, 0},
      {{"/c"}, SAVER_ABOUT, 0},
      {{"-C"}, SAVER_ABOUT, 0},
      {{"/c", "12"}, SAVER_RUN, 0},  // c takes no second argument
      {{"/a", "7"}, SAVER_END, 0},
      {{"-A"}, SAVER_RUN, 0},  // a needs its second argument
      {{"/p", "4194313"}, SAVER_PREVIEW, 4194313},
      {{"-P", "4294967295"}, SAVER_PREVIEW, 4294967295u},
      {{"/p"}, SAVER_RUN, 0},
      {{"/p", "1", "2"}, SAVER_RUN, 0},
      {{"/p", "0x400009"}, SAVER_END, 0},  // strictly decimal
      {{"/p", "-5"}, SAVER_END, 0},
      {{"/p", "12a"}, SAVER_END, 0},
      {{"/p", ""}, SAVER_END, 0},
      {{"/p", "0"}, SAVER_END, 0},
      {{"/p", "4294967296"}, SAVER_END, 0},  // no window id is that large
      {{"/s"}, SAVER_RUN, 0},
      {{"-root"}, SAVER_RUN, 0},  // xscreensaver's switch: the game runs
      {{"p", "12"}, SAVER_RUN, 0},
      {{"/"}, SAVER_RUN, 0},
  };
  for (const SwitchCase& c : cases) {
    u64 parent = 99;
    std::string what;
    for (const std::string& a : c.args) what += "'" + a + "' ";
    EXPECT_EQ(WinSaverParse(c.args, &parent), c.action) << what;
    EXPECT_EQ(parent, c.parent) << what;
  }
}

TEST(SaverPreview, StoredRowsAreReadBottomUpWithoutPadding) {
  // 2 x 2, width * 3 = 6 bytes a row (a padded file would carry 8): bottom row first.
  std::vector<u8> rows = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
  std::vector<u8> bmp = Stored(2, 2, rows);
  u8* px = nullptr;
  i32 w = 0, h = 0;
  ASSERT_EQ(WinSaverDecodePreview(bmp.data(), static_cast<u32>(bmp.size()), &px, &w, &h), 0);
  ASSERT_EQ(w, 2);
  ASSERT_EQ(h, 2);
  const u8 want[] = {11, 12, 13, 255, 14, 15, 16, 255, 1, 2, 3, 255, 4, 5, 6, 255};
  EXPECT_EQ(std::vector<u8>(px, px + 16), std::vector<u8>(want, want + 16));
  std::free(px);
}

TEST(SaverPreview, DamagedSizesAreRefusedWithoutReadingPastTheEnd) {
  struct Case {
    const char* what;
    std::vector<u8> bmp;
  } cases[] = {
      {"shorter than its header", std::vector<u8>(53, 0)},
      {"zero width", Stored(0, 2, std::vector<u8>(12))},
      {"negative height (top-down)", Stored(2, -2, std::vector<u8>(12))},
      {"one byte short", Stored(2, 2, std::vector<u8>(11))},
      {"width * 3 * height wraps 32 bits", Stored(0x55555556, 3, std::vector<u8>(6))},
      {"huge both ways", Stored(0x7FFFFFFF, 0x7FFFFFFF, std::vector<u8>(16))},
  };
  for (const Case& c : cases) {
    // An exact-size heap copy, so a read past the end is caught by the address sanitizer.
    u8* copy = static_cast<u8*>(std::malloc(c.bmp.size()));
    std::copy(c.bmp.begin(), c.bmp.end(), copy);
    u8* px = reinterpret_cast<u8*>(1);
    i32 w = -1, h = -1;
    EXPECT_EQ(WinSaverDecodePreview(copy, static_cast<u32>(c.bmp.size()), &px, &w, &h), -1) << c.what;
    EXPECT_EQ(px, nullptr) << c.what;
    std::free(copy);
  }
}

TEST(SaverSwitches, XscreensaverWindowIdIsHexadecimalWithItsPrefix) {
  const std::pair<const char*, u64> cases[] = {
      {"0x400009", 0x400009},
      {"0X1A", 0x1A},
      {"0xffffffff", 0xFFFFFFFFu},
      {"0x", 0},
      {"400009", 0},
      {"0x40000g", 0},
      {"0x100000000", 0},
      {"", 0},
      {" 0x1", 0},
  };
  for (const auto& [text, id] : cases) EXPECT_EQ(WinSaverParseWindowId(text), id) << "'" << text << "'";
}
