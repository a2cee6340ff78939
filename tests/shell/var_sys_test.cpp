#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "core/config.h"
#include "core/obj.h"
#include "platform/platform.h"
#include "script/script_test_util.h"
#include "script/task.h"
#include "script/var.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/var_sources.h"
#include "shell/window.h"
#include "sound/sound_thread.h"

namespace {

struct VarSysTest : ::testing::Test {
  void SetUp() override {
    SysObjReset();
    ASSERT_EQ(SysCreateRoots(), 0);
    ASSERT_EQ(VarTableCreate(1000), 0);
    InputKeyTableReset();
    VarSourcesReset();
    TestErrTexts({ERR_VAR_READ_ONLY, ERR_VAR_DROP_INDEX});
    PlatClockSetFixed(true, 12345);
  }
  void TearDown() override {
    PlatClockSetFixed(false);
    VarReset();
    SysObjReset();
    InputKeyTableReset();
    VarSourcesReset();
    UserErrReset();
    g_QuitRequested = 0;
  }
  // The thread "SYSTEM" made current, with its call frame 0.
  TaskContext* Current() {
    g_CurrentTaskNode = ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM);
    g_CurrentTask = static_cast<TaskContext*>(g_CurrentTaskNode->payload);
    return g_CurrentTask;
  }
};

TEST_F(VarSysTest, ConstantsClockAndMachine) {
  ASSERT_EQ(TestDeclare(1, VAR_TYPE_INT, {5}), 0);
  ASSERT_EQ(TestDeclare(10, VAR_TYPE_FLOAT, {}), 0);
  for (i64 id : {5, 6, 7, 49, 101, 102, 104}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {}), 0);

  EXPECT_EQ(VarGetIntElement(1, 0), 12345);
  PlatClockAdvance(100);
  EXPECT_EQ(VarGetIntElement(1, 0), 12445);
  EXPECT_EQ(VarGetIntElement(1, 5), 0);  // beyond the variable
  EXPECT_DOUBLE_EQ(VarGetFloatElement(10, 0), 3.141592653589793);
  EXPECT_EQ(VarGetIntElement(49, 0), 999);
  EXPECT_EQ(VarGetIntElement(101, 0), 493);

  u64 total = 0, avail = 0;
  PlatMemoryStatus(&total, &avail);
  EXPECT_EQ(VarGetIntElement(5, 0), static_cast<i64>(total));
  i64 load = VarGetIntElement(6, 0);
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);
  EXPECT_GT(VarGetIntElement(7, 0), 0);
  EXPECT_LE(VarGetIntElement(7, 0), static_cast<i64>(total));

  // Ids the read side does not list read 0, whatever their record holds.
  ASSERT_EQ(TestDeclare(8, VAR_TYPE_INT, {}), 0);
  VarRecordOf(8)->ints[0] = 77;
  EXPECT_EQ(VarGetIntElement(8, 0), 0);
  EXPECT_EQ(VarGetSysFloat(102, 0), 0.0);
}

TEST_F(VarSysTest, EngineStateOfTheShell) {
  ASSERT_EQ(TestDeclare(1, VAR_TYPE_INT, {5}), 0);
  for (i64 id = 2; id <= 4; id++) ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {}), 0);
  for (i64 id = 102; id <= 135; id++) {
    if (id >= 115 && id <= 124) continue;
    ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {}), 0);
  }
  ASSERT_EQ(WinObjsCreate(), 0);
  u8 sound_enabled = g_SoundEnabled;
  g_SoundEnabled = 2;
  g_FrameCounter = 77;
  g_StepCounter = 78;
  g_ScriptTimers.start[0] = 12000;
  g_ScriptTimers.running[0] = 1;
  g_ScriptTimers.start[1] = 100;  // stopped at 350
  g_ScriptTimers.stopped_at[1] = 350;
  g_OsCode = 100;
  g_DxVersion = 9;
  g_MonitorSize = {1920, 1080};
  g_DesktopBitsPerPixel = 32;
  g_WindowObjects[0]->cursor_x = 10;
  g_WindowObjects[0]->cursor_y = -3;
  g_WindowObjects[2]->cursor_x = 30;
  g_WindowObjects[3]->cursor_y = 40;

  const struct {
    i64 id, element, want;
  } cases[] = {
      {1, 1, 345},  {1, 2, 250},  {104, 0, 345}, {2, 0, 100},    {3, 0, 9},      {4, 0, 1},
      {102, 0, 77}, {103, 0, 78}, {107, 0, 32},  {108, 0, 1920}, {109, 0, 1080}, {126, 0, 10},
      {127, 0, 10}, {129, 0, 30}, {131, 0, -3},  {132, 0, -3},   {135, 0, 40},   {128, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VarGetIntElement(c.id, c.element), c.want) << c.id << "[" << c.element << "]";

  EXPECT_EQ(VarSetSysInt(125, 0, 42), 0);
  EXPECT_EQ(g_MenuCommandId.load(), 42u);
  EXPECT_EQ(VarGetIntElement(125, 0), 42);
  EXPECT_EQ(VarSetSysInt(112, 0, 1), 0);
  EXPECT_EQ(g_CloseRequested.load(), 1);
  EXPECT_EQ(VarGetIntElement(112, 0), 1);
  EXPECT_EQ(VarSetSysInt(112, 0, 0), 0);  // the script clears the request
  EXPECT_EQ(g_CloseRequested.load(), 0);

  g_SoundEnabled = sound_enabled;
  g_MenuCommandId = 0;
  FrameReset();
  SysInfoReset();
  WinReset();
}

TEST_F(VarSysTest, LocalTimeNowAndAtStartUp) {
  ASSERT_EQ(TestDeclare(0, VAR_TYPE_INT, {16}), 0);
  auto key = [](const PlatLocalTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  };
  PlatLocalTime before = PlatGetLocalTime();
  PlatLocalTime got{};
  int* fields[8] = {&got.year, &got.month,  &got.day,    &got.weekday,
                    &got.hour, &got.minute, &got.second, &got.millisecond};
  for (int i = 0; i < 8; i++) *fields[i] = static_cast<int>(VarGetIntElement(0, i));
  PlatLocalTime after = PlatGetLocalTime();
  EXPECT_LE(key(before), key(got));
  EXPECT_LE(key(got), key(after));
  EXPECT_GE(got.weekday, 0);
  EXPECT_LE(got.weekday, 6);
  PlatLocalTime saved = g_StartLocalTime;
  g_StartLocalTime = PlatLocalTime{2001, 2, 3, 6, 4, 5, 6, 789};
  const i64 want[8] = {2001, 2, 3, 6, 4, 5, 6, 789};
  for (int i = 0; i < 8; i++) EXPECT_EQ(VarGetIntElement(0, 8 + i), want[i]) << i;
  g_StartLocalTime = saved;
}

TEST_F(VarSysTest, ShellStateArgumentsAndFolders) {
  ASSERT_EQ(TestDeclare(9, VAR_TYPE_INT, {}), 0);
  ASSERT_EQ(TestDeclare(11, VAR_TYPE_INT, {}), 0);
  ASSERT_EQ(TestDeclare(12, VAR_TYPE_STR, {10}), 0);
  ASSERT_EQ(TestDeclare(13, VAR_TYPE_INT, {}), 0);
  ASSERT_EQ(TestDeclare(96, VAR_TYPE_STR, {}), 0);
  ASSERT_EQ(TestDeclare(120, VAR_TYPE_STR, {300}), 0);
  g_FolderNotWritable = 1;
  g_DebugMode = 1;
  char arg0[] = "c:\\game\\zephra", arg1[] = "/debug";
  char* saved[9];
  std::memcpy(saved, g_ExtraArgs, sizeof saved);
  i32 saved_count = g_ExtraArgCount;
  g_ExtraArgs[0] = arg0;
  g_ExtraArgs[1] = arg1;
  for (int i = 2; i < 9; i++) g_ExtraArgs[i] = nullptr;
  g_ExtraArgCount = 1;
  std::strcpy(g_ExeFolder, "c:\\game\\");

  EXPECT_EQ(VarGetIntElement(9, 0), 1);
  EXPECT_EQ(VarGetIntElement(11, 0), 1);
  EXPECT_EQ(VarGetIntElement(13, 0), 1);
  EXPECT_STREQ(VarGetStrElement(12, 0), arg0);
  EXPECT_STREQ(VarGetStrElement(12, 1), "/debug");
  EXPECT_STREQ(VarGetStrElement(12, 2), "");
  EXPECT_STREQ(VarGetStrElement(12, 9), "");  // beyond the nine slots
  EXPECT_STREQ(VarGetStrElement(96, 0), "c:\\game\\");
  EXPECT_STREQ(VarGetStrElement(120, 0), "");
  EXPECT_STREQ(VarGetStrElement(120, 65), "A");
  EXPECT_EQ(static_cast<u8>(VarGetStrElement(120, 0xE0)[0]), 0xE0);
  EXPECT_STREQ(VarGetStrElement(120, 256), "");

  std::memcpy(g_ExtraArgs, saved, sizeof saved);
  g_ExtraArgCount = saved_count;
  g_FolderNotWritable = 0;
  g_DebugMode = 0;
  g_ExeFolder[0] = '\0';
}

TEST_F(VarSysTest, CurrentThreadFramesLoopsAndSlots) {
  for (i64 id : {48, 53, 56, 57, 60, 61, 119}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {17}), 0);
  for (i64 id : {54, 58, 62}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_FLOAT, {17}), 0);
  for (i64 id : {55, 59, 63, 118}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_STR, {17}), 0);

  // No running thread: everything reads empty.
  EXPECT_EQ(VarGetIntElement(53, 1), 0);
  EXPECT_EQ(VarGetIntElement(48, 0), 0);
  EXPECT_STREQ(VarGetStrElement(118, 0), "");

  TaskContext* t = Current();
  CallFrame* f = t->frames[0];
  f->arg_present[0] = 2;
  f->arg_present[1] = 1;
  f->arg_present[2] = 1;
  f->arg_ints[1] = 11;
  f->arg_ints[3] = 33;  // beyond the argument count
  f->arg_floats[2] = 2.5;
  f->arg_strs[2] = strdup("second");
  f->ret_present[0] = 1;
  f->ret_present[1] = 1;
  f->ret_ints[1] = -4;
  f->ret_floats[1] = 0.5;
  f->ret_strs[1] = strdup("back");
  t->ints[16] = 160;
  t->floats[1] = 1.25;
  t->strs[3] = strdup("three");

  EXPECT_EQ(VarGetIntElement(53, 1), 11);
  EXPECT_EQ(VarGetIntElement(53, 3), 0);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(54, 2), 2.5);
  EXPECT_STREQ(VarGetStrElement(55, 2), "second");
  EXPECT_STREQ(VarGetStrElement(55, 1), "");
  EXPECT_EQ(VarGetIntElement(56, 0), 2);
  EXPECT_EQ(VarGetIntElement(56, 2), 1);
  EXPECT_EQ(VarGetIntElement(56, 3), 0);
  EXPECT_EQ(VarGetIntElement(57, 1), -4);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(58, 1), 0.5);
  EXPECT_STREQ(VarGetStrElement(59, 1), "back");
  EXPECT_EQ(VarGetIntElement(60, 0), 1);
  EXPECT_EQ(VarGetIntElement(61, 16), 160);
  EXPECT_DOUBLE_EQ(VarGetFloatElement(62, 1), 1.25);
  EXPECT_STREQ(VarGetStrElement(63, 3), "three");
  EXPECT_STREQ(VarGetStrElement(118, 0), "SYSTEM");
  EXPECT_EQ(VarGetIntElement(119, 0), 1);

  // The frame at the call depth is read; a depth without a frame reads empty.
  t->call_depth = 1;
  EXPECT_EQ(VarGetIntElement(53, 1), 0);
  t->frames[1] = static_cast<CallFrame*>(calloc(1, sizeof(CallFrame)));
  t->frames[1]->arg_present[0] = 1;
  t->frames[1]->arg_ints[1] = 101;
  EXPECT_EQ(VarGetIntElement(53, 1), 101);

  // The innermost open loop's counter.
  t->loop_depth = 2;
  EXPECT_EQ(VarGetIntElement(48, 0), 0);
  t->loops[1] = static_cast<LoopRecord*>(calloc(1, sizeof(LoopRecord)));
  t->loops[1]->counter = 3;
  EXPECT_EQ(VarGetIntElement(48, 0), 3);
}

TEST_F(VarSysTest, KeyVariablesReadThroughTheKeyMapAndStayInTheTable) {
  for (i64 id : {137, 273, 407, 540}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {2048}), 0);
  for (i64 id : {145, 279, 413, 269, 403, 536}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_INT, {20}), 0);
  g_KeyMap[5] = 0x41;
  g_InputKeyTable.counter[0x41] = 7;
  g_InputKeyTable.presses[0x41] = 3;
  g_InputKeyTable.counter[420] = -2;  // joystick 1, up
  g_InputKeyTable.counter[425] = 12;  // joystick 1, button 1
  g_InputKeyTable.counter[1023] = 5;

  const struct {
    i64 id, element, want;
  } cases[] = {
      {145, 0, 7},
      {279, 0, 3},
      {413, 0, 0x41},
      {137, 0x41, 7},
      {137, 0, 0},
      {137, 1023, 5},
      {137, 1024, 0},
      {137, 2047, 0},
      {269, 1, -2},
      {269, 16, 0},
      {273, 33, 12},
      {273, 512, 0},
      {273, 2047, 0},
      {536, 2, 384 + 72},
      {536, 16, 0},
      {540, 0, 388},
      {540, 511, 388 + 36 * 15 + 31},
      {540, 512, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VarGetIntElement(c.id, c.element), c.want) << c.id << "[" << c.element << "]";
}

TEST_F(VarSysTest, KeyVariableWrites) {
  g_KeyMap[0] = 0x20;
  g_InputKeyTable.state[0x20] = INPUT_STATE_UP;
  EXPECT_EQ(VarSetSysInt(140, 0, 5), 0);
  EXPECT_EQ(g_InputKeyTable.counter[0x20], 0);
  EXPECT_EQ(VarSetSysInt(140, 0, -5), 0);
  EXPECT_EQ(g_InputKeyTable.counter[0x20], -5);
  g_InputKeyTable.state[0x20] = INPUT_STATE_HELD;
  EXPECT_EQ(VarSetSysInt(140, 0, 9), 0);
  EXPECT_EQ(g_InputKeyTable.counter[0x20], 9);

  g_InputKeyTable.state[0x41] = INPUT_STATE_HELD;
  EXPECT_EQ(VarSetSysInt(137, 0x41, 4), 0);
  EXPECT_EQ(g_InputKeyTable.counter[0x41], 4);
  g_InputKeyTable.state[425] = INPUT_STATE_HELD;
  EXPECT_EQ(VarSetSysInt(273, 33, 8), 0);
  EXPECT_EQ(g_InputKeyTable.counter[425], 8);
  EXPECT_EQ(VarSetSysInt(274, 0, 42), 0);  // press counts are stored as given
  EXPECT_EQ(g_InputKeyTable.presses[0x20], 42u);
  EXPECT_EQ(VarSetSysInt(404, 1, 6), 0);
  EXPECT_EQ(g_InputKeyTable.presses[384 + 36 + 1], 6u);

  // Indexes beyond the key table change nothing and never fail the line.
  static u8 state[INPUT_KEY_COUNT];
  static i64 counter[INPUT_KEY_COUNT];
  static u64 presses[INPUT_KEY_COUNT];
  std::memcpy(state, g_InputKeyTable.state, sizeof state);
  std::memcpy(counter, g_InputKeyTable.counter, sizeof counter);
  std::memcpy(presses, g_InputKeyTable.presses, sizeof presses);
  EXPECT_EQ(VarSetSysInt(137, 5000, -1), 0);
  EXPECT_EQ(VarSetSysInt(273, 512, -1), 0);
  EXPECT_EQ(VarSetSysInt(270, 16, -1), 0);
  EXPECT_EQ(VarSetSysInt(407, -1, 1), 0);
  EXPECT_EQ(std::memcmp(state, g_InputKeyTable.state, sizeof state), 0);
  EXPECT_EQ(std::memcmp(counter, g_InputKeyTable.counter, sizeof counter), 0);
  EXPECT_EQ(std::memcmp(presses, g_InputKeyTable.presses, sizeof presses), 0);
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(VarSysTest, ReadOnlyVariablesRefuseWrites) {
  const struct {
    i64 id, element;
  } read_only[] = {{0, 0}, {2, 0}, {14, 0}, {49, 0}, {101, 0}, {114, 0}, {137, 0}, {402, 0}, {408, 0}, {540, 0}};
  for (const auto& c : read_only) {
    TestErrTexts({ERR_VAR_READ_ONLY});
    EXPECT_EQ(VarSetSysInt(c.id, c.element, 1), -1) << c.id;
    EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_READ_ONLY)) << c.id;
    EXPECT_EQ(g_QuitRequested.load(), 1);
  }
  for (i64 id : {96, 118, 122, 123}) {
    TestErrTexts({ERR_VAR_READ_ONLY});
    EXPECT_EQ(VarSetSysStr(id, 0, "x"), -1) << id;
    EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_READ_ONLY));
  }
  TestErrTexts({ERR_VAR_READ_ONLY});
  for (i64 id : {15, 110, 111, 112, 113, 125, 138, 139}) EXPECT_EQ(VarSetSysInt(id, 0, 0), 0) << id;
  for (i64 id : {115, 116}) EXPECT_EQ(VarSetSysStr(id, 0, "text"), 0) << id;
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(VarSysTest, BasePathsAreReadAndWritten) {
  for (i64 id : {121, 122, 123, 124}) ASSERT_EQ(TestDeclare(id, VAR_TYPE_STR, {}), 0);
  std::strcpy(g_SoundBase, "bgm");
  std::strcpy(g_TaskBase, "sys");
  EXPECT_EQ(VarSetSysStr(121, 0, "scene/bg"), 0);
  EXPECT_EQ(VarSetSysStr(124, 0, "menu"), 0);
  EXPECT_STREQ(VarGetStrElement(121, 0), "scene/bg");
  EXPECT_STREQ(VarGetStrElement(122, 0), "bgm");
  EXPECT_STREQ(VarGetStrElement(123, 0), "sys");
  EXPECT_STREQ(VarGetStrElement(124, 0), "menu");
  // The element keeps the text that was read.
  EXPECT_STREQ(VarRecordOf(121)->strs[0], "scene/bg");

  // A base longer than its buffer is cut at a whole character.
  std::string longer(254, 'p');
  longer += "\x88\x9f";  // a double-byte character at bytes 254 and 255
  EXPECT_EQ(VarSetSysStr(121, 0, longer.c_str()), 0);
  EXPECT_EQ(std::strlen(g_LayerBase), 254u);
  EXPECT_EQ(std::string(g_LayerBase), longer.substr(0, 254));
}

TEST_F(VarSysTest, DroppedFileBeyondTheCountIsAnError) {
  ASSERT_EQ(TestDeclare(14, VAR_TYPE_STR, {4}), 0);
  EXPECT_STREQ(VarGetStrElement(14, 0), "");
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_VAR_DROP_INDEX, "0"));
  EXPECT_EQ(g_QuitRequested.load(), 1);
}

}  // namespace
