// Save data through commands 84, 55 and 85: round trips through files and slots, the merge of
// blocks into an existing file, the snapshot of the slots, the refusals, a file laid out by hand
// as a 32-bit build writes it, damaged files, a failing disk and the read-only game folder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../support/game_folder.h"
#include "cmd_game.h"
#include "common/sjis.h"
#include "core/config.h"
#include "core/obj.h"
#include "layer/cpu.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "layer/layer_save.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/save.h"
#include "shell/startup.h"
#include "shell/window.h"

namespace fs = std::filesystem;

namespace {

struct SaveTest : CmdGameTest {
  TestGameFolder game;

  void SetUp() override {
    PlatDialogsSetStderr(true);
    PlatDialogsSetAnswer(0);
    BlendInitCpuKernels();
    ASSERT_EQ(WinObjsCreate(), 0);
    g_WindowObjects[0]->width = 64;
    g_WindowObjects[0]->height = 48;
    ASSERT_EQ(SysCreateRoots(), 0);
    LayerSaveInstallHooks();
    StrCopySjis(g_SaveFolder, sizeof g_SaveFolder, "savech\\");
  }
  void TearDown() override {
    PlatFileFailWritesAfter(-1, 0);
    SaveReset();
    SysObjReset();
    WinReset();
    CmdGameTest::TearDown();
    g_SaveFolder[0] = '\0';
    g_SaveFolderMissing = 0;
  }
  void LoadScript(const std::string& text) {
    w.LoadCompiled(text);
    VarInitAssignOps();
    TestErrTextsSuffixed({101000, 101250, 107010, 102100, 102110, 102120, 102140, 102150, 102160, 102170, 108030,
                          108040, 108050, 108070, 108080, 108090, 108100, 108110, 900000},
                         "|%s|%s|%s|%s");
  }
  i32 Run(u32 line) {
    ErrReset();
    g_QuitRequested = 0;
    return w.Run(line);
  }
  std::vector<u8> File(const std::string& name) const {
    std::ifstream in(game.Path("savech/" + name), std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // A picture layer of w x h whose pixels are seed-made.
  static ObjNode* MakePicture(const char* path, i32 width, i32 height, u32 seed) {
    ObjNode* node = LayerCreateNode(path, 0, 7);
    LayerRecord* r = LayerRecordNew(node);
    r->pixels = ImageAllocPixels(nullptr, width, height, "");
    r->width = width;
    r->height = height;
    r->opacity = 100;
    for (i32 k = 0; k < width * height * 4; k++) r->pixels[k] = static_cast<u8>(seed * 31 + k * 7);
    return node;
  }
  static std::vector<u8> Pixels(const char* path) {
    const LayerRecord* r = LayerOf(ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM));
    if (!LayerHasPixels(r)) return {};
    return std::vector<u8>(r->pixels, r->pixels + static_cast<size_t>(r->width) * r->height * 4);
  }
};

u32 U32At(const std::vector<u8>& f, size_t at) {
  return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<u32>(f[at + 3]) << 24);
}
void PutU32(std::vector<u8>& o, u32 v) {
  for (int k = 0; k < 4; k++) o.push_back(static_cast<u8>(v >> (8 * k)));
}
void SetU32(std::vector<u8>& f, size_t at, u32 v) {
  for (int k = 0; k < 4; k++) f[at + k] = static_cast<u8>(v >> (8 * k));
}

// The block records of a save file walked from 4112: DNO and the record's bytes.
struct Record {
  u32 dno;
  size_t offset;
  std::vector<u8> bytes;
};
std::vector<Record> Records(const std::vector<u8>& f) {
  std::vector<Record> out;
  for (size_t pos = SAVE_HEADER_SIZE; pos + 16 <= f.size();) {
    size_t len = 16 + U32At(f, pos + 8);
    out.push_back({U32At(f, pos), pos, std::vector<u8>(f.begin() + pos, f.begin() + pos + len)});
    pos += len;
  }
  return out;
}

std::vector<u8> Deflate(const std::vector<u8>& raw) {
  uLongf n = compressBound(raw.size());
  std::vector<u8> out(n);
  compress2(out.data(), &n, raw.data(), raw.size(), 9);
  out.resize(n);
  return out;
}

// A save file laid out from the format alone: the given blocks (DNO, kind, id, payload).
struct RawBlock {
  u32 dno;
  u8 kind;
  u16 id;
  std::vector<u8> payload;
  std::vector<u8> stream = {};  // the payload deflated otherwise than by compress2
};
std::vector<u8> LayOut(const std::vector<RawBlock>& blocks) {
  std::vector<u8> f = {'Z', 'P', 'S', 'D'};
  PutU32(f, 480);
  PutU32(f, static_cast<u32>(blocks.size()));
  PutU32(f, 1024);
  f.resize(SAVE_HEADER_SIZE);
  for (const RawBlock& b : blocks) {
    SetU32(f, 12 + 4 * b.dno, static_cast<u32>(f.size()));
    std::vector<u8> z = b.stream.empty() ? Deflate(b.payload) : b.stream;
    PutU32(f, b.dno);
    f.push_back(b.kind);
    f.push_back(1);
    f.push_back(static_cast<u8>(b.id));
    f.push_back(static_cast<u8>(b.id >> 8));
    PutU32(f, static_cast<u32>(z.size()));
    PutU32(f, static_cast<u32>(b.payload.size()));
    f.insert(f.end(), z.begin(), z.end());
  }
  return f;
}

// A stream laid out as pictures are deflated in pieces: raw deflate pieces of the given sizes,
// each but the last ended by an empty stored block, between a zlib header and the Adler-32 of the
// whole. With prime, each piece may refer back into the one before (a stream cut anywhere else).
std::vector<u8> PieceStream(const std::vector<u8>& raw, const std::vector<size_t>& sizes, bool prime) {
  std::vector<u8> out = {0x78, 0x01};
  size_t at = 0;
  for (size_t k = 0; k < sizes.size(); k++) {
    const bool last = k + 1 == sizes.size();
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    const size_t back = prime ? std::min<size_t>(at, 32768) : 0;
    if (back) deflateSetDictionary(&z, raw.data() + at - back, static_cast<uInt>(back));
    std::vector<u8> piece(compressBound(static_cast<uLong>(sizes[k])) + 16);
    z.next_in = const_cast<u8*>(raw.data() + at);
    z.avail_in = static_cast<uInt>(sizes[k]);
    z.next_out = piece.data();
    z.avail_out = static_cast<uInt>(piece.size());
    EXPECT_EQ(deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH), last ? Z_STREAM_END : Z_OK);
    out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(z.total_out));
    deflateEnd(&z);
    at += sizes[k];
  }
  const uLong adler = adler32(adler32(0L, Z_NULL, 0), raw.data(), static_cast<uInt>(raw.size()));
  for (int b = 3; b >= 0; b--) out.push_back(static_cast<u8>(adler >> (8 * b)));
  return out;
}

const std::string kA = "\x82\xa0";  // あ

// Every item stream of a save file inflates with plain uncompress to exactly its raw length, as
// the engine on Windows reads them. Returns the number of streams.
size_t CheckStreamsWithUncompress(const std::vector<u8>& f) {
  size_t streams = 0;
  auto check = [&](const u8* h) {
    u32 stored, raw;
    std::memcpy(&stored, h + 4, 4);
    std::memcpy(&raw, h + 8, 4);
    std::vector<u8> out(raw + 1);
    uLongf n = raw;
    EXPECT_EQ(uncompress(out.data(), &n, h + 12, stored), Z_OK);
    EXPECT_EQ(n, raw);
    streams++;
    return 12 + stored;
  };
  for (const Record& r : Records(f)) {
    const u8* block = r.bytes.data() + 4;
    if (block[0] != SAVE_ITEM_GROUP) {
      check(block);
      continue;
    }
    for (size_t pos = 12; pos < r.bytes.size() - 4;) pos += check(block + pos);
  }
  return streams;
}

}  // namespace

TEST_F(SaveTest, EveryItemKindRoundTripsThroughAFileAndASlot) {
  const std::string long_text = [] {
    std::string s;
    while (s.size() < 4094) s += kA;
    return s + "x";  // 4095 bytes, the most an element holds
  }();
  for (const char* target : {"file=\"Save01\"", "slot=3"}) {
    SCOPED_TRACE(target);
    const std::string load = std::string(target) == "slot=3" ? "slot=3" : "file=\"save01.sd\"";
    LoadScript(
        "global int i\nglobal float f\nglobal str s\nglobal int a[3][2]\nglobal str t[3]\nglobal class 2 int g1\n"
        "global class 2 int g2[2]\nglobal class 3 int g3\n*SYSTEM_START\n"
        "save dno=1, var=i\nsave dno=2, var=f\nsave dno=3, var=s\nsave dno=4, var=a[]\nsave dno=5, var=t[]\n"
        "save dno=6, var=a[2][1]\nsave dno=7, int2=1, int1=1\nsave dno=8, layer=\"W0/pic\"\nsave " +
        std::string(target) + "\nload " + load + ", dno=1, var=i\nload " + load + ", dno=2, var=f\nload " + load +
        ", dno=3, var=s\n" + "load " + load + ", dno=4, var=a[]\nload " + load + ", dno=5, var=t[]\nload " + load +
        ", dno=6, var=a[0][0]\n" + "load " + load + ", dno=7\nload " + load + ", dno=8, layer=\"W0/pic\"\n");
    MakePicture("W0/pic", 5, 3, 1);
    const std::vector<u8> picture = Pixels("W0/pic");
    VarSetNumElement(1000, 0, -1234567890123);
    VarSetFloatElement(1001, 0, 3.25e-7);
    VarSetStrElement(1002, 0, long_text.c_str());
    for (i64 k = 0; k < 6; k++) VarSetNumElement(1003, k, k + 1);
    const char* texts[3] = {"", "\x8a\xbf\x8e\x9a", "x"};
    for (i64 k = 0; k < 3; k++) VarSetStrElement(1004, k, texts[k]);
    VarSetNumElement(1005, 0, 11);
    VarSetNumElement(1006, 0, 21);
    VarSetNumElement(1006, 1, 22);
    VarSetNumElement(1007, 0, 33);
    for (u32 l = 0; l <= 8; l++) ASSERT_EQ(Run(l), 0) << l << " " << g_ErrLastText;
    for (const SaveBlock& b : g_SaveBlocks) EXPECT_EQ(b.length, 0) << "written out, nothing stays pending";
    if (load != "slot=3") {
      EXPECT_EQ(CheckStreamsWithUncompress(File("save01.sd")), 9u) << "six single items, two in the group, the picture";
    }

    VarSetNumElement(1000, 0, 0);
    VarSetFloatElement(1001, 0, 0);
    VarSetStrElement(1002, 0, "");
    for (i64 k = 0; k < 6; k++) VarSetNumElement(1003, k, 0);
    for (i64 k = 0; k < 3; k++) VarSetStrElement(1004, k, "old");
    VarSetNumElement(1005, 0, 0);
    VarSetNumElement(1006, 0, 0);
    VarSetNumElement(1006, 1, 0);
    VarSetNumElement(1007, 0, 0);
    LayerRelease(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM));
    MakePicture("W0/pic", 2, 2, 9);

    for (u32 l = 9; l <= 14; l++) ASSERT_EQ(Run(l), 0) << l << " " << g_ErrLastText;
    EXPECT_EQ(Run(15), -1) << "a group ends the thread's turn";
    EXPECT_FALSE(g_ErrDialogShown) << g_ErrLastText;
    LayerResetUpdateRects(g_LayerRoot->first_child);
    ASSERT_EQ(Run(16), 0) << g_ErrLastText;
    EXPECT_EQ(VarGetIntElement(1000, 0), -1234567890123);
    EXPECT_EQ(VarGetFloatElement(1001, 0), 3.25e-7);
    EXPECT_EQ(Str(1002), long_text);
    EXPECT_EQ(VarGetIntElement(1003, 0), 6) << "element a[2][1] loaded into a[0][0]";
    for (i64 k = 1; k < 6; k++) EXPECT_EQ(VarGetIntElement(1003, k), k + 1);
    for (i64 k = 0; k < 3; k++) EXPECT_EQ(Str(1004, k), texts[k]);
    EXPECT_EQ(VarGetIntElement(1005, 0), 11);
    EXPECT_EQ(VarGetIntElement(1006, 1), 22);
    EXPECT_EQ(VarGetIntElement(1007, 0), 0) << "class 3 is not in the group of class 2";
    ObjNode* pic = ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(LayerOf(pic)->width, 5);
    EXPECT_EQ(LayerOf(pic)->height, 3);
    EXPECT_EQ(LayerOf(pic)->opacity, 256) << "only the size and pixels come back";
    EXPECT_EQ(pic->order, 1);
    EXPECT_EQ(Pixels("W0/pic"), picture);
    const LayerRecord* parent = LayerOf(pic->parent);
    EXPECT_TRUE(parent->needs_compose && parent->dirty_valid);
    EXPECT_GE(parent->dirty_right, 4) << "the new, larger picture is marked for drawing";
    EXPECT_GE(parent->dirty_bottom, 2);
    SaveReset();
    SysObjReset();
    ASSERT_EQ(SysCreateRoots(), 0);
    w.Close();
  }
}

TEST_F(SaveTest, APictureOfSeveralMegabytesRoundTripsAndInflatesWithPlainUncompress) {
  LoadScript("*SYSTEM_START\nsave dno=1, layer=\"W0/big\", file=\"big\"\nload file=\"big\", dno=1, layer=\"W0/big\"\n");
  MakePicture("W0/big", 1100, 700, 5);  // 3 MB: deflated in pieces
  LayerRecord* r = LayerOf(ObjFindNode(g_LayerRoot, "W0/big", OBJ_FIND_ITEM));
  for (i32 k = 0; k < 1100 * 700; k += 3) r->pixels[4 * k + 1] = static_cast<u8>(k * 2654435761u >> 24);
  const std::vector<u8> picture = Pixels("W0/big");
  ASSERT_EQ(Run(0), 0) << g_ErrLastText;
  EXPECT_EQ(CheckStreamsWithUncompress(File("big.sd")), 1u);
  LayerRelease(ObjFindNode(g_LayerRoot, "W0/big", OBJ_FIND_ITEM));
  MakePicture("W0/big", 2, 2, 1);
  ASSERT_EQ(Run(1), 0) << g_ErrLastText;
  EXPECT_EQ(Pixels("W0/big"), picture);
}

TEST_F(SaveTest, SnapshotRestoresEverySlotEmptyOnesIncluded) {
  LoadScript(
      "global int i\n*SYSTEM_START\nsave dno=1, var=i, slot=0\nsave dno=1, var=i, slot=7\nsave slot=99999\n"
      "save file=\"snap\"\nload file=\"snap\", dno=1024\nload slot=0, dno=1, var=i\nload slot=7, dno=1, var=i\n"
      "load slot=5, dno=1, var=i\nsave dno=1, var=i, slot=5\nsave dno=2, var=i, slot=0\n");
  VarSetNumElement(1000, 0, 10);
  ASSERT_EQ(Run(0), 0);
  VarSetNumElement(1000, 0, 70);
  ASSERT_EQ(Run(1), 0);
  const std::vector<u8> slot0(g_SaveSlots[0].data, g_SaveSlots[0].data + g_SaveSlots[0].length);
  ASSERT_EQ(Run(2), 0);
  ASSERT_EQ(Run(3), 0);
  ASSERT_EQ(Records(File("snap.sd")).size(), 1u);
  EXPECT_EQ(Records(File("snap.sd"))[0].dno, 1024u);
  ASSERT_EQ(Run(8), 0);
  ASSERT_EQ(Run(9), 0);
  ASSERT_GT(g_SaveSlots[5].length, 0);
  ASSERT_EQ(Run(4), 0) << g_ErrLastText;
  EXPECT_EQ(std::vector<u8>(g_SaveSlots[0].data, g_SaveSlots[0].data + g_SaveSlots[0].length), slot0);
  EXPECT_EQ(g_SaveSlots[5].length, 0) << "empty when the snapshot was taken";
  VarSetNumElement(1000, 0, 1);
  ASSERT_EQ(Run(5), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 10);
  ASSERT_EQ(Run(6), 0);
  EXPECT_EQ(VarGetIntElement(1000, 0), 70);
  EXPECT_EQ(Run(7), 0) << "an emptied slot holds no block";
  EXPECT_TRUE(TestRaised(ERR_SAVE_NO_BLOCK)) << g_ErrLastText;
  EXPECT_EQ(VarGetIntElement(1000, 0), 70);
}

TEST_F(SaveTest, AppendAndRewriteKeepTheOtherBlocks) {
  LoadScript(
      "global int i\nglobal str s\n*SYSTEM_START\nsave dno=3, var=s\nsave dno=1, var=i\nsave dno=2, var=i\n"
      "save file=\"ar\"\nsave dno=5, var=s, file=\"ar\"\nsave dno=2, var=s, file=\"ar\"\nload file=\"ar\", dno=2, "
      "var=s\n");
  VarSetNumElement(1000, 0, 5);
  VarSetStrElement(1001, 0, "first");
  for (u32 l = 0; l <= 3; l++) ASSERT_EQ(Run(l), 0) << g_ErrLastText;
  const std::vector<u8> v1 = File("ar.sd");
  std::vector<Record> r1 = Records(v1);
  ASSERT_EQ(r1.size(), 3u);
  EXPECT_EQ(r1[0].dno, 1u);
  EXPECT_EQ(r1[2].dno, 3u);
  EXPECT_EQ(U32At(v1, 8), 3u);

  ASSERT_EQ(Run(4), 0) << g_ErrLastText;
  const std::vector<u8> v2 = File("ar.sd");
  EXPECT_EQ(std::vector<u8>(v2.begin() + SAVE_HEADER_SIZE, v2.begin() + v1.size()),
            std::vector<u8>(v1.begin() + SAVE_HEADER_SIZE, v1.end()))
      << "appending keeps every old record where it was";
  EXPECT_EQ(U32At(v2, 8), 4u);
  EXPECT_EQ(U32At(v2, 12 + 4 * 5), v1.size());

  VarSetStrElement(1001, 0, "second, and longer");
  ASSERT_EQ(Run(5), 0) << g_ErrLastText;
  const std::vector<u8> v3 = File("ar.sd");
  std::vector<Record> r2 = Records(v2), r3 = Records(v3);
  ASSERT_EQ(r3.size(), 4u);
  EXPECT_EQ(U32At(v3, 8), 4u) << "a rewrite keeps the count";
  for (size_t k = 0; k < 4; k++) {
    EXPECT_EQ(r3[k].dno, r2[k].dno) << "the old order";
    EXPECT_EQ(U32At(v3, 12 + 4 * r3[k].dno), r3[k].offset);
    if (r3[k].dno != 2) {
      EXPECT_EQ(r3[k].bytes, r2[k].bytes) << r3[k].dno;
    }
  }
  EXPECT_NE(r3[1].bytes, r2[1].bytes);
  VarSetStrElement(1001, 0, "");
  ASSERT_EQ(Run(6), 0) << g_ErrLastText;
  EXPECT_EQ(Str(1001), "second, and longer");
}

TEST_F(SaveTest, Refusals) {
  const std::string n32(32, 'n'), n33(33, 'n');
  LoadScript(
      "global int i\nglobal str s\n*SYSTEM_START\n"
      "save dno=4, var=i\n"                // 0
      "save dno=4, var=s\n"                // 1
      "save file=\"a/b\", dno=9, var=i\n"  // 2
      "save file=\"" +
      n33 +
      "\"\n"  // 3
      "save file=\"" +
      n32 +
      "\"\n"  // 4
      "load file=\"" +
      n32 +
      "\", dno=7, var=i\n"                     // 5
      "load file=\"missing\", dno=1, var=i\n"  // 6
      "load file=\"magic\", dno=1, var=i\n"    // 7
      "load file=\"version\", dno=1, var=i\n"  // 8
      "load slot=500, dno=1, var=i\n"          // 9
      "save slot=-1\n"                         // 10
      "load file=\"" +
      n32 +
      "\", dno=4, var=s\n"  // 11
      "load file=\"" +
      n32 +
      "\", dno=4\n"  // 12
      "load file=\"" +
      n32 +
      "\", dno=4, layer=\"W0/\"\n"   // 13
      "save dno=2\n"                 // 14
      "load slot=2, dno=1, var=i\n"  // 15
      "load file=\"" +
      n32 +
      "\", dno=4, var=i\n"                 // 16
      "save layer=\"W0/none\", dno=3\n");  // 17
  game.Write("savech/magic.sd", std::string("ZPSX") + std::string(5000, '\0'));
  std::vector<u8> version = LayOut({});
  SetU32(version, 4, 481);
  game.Write("savech/version.sd", version);
  VarSetNumElement(1000, 0, 77);
  ASSERT_EQ(Run(0), 0);
  const std::vector<u8> first(g_SaveBlocks[3].data, g_SaveBlocks[3].data + g_SaveBlocks[3].length);
  static const struct {
    u32 line;
    i32 result;
    i32 code;
    const char* arg;
  } kCases[] = {
      {1, -1, ERR_SAVE_PENDING, "|save|dno|4"},
      {2, -1, ERR_SAVE_NAME_FOLDER, "|save|a\\b"},
      {3, -1, ERR_SAVE_NAME_LONG, ""},
      {4, 0, 0, ""},
      {5, 0, ERR_SAVE_NO_BLOCK, "|load|dno"},
      {6, -1, ERR_SAVE_OPEN, "|load|file|savech\\missing.sd"},
      {7, -1, ERR_SAVE_MAGIC, ""},
      {8, -1, ERR_SAVE_VERSION, ""},
      {9, -1, ERR_ARG_RANGE, "|load|slot|500"},
      {10, -1, ERR_ARG_RANGE, "|save|slot|-1"},
      {11, -1, ERR_SAVE_TYPE, "|load|dim_str"},
      {12, -1, 0, ""},
      {13, -1, ERR_SAVE_VAR_INTO_LAYER, ""},
      {14, -1, 0, ""},
      {15, 0, ERR_SAVE_NO_BLOCK, ""},
      {16, 0, 0, ""},
      {17, -1, ERR_SAVE_LAYER_MISSING, "|save|W0/none"},
  };
  for (const auto& c : kCases) {
    VarSetNumElement(1000, 0, 1);
    EXPECT_EQ(Run(c.line), c.result) << c.line << " " << g_ErrLastText;
    if (c.code) {
      EXPECT_NE(g_ErrLastText.find("E" + std::to_string(c.code) + c.arg), std::string::npos)
          << c.line << ": " << g_ErrLastText;
    } else {
      EXPECT_FALSE(g_ErrDialogShown) << c.line << ": " << g_ErrLastText;
    }
    EXPECT_EQ(VarGetIntElement(1000, 0), c.line == 16 ? 77 : 1) << c.line;
    if (c.line == 1) {
      EXPECT_EQ(std::vector<u8>(g_SaveBlocks[3].data, g_SaveBlocks[3].data + g_SaveBlocks[3].length), first);
    }
    if (c.line == 2) {
      EXPECT_EQ(g_SaveBlocks[8].length, 0) << "a refused name builds nothing";
    }
  }
  for (const SaveBlock& b : g_SaveBlocks) EXPECT_EQ(b.length, 0);
  EXPECT_TRUE(fs::exists(game.Path("savech/" + n32 + ".sd")));
}

TEST_F(SaveTest, AFileLaidOutByA32BitBuildLoads) {
  // The record image as the 32-bit engine keeps it: pointer fields hold addresses, and every
  // field but the size is ignored on load.
  std::vector<u8> record(SAVE_RECORD_IMAGE_SIZE, 0);
  for (u32 at : {76u, 144u, 156u, 160u, 528u, 536u, 540u, 1000u, 1560u, 1564u, 1584u, 1588u, 1592u})
    SetU32(record, at, 0x0F1E2D3Cu);
  SetU32(record, 120, 3);
  SetU32(record, 124, 2);
  record[128] = 64;  // opacity 64 stays behind
  std::vector<u8> image;
  PutU32(image, 1600);
  PutU32(image, 24);
  image.insert(image.end(), record.begin(), record.end());
  for (u32 k = 0; k < 24; k++) image.push_back(static_cast<u8>(200 - k));
  std::vector<u8> ints;
  PutU32(ints, 1);
  PutU32(ints, 1);
  PutU32(ints, 3);
  PutU32(ints, 24);
  for (u32 v : {7u, 0xFFFFFFFFu, 9u}) {
    PutU32(ints, v);
    PutU32(ints, v == 0xFFFFFFFFu ? 0xFFFFFFFFu : 0);
  }
  std::vector<u8> f = LayOut({{1, 0, 1000, ints}, {3, 1, 0, image}});
  game.Write("savech/WINSAVE.SD", f);  // spelt as a Windows folder may hold it
  LoadScript(
      "global int a[3]\n*SYSTEM_START\nload file=\"winsave\", dno=1, var=a[]\n"
      "load file=\"winsave\", dno=3, layer=\"W0/pic\"\n");
  MakePicture("W0/pic", 4, 4, 3);
  ASSERT_EQ(Run(0), 0) << g_ErrLastText;
  ASSERT_EQ(Run(1), 0) << g_ErrLastText;
  EXPECT_EQ(VarGetIntElement(1000, 0), 7);
  EXPECT_EQ(VarGetIntElement(1000, 1), -1);
  EXPECT_EQ(VarGetIntElement(1000, 2), 9);
  const LayerRecord* r = LayerOf(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 3);
  EXPECT_EQ(r->height, 2);
  EXPECT_EQ(r->opacity, 256);
  EXPECT_EQ(Pixels("W0/pic"), std::vector<u8>(image.end() - 24, image.end()));
}

TEST_F(SaveTest, DamagedFilesNeverCrashAndChangeNothingHalfway) {
  LoadScript(
      "global int a[4]\nglobal str t[3]\nglobal float g[2]\nglobal float h\nglobal str s\n*SYSTEM_START\n"
      "save dno=1, var=a[]\nsave dno=2, var=t[]\nsave dno=3, float1=1\nsave dno=4, layer=\"W0/pic\"\n"
      "save dno=5, var=s\nsave file=\"good\"\n"
      "load file=\"bad\", dno=1, var=a[]\nload file=\"bad\", dno=2, var=t[]\nload file=\"bad\", dno=3\n"
      "load file=\"bad\", dno=4, layer=\"W0/pic\"\nload file=\"bad\", dno=5, var=s\nload file=\"bad\", dno=1024\n");
  MakePicture("W0/pic", 3, 2, 4);
  const std::vector<u8> saved_picture = Pixels("W0/pic");
  auto set = [](bool saved) {
    for (i64 k = 0; k < 4; k++) VarSetNumElement(1000, k, saved ? 100 + k : -1);
    for (i64 k = 0; k < 3; k++) VarSetStrElement(1001, k, saved ? std::string(40 + k, 'a' + k).c_str() : "-");
    for (i64 k = 0; k < 2; k++) VarSetFloatElement(1002, k, saved ? 0.5 + k : -1);
    VarSetFloatElement(1003, 0, saved ? 9.5 : -1);
    VarSetStrElement(1004, 0, saved ? "whole" : "-");
  };
  set(true);
  for (u32 l = 0; l <= 5; l++) ASSERT_EQ(Run(l), 0) << g_ErrLastText;
  const std::vector<u8> good = File("good.sd");
  const std::vector<Record> records = Records(good);
  ASSERT_EQ(records.size(), 5u);

  std::vector<std::vector<u8>> damaged;
  for (size_t cut = 0; cut < good.size(); cut += (cut < 24 || cut >= SAVE_HEADER_SIZE) ? 1 : 509)
    damaged.emplace_back(good.begin(), good.begin() + cut);
  const u32 kValues[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<u32>(good.size())};
  std::vector<size_t> fields = {0, 4, 8, 12};
  for (const Record& r : records) {
    fields.push_back(12 + 4 * r.dno);
    for (size_t at : {r.offset, r.offset + 4, r.offset + 6, r.offset + 8, r.offset + 12}) fields.push_back(at);
  }
  for (size_t at : fields) {
    for (u32 v : kValues) {
      std::vector<u8> f = good;
      SetU32(f, at, v);
      damaged.push_back(f);
      f = good;
      SetU32(f, at, U32At(good, at) + (v & 1 ? 1 : -1));
      damaged.push_back(f);
    }
  }
  for (u32 seed = 1; seed <= 300; seed++) {
    std::vector<u8> f = good;
    u32 x = seed * 2654435761u;
    for (int k = 0; k < 3; k++) {
      x = x * 1664525u + 1013904223u;
      f[SAVE_HEADER_SIZE + x % (f.size() - SAVE_HEADER_SIZE)] ^= static_cast<u8>(1 + (x >> 24) % 255);
    }
    damaged.push_back(f);
  }

  testing::internal::CaptureStderr();
  for (size_t d = 0; d < damaged.size(); d++) {
    game.Write("savech/bad.sd", damaged[d]);
    set(false);
    LayerRelease(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM));
    MakePicture("W0/pic", 2, 2, 8);
    const std::vector<u8> other_picture = Pixels("W0/pic");
    for (u32 l = 6; l <= 11; l++) Run(l);
    // Each variable holds all of the saved values or none of them.
    const bool a = VarGetIntElement(1000, 0) == 100;
    for (i64 k = 0; k < 4; k++) EXPECT_EQ(VarGetIntElement(1000, k), a ? 100 + k : -1) << d;
    const bool t = Str(1001, 0) != "-";
    for (i64 k = 0; k < 3; k++) EXPECT_EQ(Str(1001, k), t ? std::string(40 + k, 'a' + k) : "-") << d;
    const bool g = VarGetFloatElement(1002, 0) == 0.5;
    EXPECT_EQ(VarGetFloatElement(1002, 1), g ? 1.5 : -1) << d;
    EXPECT_EQ(VarGetFloatElement(1003, 0), g ? 9.5 : -1) << d << ": a group applies all items or none";
    const std::vector<u8> pic = Pixels("W0/pic");
    EXPECT_TRUE(pic == saved_picture || pic == other_picture) << d;
  }
  testing::internal::GetCapturedStderr();
}

TEST_F(SaveTest, AFailedWriteLeavesTheOldFileAndRaises102140) {
  LoadScript("global int i\n*SYSTEM_START\nsave dno=1, var=i, file=\"disk\"\nsave dno=2, var=i, file=\"disk\"\n");
  ASSERT_EQ(Run(0), 0);
  const std::vector<u8> before = File("disk.sd");
  static const struct {
    int errno_value;
    const char* want;
  } kCases[] = {
      {ENOSPC, "|28|No space left on device"},
      {EDEADLK, "|36|Resource deadlock avoided"},
      {ENAMETOOLONG, "|38|File name too long"},  // no text of its own: the system's
  };
  for (const auto& c : kCases) {
    PlatFileFailWritesAfter(100, c.errno_value);
    EXPECT_EQ(Run(1), -1);
    PlatFileFailWritesAfter(-1, 0);
    EXPECT_NE(g_ErrLastText.find(std::string("E102140|save|savech\\disk.sd") + c.want), std::string::npos)
        << g_ErrLastText;
    EXPECT_EQ(File("disk.sd"), before);
    EXPECT_GT(g_SaveBlocks[1].length, 0) << "the block stays pending for another try";
    SaveFreeBlocks(-1);
  }
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(game.Path("savech"))) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
}

TEST_F(SaveTest, WithoutASaveFolderSavesAreRefusedAndNothingIsRead) {
  LoadScript("global int i\n*SYSTEM_START\nsave dno=1, var=i, file=\"home\"\nload file=\"home\", dno=1, var=i\n");
  game.Write("home.sd", std::string("ZPSD"));  // in the game folder, where no save belongs
  g_SaveFolder[0] = '\0';  // as a user folder without a home folder to hold it leaves it
  g_SaveFolderMissing = 1;
  EXPECT_EQ(Run(0), -1);
  EXPECT_NE(g_ErrLastText.find("E102140|save|home.sd|2|No such file or directory"), std::string::npos) << g_ErrLastText;
  EXPECT_EQ(fs::file_size(game.Path("home.sd")), 4u) << "the game folder's file stays as it was";
  EXPECT_EQ(Run(1), -1);
  EXPECT_NE(g_ErrLastText.find("E102100|load|"), std::string::npos) << g_ErrLastText;
}

TEST_F(SaveTest, AFolderThatCannotBeMadeIsWhySavingFailed) {
  // sysfs refuses new folders to every user; the write after it would only find the folder missing.
  if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no sysfs";
  const std::string old = PlatGetEnv("XDG_DATA_HOME");
  setenv("XDG_DATA_HOME", "/sys/kernel/zephra-saves", 1);
  g_FolderNotWritable = 1;
  g_CfgSaveFolderMode = 0;
  SysSaveFolderMap();
  LoadScript("global int i\n*SYSTEM_START\nsave dno=1, var=i, file=\"ro\"\n");
  EXPECT_EQ(Run(0), -1);
  const bool refused = g_ErrLastText.find("|1|Operation not permitted") != std::string::npos ||
                       g_ErrLastText.find("|13|Permission denied") != std::string::npos;
  EXPECT_TRUE(refused) << g_ErrLastText;
  EXPECT_FALSE(fs::exists("/sys/kernel/zephra-saves"));
  if (old.empty()) unsetenv("XDG_DATA_HOME");
  else setenv("XDG_DATA_HOME", old.c_str(), 1);
  g_FolderNotWritable = 0;
}

TEST_F(SaveTest, AReadOnlyGameKeepsItsSavesInTheUserDataFolder) {
  const std::string xdg = game.Path("xdg");
  const std::string old = PlatGetEnv("XDG_DATA_HOME");
  setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  g_FolderNotWritable = 1;
  g_CfgSaveFolderMode = 0;
  SysSaveFolderMap();
  LoadScript("global int i\n*SYSTEM_START\nsave dno=1, var=i, file=\"ro\"\nload file=\"ro\", dno=1, var=i\n");
  VarSetNumElement(1000, 0, 42);
  EXPECT_EQ(Run(0), 0) << g_ErrLastText;
  VarSetNumElement(1000, 0, 0);
  EXPECT_EQ(Run(1), 0) << g_ErrLastText;
  EXPECT_EQ(VarGetIntElement(1000, 0), 42);
  EXPECT_FALSE(fs::exists(game.Path("savech")));
  size_t found = 0;
  for (const auto& e : fs::recursive_directory_iterator(xdg + "/zephra"))
    found += e.path().filename() == "ro.sd" && e.path().parent_path().filename() == "savech";
  EXPECT_EQ(found, 1u);
  g_FolderNotWritable = 0;
  if (old.empty()) unsetenv("XDG_DATA_HOME");
  else setenv("XDG_DATA_HOME", old.c_str(), 1);
}

TEST_F(SaveTest, APictureLoadsAlikeHoweverItsStreamIsCutIntoPieces) {
  // 640 x 420 and 1000 bytes after the pixels: a payload of five 256 KiB pieces, the last short.
  const i32 w = 640, h = 420;
  std::vector<u8> payload;
  PutU32(payload, SAVE_RECORD_IMAGE_SIZE);
  PutU32(payload, static_cast<u32>(w * h * 4));
  std::vector<u8> record(SAVE_RECORD_IMAGE_SIZE, 0);
  SetU32(record, 120, static_cast<u32>(w));
  SetU32(record, 124, static_cast<u32>(h));
  payload.insert(payload.end(), record.begin(), record.end());
  u32 x = 1;
  for (i32 k = 0; k < w * h * 4 + 1000; k++) {  // a repeating pattern (matches everywhere) and noise
    x = x * 1664525u + 1013904223u;
    payload.push_back(static_cast<u8>(k % 997 * 13 + (x >> 31)));
  }
  const std::vector<u8> picture(payload.begin() + 1608, payload.end() - 1000);
  const size_t P = 1 << 18, rest = payload.size() - 4 * P;
  ASSERT_GT(rest, 0u);
  ASSERT_LT(rest, P);
  const std::vector<size_t> pieces = {P, P, P, P, rest};
  std::vector<u8> extra_end = PieceStream(payload, pieces, false);  // an empty stored block more
  {
    const std::vector<u8> first = PieceStream(payload, {P}, false);  // ends in 00 00 FF FF
    const std::vector<u8> block = {0x00, 0x00, 0x00, 0xFF, 0xFF};
    extra_end.insert(extra_end.begin() + static_cast<long>(first.size()), block.begin(), block.end());
  }
  std::vector<u8> bad_sum = PieceStream(payload, pieces, false);
  bad_sum.back() ^= 1;
  const struct {
    const char* name;
    std::vector<u8> stream;
    bool loads;
  } kCases[] = {
      {"one stream by compress2", Deflate(payload), true},
      {"independent pieces", PieceStream(payload, pieces, false), true},
      {"pieces that refer back", PieceStream(payload, pieces, true), true},
      {"pieces of other sizes", PieceStream(payload, {200000, 324288, P, P, rest}, false), true},
      {"an empty block more", extra_end, true},
      {"a wrong sum", bad_sum, false},
  };
  LoadScript("*SYSTEM_START\nload file=\"pieces\", dno=2, layer=\"W0/pic\"\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    uLongf n = static_cast<uLongf>(payload.size());
    std::vector<u8> back(payload.size());
    EXPECT_EQ(uncompress(back.data(), &n, c.stream.data(), c.stream.size()) == Z_OK && back == payload, c.loads);
    game.Write("savech/pieces.sd", LayOut({{2, 1, 0, payload, c.stream}}));
    LayerRelease(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM));
    MakePicture("W0/pic", 3, 3, 2);
    const std::vector<u8> before = Pixels("W0/pic");
    testing::internal::CaptureStderr();
    Run(0);
    testing::internal::GetCapturedStderr();
    const LayerRecord* r = LayerOf(ObjFindNode(g_LayerRoot, "W0/pic", OBJ_FIND_ITEM));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->width, c.loads ? w : 3);
    EXPECT_TRUE(Pixels("W0/pic") == (c.loads ? picture : before));
  }
}

TEST_F(SaveTest, AGroupOfManyTextsRoundTripsThroughAFileAndASlot) {
  // Enough texts to be deflated on several threads, of every size a deflater is chosen by.
  const size_t kLengths[] = {0, 1, 20, 33, 100, 129, 700, 1025, 4095};
  const int kCount = 600;
  std::string script;
  for (int k = 0; k < kCount; k++) script += "global class 1 str s" + std::to_string(k) + "\n";
  script +=
      "*SYSTEM_START\nsave dno=1, str1=1, file=\"grp\"\nload file=\"grp\", dno=1\nsave dno=1, str1=1, slot=4\n"
      "load slot=4, dno=1\n";
  LoadScript(script);
  std::vector<std::string> texts;
  for (int k = 0; k < kCount; k++) {
    std::string t;
    for (size_t c = 0; c < kLengths[k % std::size(kLengths)]; c++) t += static_cast<char>('a' + (c * 7 + k) % 26);
    texts.push_back(t);
    VarSetStrElement(1000 + k, 0, t.c_str());
  }
  for (u32 line : {0u, 2u}) {
    SCOPED_TRACE(line);
    ASSERT_EQ(Run(line), 0) << g_ErrLastText;
    for (int k = 0; k < kCount; k++) VarSetStrElement(1000 + k, 0, "-");
    Run(line + 1);
    ASSERT_EQ(g_ErrLastText, "");
    for (int k = 0; k < kCount; k++) ASSERT_TRUE(Str(1000 + k) == texts[k]) << k;
  }
  size_t members = 0;  // the texts and the engine's own of class 1
  for (u32 id = 0; id < g_VarCount; id++)
    members += VarRecordOf(id) && VarRecordOf(id)->var_class == 1 && VarRecordOf(id)->type == VAR_TYPE_STR;
  EXPECT_GE(members, static_cast<size_t>(kCount));
  EXPECT_EQ(CheckStreamsWithUncompress(File("grp.sd")), members);
}

// Class 1 holds the system variables: a group of them saves and loads their elements as the
// records hold them (no computed value, no error for the dropped files past their count), and
// system variable 0 is a member like any other.
TEST_F(SaveTest, AGroupOfClassOneTakesTheSystemVariablesAsTheyStand) {
  LoadScript(
      "global class 1 int n\nglobal class 1 str t\n*SYSTEM_START\nsave dno=1, int1=1\nsave dno=2, str1=1\n"
      "save file=\"sys\"\nload file=\"sys\", dno=1\nload file=\"sys\", dno=2\n");
  ASSERT_EQ(VarRecordOf(14)->var_class, 1);
  ASSERT_GT(VarRecordOf(14)->count, 3);
  VarSetNumElement(1000, 0, 41);
  VarSetStrElement(1001, 0, "text");
  VarSetNumElement(0, 5, 77);
  VarSetStrElement(14, 3, "kept");
  for (u32 l = 0; l <= 2; l++) {
    ASSERT_EQ(Run(l), 0) << l;
    ASSERT_EQ(g_ErrLastText, "") << l;
    ASSERT_EQ(g_QuitRequested.load(), 0) << l;
  }
  VarSetNumElement(1000, 0, 0);
  VarSetStrElement(1001, 0, "");
  VarSetNumElement(0, 5, 0);
  VarSetStrElement(14, 3, "");
  EXPECT_EQ(Run(3), -1);
  EXPECT_EQ(Run(4), -1);
  EXPECT_EQ(g_ErrLastText, "");
  EXPECT_EQ(VarGetIntElement(1000, 0), 41);
  EXPECT_EQ(Str(1001), "text");
  EXPECT_EQ(VarRecordOf(0)->ints[5], 77);
  EXPECT_STREQ(VarRecordOf(14)->strs[3], "kept");
}

// What a load of a file cut short or damaged ends with: the message and the command's result
// (0 lets the thread's turn go on). Nothing is applied when it fails.
TEST_F(SaveTest, LoadsOfCutAndDamagedFilesEndWithTheirMessageAndResult) {
  LoadScript(
      "global str s\nglobal class 2 int g\n*SYSTEM_START\n"
      "load file=\"f\", dno=1, var=s\nload file=\"f\", dno=2\nload file=\"f\", dno=1024\nsave slot=99999\n"
      "save dno=1, var=s\nsave dno=2, int2=1\nsave file=\"f\"\nsave dno=1, var=s, slot=0\nsave file=\"f\"\n");
  VarSetStrElement(1000, 0, "saved text");
  VarSetNumElement(1001, 0, 5);
  for (u32 l : {4u, 5u, 6u}) ASSERT_EQ(Run(l), 0) << g_ErrLastText;
  const std::vector<u8> blocks = File("f.sd");
  fs::remove(game.Path("savech/f.sd"));
  for (u32 l : {7u, 3u, 8u}) ASSERT_EQ(Run(l), 0) << g_ErrLastText;
  const std::vector<u8> snapshot = File("f.sd");
  const std::vector<Record> rec = Records(blocks), snap = Records(snapshot);
  ASSERT_EQ(rec.size(), 2u);
  ASSERT_EQ(snap.size(), 1u);

  auto cut = [](const std::vector<u8>& f, size_t n) { return std::vector<u8>(f.begin(), f.begin() + n); };
  std::vector<u8> bad_slot = snapshot;
  const size_t slot0 = snap[0].offset + 16;  // slot 0's raw and stored length, then its stream
  bad_slot[slot0 + 8 + U32At(snapshot, slot0 + 4) - 1] ^= 0x55;  // the stream's Adler-32
  auto letters = [](size_t n) {
    std::string t;
    for (size_t k = 0; k < n; k++) t += static_cast<char>('a' + k % 26);
    return t;
  };
  auto text = [&](size_t n) {
    std::vector<u8> p;
    for (u32 v : {3u, 0u, static_cast<u32>(4 + n), static_cast<u32>(n)}) PutU32(p, v);
    const std::string t = letters(n);
    p.insert(p.end(), t.begin(), t.end());
    return p;
  };
  const struct {
    const char* what;
    std::vector<u8> file;
    u32 line;
    i32 result;
    const char* message;  // "" for none
    std::string loaded;   // the text of s afterwards
  } cases[] = {
      {"a text of 4096 bytes loads whole", LayOut({{1, 0, 1000, text(4096)}}), 0, 0, "", letters(4096)},
      {"a text of 4097 bytes is refused", LayOut({{1, 0, 1000, text(4097)}}), 0, -1, "savech\\f.sd", "-"},
      {"a text block cut in its stream", cut(blocks, rec[0].offset + 20), 0, -1, "Uncompress Error.", "-"},
      {"a text block cut in its header", cut(blocks, rec[0].offset + 10), 0, -1, "Uncompress Error.", "-"},
      {"a group cut in its last item", cut(blocks, blocks.size() - 2), 1, -1, "Uncompress Error.", "-"},
      {"a snapshot cut short", cut(snapshot, snapshot.size() - 2), 2, 0, "Load Error.", "-"},
      {"a snapshot with a damaged slot", bad_slot, 2, 0, "Load Error.", "-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    game.Write("savech/f.sd", c.file);
    VarSetStrElement(1000, 0, "-");
    VarSetNumElement(1001, 0, -1);
    const std::vector<u8> slot(g_SaveSlots[0].data, g_SaveSlots[0].data + g_SaveSlots[0].length);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(c.line), c.result);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_ErrLastText, "");
    if (*c.message) EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    else EXPECT_EQ(printed, "");
    EXPECT_EQ(Str(1000), c.loaded);
    EXPECT_EQ(VarGetIntElement(1001, 0), -1);
    EXPECT_EQ(std::vector<u8>(g_SaveSlots[0].data, g_SaveSlots[0].data + g_SaveSlots[0].length), slot);
  }
  // A snapshot that cannot be built goes on too (here: slots too large to hold in one block).
  g_SaveSlots[1].length = INT32_MAX;
  EXPECT_EQ(Run(3), 0);
  EXPECT_TRUE(TestRaised(ERR_SAVE_TOO_LONG));
  g_SaveSlots[1].length = 0;
}

// A whole system variable named by the variable parameter is the same item a group holds: its
// elements as the records hold them, so the dropped files past their count raise nothing (one
// element of them is read as ever, and raises), and system variable 0 saves and loads like any
// other variable.
TEST_F(SaveTest, AWholeSystemVariableIsSavedAsTheRecordHoldsIt) {
  LoadScript(
      "*SYSTEM_START\nsave dno=1, var=@14[]\nsave dno=2, var=@0[]\nsave dno=3, str1=1\nsave file=\"one\"\n"
      "load file=\"one\", dno=1, var=@14[]\nload file=\"one\", dno=2, var=@0[]\nsave dno=4, var=@14[3]\n");
  ASSERT_EQ(VarRecordOf(14)->var_class, 1);
  ASSERT_GT(VarRecordOf(14)->count, 3);
  ASSERT_EQ(VarRecordOf(0)->type, VAR_TYPE_INT);
  VarSetStrElement(14, 3, "kept");
  VarSetNumElement(0, 5, 77);
  for (u32 l = 0; l <= 3; l++) {
    ASSERT_EQ(Run(l), 0) << l;
    ASSERT_EQ(g_ErrLastText, "") << l;
  }

  // The single item is the group's member of id 14, byte for byte.
  std::vector<u8> single, member;
  for (const Record& r : Records(File("one.sd"))) {
    const u8* b = r.bytes.data() + 4;
    if (r.dno == 1) single.assign(b, b + 12 + U32At(r.bytes, 8));
    for (size_t at = 12; r.dno == 3 && at < 12 + U32At(r.bytes, 8); at += 12 + U32At(r.bytes, 4 + at + 4))
      if (b[at + 2] == 14 && b[at + 3] == 0) member.assign(b + at, b + at + 12 + U32At(r.bytes, 4 + at + 4));
  }
  ASSERT_FALSE(member.empty());
  EXPECT_EQ(single, member);

  VarSetStrElement(14, 3, "");
  VarSetNumElement(0, 5, 0);
  ASSERT_EQ(Run(4), 0) << g_ErrLastText;
  ASSERT_EQ(Run(5), 0) << g_ErrLastText;
  EXPECT_STREQ(VarRecordOf(14)->strs[3], "kept");
  EXPECT_EQ(VarRecordOf(0)->ints[5], 77);

  Run(6);
  EXPECT_TRUE(TestRaised(ERR_VAR_DROP_INDEX)) << g_ErrLastText;
}

TEST_F(SaveTest, TinyPayloadsAreTheBytesOfZlibsStoredDeflater) {
  // Texts of 0 to 20 bytes: payloads of 16 to 36 bytes, across the largest that is stored.
  std::string script;
  for (int k = 0; k <= 20; k++) script += "global class 1 str s" + std::to_string(k) + "\n";
  LoadScript(script + "*SYSTEM_START\nsave dno=1, str1=1, file=\"tiny\"\n");
  for (int k = 0; k <= 20; k++) VarSetStrElement(1000 + k, 0, std::string(static_cast<size_t>(k), 'a' + k).c_str());
  ASSERT_EQ(Run(0), 0) << g_ErrLastText;
  const std::vector<Record> records = Records(File("tiny.sd"));
  ASSERT_EQ(records.size(), 1u);
  const std::vector<u8>& block = records[0].bytes;
  std::set<u32> sizes;
  for (size_t pos = 16; pos + 12 <= block.size();) {
    const u32 stored = U32At(block, pos + 4), raw = U32At(block, pos + 8);
    ASSERT_LE(pos + 12 + stored, block.size());
    const std::vector<u8> got(block.begin() + static_cast<long>(pos + 12),
                              block.begin() + static_cast<long>(pos + 12 + stored));
    std::vector<u8> payload(raw + 1);
    uLongf n = raw;
    ASSERT_EQ(uncompress(payload.data(), &n, got.data(), got.size()), Z_OK);
    ASSERT_EQ(n, raw);
    if (raw <= 32) {
      z_stream z{};
      ASSERT_EQ(deflateInit2(&z, 0, Z_DEFLATED, 9, 1, Z_DEFAULT_STRATEGY), Z_OK);
      std::vector<u8> want(64);
      z.next_in = payload.data();
      z.avail_in = raw;
      z.next_out = want.data();
      z.avail_out = static_cast<uInt>(want.size());
      ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
      want.resize(z.total_out);
      deflateEnd(&z);
      EXPECT_EQ(got, want) << raw;
      sizes.insert(raw);
    }
    pos += 12 + stored;
  }
  for (u32 raw = 16; raw <= 32; raw++) EXPECT_TRUE(sizes.count(raw)) << raw;
}
