// Layer-command scenes: the compose fixture's window and layer tree with compiled script lines
// run as the scheduler would, pictures handed over through a preload list, and the error texts
// named by code so a test sees which error a line raised.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "../script/script_fixture.h"
#include "compose_fixture.h"
#include "core/pack.h"
#include "image_test_files.h"
#include "kit/script_compiler.h"
#include "layer/layer_cmd.h"

struct LayerCmdTest : ComposeTest {
  ScriptWorld w;

  void SetUp() override {
    ComposeTest::SetUp();
    UseWorkers(0);
    std::memset(g_CmdFlags, 1, sizeof g_CmdFlags);
  }
  void TearDown() override {
    w.Close();
    PackMemoryListsFree();
    LayerCmdReset();
    ComposeTest::TearDown();
  }
  // Compiles one script file (declarations, then lines from *SYSTEM_START) and binds it.
  void Load(const std::string& text) {
    w.LoadCompiled(text);
    TestErrTextsWithArgs({100010, 100030, 100240, 100242, 100243, 100244, 101010, 101230, 101250, 101280, 101295});
  }
  // Runs lines first..last (inclusive); each must go on (0).
  void RunAll(u32 first, u32 last) {
    for (u32 i = first; i <= last; i++) ASSERT_EQ(w.Run(i), 0) << "line " << i << " " << g_ErrLastText;
  }
  static ObjNode* Node(const char* path) { return ObjFindNode(g_LayerRoot, path, OBJ_FIND_ITEM); }
  static ObjNode* FolderNode(const char* path) { return ObjFindNode(g_LayerRoot, path, OBJ_FIND_FOLDER); }
  // A picture file in preload list 0 under name.
  static void AddFile(const char* name, u8 type, const std::vector<u8>& data) { TestAddMemoryFile(name, type, data); }
  // A w x h 32-bit BMP whose pixel (x, y) is the value f gives.
  template <class F>
  static std::vector<u8> Bmp32(i32 width, i32 height, F f) {
    TestBmp b;
    b.bits = 32;
    b.width = width;
    b.height = height;
    for (i32 r = 0; r < height; r++) {
      i32 y = height - 1 - r;
      for (i32 x = 0; x < width; x++) {
        u32 v = f(x, y);
        for (i32 k = 0; k < 4; k++) b.rows.push_back(static_cast<u8>(v >> (8 * k)));
      }
    }
    return TestBmpBuild(b);
  }
};
