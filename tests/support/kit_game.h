// The compiled scripts of test games, written by the kit: by default a game whose one thread
// ends the program (once threads run), so that start-up finds every file it loads.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kit/build.h"
#include "kit/pack_writer.h"
#include "kit/script_compiler.h"

inline std::vector<KitCompiledFile> TestGameScripts(const std::string& text = "*SYSTEM_START\nend\n") {
  std::vector<KitCompiledFile> files;
  std::string err;
  EXPECT_EQ(KitCompileScripts({{"script\\main.zs", text, 0}}, &files, &err), 0) << err;
  return files;
}

// As loose files under folder/chbin.
inline void TestWriteGameScripts(const std::filesystem::path& folder, const std::string& text = "*SYSTEM_START\nend\n") {
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
