// Script threads: the context that is the payload of a thread-tree node, with its three stacks
// of at most 64 levels (conditional blocks, sub-routine call frames, loops). Entry 0 of each stack
// exists from the thread's creation; deeper entries are allocated on first use and kept for the
// thread's life. Argument, return and thread slots count from 1.
#pragma once
#include "common/types.h"

struct ObjNode;
struct ArgRecord;

enum {
  TASK_DEPTH_MAX = 64,  // a depth of 64 is refused: at most 63 open levels
  TASK_SLOT_COUNT = 17, // slots 1 to 16 used
};

// One open conditional block; index = block depth at the block's entry.
struct BlockRecord {
  u8 loop_depth;   // at entry
  u32 head_line;   // the line that opened the block
  u32 end_line;    // the line that closes it; cleared when it closes
};

// One open loop; index = loop depth at entry.
struct LoopRecord {
  u8 block_depth;  // at entry
  u32 body_line;
  u32 end_line;
  i64 counter;     // starts at 1
  i64 limit;       // -1 = endless
};

// One call level; frame k belongs to call depth k.
struct CallFrame {
  u8 block_depth;          // when a call was made from depth k
  u8 loop_depth;
  u32 return_line;         // line after the calling line
  u16 return_file;
  u32 call_source_line;
  i64 arg_ints[TASK_SLOT_COUNT];      // arguments passed to the routine running at depth k
  double arg_floats[TASK_SLOT_COUNT];
  char* arg_strs[TASK_SLOT_COUNT];    // heap buffers, grown as needed and kept
  i64 ret_ints[TASK_SLOT_COUNT];      // values handed back to the routine running at depth k
  double ret_floats[TASK_SLOT_COUNT];
  char* ret_strs[TASK_SLOT_COUNT];
  u8 arg_present[TASK_SLOT_COUNT];    // [0] the argument count, [i] 1 when argument i was given
  u8 ret_present[TASK_SLOT_COUNT];    // [0] the return count, [i] 1 when value i was set
};

// A command handler of a script line; 0 runs the next line at once.
typedef i32 (*TaskLineHandler)();

struct TaskContext {
  i64 pass_stamp;          // step counter of the last pass that ran this thread
  u8 no_end;               // "SYSTEM": may not end itself
  u8 message_wait;         // waits for the message typewriter
  u32 message_pos[2];
  u8 run_a, run_b;         // the thread runs only when both are set
  u32 wait_frames;
  u32 wait_deadline;       // milliseconds; 0 = none
  u32 next_line;
  // Copied from the running file's record.
  TaskLineHandler* handlers[2];  // [1] command handlers, [0] the inactive-window wait
  const u8* line_flags;
  const u8* arg_counts;
  ArgRecord* const* arg_records;
  const u8* expr_area;
  u32 expr_size;           // bytes of the expression area (offsets are checked against it)
  const u32* line_numbers;
  u32 line_count;          // lines of the running file
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
