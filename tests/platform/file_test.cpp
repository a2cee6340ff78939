#include "platform/file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>

#include "platform/platform.h"
#include "support/game_folder.h"

namespace fs = std::filesystem;

namespace {

struct FileTest : ::testing::Test {
  TestGameFolder game;
};

// Native spelling of a resolved name, relative to the game folder.
std::string Rel(const TestGameFolder& g, const std::string& resolved) {
  return fs::path(resolved).lexically_relative(g.native).generic_string();
}

}  // namespace

TEST_F(FileTest, ResolvesEachComponentWithoutRegardToCase) {
  game.Write("BG/Title.PNG", "t");
  game.Write("Sound/SE/Click.wav", "c");
  struct Case {
    const char* name;
    const char* want;
  } cases[] = {
      {"bg\\title.png", "BG/Title.PNG"},
      {"BG/TITLE.png", "BG/Title.PNG"},
      {"sound\\se\\click.WAV", "Sound/SE/Click.wav"},
      {"sound\\\\se\\.\\click.wav", "Sound/SE/Click.wav"},
      {"bg\\..\\sound\\se\\click.wav", "Sound/SE/Click.wav"},
      {"c:\\zephra-test\\GAME\\bg\\title.png", "BG/Title.PNG"},
      {"bg\\missing.png", "BG/missing.png"},  // a new name keeps its own spelling below the real folder
  };
  for (const Case& c : cases) EXPECT_EQ(Rel(game, PlatFileResolve(c.name)), c.want) << c.name;
  EXPECT_EQ(PlatFileKind("bg\\TITLE.png"), PLAT_FILE_REGULAR);
  EXPECT_EQ(PlatFileKind("Sound\\se"), PLAT_FILE_FOLDER);
  EXPECT_EQ(PlatFileKind("bg\\none.png"), PLAT_FILE_NONE);
}

TEST_F(FileTest, TrailByte5CIsNeverASeparator) {
  // "表" is 0x95 0x5C in Shift-JIS and "ソ" 0x83 0x5C: the second byte is a backslash.
  std::string hyo = PlatUtf8ToSjis("表");
  std::string so = PlatUtf8ToSjis("ソ");
  ASSERT_EQ(hyo, std::string("\x95\x5c"));
  ASSERT_EQ(so, std::string("\x83\x5c"));
  game.Write("表/ソ.txt", "x");
  std::string resolved = PlatFileResolve((hyo + "\\" + so + ".TXT").c_str());
  EXPECT_EQ(Rel(game, resolved), "表/ソ.txt");
  std::vector<PlatDirEntry> list;
  ASSERT_EQ(PlatFileList(hyo.c_str(), &list), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, so + ".txt");
}

TEST_F(FileTest, SeesFilesCreatedAfterTheListingWasCached) {
  game.Write("Data/a.txt", "a");
  EXPECT_EQ(PlatFileKind("data\\b.txt"), PLAT_FILE_NONE);  // caches the listing of Data
  game.Write("Data/B.TXT", "b");
  EXPECT_EQ(PlatFileKind("data\\b.txt"), PLAT_FILE_REGULAR);
  fs::remove(game.Path("Data/B.TXT"));
  EXPECT_EQ(PlatFileKind("data\\b.txt"), PLAT_FILE_NONE);
}

// A listing trusted without a look at its folder must still follow the folder when it, or a
// folder above it, is moved away and another takes its place. (The folders are spelt exactly, so
// only the innermost one is ever listed.)
TEST_F(FileTest, SeesAFolderOrAFolderAboveItReplaced) {
  game.Write("Deep/Inner/a.txt", "a");
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\b.txt"), PLAT_FILE_NONE);  // lists Deep/Inner
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\b.txt"), PLAT_FILE_NONE);  // answered from that listing
  fs::rename(game.Path("Deep/Inner"), game.Path("Deep/Old"));
  game.Write("Deep/Inner/B.txt", "b");
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\b.txt"), PLAT_FILE_REGULAR);
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\c.txt"), PLAT_FILE_NONE);
  fs::rename(game.Path("Deep"), game.Path("Gone"));
  game.Write("Deep/Inner/C.TXT", "c");
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\c.txt"), PLAT_FILE_REGULAR);
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\b.txt"), PLAT_FILE_NONE);
  fs::remove_all(game.Path("Deep"));
  EXPECT_EQ(PlatFileKind("Deep\\Inner\\c.txt"), PLAT_FILE_NONE);
}

TEST_F(FileTest, ExactSpellingWinsOverACaseVariant) {
  game.Write("Pic.png", "upper");
  game.Write("pic.png", "lower");
  EXPECT_EQ(Rel(game, PlatFileResolve("pic.png")), "pic.png");
  EXPECT_EQ(Rel(game, PlatFileResolve("Pic.png")), "Pic.png");
}

TEST_F(FileTest, ListingIsSortedWithoutRegardToCaseAndMarksFolders) {
  game.Write("b.zpf", "");
  game.Write("A.zpf", "");
  game.Write("pac/x", "");
  game.Write("C.txt", "");
  std::vector<PlatDirEntry> list;
  ASSERT_EQ(PlatFileList(".", &list), 0);
  std::vector<std::string> names;
  for (const PlatDirEntry& e : list) names.push_back(e.name + (e.folder ? "/" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"A.zpf", "b.zpf", "C.txt", "pac/"}));
  EXPECT_EQ(PlatFileList("no-such-folder", &list), -1);
}

TEST_F(FileTest, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporary) {
  ASSERT_EQ(PlatFileWriteAtomic("Save.dat", "first version", 13), 0);
  ASSERT_EQ(PlatFileWriteAtomic("SAVE.DAT", "second", 6), 0);  // the same file, any case
  u8* data = nullptr;
  size_t size = 0;
  ASSERT_EQ(PlatFileReadAll("save.dat", &data, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "second");
  std::free(data);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(game.native)) {
    (void)e;
    files++;
  }
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(PlatFileWriteAtomic("no-folder\\x.dat", "x", 1), -1);
  EXPECT_FALSE(fs::exists(game.Path("no-folder")));
}

TEST_F(FileTest, NewFilesTakeTheirModeFromTheUmask) {
  struct Case {
    mode_t umask_bits;
    bool executable;
    mode_t want;
  } cases[] = {{077, false, 0600}, {077, true, 0700}, {022, false, 0644}, {002, true, 0775}, {0, false, 0666}};
  const mode_t saved = umask(022);
  int n = 0;
  for (const Case& c : cases) {
    umask(c.umask_bits);
    const std::string path = game.Path("new" + std::to_string(n++));
    ASSERT_EQ(PlatFileWriteAtomicNative(path, "x", 1, c.executable), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.want) << "umask " << std::oct << c.umask_bits;
  }
  // A file written again keeps the bits it has.
  chmod(game.Path("new0").c_str(), 0640);
  umask(0);
  ASSERT_EQ(PlatFileWriteAtomicNative(game.Path("new0"), "y", 1), 0);
  struct stat st;
  ASSERT_EQ(stat(game.Path("new0").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  umask(saved);
}

TEST(Folders, WithoutHomeTheUsersFoldersComeFromThePasswordDatabase) {
  const char* names[] = {"HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR"};
  std::string saved[3];
  for (int i = 0; i < 3; i++) {
    saved[i] = PlatGetEnv(names[i]);
    unsetenv(names[i]);
  }
  const passwd* pw = getpwuid(getuid());
  ASSERT_TRUE(pw && pw->pw_dir && pw->pw_dir[0]);
  const std::string home = pw->pw_dir;
  EXPECT_EQ(PlatFolderHome(), home);
  EXPECT_EQ(PlatFolderAppData(), home + "/.local/share");
  EXPECT_EQ(PlatFolderDocuments().rfind(home, 0), 0u) << PlatFolderDocuments();
  for (int i = 0; i < 3; i++)
    if (!saved[i].empty()) setenv(names[i], saved[i].c_str(), 1);
}

TEST_F(FileTest, ReadAllReportsMissingAndEmptyFiles) {
  game.Write("empty.bin", "");
  u8* data = nullptr;
  size_t size = 7;
  ASSERT_EQ(PlatFileReadAll("EMPTY.bin", &data, &size), 0);
  EXPECT_NE(data, nullptr);  // an empty file still gets a block the caller can free
  EXPECT_EQ(size, 0u);
  std::free(data);
  EXPECT_EQ(PlatFileReadAll("none.bin", &data, &size), -1);
  EXPECT_EQ(data, nullptr);
  // A folder is not a file.
  game.Write("dir/x", "");
  EXPECT_EQ(PlatFileOpenRead("dir"), nullptr);
}

TEST_F(FileTest, LeftoversOfKilledWritersGoAndOnlyThose) {
  // A process that has ended: its pid names no running writer (a pid is reused only much later).
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone), alive = std::to_string(getppid()), mine = std::to_string(getpid());
  struct Case {
    std::string name;
    bool removed;
  } cases[] = {
      {"save1.sd.tmp-" + dead + "-a1B2c3", true},
      {".zephra-write-" + dead + "-Zz09aB", true},
      {"save2.sd.tmp-" + alive + "-a1B2c3", false},  // another running program is writing it
      {"save3.sd.tmp-" + mine + "-a1B2c3", false},   // this run's own
      {"save4.sd.tmp-a1B2c3", false},                // no writer named: not ours to judge
      {"save5.sd.tmp-" + dead + "-a1B2c", false},    // not the form of a temporary name
      {"notes.tmp-" + dead + "-a1B2c3.txt", false},
      {"x.zephra-write-" + dead + "-Zz09aB", false},
  };
  for (const Case& c : cases) game.Write(c.name, "partial");
  PlatFolderRemoveLeftovers(game.native);
  for (const Case& c : cases) EXPECT_EQ(fs::exists(game.Path(c.name)), !c.removed) << c.name;
  // A completed write leaves no temporary file.
  ASSERT_EQ(PlatFileWriteAtomic("done.bin", "x", 1), 0);
  for (const auto& e : fs::directory_iterator(game.native))
    EXPECT_NE(e.path().filename().string().rfind("done.bin.tmp", 0), 0u) << e.path();
}

TEST_F(FileTest, OnlyRegularFilesAreGameFiles) {
  // A FIFO or a device in place of a game file is missing: never opened, never waited on.
  ASSERT_EQ(mkfifo(game.Path("pipe.ogg").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", game.Path("zero.bin").c_str()), 0);
  ASSERT_EQ(symlink(game.Path("pipe.ogg").c_str(), game.Path("link.ogg").c_str()), 0);
  for (const char* name : {"PIPE.ogg", "zero.bin", "link.ogg"}) {
    auto opened = std::async(std::launch::async, [name] {
      PlatFile* f = PlatFileOpenRead(name);
      bool got = f != nullptr;
      PlatFileClose(f);
      u8* data = nullptr;
      size_t size = 0;
      return !got && PlatFileReadAll(name, &data, &size) == -1 && data == nullptr;
    });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // Blocked on the FIFO: a writer lets it go, so the test ends with the failure.
      int w = open(game.Path("pipe.ogg").c_str(), O_WRONLY | O_NONBLOCK);
      ADD_FAILURE() << name << " blocked the reader";
      opened.wait();
      if (w >= 0) close(w);
      continue;
    }
    EXPECT_TRUE(opened.get()) << name;
    EXPECT_EQ(PlatFileKind(name), PLAT_FILE_NONE) << name;
  }
}

TEST_F(FileTest, HandlesSeekAndReportShortReads) {
  game.Write("f.bin", "0123456789");
  PlatFile* f = PlatFileOpenRead("F.BIN");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(PlatFileSize(f), 10);
  ASSERT_EQ(PlatFileSeek(f, 7), 0);
  char buf[8] = {};
  EXPECT_EQ(PlatFileRead(f, buf, 8), 3u);
  EXPECT_EQ(std::string(buf), "789");
  EXPECT_EQ(PlatFileTell(f), 10u);
  PlatFileClose(f);
}

TEST_F(FileTest, ARelativePrefixMapsOnlyRelativeNamesThatStartWithIt) {
  const std::string elsewhere = game.Path("elsewhere");
  PlatFileMapFolder("savech", elsewhere);
  struct Case {
    const char* name;
    std::string want;
  } cases[] = {
      {"savech\\a.sd", elsewhere + "/a.sd"},
      {"SAVECH/b.sd", elsewhere + "/b.sd"},
      {".\\savech\\c.sd", elsewhere + "/c.sd"},
      {"savechx\\d.sd", game.native + "/savechx/d.sd"},  // whole components only
      {"data\\savech\\e.sd", game.native + "/data/savech/e.sd"},
      {"\\savech\\f.sd", "/savech/f.sd"},  // an absolute name is not relative
  };
  for (const Case& c : cases) EXPECT_EQ(PlatFileResolve(c.name), c.want) << c.name;
}
