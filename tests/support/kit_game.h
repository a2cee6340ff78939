// The compiled scripts of test games, written by the kit: by default a game whose one thread
// waits for ever, so that start-up finds every file it loads and the program runs until the test
// (or ZEPHRA_EXIT_AFTER_FRAMES) ends it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kit/build.h"
#include "kit/pack_writer.h"
#include "kit/script_compiler.h"

inline const std::string kTestGameIdle = "*SYSTEM_START\nloop\n    wait frames=1000\nendloop\n";

inline std::vector<KitCompiledFile> TestGameScripts(const std::string& text = kTestGameIdle) {
  std::vector<KitCompiledFile> files;
  std::string err;
  EXPECT_EQ(KitCompileScripts({{"script\\main.zs", text, 0}}, &files, &err), 0) << err;
  return files;
}

// As loose files under folder/chbin.
inline void TestWriteGameScripts(const std::filesystem::path& folder, const std::string& text = kTestGameIdle) {
  std::string err;
  ASSERT_EQ(KitWriteFilesLoose(folder.string(), TestGameScripts(text), &err), 0) << err;
}

// As pack entries.
inline std::vector<KitPackEntry> TestGameScriptEntries() {
  std::vector<KitPackEntry> entries;
  for (const KitCompiledFile& f : TestGameScripts()) {
    KitPackEntry e;
    e.name = f.name;
    e.data = f.data;
    entries.push_back(e);
  }
  return entries;
}
