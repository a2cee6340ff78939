// zpkit build on small source folders, each holding one of an author's mistakes, and on a folder
// played from (saves and settings files beside the scripts).
#include "kit/build.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "kit/build_check.h"
#include "kit/config_writer.h"
#include "kit/pack_writer.h"
#include "platform/file.h"

namespace fs = std::filesystem;

namespace {

struct SourceFolder {
  fs::path root;
  SourceFolder() {
    char tmpl[] = "/tmp/zephra-build-XXXXXX";
    root = mkdtemp(tmpl);
  }
  ~SourceFolder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void Write(const std::string& rel, const std::string& bytes) const {
    fs::create_directories((root / "src" / rel).parent_path());
    std::ofstream(root / "src" / rel, std::ios::binary) << bytes;
  }
  // Builds src into game; the report and the error of the build.
  int Build(KitBuildReport* report, std::string* err, bool packed = true) const {
    KitGameSource src;
    if (KitReadSourceFolder((root / "src").string(), &src, err) != 0) return -1;
    return KitBuildGame(src, (root / "game").string(), packed, err, report);
  }
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// A PNG's signature and chunks (lengths and types only: the check reads no more).
std::string Png(std::initializer_list<const char*> chunks) {
  std::string s("\x89PNG\r\n\x1a\n", 8);
  for (const char* type : chunks) {
    u32 len = std::string(type) == "IHDR" ? 13 : 2;
    s += std::string{0, 0, 0, static_cast<char>(len)} + type + std::string(len + 4, '\0');
  }
  return s;
}

}  // namespace

TEST(KitBuild, SavesStayOutAndSettingsFilesStayLoose) {
  SourceFolder f;
  f.Write("script/main.zs", "*SYSTEM_START\n    end\n");
  f.Write("cg/a.bmp", "picture");
  f.Write("SaveCh/save01.sd", "an author's save");
  f.Write("zpcfg.dat", std::string(128, '\0'));
  ASSERT_EQ(KitSaveFolderSettingsWrite((f.root / "src" / "ZPSFS.DAT").string(), 0), 0);
  KitBuildReport report;
  std::string err;
  ASSERT_EQ(f.Build(&report, &err), 0) << err;
  std::vector<u8> pack;
  ASSERT_EQ(PlatFileReadAllNative((f.root / "game" / "data.zpf").string(), &pack), 0);
  std::vector<std::string> names;
  ASSERT_EQ(KitPackEntryNames(pack, &names, &err), 0) << err;
  EXPECT_NE(std::find(names.begin(), names.end(), "cg\\a.bmp"), names.end());
  for (const std::string& n : names) {
    EXPECT_EQ(n.find("save"), std::string::npos) << n;
    EXPECT_EQ(n.find(".dat"), std::string::npos) << n;
    EXPECT_EQ(n.find(".DAT"), std::string::npos) << n;
  }
  EXPECT_TRUE(fs::exists(f.root / "game" / "zpcfg.dat"));
  EXPECT_TRUE(fs::exists(f.root / "game" / "ZPSFS.DAT"));
  EXPECT_FALSE(fs::exists(f.root / "game" / "SaveCh"));
  std::string notes = Joined(report.notes);
  EXPECT_NE(notes.find("left out savech/ (1 file)"), std::string::npos) << notes;
  EXPECT_NE(notes.find("copied ZPSFS.DAT and zpcfg.dat beside data.zpf"), std::string::npos) << notes;

  // Saving into the documents folder (mode 2): a folder named savech is game data like any other.
  ASSERT_EQ(KitSaveFolderSettingsWrite((f.root / "src" / "ZPSFS.DAT").string(), 2), 0);
  report = KitBuildReport{};
  ASSERT_EQ(f.Build(&report, &err, false), 0) << err;
  EXPECT_TRUE(fs::exists(f.root / "game" / "SaveCh" / "save01.sd"));
  EXPECT_EQ(Joined(report.notes).find("left out"), std::string::npos);
}

TEST(KitBuild, EachMistakeIsReportedAsTheEngineWouldMeetIt) {
  struct Case {
    const char* what;
    const char* project;
    const char* script;
    std::vector<std::pair<const char*, std::string>> files;
    const char* error;    // expected in the error; null: the build succeeds
    const char* warning;  // expected among the warnings; null: none at all
  } cases[] = {
      {"a picture that is not there",
       "",
       "*SYSTEM_START\n  layer name=\"a\", file=\"cg/bgx\", order=1\n",
       {},
       nullptr,
       "script\\main.zs:2: layer file=\"cg/bgx\" names no file of the game (looked for cg\\bgx.png, cg\\bgx.bmp, "
       "cg\\bgx.jpg, cg\\bgx.gif, cg\\bgx.psb)"},
      {"found without regard to case, with the extension the engine tries",
       "images = 3,2",
       "*SYSTEM_START\n  layer name=\"a\", file=\"CG/Bg\", order=1\n  sound name=\"s\", file=\"se\\\\ok.wav\"\n",
       {{"cg/bg.BMP", "x"}, {"SE/OK.WAV", "x"}},
       nullptr,
       nullptr},
      {"an extension outside the project's order",
       "images = 1",
       "*SYSTEM_START\n  layer name=\"a\", file=\"cg/bg\", order=1\n",
       {{"cg/bg.bmp", "x"}},
       nullptr,
       "(looked for cg\\bg.png)"},
      {"a sound, a movie and a preload",
       "",
       "*SYSTEM_START\n\n  sound name=\"s\", file=\"se/gone\"\n  movie file=\"mv/op.mpg\", play=1\n"
       "  file file=\"cg/x\", preload_image=1\n",
       {},
       nullptr,
       "script\\main.zs:3: sound file=\"se/gone\" names no file of the game (looked for se\\gone.ogg, "
       "se\\gone.wav)\nscript\\main.zs:4: movie file=\"mv/op.mpg\" names no file of the game (looked for mv\\op.mpg)\n"
       "script\\main.zs:5: file file=\"cg/x\""},
      {"names made at run time, and files the script writes, are not checked",
       "",
       "*SYSTEM_START\n  layer name=\"a\", file=\"cg/\" + \"x\", order=1\n  layer name=\"b\", file=\"\", order=2\n"
       "  file file=\"shot.png\", layer=\"a\"\n",
       {},
       nullptr,
       nullptr},
      {"a PNG with a transparency chunk",
       "",
       "*SYSTEM_START\n",
       {{"cg/key.png", Png({"IHDR", "PLTE", "tRNS", "IDAT", "IEND"})}, {"cg/rgba.png", Png({"IHDR", "IDAT", "IEND"})}},
       nullptr,
       "cg\\key.png: a PNG with a transparency chunk (tRNS) is drawn opaque by the engine; use an RGBA PNG\n"},
      {"no start label", "", "*START\n  end\n", {}, "ラベル[SYSTEM_START]が存在しません。", nullptr},
      {"too narrow",
       "width = 100\nheight = 100",
       "*SYSTEM_START\n",
       {},
       "width 128 to 8192, height 16 to 8192",
       nullptr},
      {"too low", "width = 640\nheight = 10", "*SYSTEM_START\n", {}, "a game of 640 x 10", nullptr},
      {"the size of the screen", "width = 0\nheight = 0", "*SYSTEM_START\n", {}, nullptr, nullptr},
      {"the largest size", "width = 8192\nheight = 8192", "*SYSTEM_START\n", {}, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SourceFolder f;
    f.Write("project.txt", c.project);
    f.Write("script/main.zs", c.script);
    for (const auto& [name, bytes] : c.files) f.Write(name, bytes);
    KitBuildReport report;
    std::string err;
    int r = f.Build(&report, &err);
    if (c.error) {
      EXPECT_EQ(r, -1);
      EXPECT_NE(err.find(c.error), std::string::npos) << err;
      EXPECT_FALSE(fs::exists(f.root / "game" / "data.zpf"));
      continue;
    }
    ASSERT_EQ(r, 0) << err;
    std::string warnings = Joined(report.warnings);
    if (c.warning) EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
    else EXPECT_EQ(warnings, "");
  }
}

TEST(KitBuild, OnlyATransparencyChunkBeforeTheImageDataCounts) {
  auto bytes = [](const std::string& s) { return std::vector<u8>(s.begin(), s.end()); };
  EXPECT_TRUE(KitPngHasTrns(bytes(Png({"IHDR", "tRNS", "IDAT"}))));
  EXPECT_FALSE(KitPngHasTrns(bytes(Png({"IHDR", "IDAT", "tRNS"}))));
  EXPECT_FALSE(KitPngHasTrns(bytes(Png({"IHDR"}).substr(0, 20))));  // cut inside a chunk
  EXPECT_FALSE(KitPngHasTrns(bytes("GIF89a tRNS")));
}

TEST(KitBuild, ZpkitPrintsItsUsageWhenAskedFor) {
  for (const char* ask : {"--help", "-h", "help"}) {
    std::string cmd = std::string("'") + ZPKIT_BIN + "' " + ask + " 2>/dev/null";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), 0) << ask;
    EXPECT_NE(out.find("usage: zpkit"), std::string::npos) << ask;
    EXPECT_NE(out.find("zpkit bundle OUT GAME"), std::string::npos) << ask;
  }
}
