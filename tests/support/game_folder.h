// A temporary game folder for tests: created empty, made the working folder, and named to the
// engine by a Windows-style spelling ("c:\zephra-test\game\") that the file resolver maps to the
// native folder, so the tests also cover the mapping. Removed again at the end.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "shell/startup.h"

struct TestGameFolder {
  std::string native;
  std::filesystem::path old_cwd;

  TestGameFolder() {
    static std::atomic<int> serial{0};
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int tries = 0;; tries++) {
      std::string name =
          "zephra-test-" + std::to_string(PlatTimeMs()) + "-" + std::to_string(serial++) + "-" + std::to_string(tries);
      std::error_code ec;
      if (std::filesystem::create_directory(base / name, ec)) {
        native = (base / name).string();
        break;
      }
    }
    old_cwd = std::filesystem::current_path();
    PlatSetCurrentFolder(native);
    PlatFileReset();
    StrCopySjis(g_ExeFolder, sizeof g_ExeFolder, "c:\\zephra-test\\game\\");
    StrCopySjis(g_GameFolderNative, sizeof g_GameFolderNative, native.c_str());
    PlatFileMapFolder(g_ExeFolder, native);
  }
  ~TestGameFolder() {
    PlatSetCurrentFolder(old_cwd.string());
    std::error_code ec;
    std::filesystem::remove_all(native, ec);
    PlatFileReset();
    g_ExeFolder[0] = '\0';
    g_GameFolderNative[0] = '\0';
  }
  // A native path inside the folder ("/" separators, UTF-8).
  std::string Path(const std::string& rel) const { return native + "/" + rel; }
  void Write(const std::string& rel, const std::vector<u8>& bytes) const {
    std::filesystem::path p = Path(rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Write(const std::string& rel, const std::string& text) const {
    Write(rel, std::vector<u8>(text.begin(), text.end()));
  }
};

inline std::vector<u8> Bytes(const std::string& s) { return std::vector<u8>(s.begin(), s.end()); }

// Deterministic filler that compresses poorly (for recovery tests) or well.
inline std::vector<u8> Pattern(size_t n, u32 seed, bool compressible = false) {
  std::vector<u8> v(n);
  u32 x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    v[i] = compressible ? static_cast<u8>("abcabcabd"[i % 9]) : static_cast<u8>(x >> 16);
  }
  return v;
}
