#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/font.h"
#include "platform/platform.h"

namespace {

struct Listed {
  std::string name, script;
  u8 pitch;
};

int Collect(const char* name, const char* script, u8 pitch, void* ctx) {
  static_cast<std::vector<Listed>*>(ctx)->push_back({name, script, pitch});
  return 1;
}

std::vector<Listed> ListFaces() {
  std::vector<Listed> v;
  int calls = PlatFontEnumFaces(Collect, &v);
  EXPECT_EQ(calls, static_cast<int>(v.size()));
  return v;
}

std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

// A 1-bit cell with guard bytes on both sides.
struct Cell {
  static constexpr int kGuard = 32;
  int w, h, stride;
  std::vector<u8> buf;
  Cell(int width, int height, u8 fill = 0xFF) : w(width), h(height), stride((width + 7) / 8) {
    buf.assign(static_cast<size_t>(kGuard * 2 + stride * height), 0x5A);
    for (int i = 0; i < stride * height; i++) buf[kGuard + i] = fill;
  }
  u8* Bits() { return buf.data() + kGuard; }
  bool Ink(int x, int y) { return !(Bits()[y * stride + x / 8] & (0x80 >> (x % 8))); }
  int InkCount() {
    int n = 0;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) n += Ink(x, y);
    return n;
  }
  bool GuardsIntact() {
    for (int i = 0; i < kGuard; i++)
      if (buf[i] != 0x5A || buf[buf.size() - 1 - i] != 0x5A) return false;
    return true;
  }
  // Rows holding ink, first and last; -1 when none.
  void InkRows(int* first, int* last) {
    *first = *last = -1;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        if (Ink(x, y)) {
          if (*first < 0) *first = y;
          *last = y;
        }
  }
};

void Draw(PlatFont* f, const std::string& ch, Cell* c) {
  PlatFontDrawChar(f, ch.data(), static_cast<i32>(ch.size()), c->Bits(), c->w, c->h, c->stride);
}

}  // namespace

TEST(PlatFontTest, ListIsSortedStableAndJapaneseFacesComeTwice) {
  std::vector<Listed> a = ListFaces(), b = ListFaces();
  ASSERT_FALSE(a.empty());
  ASSERT_EQ(a.size(), b.size());
  const std::string ja = Sjis("日本語"), west = Sjis("欧文");
  for (size_t i = 0; i < a.size(); i++) {
    EXPECT_EQ(a[i].name, b[i].name);
    EXPECT_EQ(a[i].script, b[i].script);
    if (i > 0) {
      EXPECT_LE(a[i - 1].name, a[i].name);
    }
    ASSERT_TRUE(a[i].script == ja || a[i].script == west) << a[i].name;
    // A Japanese entry is followed by the Western entry of the same face.
    if (a[i].script == ja) {
      ASSERT_LT(i + 1, a.size());
      EXPECT_EQ(a[i + 1].name, a[i].name);
      EXPECT_EQ(a[i + 1].script, west);
    }
  }
  struct {
    const char* name;
    u8 pitch;
  } kIpa[] = {
      {"IPAGothic", PLAT_FIXED_PITCH},
      {"IPAMincho", PLAT_FIXED_PITCH},
      {"IPAPGothic", PLAT_VARIABLE_PITCH},
      {"IPAPMincho", PLAT_VARIABLE_PITCH},
  };
  for (auto f : kIpa) {
    int japanese = 0, western = 0;
    for (const Listed& l : a)
      if (l.name == f.name) {
        japanese += l.script == ja;
        western += l.script == west;
        EXPECT_EQ(l.pitch, f.pitch) << f.name;
      }
    EXPECT_EQ(japanese, 1) << f.name;
    EXPECT_EQ(western, 1) << f.name;
  }
}

TEST(PlatFontTest, ListingStopsWhenAsked) {
  int seen = 0;
  int calls = PlatFontEnumFaces(
      [](const char*, const char*, u8, void* ctx) { return ++*static_cast<int*>(ctx) < 3 ? 1 : 0; }, &seen);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(calls, 3);
}

TEST(PlatFontTest, WindowsNamesMapToIpaFaces) {
  struct {
    const char* ask;
    const char* get;
  } kCases[] = {
      {"ＭＳ ゴシック", "IPAGothic"},    {"MS Gothic", "IPAGothic"},   {"ms gothic", "IPAGothic"},
      {"ＭＳ Ｐゴシック", "IPAPGothic"}, {"MS PGothic", "IPAPGothic"}, {"MS UI Gothic", "IPAPGothic"},
      {"ＭＳ 明朝", "IPAMincho"},        {"MS Mincho", "IPAMincho"},   {"ＭＳ Ｐ明朝", "IPAPMincho"},
      {"MS PMincho", "IPAPMincho"},      {"メイリオ", "IPAPGothic"},   {"Meiryo", "IPAPGothic"},
      {"IPAゴシック", "IPAGothic"},      {"IPA P明朝", "IPAPMincho"},
  };
  for (auto c : kCases) {
    const char* got = PlatFontSubstitute(Sjis(c.ask).c_str());
    ASSERT_NE(got, nullptr) << c.ask;
    EXPECT_STREQ(got, c.get) << c.ask;
  }
  EXPECT_EQ(PlatFontSubstitute("No Such Face"), nullptr);
  EXPECT_EQ(PlatFontSubstitute(""), nullptr);
  EXPECT_EQ(PlatFontSubstitute(nullptr), nullptr);
}

TEST(PlatFontTest, CellHeightComesFromWindowsAscentAndDescent) {
  // IPA fonts: usWinAscent 1802, usWinDescent 401, 2048 units an em.
  struct {
    i32 height, ascent, ppem;
  } kCases[] = {{20, 16, 19}, {40, 33, 37}, {80, 65, 74}, {1, 1, 1}};
  for (auto c : kCases) {
    PlatFont* f = PlatFontCreate("IPAGothic", c.height, 400);
    ASSERT_NE(f, nullptr);
    PlatFontMetrics m;
    PlatFontGetMetrics(f, &m);
    EXPECT_EQ(m.ascent + m.descent, c.height);
    EXPECT_EQ(m.ascent, c.ascent) << c.height;
    EXPECT_EQ(m.ppem, c.ppem) << c.height;
    PlatFontDestroy(f);
  }
}

TEST(PlatFontTest, GlyphInkSitsOnTheBaselineAndClearsBitsOnly) {
  PlatFont* f = PlatFontCreate("IPAPGothic", 80, 400);
  ASSERT_NE(f, nullptr);
  PlatFontMetrics m;
  PlatFontGetMetrics(f, &m);
  // "H" stands on the baseline; "g" hangs below it; "_" lies wholly below it (74 pixels an em:
  // the tops of "H" and "g" are 54 and 40 pixels above the baseline).
  struct {
    const char* ch;
    int first_min, first_max, last_min, last_max;
  } kCases[] = {
      {"H", m.ascent - 56, m.ascent - 52, m.ascent - 2, m.ascent},
      {"g", m.ascent - 42, m.ascent - 38, m.ascent + 10, m.ascent + 16},
      {"_", m.ascent + 3, m.ascent + 7, m.ascent + 6, m.ascent + 10},
  };
  for (auto c : kCases) {
    Cell cell(128, 128);
    Draw(f, c.ch, &cell);
    int first, last;
    cell.InkRows(&first, &last);
    EXPECT_GE(first, c.first_min) << c.ch;
    EXPECT_LE(first, c.first_max) << c.ch;
    EXPECT_GE(last, c.last_min) << c.ch;
    EXPECT_LE(last, c.last_max) << c.ch;
  }
  // Transparent drawing: a cell of ink stays all ink, nothing is ever set to 1.
  Cell black(128, 128, 0x00);
  Draw(f, "H", &black);
  EXPECT_EQ(black.InkCount(), 128 * 128);
  // Bit 7 is the leftmost pixel: "|" at the left of a cell inks the high bits of its bytes.
  Cell bar(128, 128);
  Draw(f, "|", &bar);
  int left = 0, right = 0;
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) (x < 40 ? left : right) += bar.Ink(x, y);
  EXPECT_GT(left, 100);
  EXPECT_EQ(right, 0);
  PlatFontDestroy(f);
}

TEST(PlatFontTest, DrawingNeverLeavesTheCell) {
  PlatFont* f = PlatFontCreate("IPAMincho", 200, 700);
  ASSERT_NE(f, nullptr);
  for (const char* ch : {"あ", "W", "g", "漢"}) {
    struct {
      int w, h;
    } kCells[] = {{1, 1}, {8, 8}, {13, 5}, {64, 64}, {200, 3}};
    for (auto c : kCells) {
      Cell cell(c.w, c.h);
      Draw(f, ch[0] & 0x80 ? Sjis(ch) : std::string(ch), &cell);
      EXPECT_TRUE(cell.GuardsIntact()) << ch << " " << c.w << "x" << c.h;
    }
  }
  // Bad arguments draw nothing.
  Cell cell(16, 16);
  PlatFontDrawChar(f, "A", 0, cell.Bits(), 16, 16, 2);
  PlatFontDrawChar(f, "A", 3, cell.Bits(), 16, 16, 2);
  PlatFontDrawChar(f, "A", 1, cell.Bits(), 16, 16, 1);
  PlatFontDrawChar(nullptr, "A", 1, cell.Bits(), 16, 16, 2);
  EXPECT_EQ(cell.InkCount(), 0);
  PlatFontDestroy(f);
}

TEST(PlatFontTest, BoldEmboldensAFaceWithoutABoldStyle) {
  PlatFont* regular = PlatFontCreate("IPAGothic", 64, 400);
  PlatFont* bold = PlatFontCreate("IPAGothic", 64, 700);
  ASSERT_NE(regular, nullptr);
  ASSERT_NE(bold, nullptr);
  PlatFontMetrics m;
  PlatFontGetMetrics(bold, &m);
  EXPECT_EQ(m.bold_face, 0);
  Cell a(96, 96), b(96, 96);
  std::string ch = Sjis("あ");
  Draw(regular, ch, &a);
  Draw(bold, ch, &b);
  EXPECT_GT(b.InkCount(), a.InkCount() * 11 / 10);
  PlatFontDestroy(regular);
  PlatFontDestroy(bold);
}

TEST(PlatFontTest, UnknownFacesFallBackAndCharactersDecodeAsCp932) {
  PlatFont* f = PlatFontCreate("Nowhere Sans", 48, 400);
  ASSERT_NE(f, nullptr);
  // One-byte half-width katakana, a two-byte kanji, and the CP932 wave dash all have glyphs.
  for (std::string ch : {std::string("\xB1"), Sjis("漢"), std::string("\x81\x60")}) {
    Cell cell(64, 64);
    Draw(f, ch, &cell);
    EXPECT_GT(cell.InkCount(), 20) << static_cast<int>(static_cast<u8>(ch[0]));
  }
  PlatFontDestroy(f);
}
