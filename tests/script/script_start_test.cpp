// Start-up loading through the file sources: a game compiled by the kit, as loose files and as a
// pack, loaded with ScriptLoadAll, and the thread "SYSTEM" pointed at "SYSTEM_START".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/obj.h"
#include "core/pack.h"
#include "kit/build.h"
#include "kit/script_compiler.h"
#include "script_fixture.h"
#include "shell/startup.h"
#include "support/game_folder.h"

namespace {

struct ScriptStartTest : ::testing::Test {
  TestGameFolder game;
  void SetUp() override {
    ScriptReset();
    ExprReset();
    SysObjReset();
    PackReset();
    ErrReset();
    g_QuitRequested = 0;
    ASSERT_EQ(PackScrambleSetup(), 0);
    ASSERT_EQ(SysCreateRoots(), 0);
  }
  void TearDown() override {
    SysObjReset();
    ScriptReset();
    VarReset();
    PackReset();
    ErrReset();
    g_QuitRequested = 0;
    g_ErrScriptPosition = nullptr;
  }
  // Compiles sources into the game folder as loose files (a file left out by name is skipped).
  void Write(const std::vector<KitScriptSource>& sources, const std::string& skip = "") {
    std::vector<KitCompiledFile> files;
    std::string err;
    ASSERT_EQ(KitCompileScripts(sources, &files, &err), 0) << err;
    std::vector<KitCompiledFile> kept;
    for (const KitCompiledFile& f : files)
      if (f.name != skip) kept.push_back(f);
    ASSERT_EQ(KitWriteFilesLoose(game.native, kept, &err), 0) << err;
  }
  static TaskContext* System() {
    ObjNode* node = ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM);
    return node ? static_cast<TaskContext*>(node->payload) : nullptr;
  }
  static std::string Shown() { return PlatSjisToUtf8(g_ErrLastText); }
};

const KitScriptSource kMain = {"script\\main.zs", "global int g = 4\n*BOOT\nfps rate=30\n*SYSTEM_START\nend\n", 0};
const KitScriptSource kOther = {"script\\other.zs",
                                "int mine = 8\nfps rate=20\nfps rate=21\n*LATE\n*IN_OTHER\nfps rate=22\nend\n", 0};

}  // namespace

TEST_F(ScriptStartTest, SystemThreadStartsWhereSystemStartIs) {
  // SYSTEM_START in the second file, after two lines.
  Write({{"script\\a.zs", "*SYSTEM\nend\n", 0},
         {"script\\b.zs", "int here = 3\nfps rate=10\nfps rate=11\n*SYSTEM_START\nfps rate=12\nend\n", 0}});
  ASSERT_EQ(ScriptLoadAll(), 0) << Shown();
  TaskContext* t = System();
  ASSERT_NE(t, nullptr);
  i32 label = ScriptFindLabel("SYSTEM_START", 12);
  ASSERT_GE(label, 0);
  const LabelRecord* l = g_Labels[label];
  EXPECT_EQ(t->file_no, l->file);
  EXPECT_EQ(t->file_no, 1);
  EXPECT_EQ(t->next_line, l->line);
  EXPECT_EQ(t->next_line, 2u);
  EXPECT_EQ(t->block_depth, l->block_depth);
  EXPECT_EQ(t->loop_depth, l->loop_depth);
  EXPECT_EQ(t->call_depth, 0);
  EXPECT_EQ(t->no_end, 1);
  const ScriptFileRecord* rec = g_ScriptFiles[1];
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(t->handlers[1], rec->handlers[1]);
  EXPECT_EQ(t->arg_records, rec->arg_records);
  EXPECT_EQ(t->line_numbers, rec->line_numbers);
  EXPECT_EQ(t->line_count, 4u);
  EXPECT_EQ(g_ScriptFiles[0], nullptr) << "other files load when a thread reaches them";
  EXPECT_EQ(VarGetIntElement(1000, 0), 3) << "the start file's variables are declared";
  EXPECT_EQ(g_ErrScriptPosition, ScriptErrorPosition);
}

TEST_F(ScriptStartTest, ABodyIsReadOnceAndTheSameFromAPack) {
  Write({kMain, kOther});
  ASSERT_EQ(ScriptLoadAll(), 0) << Shown();
  EXPECT_EQ(VarGetIntElement(1000, 0), 4);
  ASSERT_EQ(ScriptLoadFile(1), 1);
  const ScriptFileRecord* first = g_ScriptFiles[1];
  EXPECT_EQ(VarGetIntElement(1001, 0), 8);
  // Gone from the disk: a second load reads nothing and keeps the record; the file's variables
  // are not declared again.
  VarSetNumElement(1001, 0, 99);
  std::filesystem::remove(game.Path("chbin/zpt00001.zbn"));
  EXPECT_EQ(ScriptLoadFile(1), 1);
  EXPECT_EQ(g_ScriptFiles[1], first);
  EXPECT_EQ(VarGetIntElement(1001, 0), 99);
  EXPECT_EQ(g_ErrLastText, "");

  // The same game packed: the bodies unscramble and bind the same way.
  TearDown();
  SetUp();
  std::filesystem::remove_all(game.Path("chbin"));
  KitGameSource src;
  src.scripts = {kMain, kOther};
  std::string err;
  ASSERT_EQ(KitBuildGame(src, game.native, true, &err), 0) << err;
  ASSERT_EQ(PackScanAll(), 0);
  ASSERT_EQ(ScriptLoadAll(), 0) << Shown();
  EXPECT_EQ(System()->next_line, 1u);
  ASSERT_EQ(ScriptLoadFile(1), 1);
  EXPECT_EQ(g_ScriptFiles[1]->line_count, 4u);
  EXPECT_EQ(g_ScriptFiles[1]->opcodes[1], 29);
}

TEST_F(ScriptStartTest, MissingFilesStopStartUpWithTheirErrors) {
  struct Case {
    const char* skip;
    const char* shown;
  } cases[] = {
      {"chbin\\zpe.zbn", "[chbin\\zpe.zbn]ファイルが"},
      {"chbin\\zpc.zbn", "[chbin\\zpc.zbn]ファイルが"},
      {"chbin\\zpt.zbn", "[chbin\\zpt.zbn]ファイルが"},
      {"chbin\\zpt_list.zbn", "[chbin\\zpt_list.zbn]ファイルが"},
      {"chbin\\zpv.zbn", "[chbin\\zpv.zbn]ファイルが"},
      {"chbin\\zpt00000.zbn", "[chbin\\zpt00000.zbn]ファイルが"},
      // Without the label file no label exists: the missing start label says why start-up stops.
      {"chbin\\zpl.zbn", "ラベル[SYSTEM_START]が存在しません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skip);
    std::filesystem::remove_all(game.Path("chbin"));
    Write({kMain}, c.skip);
    ScriptReset();
    ErrReset();
    EXPECT_NE(ScriptLoadAll(), 0);
    EXPECT_NE(Shown().find(c.shown), std::string::npos) << Shown();
    EXPECT_EQ(g_QuitRequested.load(), 1);
    g_QuitRequested = 0;
  }
}

TEST_F(ScriptStartTest, WithoutSystemStartStartUpStopsWithAnError) {
  Write({{"script\\main.zs", "*ELSEWHERE\nend\n", 0}});
  EXPECT_NE(ScriptLoadAll(), 0);
  EXPECT_NE(Shown().find("ラベル[SYSTEM_START]が存在しません"), std::string::npos) << Shown();
  EXPECT_EQ(System()->handlers[1], nullptr) << "the thread is left untouched";
}

TEST_F(ScriptStartTest, DamagedFilesStopStartUpWithTheFormatError) {
  Write({kMain});
  std::vector<u8> bad(40, 0xFF);
  game.Write("chbin/zpt00000.zbn", bad);
  EXPECT_NE(ScriptLoadAll(), 0);
  EXPECT_NE(Shown().find("[chbin\\zpt00000.zbn]\nコンパイル済みスクリプトの形式が正しくありません"), std::string::npos)
      << Shown();
  ErrReset();
  game.Write("chbin/zpt.zbn", KitVarSlotsBuild(1000, 0, 492));
  EXPECT_NE(ScriptLoadAll(), 0);
  EXPECT_NE(Shown().find("[chbin\\zpt.zbn]"), std::string::npos) << Shown();
}

TEST_F(ScriptStartTest, AStartLabelBeyondItsFileIsRefused) {
  Write({kMain});
  // The label file again, with SYSTEM_START pointing past the last line of its file.
  std::vector<u8> labels = KitLabelsBuild({{"SYSTEM_START", 99, 0, 0, 0}, {"BOOT", 0, 0, 0, 0}});
  game.Write("chbin/zpl.zbn", labels);
  EXPECT_NE(ScriptLoadAll(), 0);
  EXPECT_NE(Shown().find("[chbin\\zpt00000.zbn]\nコンパイル済みスクリプトの形式が正しくありません"), std::string::npos)
      << Shown();
  EXPECT_EQ(System()->handlers[1], nullptr);
}
