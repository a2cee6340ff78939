// A game folder for the fuzz targets that read files through the engine's file sources: made
// once per process in memory (/dev/shm, else under the temp folder), made the working folder and
// named to the engine as the game folder (its Windows-style name mapped to the native one). Each
// input is written into it as the file a target reads: in memory, that costs no disk per input.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/file.h"
#include "platform/platform.h"

inline const std::string& FuzzGameFolder() {
  static const std::string folder = [] {
    char shm[] = "/dev/shm/zephra-fuzz-XXXXXX";
    char tmp[] = "/tmp/zephra-fuzz-XXXXXX";
    std::string f = mkdtemp(shm) ? shm : mkdtemp(tmp) ? tmp : "/tmp";
    PlatFolderCreateNative(f + "/chbin");
    PlatSetCurrentFolder(f);
    PlatFileReset();
    StrCopySjis(g_ExeFolder, sizeof g_ExeFolder, "c:\\zephra-fuzz\\game\\");
    StrCopySjis(g_GameFolderNative, sizeof g_GameFolderNative, f.c_str());
    StrCopySjis(g_WorkFolder, sizeof g_WorkFolder, g_ExeFolder);
    PlatFileMapFolder(g_ExeFolder, f);
    // Gone with the process (its own copy of the name: the string may be destroyed first).
    static char made[64];
    if (f != "/tmp" && f.size() < sizeof made) {
      std::snprintf(made, sizeof made, "%s", f.c_str());
      std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(made, ec);
      });
    }
    return f;
  }();
  return folder;
}

// Writes the input as rel (a native path inside the game folder, "/" separators).
inline void FuzzWriteGameFile(const std::string& rel, const uint8_t* data, size_t size) {
  const std::string path = FuzzGameFolder() + "/" + rel;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  PlatFileForgetFolder(FuzzGameFolder());
  PlatFileForgetFolder(FuzzGameFolder() + "/chbin");
}

inline void FuzzRemoveGameFile(const std::string& rel) {
  std::remove((FuzzGameFolder() + "/" + rel).c_str());
  PlatFileForgetFolder(FuzzGameFolder());
}

// Errors are shown once per run and fatal ones set the quit flag: every input starts afresh.
inline void FuzzErrorsReset() {
  ErrReset();
  g_QuitRequested = 0;
}
