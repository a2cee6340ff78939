// Fixture of the pack and configuration tests: a fresh game folder, the engine's file-source
// state reset, errors captured, and helpers to write packs with the kit and read names back.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/err.h"
#include "core/pack.h"
#include "core/sys.h"
#include "kit/pack_writer.h"
#include "support/game_folder.h"

struct PackFixture : ::testing::Test {
  TestGameFolder game;

  void SetUp() override {
    PackReset();
    CfgReset();
    ErrReset();
    g_QuitRequested = 0;
    PackScrambleSetup();
  }
  void TearDown() override {
    PackReset();
    CfgReset();
    ErrReset();
    g_QuitRequested = 0;
  }

  static KitPackEntry Entry(const std::string& name, const std::vector<u8>& data, bool compress = false,
                            u32 type = KIT_TYPE_FROM_NAME) {
    KitPackEntry e;
    e.name = name;
    e.data = data;
    e.compress = compress;
    e.type = type;
    return e;
  }
  std::vector<u8> BuildPack(const std::vector<KitPackEntry>& entries, KitPackLayout* layout = nullptr,
                            KitPackOptions opt = KitPackOptions()) {
    std::vector<u8> image;
    std::string err;
    EXPECT_EQ(KitPackBuild(entries, opt, &image, layout, &err), 0) << err;
    return image;
  }
  void WritePack(const std::string& rel, const std::vector<KitPackEntry>& entries,
                 KitPackOptions opt = KitPackOptions()) {
    game.Write(rel, BuildPack(entries, nullptr, opt));
  }

  // Finds a name through the four sources and reads it: the bytes, or "<r=..>" on failure.
  std::string Read(const char* name, PackLookup* out = nullptr) {
    PackLookup lookup{};
    i32 found = PackFindAnySource(&lookup, name, 1);
    if (found <= 0) return "<find=" + std::to_string(found) + ">";
    i32 r = PackReadBySource(&lookup, name);
    if (out) *out = lookup;
    if (r != 0) {
      EXPECT_EQ(lookup.data, nullptr);  // a failed reader leaves nothing behind
      EXPECT_EQ(lookup.size, 0u);
      return "<read=" + std::to_string(r) + ">";
    }
    std::string s(reinterpret_cast<char*>(lookup.data), lookup.size);
    std::free(lookup.data);
    if (out) out->data = nullptr;
    return s;
  }

  // The text the error reporter formatted last equals the text of code with these arguments.
  template <class... A>
  static std::string ErrText(i32 code, const A&... a) {
    return ErrFormat(ErrMessageForCode(code), a...);
  }
};
