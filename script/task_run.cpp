// The scheduler and the thread commands: one pass over the thread tree per step, frame and
// millisecond waits, starting and ending threads, and the thread state string. Invariant: a
// thread runs at most once per step counter value, and a thread ended during a pass is only
// unlinked then; its node and context are freed when the outermost pass returns, so no pointer
// the pass still holds is ever dangling.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/line_plan.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"

static ObjNode** s_Ended = nullptr;  // unlinked threads waiting for the end of the pass
static u32 s_EndedCount = 0, s_EndedCap = 0;
static u32 s_PassDepth = 0;
static u64 s_DebugLines = 0;
static u8 s_DebugCorners = 0;

enum { DEBUG_CHECK_LINES = 1024, DEBUG_CORNER_PX = 8, DEBUG_ALL_CORNERS = 15 };
// The longest state: 63 levels of each stack and a script name.
enum { TASK_STATE_MAX = 8192 };

void TaskEndNode(ObjNode* node) {
  TaskContext* ctx = node ? static_cast<TaskContext*>(node->payload) : nullptr;
  if (!ctx || ctx->ended) return;
  ObjUnlinkNode(node);
  ctx->ended = 1;
  if (s_EndedCount == s_EndedCap) {
    u32 cap = s_EndedCap ? s_EndedCap * 2 : 16;
    ObjNode** p = static_cast<ObjNode**>(std::realloc(s_Ended, cap * sizeof(ObjNode*)));
    if (!p) return;  // the node stays unlinked; only its memory is lost
    s_Ended = p;
    s_EndedCap = cap;
  }
  s_Ended[s_EndedCount++] = node;
}

static void FreeEnded() {
  for (u32 i = 0; i < s_EndedCount; i++) {
    ObjNode* node = s_Ended[i];
    if (node == g_CurrentTaskNode) {
      g_CurrentTask = nullptr;
      g_CurrentTaskNode = nullptr;
    }
    TaskFreeContext(static_cast<TaskContext*>(node->payload));
    ObjFreeNode(node);
  }
  s_EndedCount = 0;
}

// ---- Debug corner detector -------------------------------------------------------------------

// Every 1024 lines: the screen corner the cursor stands in (within 8 pixels of a corner of the
// monitor holding the main window). The four corners in turn ask whether to quit. Input and the
// screen modes keep the positions on the main thread; they are read here without waiting.
static void DebugCornerCheck() {
  if (++s_DebugLines % DEBUG_CHECK_LINES != 0) return;
  const PointI32 cursor = g_CursorScreenPos.load(), origin = g_MonitorOrigin.load();
  const SizeI32 display = g_MonitorSize.load();
  if (display.width <= 0 || display.height <= 0) return;  // no display known yet
  const i64 x = static_cast<i64>(cursor.x) - origin.x, y = static_cast<i64>(cursor.y) - origin.y;
  const i64 w = display.width, h = display.height;
  if (x < 0 || y < 0 || x >= w || y >= h) return;  // on another monitor
  bool left = x < DEBUG_CORNER_PX, right = x >= w - DEBUG_CORNER_PX;
  bool top = y < DEBUG_CORNER_PX, bottom = y >= h - DEBUG_CORNER_PX;
  if (top && left) s_DebugCorners |= 1;
  if (bottom && left) s_DebugCorners |= 2;
  if (top && right) s_DebugCorners |= 4;
  if (bottom && right) s_DebugCorners |= 8;
  if (s_DebugCorners != DEBUG_ALL_CORNERS) return;
  s_DebugCorners = 0;
  std::string title = PlatUtf8ToSjis("[デバッグ機能]");
  std::string text =
      PlatUtf8ToSjis("マウスによる画面四隅への移動を検出しました。\n\n強制的に終了します。よろしいですか？");
  if (PlatMessageBox(title.c_str(), text.c_str(), PLAT_MB_YESNO) == PLAT_IDYES) g_QuitRequested = 1;
}

// ---- The pass --------------------------------------------------------------------------------

static void RunLines(ObjNode* node, TaskContext* ctx) {
  // Once bound, a thread is only ever bound again to another loaded file, whose handler arrays
  // always exist, so the arrays are checked once per pass.
  if (!ctx->handlers[0] || !ctx->handlers[1]) return;  // no script bound yet
  for (;;) {
    if (ctx->next_line >= ctx->line_count) {
      // Running past the last line is an implicit return at the outermost level.
      if (ctx->no_end) ErrRaiseAtScript(ERR_TASK_NESTING, 1);
      else TaskEndNode(node);
      return;
    }
    u32 n = ctx->next_line;
    ctx->next_line = n + 1;
    g_CurrentLine = n;
    i32 r = 0;
    if (!g_RunInBackground && g_InactivePaused) r = ctx->handlers[0][n]();
    else if (!ctx->plans || !PlanRunLine(ctx, n)) r = ctx->handlers[1][n]();
    if (g_DebugMode) DebugCornerCheck();
    if ((r & 0xFF) != 0 || g_QuitRequested || ctx->ended) return;
  }
}

static void RunThread(ObjNode* node, TaskContext* ctx) {
  g_CurrentTask = ctx;
  g_CurrentTaskNode = node;
  if (ctx->pass_stamp == static_cast<i64>(g_StepCounter)) return;
  ctx->pass_stamp = static_cast<i64>(g_StepCounter);
  HookCall(g_HookMessageWait, ctx);
  if (ctx->message_wait) return;
  if (ctx->wait_frames) ctx->wait_frames--;
  // Wrap-safe: the deadline is reached once the time is at most half the clock's range past it.
  if (ctx->wait_timed && static_cast<i32>(PlatTimeMs() - ctx->wait_deadline) >= 0) {
    ctx->wait_timed = 0;
    ctx->wait_deadline = 0;
  }
  if (ctx->wait_frames || ctx->wait_timed) return;
  RunLines(node, ctx);
}

i32 TaskRunGroup(ObjNode* group) {
  if (!group) return 0;
  s_PassDepth++;
  for (ObjNode* n = group->last_child; n && !g_QuitRequested; n = n->prev) {
    TaskContext* ctx = static_cast<TaskContext*>(n->payload);
    if (n->kind == OBJ_FOLDER) {
      TaskRunGroup(n);
      continue;
    }
    if (!ctx || ctx->ended || !ctx->run_a || !ctx->run_b) continue;
    RunThread(n, ctx);
  }
  if (--s_PassDepth == 0) FreeEnded();
  return 0;
}

i32 TaskRunCurrentHandler() {
  TaskContext* t = g_CurrentTask;
  if (!t || !t->handlers[1] || g_CurrentLine >= t->line_count) return 1;
  return t->handlers[1][g_CurrentLine]();
}

void TaskReset() {
  s_PassDepth = 0;
  FreeEnded();
  std::free(s_Ended);
  s_Ended = nullptr;
  s_EndedCap = 0;
  s_DebugLines = 0;
  s_DebugCorners = 0;
}

// ---- Waits -----------------------------------------------------------------------------------

i32 CmdTaskWait() {
  if (ArgDecode(102) != 0) return -1;
  TaskContext* t = g_CurrentTask;
  if (!t) return -1;
  if (ArgGiven(0) && ArgInt(0) != 0) {
    t->wait_frames = static_cast<u32>(ArgInt(0));
    return 1;
  }
  if (ArgGiven(1) && ArgInt(1) != 0) {
    t->wait_deadline = PlatTimeMs() + static_cast<u32>(ArgInt(1));
    t->wait_timed = 1;
    return 1;
  }
  return 0;
}

// ---- State string ----------------------------------------------------------------------------

static const u8 kStateMarker[8] = {1, 2, 3, 4, 5, 6, 7, 8};

struct StateWriter {
  char* p;
  char* end;
  bool ok;
  void Byte(u8 v) {
    if (end - p < 2) {
      ok = false;
      return;
    }
    *p++ = static_cast<char>('a' + (v >> 4));
    *p++ = static_cast<char>('a' + (v & 15));
  }
  void U32(u32 v) {
    for (int s = 24; s >= 0; s -= 8) Byte(static_cast<u8>(v >> s));
  }
};

i32 TaskStateEncode(char* buf, size_t buf_size, const TaskContext* ctx) {
  if (!buf || buf_size < sizeof kStateMarker + 1 || !ctx) return -1;
  std::memcpy(buf, kStateMarker, sizeof kStateMarker);
  StateWriter w{buf + sizeof kStateMarker, buf + buf_size - 1, true};
  w.Byte(static_cast<u8>(ctx->block_depth));
  for (i32 i = 0; i < ctx->block_depth; i++) {
    const BlockRecord* b = ctx->blocks[i];
    w.Byte(b ? b->loop_depth : 0);
    w.U32(b ? b->head_line : 0);
    w.U32(b ? b->end_line : 0);
  }
  w.Byte(static_cast<u8>(ctx->call_depth));
  for (i32 i = 0; i < ctx->call_depth; i++) {
    const CallFrame* f = ctx->frames[i];
    w.Byte(f ? f->block_depth : 0);
    w.Byte(f ? f->loop_depth : 0);
    w.U32(f ? f->return_line : 0);
    w.U32(f ? f->return_file : 0);
  }
  w.Byte(static_cast<u8>(ctx->loop_depth));
  for (i32 i = 0; i < ctx->loop_depth; i++) {
    const LoopRecord* l = ctx->loops[i];
    w.Byte(l ? l->block_depth : 0);
    w.U32(l ? l->body_line : 0);
    w.U32(l ? l->end_line : 0);
    w.U32(l ? static_cast<u32>(l->counter) : 0);
    w.U32(l ? static_cast<u32>(l->limit) : 0);
  }
  w.U32(ctx->message_pos[0]);
  w.U32(ctx->next_line);
  const char* name = g_ScriptFileNames && ctx->file_no < g_ScriptFileCount ? g_ScriptFileNames[ctx->file_no] : nullptr;
  if (!name) name = "";
  size_t len = std::strlen(name);
  w.U32(static_cast<u32>(len));
  if (!w.ok || static_cast<size_t>(w.end - w.p) < len) return -1;
  std::memcpy(w.p, name, len);
  w.p += len;
  *w.p = '\0';
  return static_cast<i32>(w.p - buf);
}

struct StateReader {
  const char* p;
  const char* end;
  bool ok;
  u8 Byte() {
    if (end - p < 2 || p[0] < 'a' || p[0] > 'p' || p[1] < 'a' || p[1] > 'p') {
      ok = false;
      return 0;
    }
    u8 v = static_cast<u8>((p[0] - 'a') << 4 | (p[1] - 'a'));
    p += 2;
    return v;
  }
  u32 U32() {
    u32 v = 0;
    for (int k = 0; k < 4; k++) v = v << 8 | Byte();
    return v;
  }
  u8 Depth() {
    u8 d = Byte();
    if (d >= TASK_DEPTH_MAX) ok = false;
    return d;
  }
};

// The decoded state, kept apart until the whole string checked out.
struct DecodedState {
  u8 block_depth, call_depth, loop_depth;
  BlockRecord blocks[TASK_DEPTH_MAX];
  CallFrame frames[TASK_DEPTH_MAX];  // only the four saved fields are used
  LoopRecord loops[TASK_DEPTH_MAX];
  u32 message_pos, next_line;
  u32 file;
};
static DecodedState s_State;

static i32 StateError() {
  ErrRaiseAtScript(ERR_TASK_STATE, 1);
  return -1;
}

// The file number of a script name, or -1.
static i32 FileByName(const char* name, size_t len) {
  for (u32 i = 0; g_ScriptFileNames && i < g_ScriptFileCount; i++) {
    const char* n = g_ScriptFileNames[i];
    if (n && std::strlen(n) == len && std::memcmp(n, name, len) == 0) return static_cast<i32>(i);
  }
  return -1;
}

i32 TaskStateDecode(const char* text, TaskContext* ctx) {
  if (!text || !ctx) return StateError();
  size_t total = std::strlen(text);
  if (total < sizeof kStateMarker || std::memcmp(text, kStateMarker, sizeof kStateMarker) != 0) return StateError();
  StateReader r{text + sizeof kStateMarker, text + total, true};
  DecodedState& s = s_State;
  s.block_depth = r.Depth();
  for (u32 i = 0; r.ok && i < s.block_depth; i++) {
    s.blocks[i].loop_depth = r.Depth();
    s.blocks[i].head_line = r.U32();
    s.blocks[i].end_line = r.U32();
  }
  s.call_depth = r.Depth();
  for (u32 i = 0; r.ok && i < s.call_depth; i++) {
    s.frames[i].block_depth = r.Depth();
    s.frames[i].loop_depth = r.Depth();
    s.frames[i].return_line = r.U32();
    u32 f = r.U32();
    if (f >= g_ScriptFileCount) r.ok = false;
    s.frames[i].return_file = static_cast<u16>(f);
  }
  s.loop_depth = r.Depth();
  for (u32 i = 0; r.ok && i < s.loop_depth; i++) {
    s.loops[i].block_depth = r.Depth();
    s.loops[i].body_line = r.U32();
    s.loops[i].end_line = r.U32();
    s.loops[i].counter = static_cast<i32>(r.U32());
    s.loops[i].limit = static_cast<i32>(r.U32());
  }
  s.message_pos = r.U32();
  s.next_line = r.U32();
  u32 len = r.U32();
  if (!r.ok || len != static_cast<size_t>(r.end - r.p)) return StateError();
  i32 file = FileByName(r.p, len);
  if (file < 0) return StateError();
  if (ScriptLoadFile(static_cast<u32>(file)) != 1) return -1;
  if (s.next_line > g_ScriptFiles[file]->line_count) return StateError();

  // Every record the state names exists before anything changes.
  for (u32 i = 0; i < s.block_depth; i++)
    if (!ctx->blocks[i] && !(ctx->blocks[i] = static_cast<BlockRecord*>(MemAllocZeroed(sizeof(BlockRecord))))) goto oom;
  for (u32 i = 0; i < s.call_depth; i++)
    if (!ctx->frames[i] && !(ctx->frames[i] = static_cast<CallFrame*>(MemAllocZeroed(sizeof(CallFrame))))) goto oom;
  for (u32 i = 0; i < s.loop_depth; i++)
    if (!ctx->loops[i] && !(ctx->loops[i] = static_cast<LoopRecord*>(MemAllocZeroed(sizeof(LoopRecord))))) goto oom;

  for (u32 i = 0; i < s.block_depth; i++) *ctx->blocks[i] = s.blocks[i];
  for (u32 i = 0; i < s.call_depth; i++) {
    CallFrame* f = ctx->frames[i];
    f->block_depth = s.frames[i].block_depth;
    f->loop_depth = s.frames[i].loop_depth;
    f->return_line = s.frames[i].return_line;
    f->return_file = s.frames[i].return_file;
  }
  for (u32 i = 0; i < s.loop_depth; i++) *ctx->loops[i] = s.loops[i];
  ctx->block_depth = static_cast<i8>(s.block_depth);
  ctx->call_depth = static_cast<i8>(s.call_depth);
  ctx->loop_depth = static_cast<i8>(s.loop_depth);
  ctx->message_pos[0] = s.message_pos;
  ctx->next_line = s.next_line;
  ScriptBindTask(ctx, static_cast<u16>(file));
  return 0;
oom:
  ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
  return -1;
}

// ---- Thread commands -------------------------------------------------------------------------

enum {
  TASK_P_NAME = 0,
  TASK_P_RUN_A = 1,
  TASK_P_RUN_B = 2,
  TASK_P_ORDER = 3,
  TASK_P_INT1 = 4,
  TASK_P_FLOAT1 = 14,
  TASK_P_LABEL = 34,
  TASK_P_STATE = 35,
  TASK_P_NOW = 37,
  TASK_SLOTS_GIVEN = 10,
};

// The thread node a name parameter names (an empty name: the running thread). Sets *node (null
// when missing); -1 after an error.
static i32 ResolveThread(u8 slot, u8 param, char* path, size_t size, ObjNode** node) {
  *node = nullptr;
  const char* name = ArgStr(param);
  if (!ArgGiven(param) || !name[0]) {
    *node = g_CurrentTaskNode;
    StrCopySjis(path, size, g_CurrentTaskNode && g_CurrentTaskNode->name ? g_CurrentTaskNode->name : "");
    return 0;
  }
  i32 folder = ObjResolvePath(path, size, name, g_TaskBase, 0);
  if (folder < 0) return -1;
  if (folder) {
    ErrRaiseAtScriptF(ERR_TASK_FOLDER, 1, ArgCommandName(slot), static_cast<const char*>(path));
    return -1;
  }
  *node = g_TaskRoot ? ObjFindNode(g_TaskRoot, path, OBJ_FIND_ITEM) : nullptr;
  return 0;
}

static i64 ApplyOrder(i64 current, u8 op, i64 v) {
  i64 r = current;
  switch (op) {
    case 0: r = v; break;
    case 1: r = static_cast<i64>(static_cast<u64>(current) + static_cast<u64>(v)); break;
    case 2: r = static_cast<i64>(static_cast<u64>(current) - static_cast<u64>(v)); break;
    case 3: r = static_cast<i64>(static_cast<u64>(current) * static_cast<u64>(v)); break;
    case 4:
      if (v != 0 && !(v == -1 && current == INT64_MIN)) r = current / v;
      break;
    default: break;
  }
  return r < 1 ? 1 : r;
}

i32 CmdTaskStart() {
  if (ArgDecode(93) != 0) return -1;
  static char path[OBJ_PATH_MAX];
  ObjNode* node = nullptr;
  if (ResolveThread(93, TASK_P_NAME, path, sizeof path, &node) != 0) return -1;
  bool order_given = ArgGiven(TASK_P_ORDER);
  u8 order_op = order_given ? static_cast<u8>(g_ArgOp[ArgPos(TASK_P_ORDER)]) : 0;
  i64 order_value = ArgInt(TASK_P_ORDER);
  i64 order = node ? node->order : 1;
  if (order_given) {
    order = ApplyOrder(order, order_op, order_value);
    if (node) ObjSetOrder(node, order);
  }
  bool label_given = ArgGiven(TASK_P_LABEL);
  if (!node && !label_given) {
    ErrRaiseAtScriptF(ERR_TASK_MISSING, 1, ArgCommandName(93), static_cast<const char*>(path));
    return -1;
  }
  TaskContext* ctx = node ? static_cast<TaskContext*>(node->payload) : nullptr;
  if (label_given) {
    const char* name = ArgStr(TASK_P_LABEL);
    i32 index = ScriptFindLabel(name, static_cast<u32>(std::strlen(name)));
    if (index < 0) {
      ErrRaiseAtScriptF(ERR_LABEL_MISSING, 1, name);
      return -1;
    }
    const LabelRecord* l = TaskCheckedLabel(index);
    if (!l) return -1;
    if (!node) {
      node = ObjCreateNode(g_TaskRoot, path, OBJ_ITEM, order);
      if (!node) return -1;
      ctx = TaskNewContext(node);
      if (!ctx) return -1;
    }
    if (!ctx) return -1;
    ScriptBindTask(ctx, l->file);
    // Like the thread start-up: the label's own depths, outside any call.
    ctx->next_line = l->line;
    ctx->block_depth = l->block_depth;
    ctx->loop_depth = l->loop_depth;
    ctx->call_depth = 0;
    for (i32 i = 1; i < TASK_SLOT_COUNT; i++) {
      ctx->ints[i] = 0;
      ctx->floats[i] = 0.0;
      if (ctx->strs[i]) ctx->strs[i][0] = '\0';
    }
    for (u8 i = 0; i < TASK_SLOTS_GIVEN; i++) {
      if (ArgGiven(static_cast<u8>(TASK_P_INT1 + i))) ctx->ints[i + 1] = ArgInt(static_cast<u8>(TASK_P_INT1 + i));
      if (ArgGiven(static_cast<u8>(TASK_P_FLOAT1 + i)))
        ctx->floats[i + 1] = static_cast<double>(ArgInt(static_cast<u8>(TASK_P_FLOAT1 + i)));
    }
  }
  if (!ctx) return -1;
  if (ArgGiven(TASK_P_RUN_A)) ctx->run_a = static_cast<u8>(ArgInt(TASK_P_RUN_A));
  if (ArgGiven(TASK_P_RUN_B)) ctx->run_b = static_cast<u8>(ArgInt(TASK_P_RUN_B));
  if (ArgGiven(TASK_P_STATE) && TaskStateDecode(ArgStr(TASK_P_STATE), ctx) != 0) return -1;
  if (ArgGiven(TASK_P_NOW)) {
    g_RerunRequest = 1;
    if (order_given) ObjSetOrder(node, ApplyOrder(node->order, order_op, order_value));
  }
  return 0;
}

i32 CmdTaskEnd() {
  if (ArgDecode(94) != 0) return -1;
  if (!ArgGiven(0) || !ArgStr(0)[0]) {
    TaskContext* self = g_CurrentTask;
    if (!self) return -1;
    if (self->no_end) {
      ErrRaiseAtScriptF(ERR_TASK_SYSTEM_END, 1, ArgCommandName(94));
      return -1;
    }
    TaskEndNode(g_CurrentTaskNode);
    return 1;
  }
  static char path[OBJ_PATH_MAX];
  ObjNode* node = nullptr;
  if (ResolveThread(94, 0, path, sizeof path, &node) != 0) return -1;
  if (std::strcmp(path, "SYSTEM") == 0 || (node && node->payload && static_cast<TaskContext*>(node->payload)->no_end)) {
    ErrRaiseAtScriptF(ERR_TASK_SYSTEM_END, 1, ArgCommandName(94));
    return -1;
  }
  if (!node || !node->payload) {
    ErrRaiseAtScriptF(ERR_TASK_MISSING, 1, ArgCommandName(94), ArgStr(0));
    return -1;
  }
  bool self = node == g_CurrentTaskNode;  // by identity: two folders may hold the same name
  TaskEndNode(node);
  return self ? -1 : 0;
}

i32 CmdTaskStateSave() {
  if (ArgDecode(95) != 0) return -1;
  static char path[OBJ_PATH_MAX];
  ObjNode* node = nullptr;
  if (ResolveThread(95, 1, path, sizeof path, &node) != 0) return -1;
  if (!node || !node->payload) {
    ErrRaiseAtScriptF(ERR_TASK_MISSING, 1, ArgCommandName(95), path);
    return -1;
  }
  static char state[TASK_STATE_MAX];
  if (TaskStateEncode(state, sizeof state, static_cast<TaskContext*>(node->payload)) < 0) return StateError();
  if (!ArgGiven(0)) return 0;
  u8 p = ArgPos(0);
  return VarSetStrElement(g_ArgVarId[p], g_ArgVarElem[p], state) < 0 ? -1 : 0;
}
