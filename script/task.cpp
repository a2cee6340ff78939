// Script-thread contexts (see task.h).
#include "script/task.h"

#include <cstdlib>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"

TaskContext* g_CurrentTask = nullptr;
ObjNode* g_CurrentTaskNode = nullptr;
u32 g_CurrentLine = 0;

static void FreeFrame(CallFrame* f) {
  if (!f) return;
  for (int i = 0; i < TASK_SLOT_COUNT; i++) {
    free(f->arg_strs[i]);
    free(f->ret_strs[i]);
  }
  free(f);
}

void TaskFreeContext(TaskContext* ctx) {
  if (!ctx) return;
  for (int i = 0; i < TASK_DEPTH_MAX; i++) {
    free(ctx->blocks[i]);
    FreeFrame(ctx->frames[i]);
    free(ctx->loops[i]);
  }
  for (char* s : ctx->strs) free(s);
  free(ctx);
}

TaskContext* TaskNewContext(ObjNode* node) {
  if (!node) return nullptr;
  TaskContext* ctx = static_cast<TaskContext*>(MemAllocZeroed(sizeof(TaskContext)));
  if (ctx) {
    ctx->blocks[0] = static_cast<BlockRecord*>(MemAllocZeroed(sizeof(BlockRecord)));
    ctx->frames[0] = static_cast<CallFrame*>(MemAllocZeroed(sizeof(CallFrame)));
    ctx->loops[0] = static_cast<LoopRecord*>(MemAllocZeroed(sizeof(LoopRecord)));
  }
  if (!ctx || !ctx->blocks[0] || !ctx->frames[0] || !ctx->loops[0]) {
    TaskFreeContext(ctx);  // a partly built context is never attached
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  ctx->run_a = 1;
  ctx->run_b = 1;
  node->payload = ctx;
  return ctx;
}
