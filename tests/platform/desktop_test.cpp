// The desktop services: the clipboard through SDL (dummy driver: SDL's in-process clipboard),
// what an open starts for each kind of name, and the script file operations on real folders.
#include "platform/desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "support/game_folder.h"

namespace fs = std::filesystem;

TEST(Desktop, ClipboardRoundTripsShiftJisAndGivesUpAtQuit) {
  ASSERT_EQ(PlatVideoInit(), 0);
  const std::string text = "abc \x93\xfa\x96\x7b\x8c\xea\r\nline";  // 日本語
  ASSERT_EQ(PlatClipboardSetText(text.c_str(), nullptr), 0);
  std::string got;
  ASSERT_EQ(PlatClipboardGetText(&got, nullptr), 0);
  EXPECT_EQ(got, text);
  // From another thread the pump carries the call out; at quit the wait ends without it.
  std::atomic<int> result{9};
  std::thread t([&] { result = PlatClipboardSetText("xyz", nullptr); });
  while (result == 9) PlatPollEvents();
  t.join();
  EXPECT_EQ(result.load(), 0);
  ASSERT_EQ(PlatClipboardGetText(&got, nullptr), 0);
  EXPECT_EQ(got, "xyz");
  std::atomic<u8> quit{1};
  std::thread u([&] { result = PlatClipboardGetText(&got, &quit); });
  u.join();  // no pump runs: only the quit flag can end the wait
  EXPECT_EQ(result.load(), -1);
  ASSERT_EQ(PlatClipboardSetText("", nullptr), 0);
  EXPECT_EQ(PlatClipboardGetText(&got, nullptr), -1) << "no text";
  PlatVideoQuit();
}

TEST(Desktop, OpenStartsWhatTheNameIs) {
  TestGameFolder game;
  game.Write("doc/Manual.PDF", "%PDF");
  game.Write("tool.exe", "MZ\x90\x00");
  game.Write("run.sh", "#!/bin/sh\necho \"$1\" > out.txt\n");
  game.Write("plain.sh", "#!/bin/sh\n");
  chmod(game.Path("run.sh").c_str(), 0755);
  fs::create_directory(game.Path("folder"));
  struct Case {
    const char* name;
    int kind;
    std::vector<std::string> argv;
  } cases[] = {
      {"https:\\\\example.com\\a?b", PLAT_OPEN_URL, {"xdg-open", "https://example.com/a?b"}},
      {"mailto:someone@example.com", PLAT_OPEN_URL, {"xdg-open", "mailto:someone@example.com"}},
      {"doc\\manual.pdf", PLAT_OPEN_VIEWER, {"xdg-open", game.Path("doc/Manual.PDF")}},
      {"folder", PLAT_OPEN_VIEWER, {"xdg-open", game.Path("folder")}},
      {"plain.sh", PLAT_OPEN_VIEWER, {"xdg-open", game.Path("plain.sh")}},  // not executable
      {"run.sh", PLAT_OPEN_PROGRAM, {game.Path("run.sh"), "one", "two"}},
      {"tool.exe", PLAT_OPEN_NOTHING, {}},
      {"c:\\missing.txt", PLAT_OPEN_NOTHING, {}},
      {"", PLAT_OPEN_NOTHING, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv;
    EXPECT_EQ(PlatSpawnOpenCommand(c.name, " one\ttwo ", &argv), c.kind) << c.name;
    EXPECT_EQ(argv, c.argv) << c.name;
  }
  ASSERT_EQ(PlatSpawnOpen("run.sh", "hello world", true), 0);
  std::ifstream out(game.Path("out.txt"));
  std::string line;
  std::getline(out, line);
  EXPECT_EQ(line, "hello") << "the parameters are split at blanks";
  EXPECT_EQ(PlatSpawnOpen("tool.exe", "", true), -1);
}

TEST(Desktop, FileOperations) {
  TestGameFolder game;
  game.Write("Data/Notes.txt", "notes");
  game.Write("big.bin", std::vector<u8>(100000, 7));
  // Copy: over a new name, onto itself (stays whole), from a missing file (nothing).
  ASSERT_EQ(PlatFileCopy("data\\notes.txt", "copy.txt"), 0);
  EXPECT_EQ(fs::file_size(game.Path("copy.txt")), 5u);
  ASSERT_EQ(PlatFileCopy("big.bin", "BIG.bin"), 0);
  EXPECT_EQ(fs::file_size(game.Path("big.bin")), 100000u);
  EXPECT_EQ(PlatFileCopy("none.txt", "copy.txt"), -1);
  EXPECT_EQ(fs::file_size(game.Path("copy.txt")), 5u);
  // Folders: one level at a time; only an empty folder is removed; a delete never takes a folder.
  EXPECT_EQ(PlatFolderCreate("a\\b"), -1) << "its parent is missing";
  ASSERT_EQ(PlatFolderCreate("a"), 0);
  ASSERT_EQ(PlatFolderCreate("A\\b"), 0);
  EXPECT_TRUE(fs::is_directory(game.Path("a/b")));
  EXPECT_EQ(PlatFolderRemove("a"), -1);
  EXPECT_EQ(PlatFileDelete("a\\b"), -1);
  EXPECT_EQ(PlatFolderRemove("a\\B"), 0);
  EXPECT_FALSE(fs::exists(game.Path("a/b")));
  EXPECT_EQ(PlatFileDelete("DATA\\notes.TXT"), 0);
  EXPECT_FALSE(fs::exists(game.Path("Data/Notes.txt")));
  size_t leftovers = 0;
  for (auto& e : fs::directory_iterator(game.native))
    leftovers += e.path().filename().string().find(".tmp-") != std::string::npos;
  EXPECT_EQ(leftovers, 0u);
}

TEST(Desktop, AssociatedAppIsTheDesktopDefault) {
  if (PlatSpawnWait({"sh", "-c", "command -v xdg-mime >/dev/null"}) != 0) GTEST_SKIP() << "xdg-mime is not installed";
  TestGameFolder game;
  game.Write("doc/Manual.pdf", "%PDF-1.4\n");
  game.Write("xdg/data/applications/org.example.Viewer.desktop",
             "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\nMimeType=application/pdf;\n");
  game.Write("xdg/data/applications/mimeapps.list",
             "[Default Applications]\napplication/pdf=org.example.Viewer.desktop\n");
  const std::string saved_data = PlatGetEnv("XDG_DATA_HOME"), saved_config = PlatGetEnv("XDG_CONFIG_HOME");
  setenv("XDG_DATA_HOME", game.Path("xdg/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", game.Path("xdg/config").c_str(), 1);
  EXPECT_EQ(PlatSpawnAssociatedApp("DOC\\manual.pdf"), "org.example.Viewer.desktop");
  EXPECT_EQ(PlatSpawnAssociatedApp("doc\\missing.pdf"), "");
  EXPECT_EQ(PlatSpawnAssociatedApp("doc"), "") << "a folder";
  for (auto [name, value] : {std::pair{"XDG_DATA_HOME", &saved_data}, std::pair{"XDG_CONFIG_HOME", &saved_config}}) {
    if (value->empty()) unsetenv(name);
    else setenv(name, value->c_str(), 1);
  }
}
