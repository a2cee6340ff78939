// Script threads: the context that is the payload of a thread-tree node, with its three stacks
// of at most 64 levels (conditional blocks, sub-routine call frames, loops). Entry 0 of each stack
// exists from the thread's creation; deeper entries are allocated on first use and kept for the
// thread's life. Argument, return and thread slots count from 1.
#pragma once
#include "common/types.h"

struct ObjNode;
struct ArgRecord;
struct LinePlan;

enum {
  TASK_DEPTH_MAX = 64,   // a depth of 64 is refused: at most 63 open levels
  TASK_SLOT_COUNT = 17,  // slots 1 to 16 used
};

// One open conditional block; index = block depth at the block's entry.
struct BlockRecord {
  u8 loop_depth;  // at entry
  u32 head_line;  // the line that opened the block
  u32 end_line;   // the line that closes it; cleared when it closes
};

// One open loop; index = loop depth at entry.
struct LoopRecord {
  u8 block_depth;  // at entry
  u32 body_line;
  u32 end_line;
  i64 counter;  // starts at 1
  i64 limit;    // -1 = endless
};

// One call level; frame k belongs to call depth k.
struct CallFrame {
  u8 block_depth;  // when a call was made from depth k
  u8 loop_depth;
  u32 return_line;  // line after the calling line
  u16 return_file;
  u32 call_source_line;
  i64 arg_ints[TASK_SLOT_COUNT];  // arguments passed to the routine running at depth k
  double arg_floats[TASK_SLOT_COUNT];
  char* arg_strs[TASK_SLOT_COUNT];  // heap buffers, grown as needed and kept
  i64 ret_ints[TASK_SLOT_COUNT];    // values handed back to the routine running at depth k
  double ret_floats[TASK_SLOT_COUNT];
  char* ret_strs[TASK_SLOT_COUNT];
  u8 arg_present[TASK_SLOT_COUNT];  // [0] the argument count, [i] 1 when argument i was given
  u8 ret_present[TASK_SLOT_COUNT];  // [0] the return count, [i] 1 when value i was set
};

// A command handler of a script line; 0 runs the next line at once.
typedef i32 (*TaskLineHandler)();

struct TaskContext {
  i64 pass_stamp;   // step counter of the last pass that ran this thread
  u8 no_end;        // "SYSTEM": may not end itself
  u8 message_wait;  // waits for the message typewriter
  u32 message_pos[2];
  u8 run_a, run_b;  // the thread runs only when both are set
  u32 wait_frames;
  u32 wait_deadline;  // milliseconds, when wait_timed is set
  u8 wait_timed;      // a deadline is pending (a deadline may itself be 0)
  u8 ended;           // unlinked from the tree; freed after the pass
  u32 next_line;
  // Copied from the running file's record.
  TaskLineHandler* handlers[2];  // [1] command handlers, [0] the inactive-window wait
  const u8* line_flags;
  const u8* arg_counts;
  ArgRecord* const* arg_records;
  const u8* expr_area;
  u32 expr_size;  // bytes of the expression area (offsets are checked against it)
  const u32* line_numbers;
  const LinePlan* plans;  // null: every line takes the general path
  u32 line_count;         // lines of the running file
  u16 file_no;
  i8 block_depth;
  BlockRecord* blocks[TASK_DEPTH_MAX];
  i8 call_depth;
  CallFrame* frames[TASK_DEPTH_MAX];
  i8 loop_depth;
  LoopRecord* loops[TASK_DEPTH_MAX];
  i64 ints[TASK_SLOT_COUNT];
  double floats[TASK_SLOT_COUNT];
  char* strs[TASK_SLOT_COUNT + 1];
};

// The thread being run and its node; null outside a scheduler pass. g_CurrentLine is the line
// being run.
extern TaskContext* g_CurrentTask;
extern ObjNode* g_CurrentTaskNode;
extern u32 g_CurrentLine;

// A new context with entry 0 of each stack and both run flags set, made the node's payload.
// Null (after error 100010) on failure or for a null node.
TaskContext* TaskNewContext(ObjNode* node);
// Frees the context with everything it owns.
void TaskFreeContext(TaskContext* ctx);

enum {
  ERR_TASK_FOLDER = 101293,
  ERR_TASK_NESTING = 101300,  // no level to act on, or a return at depth 0 in "SYSTEM"
  ERR_TASK_MISSING = 101400,
  ERR_TASK_SYSTEM_END = 101420,
  ERR_TASK_DEPTH = 101600,
  ERR_TASK_LOOP_END = 108120,
  ERR_TASK_STATE = 900000,
};

// ---- Scheduler (task_run.cpp) ----------------------------------------------------------------

// One pass over a group's children, last to first; folders recurse. Threads ended during the
// pass are freed when the outermost pass returns. Always 0.
i32 TaskRunGroup(ObjNode* group);
// The running line's command handler (the inactive-window wait runs it through this).
i32 TaskRunCurrentHandler();
// Unlinks a thread node from the tree; it stops running at once and is freed after the pass.
void TaskEndNode(ObjNode* node);
// Writes the state string of ctx into buf (buf_size bytes, NUL included); its length, or -1 when
// it does not fit.
i32 TaskStateEncode(char* buf, size_t buf_size, const TaskContext* ctx);
// Restores ctx from a state string: 0, or -1 after error 900000 (bad marker, damaged or
// truncated text, a depth above 63, an unknown file). ctx is unchanged on failure.
i32 TaskStateDecode(const char* text, TaskContext* ctx);
// Tests: frees threads waiting to be freed and clears the scheduler's counters.
void TaskReset();

// Command handlers.
i32 CmdTaskStart();      // 93
i32 CmdTaskEnd();        // 94
i32 CmdTaskStateSave();  // 95
i32 CmdTaskWait();       // 102

// ---- Labels, calls, blocks and loops (flow.cpp) ----------------------------------------------

// Points the thread at file's tables, loading the file when needed. 0, or -1 after the loader's
// error.
i32 TaskSwitchFile(TaskContext* ctx, u32 file);
// The label at index, checked against the loaded tables: its file loaded and its line and depths
// in range. Null after the error.
struct LabelRecord;
const LabelRecord* TaskCheckedLabel(i32 index);

i32 CmdLabelJump();      // 43
i32 CmdLabelCall();      // 44
i32 CmdCallReturn();     // 77
i32 CmdBlockBegin();     // 45
i32 CmdBlockBranch();    // 11
i32 CmdBlockJumpEnd();   // 46
i32 CmdBlockBreak();     // 47
i32 CmdBlockContinue();  // 48
i32 CmdBlockEnd();       // 49
i32 CmdLoopStart();      // 56
i32 CmdLoopBreak();      // 57
i32 CmdLoopContinue();   // 58
i32 CmdLoopEnd();        // 59
