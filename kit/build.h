// Building a game from its source folder: the scripts under "script\" (".zs" files, UTF-8)
// compiled in path order, the settings of "project.txt", and every other file as game data.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "kit/script_compiler.h"

struct KitGameSource {
  std::vector<KitScriptSource> scripts;                      // file number = position
  std::vector<std::pair<std::string, std::string>> project;  // key, value (UTF-8)
  std::vector<std::pair<std::string, std::string>> assets;   // native path, game name (Shift-JIS)
  std::string root;                                          // the folder read (native); may be empty
};

// Reads a source folder. Returns 0, or -1 with err (also when it holds no scripts, unless
// scripts_optional).
int KitReadSourceFolder(const std::string& src_native, KitGameSource* out, std::string* err,
                        bool scripts_optional = false);
// The compiled scripts and the project configuration "chbin\zpcfg.zbn". Returns 0 (with the
// facts the checks read, when asked), or -1 with err.
int KitCompileGame(const KitGameSource& src, std::vector<KitCompiledFile>* files, std::string* err,
                   KitScriptFacts* facts = nullptr);
struct KitProjectConfig;
// The project settings of project.txt: width, height, title, show, threaded, debug, sound,
// resizable, framed (numbers or text) and images, sounds (extension orders such as 1,2,3,4,5).
// Values the engine refuses at start-up (a size outside its limits, a title above 128 bytes, a
// threaded mode other than 0 or 1) are errors that say the limits.
int KitProjectFromSettings(const std::vector<std::pair<std::string, std::string>>& settings, KitProjectConfig* cfg,
                           std::string* err);
// What a build tells its author besides an error (UTF-8): mistakes the engine would meet only
// when the game runs, and what the build did not pack.
struct KitBuildReport {
  std::vector<std::string> warnings;
  std::vector<std::string> notes;
};
// Builds a runnable game folder: the compiled scripts and the project configuration under
// "chbin", and the data files; packed into OUT/data.zpf (so start-up finds the project packed)
// or written as loose files. The save folder (in save-folder mode 0: "savech") is left out, and
// the settings files the engine opens beside the game ("zpcfg.dat", "zpsfs.dat") stay loose.
// The checks of build_check.h run first. Returns 0, or -1 with err.
int KitBuildGame(const KitGameSource& src, const std::string& out_native, bool packed, std::string* err,
                 KitBuildReport* report = nullptr);
// The save folder inside a game folder, as its "zpsfs.dat" selects it the way the engine reads
// it: "savech" in mode 0 (also without the file); empty in modes 1 to 3, which save elsewhere.
std::string KitSaveFolderIn(const std::string& folder_native);
// Writes compiled files as loose files under out_native ("chbin\x" becomes "chbin/x"),
// each through a temporary file renamed into place. Returns 0, or -1 with err.
int KitWriteFilesLoose(const std::string& out_native, const std::vector<KitCompiledFile>& files, std::string* err);
