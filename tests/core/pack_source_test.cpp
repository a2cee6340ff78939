#include <zlib.h>

#include <cstring>

#include "common/hash.h"
#include "core/pack_fixture.h"
#include "support/memory_file.h"

namespace {

struct PackSourceTest : PackFixture {
  void AddMemoryItem(u32 list, const char* name, const std::string& data, u8 type) {
    TestAddMemoryFile(name, type, reinterpret_cast<const u8*>(data.data()), data.size(), list);
  }
  void SetLinked(const std::vector<std::pair<std::string, std::string>>& files) {
    size_t total = 0;
    for (auto& f : files) total += f.first.size() + 1 + f.second.size();
    g_PackLinkedBlock = static_cast<u8*>(std::malloc(total + 1));
    g_PackLinkedFiles = static_cast<PackLinkedFile*>(std::malloc(sizeof(PackLinkedFile) * files.size()));
    u8* p = g_PackLinkedBlock;
    for (size_t i = 0; i < files.size(); i++) {
      std::memcpy(p, files[i].first.c_str(), files[i].first.size() + 1);
      g_PackLinkedFiles[i].name = reinterpret_cast<char*>(p);
      p += files[i].first.size() + 1;
      std::memcpy(p, files[i].second.data(), files[i].second.size());
      g_PackLinkedFiles[i].data = p;
      g_PackLinkedFiles[i].size = static_cast<u32>(files[i].second.size());
      p += files[i].second.size();
    }
    g_PackLinkedCount = static_cast<i32>(files.size());
  }
};

}  // namespace

TEST_F(PackSourceTest, EachSourceAnswersInItsOrder) {
  struct Case {
    bool memory, linked, loose, pack, appended;
    const char* want;
    u8 source;
  } cases[] = {
      {true, true, true, true, false, "memory", PACK_SOURCE_MEMORY},
      {false, true, true, true, false, "linked", PACK_SOURCE_LINKED},
      {false, false, true, true, false, "loose", PACK_SOURCE_LOOSE},
      {false, false, false, true, false, "pack", PACK_SOURCE_ARCHIVE},
      {false, false, true, true, true, "pack", PACK_SOURCE_ARCHIVE},  // appended data: packs first
      {false, false, true, false, true, "loose", PACK_SOURCE_LOOSE},
      {false, true, true, true, true, "linked", PACK_SOURCE_LINKED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.want) + (c.appended ? " appended" : ""));
    PackReset();
    PackScrambleSetup();
    std::filesystem::remove_all(game.Path("sys"));
    std::vector<u8> pack = BuildPack({Entry(c.pack ? "sys\\Name.txt" : "sys\\other.txt", Bytes("pack"), true)});
    if (c.appended) {
      std::vector<u8> exe(100, 0xAA);
      exe.insert(exe.end(), pack.begin(), pack.end());
      game.Write("sys/game.bin", exe);
      g_PackExeNative = game.Path("sys/game.bin");
      g_AppendedBase = 100;
      g_DataInExe = 1;
    } else {
      game.Write("data.zpf", pack);
    }
    if (c.loose) game.Write("sys/NAME.TXT", "loose");
    if (c.linked) SetLinked({{"other", "x"}, {"SYS\\name.txt", "linked"}});
    if (c.memory) AddMemoryItem(2, "sys\\name.TXT", "memory", 0);
    ASSERT_EQ(PackScanAll(), 0);
    EXPECT_EQ(g_PackDirectory.pack_count, 1);
    PackLookup lookup{};
    EXPECT_EQ(Read("sys\\name.txt", &lookup), c.want);
    EXPECT_EQ(lookup.source, c.source);
    std::filesystem::remove(game.Path("data.zpf"));
  }
}

TEST_F(PackSourceTest, NotFoundAnywhereAndAPackThatWillNotOpen) {
  WritePack("data.zpf", {Entry("a.txt", Bytes("a"))});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(Read("b.txt"), "<find=0>");
  std::filesystem::remove(game.Path("data.zpf"));
  PackLookup lookup{};
  EXPECT_EQ(PackFindAnySource(&lookup, "a.txt", 1), -2);
}

TEST_F(PackSourceTest, NamesAreFoldedLowerCasedAndKeepDoubleByteCharacters) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"BG\\Title", "bg\\title"},
      {"se/click.WAV", "se\\click.wav"},
      {"a/./b/../c.png", "a\\c.png"},
      {"/bg/x.png", "bg\\x.png"},
      {":sys/x.png", "sys\\x.png"},
      {"../x.png", "x.png"},
      {"dir/", "dir"},
      {"my pic.png", "my pic.png"},
      {"\x95\x5c/A.PNG", "\x95\x5c\\a.png"},  // trail byte 0x5C is not a separator
      {"\x95\x5c\\B.PNG", "\x95\x5c\\b.png"},
      {"\x83\x41Z.png", "\x83\x41z.png"},  // trail byte 0x41 is not lower-cased
  };
  for (const Case& c : cases) EXPECT_EQ(PackNormaliseName(c.in.c_str()), c.want) << c.in;
}

TEST_F(PackSourceTest, ImagesProbeTheProjectOrder) {
  const u8 order_png_jpg[8] = {1, 3, 0, 0, 0};
  const u8 order_jpg_png[8] = {3, 1, 0, 0, 0};
  struct Case {
    const u8* order;
    std::vector<const char*> files;
    i32 result;
    const char* out;
  } cases[] = {
      {order_png_jpg, {}, 1, "bg\\title.jpg"},  // the last name tried
      {order_png_jpg, {"bg/Title.jpg"}, 0, "bg\\title.jpg"},
      {order_png_jpg, {"bg/title.png", "bg/title.jpg"}, 0, "bg\\title.png"},
      {order_jpg_png, {"bg/title.png", "bg/title.jpg"}, 0, "bg\\title.jpg"},
      {order_jpg_png, {"bg/title.bmp", "bg/title.gif", "bg/title.psb"}, 1, "bg\\title.png"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(game.Path("bg"));
    for (const char* f : c.files) game.Write(f, "x");
    std::memcpy(g_CfgImageOrder, c.order, 8);
    PackLookup lookup{};
    char out[261];
    EXPECT_EQ(PackResolveMediaFile(&lookup, PACK_MEDIA_IMAGE, "BG\\Title", out, sizeof out), c.result);
    EXPECT_STREQ(out, c.out);
    if (c.result == 0) {
      EXPECT_EQ(lookup.type, PackTypeFromExtension(out));
    }
  }
}

TEST_F(PackSourceTest, NamesWithTheirExtensionAreNotProbed) {
  game.Write("SE/Click.wav", "w");
  game.Write("SE/click.wav.ogg", "o");
  PackLookup lookup{};
  char out[261];
  EXPECT_EQ(PackResolveMediaFile(&lookup, PACK_MEDIA_SOUND, "se/click.WAV", out, sizeof out), 0);
  EXPECT_STREQ(out, "se\\click.wav");
  EXPECT_EQ(lookup.source, PACK_SOURCE_LOOSE);
  EXPECT_EQ(lookup.type, PACK_TYPE_WAV);
  // Sounds without an extension probe the sound order.
  game.Write("SE/beep.ogg", "o");
  game.Write("SE/beep.wav", "w");
  g_CfgSoundOrder[0] = 2;
  g_CfgSoundOrder[1] = 1;
  EXPECT_EQ(PackResolveMediaFile(&lookup, PACK_MEDIA_SOUND, "se\\beep", out, sizeof out), 0);
  EXPECT_STREQ(out, "se\\beep.wav");
  // Character data always counts as carrying its extension; other kinds have no probing.
  EXPECT_EQ(PackResolveMediaFile(&lookup, PACK_MEDIA_EMOTE, "se\\beep", out, sizeof out), 1);
  EXPECT_EQ(PackResolveMediaFile(&lookup, 3, "se\\beep", out, sizeof out), -1);
  // A bounded output never splits a double-byte character.
  char small[4];
  PackResolveMediaFile(&lookup, PACK_MEDIA_EMOTE, "a\x95\x5c\x95\x5c", small, sizeof small);
  EXPECT_STREQ(small, "a\x95\x5c");
}

TEST_F(PackSourceTest, StoredAndCompressedEntriesReadBackWithTheirTypes) {
  std::vector<u8> big = Pattern(5000, 1, true);
  std::vector<u8> noise = Pattern(3000, 2);
  WritePack("data.zpf", {Entry("bg\\stored.bin", noise, false), Entry("bg\\zlib.bin", big, true),
                         Entry("empty.txt", {}, false), Entry("cg\\pic.png", Bytes("zcg!"), false, PACK_TYPE_ZCG)});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(Read("bg\\stored.bin"), std::string(noise.begin(), noise.end()));
  EXPECT_EQ(Read("BG\\ZLIB.bin"), std::string(big.begin(), big.end()));
  EXPECT_EQ(Read("empty.txt"), "");
  PackLookup lookup{};
  EXPECT_EQ(Read("cg\\pic.png", &lookup), "zcg!");
  EXPECT_EQ(lookup.type, PACK_TYPE_ZCG);  // the entry's own type code, not the extension's
}

TEST_F(PackSourceTest, MemoryListAndHandOverReadersCopyTheirData) {
  AddMemoryItem(0, "a.png", "list data", PACK_TYPE_PNG);
  SetLinked({{"chbin\\x.zbn", "linked data"}});
  PackLookup lookup{};
  EXPECT_EQ(Read("A.PNG", &lookup), "list data");
  EXPECT_EQ(lookup.type, PACK_TYPE_PNG);
  EXPECT_EQ(Read("chbin\\X.zbn"), "linked data");
  // Indexes that no lookup produced are refused, not followed.
  PackLookup bad{};
  bad.source = PACK_SOURCE_MEMORY;
  bad.list = 0;
  bad.item = 7;
  EXPECT_EQ(PackReadBySource(&bad, "x"), -3);
  bad.source = PACK_SOURCE_LINKED;
  bad.handover = 1;
  EXPECT_EQ(PackReadBySource(&bad, "x"), -3);
  EXPECT_EQ(bad.data, nullptr);
}

TEST_F(PackSourceTest, ALooseFileThatVanishedIsReported) {
  PackLookup lookup{};
  lookup.source = PACK_SOURCE_LOOSE;
  EXPECT_EQ(PackReadBySource(&lookup, "gone.png"), -3);
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_FILE_READ, "gone.png"));
  EXPECT_EQ(g_QuitRequested, 1);
}

// ---- Damage and repair -----------------------------------------------------------------------

namespace {

struct DamageTest : PackFixture {
  KitPackLayout layout;
  std::vector<u8> image;
  std::vector<u8> data = Pattern(4000, 7);  // four blocks, the last one short

  void Build(bool compress, KitPackOptions opt = KitPackOptions()) {
    opt.force_compress = compress;
    image = BuildPack({Entry("e.bin", data, compress)}, &layout, opt);
  }
  void Flip(u64 at) { image[at] ^= 0x5A; }
  // Offset of a field of the single record's tail.
  u64 Tail(u32 field_offset) { return layout.record_offsets[0] + 5 + 5 + 1 + field_offset; }
  void Put32(u64 at, u32 v) {
    for (int i = 0; i < 4; i++) image[at + i] = static_cast<u8>(v >> (8 * i));
  }
  std::string ReadIt() {
    game.Write("data.zpf", image);
    EXPECT_EQ(PackScanAll(), 0);
    return Read("e.bin");
  }
  std::string Whole() const { return std::string(data.begin(), data.end()); }
};

}  // namespace

TEST_F(DamageTest, OneDamagedBlockIsRepairedFromTheParity) {
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "zlib" : "stored");
    PackReset();
    PackScrambleSetup();
    Build(compress);
    u64 d = layout.data_offsets[0];
    u32 n = layout.stored_sizes[0];
    Flip(d + 1030);  // block 1
    Flip(d + 1500);
    if (n > 3000) Flip(d + n - 1);  // and in the stored-entry case the short last block alone
    if (n > 3000) {
      // Two damaged blocks: beyond repair.
      EXPECT_EQ(ReadIt(), "<read=-2>");
      EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_DAMAGED, ".\\data.zpf", "e.bin"));
      Flip(d + n - 1);
      PackReset();
      PackScrambleSetup();
    }
    EXPECT_EQ(ReadIt(), Whole());
  }
}

TEST_F(DamageTest, EntriesThatCannotBeMadeWholeRaiseTheDamageError) {
  struct Case {
    const char* what;
    bool compress;
    bool recovery;
    void (*damage)(DamageTest&);
    i32 code;
  } cases[] = {
      {"no parity", false, false, [](DamageTest& t) { t.Flip(t.layout.data_offsets[0] + 10); }, ERR_PACK_DAMAGED},
      {"parity size not 1024", false, true,
       [](DamageTest& t) {
         t.Flip(t.layout.data_offsets[0] + 10);
         t.Put32(t.layout.data_offsets[0] + t.layout.stored_sizes[0], 512);
       },
       ERR_PACK_DAMAGED},
      {"block count not matching", false, true,
       [](DamageTest& t) {
         t.Flip(t.layout.data_offsets[0] + 10);
         t.Put32(t.layout.data_offsets[0] + t.layout.stored_sizes[0] + 4, 1000000);
       },
       ERR_PACK_DAMAGED},
      {"truncated data", false, true, [](DamageTest& t) { t.image.resize(t.layout.data_offsets[0] + 100); },
       ERR_PACK_DAMAGED},
      {"truncated recovery", false, true,
       [](DamageTest& t) {
         t.Flip(t.layout.data_offsets[0] + 10);
         t.image.resize(t.layout.data_offsets[0] + t.layout.stored_sizes[0] + 20);
       },
       ERR_PACK_DAMAGED},
      {"data offset past the end", false, true, [](DamageTest& t) { t.Put32(t.Tail(9), 0x7FFFFFF0); },
       ERR_PACK_DAMAGED},
      {"stored size unlike raw size", false, true, [](DamageTest& t) { t.Put32(t.Tail(5), 100); }, ERR_PACK_DAMAGED},
      {"raw size larger than inflated", true, true, [](DamageTest& t) { t.Put32(t.Tail(1), 4100); }, ERR_PACK_DAMAGED},
      {"raw size beyond any zlib ratio", true, true, [](DamageTest& t) { t.Put32(t.Tail(1), 0xFFFFFFF0); },
       ERR_PACK_DAMAGED},
      {"raw size smaller than inflated", true, true, [](DamageTest& t) { t.Put32(t.Tail(1), 100); },
       ERR_INFLATE_BUFFER},
      {"zlib without parity", true, false, [](DamageTest& t) { t.Flip(t.layout.data_offsets[0] + 40); },
       ERR_PACK_DAMAGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackReset();
    PackScrambleSetup();
    ErrReset();
    KitPackOptions opt;
    opt.recovery = c.recovery;
    Build(c.compress, opt);
    c.damage(*this);
    EXPECT_EQ(ReadIt(), "<read=-2>");
    if (c.code == ERR_PACK_DAMAGED) EXPECT_EQ(g_ErrLastText, ErrText(c.code, ".\\data.zpf", "e.bin"));
    else EXPECT_EQ(g_ErrLastText, ErrText(c.code, "e.bin"));
    EXPECT_EQ(g_QuitRequested, 1);
    g_QuitRequested = 0;
  }
}

TEST_F(DamageTest, AnUnknownEntryKindIsRefused) {
  Build(false);
  image[Tail(0)] = 7;
  EXPECT_EQ(ReadIt(), "<read=-3>");
  EXPECT_EQ(g_ErrLastText, ErrText(ERR_PACK_OPEN, ".\\data.zpf"));
}

TEST_F(DamageTest, VerifyRepairChecksTheHashFirst) {
  // An intact entry is never touched by the repair, whatever its recovery block says.
  Build(false);
  Put32(layout.data_offsets[0] + layout.stored_sizes[0], 0);
  EXPECT_EQ(ReadIt(), Whole());
}

// Packs stay open between reads: one rewritten in place, replaced by another file of its name or
// removed is read (or missed) as it is on disk now, as when every read opened it again.
TEST_F(PackSourceTest, AKeptPackFollowsItsFileOnDisk) {
  WritePack("data.zpf", {Entry("a.txt", Bytes("old1")), Entry("b.txt", Bytes("zipped one"), true)});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(Read("a.txt"), "old1");
  EXPECT_EQ(Read("b.txt"), "zipped one");
  // The same layout (same names and sizes), so the scanned positions still hold.
  WritePack("data.zpf", {Entry("a.txt", Bytes("new1")), Entry("b.txt", Bytes("zipped two"), true)});
  EXPECT_EQ(Read("a.txt"), "new1");
  EXPECT_EQ(Read("b.txt"), "zipped two");
  game.Write("next.zpf", BuildPack({Entry("a.txt", Bytes("new2")), Entry("b.txt", Bytes("zipped 3rd"), true)}));
  std::filesystem::rename(game.Path("next.zpf"), game.Path("data.zpf"));
  EXPECT_EQ(Read("a.txt"), "new2");
  EXPECT_EQ(Read("b.txt"), "zipped 3rd");
  std::filesystem::remove(game.Path("data.zpf"));
  EXPECT_EQ(Read("a.txt"), "<find=-2>");
}

// Rewritten in place with other sizes, the entry table the lookups keep no longer matches the file:
// the next lookup reads the new records, not the kept ones.
TEST_F(PackSourceTest, APackRewrittenInPlaceWithOtherSizesIsReadAfresh) {
  WritePack("data.zpf", {Entry("a.txt", Bytes("short")), Entry("b.txt", Bytes("zipped one"), true)});
  ASSERT_EQ(PackScanAll(), 0);
  EXPECT_EQ(Read("a.txt"), "short");
  EXPECT_EQ(Read("b.txt"), "zipped one");
  EXPECT_EQ(Read("b.txt"), "zipped one");
  WritePack("data.zpf",
            {Entry("a.txt", Bytes("a good deal longer")), Entry("b.txt", Bytes("zipped, and longer too"), true)});
  EXPECT_EQ(Read("b.txt"), "zipped, and longer too");
  EXPECT_EQ(Read("a.txt"), "a good deal longer");
  EXPECT_EQ(g_ErrLastText, "");
}

// The kept inflater against zlib's own uncompress: whole, cut, damaged and padded streams, with
// destinations too small, exact, too large and empty, one after another on one thread (so a
// stream left half-read must not leak into the next).
TEST(PackUncompressTest, GivesWhatUncompressGivesForEveryStream) {
  std::vector<u8> raw(3000);
  for (size_t i = 0; i < raw.size(); i++) raw[i] = static_cast<u8>((i * 7) ^ (i >> 5));
  std::vector<std::vector<u8>> streams;
  for (size_t n : {size_t{0}, size_t{1}, size_t{300}, raw.size()}) {
    uLongf len = compressBound(static_cast<uLong>(n));
    std::vector<u8> z(len);
    ASSERT_EQ(compress(z.data(), &len, raw.data(), static_cast<uLong>(n)), Z_OK);
    z.resize(len);
    streams.push_back(z);
    streams.push_back(std::vector<u8>(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(len / 2)));  // cut
    std::vector<u8> bad = z;
    bad[len / 2] ^= 0x55;  // damaged
    streams.push_back(bad);
    bad = z;
    bad[len - 1] ^= 1;  // wrong check value
    streams.push_back(bad);
    z.push_back(0xAB);  // trailing byte
    streams.push_back(z);
  }
  streams.push_back({});
  streams.push_back({0x78, 0xBB, 0, 0, 0, 1, 1, 2, 3});  // asks for a preset dictionary
  int seen_ok = 0, seen_data = 0, seen_buf = 0;
  for (const std::vector<u8>& s : streams)
    for (uLong room : {uLong{0}, uLong{1}, uLong{299}, uLong{300}, uLong{301}, uLong{3000}, uLong{5000}}) {
      std::vector<u8> want(room + 1, 0xEE), got(room + 1, 0xEE);
      uLongf want_len = room, got_len = room;
      const int w = uncompress(want.data(), &want_len, s.data(), static_cast<uLong>(s.size()));
      const int g = PackUncompress(got.data(), &got_len, s.data(), static_cast<unsigned long>(s.size()));
      ASSERT_EQ(g, w) << s.size() << " into " << room;
      ASSERT_EQ(got_len, want_len) << s.size() << " into " << room;
      ASSERT_EQ(got, want) << s.size() << " into " << room;
      seen_ok += w == Z_OK;
      seen_data += w == Z_DATA_ERROR;
      seen_buf += w == Z_BUF_ERROR;
    }
  EXPECT_GT(seen_ok, 0);
  EXPECT_GT(seen_data, 0);
  EXPECT_GT(seen_buf, 0);
}
