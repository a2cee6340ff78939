// Building a game from its source folder: the scripts under "script\" (".zs" files, UTF-8)
// compiled in path order, the settings of "project.txt", and every other file as game data.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "kit/script_compiler.h"

struct KitGameSource {
  std::vector<KitScriptSource> scripts;                          // file number = position
  std::vector<std::pair<std::string, std::string>> project;      // key, value (UTF-8)
  std::vector<std::pair<std::string, std::string>> assets;       // native path, game name (Shift-JIS)
};

// Reads a source folder. Returns 0, or -1 with err.
int KitReadSourceFolder(const std::string& src_native, KitGameSource* out, std::string* err);
// Writes compiled files as loose files under out_native ("chbin\x" becomes "chbin/x"),
// each through a temporary file renamed into place. Returns 0, or -1 with err.
int KitWriteFilesLoose(const std::string& out_native, const std::vector<KitCompiledFile>& files, std::string* err);
