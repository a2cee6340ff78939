// Games written in the script text and run headless on the fixed clock: blocks, loops, calls,
// jumps across files, threads in order, waits and thread states. A script shows what it computed
// by jumping to a label that does not exist and whose name it built: the error dialog on stderr
// quotes the name. "*add" collects text: its one value comes back as the caller's @59[1].
#include <string>
#include <utility>
#include <vector>

#include "support/zephra_run.h"

namespace {

using zephra_run::ZephraRun;

const char kAdd[] = "\n*add\n    return @55[1]\n";

struct ScriptFlow : ZephraRun {
  // Compiles the sources into the game folder (replacing the default game) and runs it.
  std::string Run(const std::vector<std::pair<std::string, std::string>>& sources, int* status = nullptr) {
    std::vector<KitScriptSource> src;
    for (const auto& s : sources) src.push_back({s.first, s.second, 0});
    std::vector<KitCompiledFile> files;
    std::string err;
    EXPECT_EQ(KitCompileScripts(src, &files, &err), 0) << err;
    EXPECT_EQ(KitWriteFilesLoose((root / "game").string(), files, &err), 0) << err;
    std::string out;
    int rc = RunToEnd({(root / "game").string()}, {"ZEPHRA_EXIT_AFTER_FRAMES=600", "ZEPHRA_FIXED_CLOCK=1"}, &out);
    if (status) *status = rc;
    return out;
  }
  std::string RunMain(const std::string& text, int* status = nullptr) {
    return Run({{"script\\main.zs", text}}, status);
  }
};

bool Shows(const std::string& out, const std::string& label) {
  return out.find("ラベル[" + label + "]が存在しません") != std::string::npos;
}

// Scenarios that show one computed label: the script, and the label its run must show.
struct FlowScenario {
  const char* name;
  std::string script;
  const char* shows;
};

TEST_F(ScriptFlow, ScenariosShowTheLabelTheyComputed) {
  const FlowScenario kScenarios[] = {
      {"NestedIfElifElseTakeOneBranchEach",
       "*SYSTEM_START\n"
       "    loop 5\n"
       "        if @48 <= 2\n"
       "            if @48 == 1\n"
       "                call *add, @59[1] + \"a\"\n"
       "            else\n"
       "                call *add, @59[1] + \"b\"\n"
       "            endif\n"
       "        elif @48 == 3\n"
       "            call *add, @59[1] + \"c\"\n"
       "        elif @48 == 4\n"
       "            call *add, @59[1] + \"d\"\n"
       "            if_exit\n"
       "            call *add, @59[1] + \"never\"\n"
       "        else\n"
       "            call *add, @59[1] + \"e\"\n"
       "        endif\n"
       "        if 0\n"
       "            call *add, @59[1] + \"never\"\n"
       "        endif\n"
       "    endloop\n"
       "    goto \"r_\" + @59[1]\n" +
           std::string(kAdd),
       "r_abcde"},
      {"CountedLoopReadsItsCounterAndZeroCountSkipsTheBody",
       "*SYSTEM_START\n"
       "    loop 0\n"
       "        call *add, \"never\"\n"
       "    endloop\n"
       "    loop 3\n"
       "        call *add, @59[1] + str(@48)\n"
       "    endloop\n"
       "    loop -4\n"
       "        call *add, @59[1] + \"n\"\n"
       "    endloop\n"
       "    loop\n"
       "        if @48 == 3\n"
       "            break\n"
       "        endif\n"
       "        call *add, @59[1] + \"e\"\n"
       "    endloop\n"
       "    goto \"r_\" + @59[1]\n" +
           std::string(kAdd),
       "r_123nee"},
      {"BreakTwoLeavesBothLoopsAndContinueSkipsTheRest",
       "*SYSTEM_START\n"
       "    loop 3\n"
       "        loop 3\n"
       "            if @48 == 1\n"
       "                continue\n"
       "            endif\n"
       "            call *add, @59[1] + str(@48)\n"
       "            if @48 == 3\n"
       "                break 2\n"
       "            endif\n"
       "        endloop\n"
       "        call *add, @59[1] + \"never\"\n"
       "    endloop\n"
       // The blocks left by the break are closed: a plain if still works at the outer level.
       "    if 1\n"
       "        goto \"r_\" + @59[1]\n"
       "    endif\n" +
           std::string(kAdd),
       "r_23"},
      {"CallPassesIntegerAndStringAndGetsValuesBack",
       "*SYSTEM_START\n"
       "    call *f, 20, \"ab\"\n"
       "    goto \"r_\" + str(@57[1]) + \"_\" + @59[2] + \"_\" + str(@57[3]) + str(@60[1]) + str(@60[2]) + "
       "str(@60[4])\n"
       "*f\n"
       "    return @53[1] + 1, @55[2] + \"!\", @56[0] * 100 + @56[1] * 10 + @56[2]\n",
       // The callee saw two arguments, both given; three values came back, the fourth is absent.
       "r_21_ab!_211110"},
      {"ReturnFromInsideALoopGivesTheCallerItsOwnLevelsBack",
       "*SYSTEM_START\n"
       "    loop 3\n"
       "        call *inner\n"
       "        call *add, @59[1] + str(@48)\n"
       "    endloop\n"
       "    goto \"r_\" + @59[1]\n"
       "*inner\n"
       "    loop\n"
       "        if 1\n"
       "            return\n"
       "        endif\n"
       "    endloop\n" +
           std::string(kAdd),
       // The caller's loop goes on with its own counter: the routine's open loop and if are gone.
       "r_123"},
      {"StartedThreadGetsItsSlotsAndRunsOnlyWhenResumed",
       "*SYSTEM_START\n"
       "    task name=\"t\", label=*t, i1=5, f2=7, run_a=0\n"
       "    wait frames=3\n"
       "    task name=\"t\", run_a=1\n"
       "    wait frames=100\n"
       "*t\n"
       "    goto \"t_\" + str(@61[1]) + \"_\" + str(@62[2]) + \"_\" + str(@103)\n",
       // Paused from pass 1, resumed by SYSTEM in pass 4 after t's turn: t first runs in pass 5.
       "t_5_7_5"},
      {"FrameAndMillisecondWaitsCountedInPasses",
       "*SYSTEM_START\n"
       "    fps rate=50\n"
       "    call *add, str(@103)\n"
       "    wait frames=3\n"
       "    call *add, @59[1] + \"_\" + str(@103)\n"
       "    wait frames=0, ms=0\n"
       "    wait ms=100\n"
       "    goto \"r_\" + @59[1] + \"_\" + str(@103)\n" +
           std::string(kAdd),
       // Pass 1 starts the 3-frame wait, pass 4 goes on; 100 ms at 20 ms a frame are 5 passes more.
       "r_1_4_9"},
      {"SavedStateRestartsAnotherThreadInsideTheLoop",
       "global str st\n"
       "*SYSTEM_START\n"
       "    loop 4\n"
       "        if @48 == 2\n"
       "            task_state result=st\n"
       "        endif\n"
       "        call *add, @59[1] + str(@48)\n"
       "    endloop\n"
       "    if @118 == \"w\"\n"
       "        goto \"r_\" + @118 + \"_\" + @59[1]\n"
       "    endif\n"
       "    task name=\"w\", label=*wlab, state=st\n"
       "    wait frames=10\n"
       "    goto \"r_system_\" + @59[1]\n"
       "*wlab\n"
       "    goto \"never\"\n" +
           std::string(kAdd),
       // w goes on after the save: in the block of the second round, with the loop's counter 2.
       "r_w_234"},
  };
  for (const FlowScenario& f : kScenarios) {
    SCOPED_TRACE(f.name);
    std::string out = RunMain(f.script);
    EXPECT_TRUE(Shows(out, f.shows)) << out;
  }
}

TEST_F(ScriptFlow, JumpAndCallIntoAnotherFile) {
  std::string out = Run({{"script\\main.zs",
                          "*SYSTEM_START\n"
                          "    call *other_f, \"m\"\n"
                          "    goto *other_g\n"},
                         {"script\\other.zs",
                          "*other_f\n"
                          "    return @55[1] + \"f\"\n"
                          "*other_g\n"
                          "    goto \"r_\" + @59[1] + \"_g\"\n"}});
  EXPECT_TRUE(Shows(out, "r_mf_g")) << out;
  EXPECT_NE(out.find("script\\other.zs"), std::string::npos) << "the error stands in the other file\n" << out;
}

TEST_F(ScriptFlow, SixtyFourthNestedCallIsRefused) {
  int status = 0;
  std::string out = RunMain(
      "*SYSTEM_START\n"
      "    call *deep, 1\n"
      "*deep\n"
      "    if @53[1] == 63\n"
      "        call *deep, 64\n"
      "    endif\n"
      "    call *deep, @53[1] + 1\n",
      &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("[call]\n入れ子が深すぎます。(最大 64)"), std::string::npos) << out;
  EXPECT_NE(out.find("\n5 行目"), std::string::npos) << "refused at the 64th call\n" << out;
}

TEST_F(ScriptFlow, HigherOrderThreadRunsFirstInEveryPass) {
  std::string out = RunMain(
      "*SYSTEM_START\n"
      "    task name=\"b\", label=*tb, order=5\n"
      "    task name=\"a\", label=*ta, order=1\n"
      "    wait frames=100\n"
      "*ta\n"
      "    wait frames=2\n"
      "    goto \"a_\" + str(@103)\n"
      "*tb\n"
      "    wait frames=2\n"
      "    goto \"b_\" + str(@103)\n");
  // Started in pass 1, both wake in pass 4; b stops the program before a runs.
  EXPECT_TRUE(Shows(out, "b_4")) << out;
  EXPECT_EQ(out.find("a_4"), std::string::npos) << out;
}

TEST_F(ScriptFlow, ThreadErrors) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"*SYSTEM_START\n    task_end name=\"SYSTEM\"\n", "SYSTEM スレッドは終了できません"},
      {"*SYSTEM_START\n    task_end\n", "SYSTEM スレッドは終了できません"},
      {"*SYSTEM_START\n    return\n", "ブロックまたはループの対応が正しくありません"},
      {"*SYSTEM_START\n    task_end name=\"nobody\"\n", "スレッド[nobody]が存在しません"},
      {"*SYSTEM_START\n    task name=\"nobody\", run_a=1\n", "スレッド[nobody]が存在しません"},
      {"*SYSTEM_START\n    task name=\"x\", label=\"nolabel\"\n", "ラベル[nolabel]が存在しません"},
      {"*SYSTEM_START\n    task name=\"x/\", label=*SYSTEM_START\n", "フォルダはスレッドにできません"},
      {"global str st = \"junk\"\n*SYSTEM_START\n    task name=\"x\", label=*SYSTEM_START, state=st\n",
       "保存された状態が壊れています"},
      {"*SYSTEM_START\n    goto \"no\" + \"where\"\n", "ラベル[nowhere]が存在しません"},
  };
  for (const Case& c : cases) {
    int status = 0;
    std::string out = RunMain(c.text, &status);
    EXPECT_EQ(status, 1) << c.text;
    EXPECT_NE(out.find(c.shown), std::string::npos) << c.text << "\n" << out;
  }
}

TEST_F(ScriptFlow, EndedThreadsStopAndTheProgramGoesOn) {
  std::string out = RunMain(
      "*SYSTEM_START\n"
      "    task name=\"t\", label=*t\n"
      "    task name=\"u\", label=*u\n"
      "    wait frames=5\n"
      "    task_end name=\"u\"\n"
      "    wait frames=5\n"
      "    goto \"r_\" + str(@119)\n"
      "*u\n"
      "    wait frames=1\n"
      "    goto *u\n"
      "*t\n"
      "    wait frames=1\n");
  // t ran past its last line and ended, u was ended by name: only SYSTEM is left.
  EXPECT_TRUE(Shows(out, "r_1")) << out;
}

}  // namespace
