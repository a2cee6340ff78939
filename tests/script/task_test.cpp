// The scheduler and thread states in-process: a kit-compiled game loaded with ScriptLoadAll and
// passes run by hand on the fixed clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/obj.h"
#include "core/pack.h"
#include "kit/build.h"
#include "kit/script_compiler.h"
#include "platform/platform.h"
#include "script_fixture.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "support/game_folder.h"

namespace {

struct TaskTest : ::testing::Test {
  TestGameFolder game;
  void SetUp() override {
    SysResetAll();
    ASSERT_EQ(PackScrambleSetup(), 0);
    ASSERT_EQ(SysCreateRoots(), 0);
    g_StepCounter = 0;
  }
  void TearDown() override {
    SysResetAll();
    PlatClockSetFixed(false);
    g_RerunRequest = 0;
    g_ErrScriptPosition = nullptr;
  }
  void Load(const std::vector<KitScriptSource>& sources) {
    std::vector<KitCompiledFile> files;
    std::string err;
    ASSERT_EQ(KitCompileScripts(sources, &files, &err), 0) << err;
    ASSERT_EQ(KitWriteFilesLoose(game.native, files, &err), 0) << err;
    ASSERT_EQ(ScriptLoadAll(), 0) << g_ErrLastText;
  }
  static TaskContext* System() {
    ObjNode* node = ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM);
    return node ? static_cast<TaskContext*>(node->payload) : nullptr;
  }
  // The game's own error texts are loaded: a raised error shows its text.
  static bool Shown(const char* text) { return PlatSjisToUtf8(g_ErrLastText).find(text) != std::string::npos; }
  static void Pass() {
    g_StepCounter++;
    TaskRunGroup(g_TaskRoot);
  }
};

TEST_F(TaskTest, FloatArgumentsAndReturnValuesKeepTheirFraction) {
  // Float arguments and return values go through the float entry of their value type.
  Load({{"script\\main.zs",
         "global float a[3]\nglobal float r[3]\n*SYSTEM_START\ncall *f, 2.5, -1.75, 7\n"
         "r[0] = @58[1]\nr[1] = @58[2]\nr[2] = @57[3]\nwait frames=9\n"
         "*f\na[0] = @54[1]\na[1] = @54[2]\na[2] = @53[3]\nreturn 1.5, 1.0 / 3, 4\n",
         0}});
  Pass();
  ASSERT_EQ(g_ErrLastText, "");
  EXPECT_EQ(VarGetFloatElement(1000, 0), 2.5);
  EXPECT_EQ(VarGetFloatElement(1000, 1), -1.75);
  EXPECT_EQ(VarGetFloatElement(1000, 2), 7.0);
  EXPECT_EQ(VarGetFloatElement(1001, 0), 1.5);
  EXPECT_EQ(VarGetFloatElement(1001, 1), 1.0 / 3);
  EXPECT_EQ(VarGetFloatElement(1001, 2), 4.0);
}

TEST_F(TaskTest, MillisecondDeadlinesAcrossTheClockWrapIncludingZero) {
  // 0xFFFFFF00 + 256 wraps to a deadline of exactly 0; + 512 to 256.
  struct Case {
    u32 wait_ms;
    int passes_waiting;  // passes of 100 ms after the one that starts the wait
  } cases[] = {{256, 2}, {512, 5}, {50, 0}};
  for (const Case& c : cases) {
    SetUp();
    Load({{"script\\main.zs", "*SYSTEM_START\nwait ms=" + std::to_string(c.wait_ms) + "\nwait frames=100\n", 0}});
    PlatClockSetFixed(true, 0xFFFFFF00u);
    TaskContext* t = System();
    ASSERT_NE(t, nullptr);
    Pass();
    ASSERT_EQ(t->next_line, 1u) << c.wait_ms;
    for (int i = 0; i < c.passes_waiting; i++) {
      PlatFrameSleepMs(100);
      Pass();
      EXPECT_EQ(t->next_line, 1u) << c.wait_ms << " ms, pass " << i;
    }
    PlatFrameSleepMs(100);
    Pass();
    EXPECT_EQ(t->next_line, 2u) << c.wait_ms;
    TearDown();
  }
}

TEST_F(TaskTest, ThreadRunsOncePerStepCounterValue) {
  Load({{"script\\main.zs", "*SYSTEM_START\nwait frames=1\nwait frames=1\nwait frames=1\n", 0}});
  TaskContext* t = System();
  Pass();
  EXPECT_EQ(t->next_line, 1u);
  TaskRunGroup(g_TaskRoot);  // the same counter value: nothing runs
  TaskRunGroup(g_TaskRoot);
  EXPECT_EQ(t->next_line, 1u);
  EXPECT_EQ(t->wait_frames, 1u);
  Pass();  // the wait ends here and the next line runs
  EXPECT_EQ(t->next_line, 2u);
  t->run_b = 0;  // both run flags are needed
  Pass();
  Pass();
  EXPECT_EQ(t->next_line, 2u);
}

TEST_F(TaskTest, StateStringRoundTripsAndRejectsDamage) {
  Load({{"script\\main.zs",
         "*SYSTEM_START\n"
         "loop 5\n"
         "  if 1\n"
         "    loop 7\n"
         "      wait frames=1\n"
         "    endloop\n"
         "  endif\n"
         "endloop\n",
         0}});
  TaskContext* t = System();
  for (int i = 0; i < 3; i++) Pass();
  ASSERT_EQ(t->loop_depth, 2);
  ASSERT_EQ(t->block_depth, 1);
  ASSERT_EQ(t->loops[1]->counter, 3);
  char state[8192];
  i32 len = TaskStateEncode(state, sizeof state, t);
  ASSERT_GT(len, 8);
  EXPECT_LT(TaskStateEncode(state, 12, t), 0) << "a buffer too small is refused";
  len = TaskStateEncode(state, sizeof state, t);
  std::string good(state, static_cast<size_t>(len));

  ObjNode* node = ObjCreateNode(g_TaskRoot, "copy", OBJ_ITEM, 1);
  TaskContext* c = TaskNewContext(node);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(TaskStateDecode(good.c_str(), c), 0) << g_ErrLastText;
  EXPECT_EQ(c->next_line, t->next_line);
  EXPECT_EQ(c->block_depth, t->block_depth);
  EXPECT_EQ(c->loop_depth, t->loop_depth);
  EXPECT_EQ(c->call_depth, 0);
  EXPECT_EQ(c->file_no, t->file_no);
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(c->loops[i]->counter, t->loops[i]->counter);
    EXPECT_EQ(c->loops[i]->limit, t->loops[i]->limit);
    EXPECT_EQ(c->loops[i]->body_line, t->loops[i]->body_line);
    EXPECT_EQ(c->loops[i]->end_line, t->loops[i]->end_line);
  }
  EXPECT_EQ(c->blocks[0]->end_line, t->blocks[0]->end_line);

  std::string depth64 = good;
  depth64.replace(8, 2, "ea");  // block depth 0x40
  std::string bad_letter = good;
  bad_letter[11] = 'z';
  std::string long_name = good.substr(0, good.size() - 1);
  std::string other_name = good;
  other_name.back() = 'x';
  std::vector<std::string> damaged = {
      "",         "junk",     std::string("\x01\x02\x03\x04\x05\x06\x07\x09", 8) + good.substr(8),
      depth64,    bad_letter, long_name,
      good + "s", other_name};
  for (size_t cut = 9; cut < good.size(); cut += 7) damaged.push_back(good.substr(0, cut));
  for (const std::string& d : damaged) {
    ErrReset();
    TaskContext before = *c;
    EXPECT_EQ(TaskStateDecode(d.c_str(), c), -1) << d;
    EXPECT_TRUE(Shown("保存された状態が壊れています")) << d << "\n" << g_ErrLastText;
    EXPECT_EQ(c->next_line, before.next_line);
    EXPECT_EQ(c->loop_depth, before.loop_depth);
    EXPECT_EQ(c->block_depth, before.block_depth);
  }
}

TEST_F(TaskTest, EndedThreadsAreUnlinkedAndFreedAfterThePass) {
  Load({{"script\\main.zs",
         "*SYSTEM_START\n"
         "task name=\"t\", label=*t, now=1\n"
         "wait frames=100\n"
         "*t\n"
         "return\n",
         0}});
  Pass();
  // "now" asked for a second pass in the same frame; t ended in it.
  EXPECT_EQ(g_RerunRequest, 1u);
  Pass();
  EXPECT_EQ(ObjFindNode(g_TaskRoot, "t", OBJ_FIND_ITEM), nullptr);
  EXPECT_EQ(g_TaskRoot->child_count, 1u);
  EXPECT_NE(g_CurrentTask, nullptr) << "the running thread is not a freed one";
}

TEST_F(TaskTest, EndingByNameComparesIdentityNotName) {
  Load({{"script\\main.zs",
         "*SYSTEM_START\n"
         "task name=\"a/t\", label=*at\n"
         "task name=\"b/t\", label=*bt\n"
         "wait frames=100\n"
         "*at\n"
         "task_end name=\"b/t\"\n"
         "wait frames=100\n"
         "*bt\n"
         "wait frames=100\n",
         0}});
  ASSERT_NE(ObjCreateNode(g_TaskRoot, "a", OBJ_FOLDER, 1), nullptr);
  ASSERT_NE(ObjCreateNode(g_TaskRoot, "b", OBJ_FOLDER, 1), nullptr);
  Pass();
  ObjNode* at = ObjFindNode(g_TaskRoot, "a/t", OBJ_FIND_ITEM);
  ASSERT_NE(at, nullptr) << g_ErrLastText;
  ASSERT_NE(ObjFindNode(g_TaskRoot, "b/t", OBJ_FIND_ITEM), nullptr);
  Pass();
  // a/t ended the other "t" and went on to its wait in the same turn.
  EXPECT_EQ(ObjFindNode(g_TaskRoot, "b/t", OBJ_FIND_ITEM), nullptr);
  auto* ctx = static_cast<TaskContext*>(at->payload);
  EXPECT_EQ(ctx->next_line, 5u);
  EXPECT_EQ(ctx->wait_frames, 100u);
}

TEST_F(TaskTest, OrderOperatorsClampAndApplyTwiceWithNow) {
  Load({{"script\\main.zs",
         "*SYSTEM_START\n"
         "task name=\"a\", label=*idle, order=7\n"
         "task name=\"a\", order-=10\n"
         "task name=\"b\", label=*idle, order=4\n"
         "task name=\"b\", order/=0\n"
         "task name=\"c\", label=*idle, order*=3, now=1\n"
         "task name=\"d\", label=*idle, order+=2, now=1\n"
         "task name=\"e\", label=*idle, order=6, now=1\n"
         "wait frames=100\n"
         "*idle\n"
         "wait frames=100\n",
         0}});
  Pass();
  struct Want {
    const char* name;
    i64 order;
  } wants[] = {{"a", 1}, {"b", 4}, {"c", 9}, {"d", 5}, {"e", 6}};
  for (const Want& w : wants) {
    ObjNode* n = ObjFindNode(g_TaskRoot, w.name, OBJ_FIND_ITEM);
    ASSERT_NE(n, nullptr) << w.name << " " << g_ErrLastText;
    EXPECT_EQ(n->order, w.order) << w.name;
  }
  i64 last = 0;
  for (ObjNode* n = g_TaskRoot->first_child; n; n = n->next) {
    EXPECT_GE(n->order, last) << "siblings stay in order";
    last = n->order;
  }
}

TEST_F(TaskTest, DamagedLineTargetsAndLabelsStopCleanly) {
  Load({{"script\\main.zs", "*SYSTEM_START\nloop 2\nendloop\ngoto *SYSTEM_START\n", 0}});
  TaskContext* t = System();
  const ScriptFileRecord* rec = g_ScriptFiles[t->file_no];
  rec->arg_records[0][1].size = 99;  // the loop's end line beyond the file
  Pass();
  EXPECT_TRUE(Shown("[chbin\\zpt00000.zbn]\nコンパイル済みスクリプトの形式が正しくありません")) << g_ErrLastText;

  SetUp();
  Load({{"script\\main.zs", "*SYSTEM_START\ngoto *SYSTEM_START\n", 0}});
  t = System();
  g_ScriptFiles[t->file_no]->arg_records[0][0].size = SCRIPT_JUMP_RESOLVED + 1000;  // no such label
  Pass();
  EXPECT_TRUE(Shown("[chbin\\zpl.zbn]\nコンパイル済みスクリプトの形式が正しくありません")) << g_ErrLastText;

  SetUp();
  Load({{"script\\main.zs", "*SYSTEM_START\nif 0\nendif\nwait frames=9\n", 0}});
  g_ScriptFiles[System()->file_no]->arg_records[0][2].size = 5;  // the if's end beyond the file
  Pass();
  EXPECT_TRUE(Shown("[chbin\\zpt00000.zbn]\nコンパイル済みスクリプトの形式が正しくありません")) << g_ErrLastText;

  // A call line whose count byte claims 255 values: at most 16 are taken, the missing ones absent.
  SetUp();
  Load({{"script\\main.zs", "*SYSTEM_START\ncall *f, 4\n*f\nwait frames=9\n", 0}});
  t = System();
  g_ScriptFiles[t->file_no]->line_flags[0] = 255;
  Pass();
  EXPECT_EQ(t->call_depth, 1) << g_ErrLastText;
  EXPECT_EQ(t->frames[1]->arg_present[0], 16);
  EXPECT_EQ(t->frames[1]->arg_ints[1], 4);
  EXPECT_EQ(t->frames[1]->arg_present[1], 1);
  EXPECT_EQ(t->frames[1]->arg_present[16], 0);

  SetUp();
  Load({{"script\\main.zs", "*SYSTEM_START\ngoto *SYSTEM_START\n", 0}});
  g_Labels[0]->block_depth = 64;
  Pass();
  EXPECT_TRUE(Shown("[chbin\\zpl.zbn]\nコンパイル済みスクリプトの形式が正しくありません")) << g_ErrLastText;
}

}  // namespace
