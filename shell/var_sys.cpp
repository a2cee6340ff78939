// System variables (ids below 1000): values computed from engine state when read, and the write
// side that changes engine state. Both are tables of id ranges, one row a line in id order;
// every element index that selects a key is checked against the key table before use.
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "layer/layer.h"
#include "platform/platform.h"
#include "script/task.h"
#include "script/var.h"
#include "shell/input.h"
#include "shell/startup.h"
#include "shell/var_sources.h"

enum { ENGINE_VERSION = 493, EXTRA_ARG_SLOTS = 9 };

// ---- Sources ---------------------------------------------------------------------------------

static i64 TimeField(const PlatLocalTime& t, i64 field) {
  const int fields[8] = {t.year, t.month, t.day, t.weekday, t.hour, t.minute, t.second, t.millisecond};
  return fields[field];
}

static i64 LocalTime(i64, i64 i) {
  if (i >= 0 && i < 8) return TimeField(PlatGetLocalTime(), i);
  if (i >= 8 && i < 16) return TimeField(VarSrcStartTime(), i - 8);
  return 0;
}

// A running timer counts from its base to now, a stopped one to the moment it stopped.
static i64 ScriptTimer(i32 timer, u32 now) {
  VarTimerState s = VarSrcScriptTimer(timer);
  return static_cast<u32>((s.running ? now : s.stopped_at) - s.base);
}

static i64 Timers(i64, i64 i) {
  u32 now = PlatTimeMs();
  if (i == 0) return now;
  if (i >= 1 && i <= 4) return ScriptTimer(static_cast<i32>(i - 1), now);
  return 0;
}

static i64 Memory(i64 id, i64) {
  u64 total = 0, avail = 0;
  PlatMemoryStatus(&total, &avail);
  if (avail > total) avail = total;
  switch (id) {
    case 5: return static_cast<i64>(total);
    case 6: return total ? static_cast<i64>((total - avail) * 100 / total) : 0;
    default: return static_cast<i64>(avail);
  }
}

static CallFrame* CurrentFrame() {
  TaskContext* t = g_CurrentTask;
  if (!t || t->call_depth < 0 || t->call_depth >= TASK_DEPTH_MAX) return nullptr;
  return t->frames[t->call_depth];
}

static bool IsSlot(i64 i) { return i >= 0 && i < TASK_SLOT_COUNT; }

// Argument i of the current frame exists when i is a slot within the argument count.
static CallFrame* FrameWithArg(i64 i) {
  CallFrame* f = CurrentFrame();
  return f && IsSlot(i) && i <= f->arg_present[0] ? f : nullptr;
}
static CallFrame* FrameWithSlot(i64 i) { return IsSlot(i) ? CurrentFrame() : nullptr; }

static i64 LoopCounter(i64, i64) {
  TaskContext* t = g_CurrentTask;
  if (!t || t->loop_depth < 1 || t->loop_depth > TASK_DEPTH_MAX) return 0;
  LoopRecord* loop = t->loops[t->loop_depth - 1];
  return loop ? loop->counter : 0;
}

// ---- Keys ------------------------------------------------------------------------------------

// Direction key (id - first_id) of joystick i, or -1 outside the key table.
static i64 JoyDirectionKey(i64 id, i64 first_id, i64 i) {
  if (i < 0 || i >= INPUT_JOY_MAX) return -1;
  return INPUT_JOY_FIRST_KEY + INPUT_JOY_KEYS * i + (id - first_id);
}

// Button i mod 32 of joystick i div 32, or -1 outside the key table.
static i64 JoyButtonKey(i64 i) {
  if (i < 0 || i >= INPUT_JOY_MAX * INPUT_JOY_BUTTONS) return -1;
  return INPUT_JOY_FIRST_KEY + 4 + INPUT_JOY_KEYS * (i / INPUT_JOY_BUTTONS) + i % INPUT_JOY_BUTTONS;
}

static bool IsKey(i64 key) { return key >= 0 && key < INPUT_KEY_COUNT; }
static i64 KeyCounter(i64 key) { return IsKey(key) ? g_InputKeyTable.counter[key] : 0; }
static i64 KeyPresses(i64 key) { return IsKey(key) ? static_cast<i64>(g_InputKeyTable.presses[key]) : 0; }
static void SetKeyPresses(i64 key, i64 value) {
  if (IsKey(key)) g_InputKeyTable.presses[key] = static_cast<u64>(value);
}
static i64 KeyNumber(i64 key) { return IsKey(key) ? key : 0; }

// ---- Read side -------------------------------------------------------------------------------

typedef i64 (*SysIntRead)(i64 id, i64 i);
struct SysIntRow {
  i32 first, last;
  SysIntRead read;
};

static const SysIntRow kSysInt[] = {
    {0, 0, LocalTime},
    {1, 1, Timers},
    {2, 2, [](i64, i64) -> i64 { return VarSrcOsCode(); }},
    {3, 3, [](i64, i64) -> i64 { return VarSrcDxVersion(); }},
    {4, 4, [](i64, i64) -> i64 { return VarSrcSoundOn(); }},
    {5, 7, Memory},
    {9, 9, [](i64, i64) -> i64 { return g_FolderNotWritable; }},
    {11, 11, [](i64, i64) -> i64 { return g_DebugMode; }},
    {13, 13, [](i64, i64) -> i64 { return g_ExtraArgCount < 8 ? g_ExtraArgCount : 8; }},
    {15, 15, [](i64, i64) -> i64 { return VarSrcDroppedFileCount(); }},
    {48, 48, LoopCounter},
    {49, 49, [](i64, i64) -> i64 { return 999; }},
    {53, 53,
     [](i64, i64 i) -> i64 {
       CallFrame* f = FrameWithArg(i);
       return f ? f->arg_ints[i] : 0;
     }},
    {56, 56,
     [](i64, i64 i) -> i64 {
       CallFrame* f = FrameWithSlot(i);
       return f ? f->arg_present[i] : 0;
     }},
    {57, 57,
     [](i64, i64 i) -> i64 {
       CallFrame* f = FrameWithSlot(i);
       return f ? f->ret_ints[i] : 0;
     }},
    {60, 60,
     [](i64, i64 i) -> i64 {
       CallFrame* f = FrameWithSlot(i);
       return f ? f->ret_present[i] : 0;
     }},
    {61, 61, [](i64, i64 i) -> i64 { return g_CurrentTask && IsSlot(i) ? g_CurrentTask->ints[i] : 0; }},
    {101, 101, [](i64, i64) -> i64 { return ENGINE_VERSION; }},
    {102, 102, [](i64, i64) -> i64 { return static_cast<i64>(VarSrcFrameCounter()); }},
    {103, 103, [](i64, i64) -> i64 { return static_cast<i64>(VarSrcStepCounter()); }},
    {104, 104, [](i64, i64) -> i64 { return ScriptTimer(0, PlatTimeMs()); }},
    {105, 105, [](i64, i64) -> i64 { return VarSrcDrawingMode(); }},
    {106, 106, [](i64, i64) -> i64 { return VarSrcD3dInUse(); }},
    {107, 107, [](i64, i64) -> i64 { return VarSrcDisplayBits(); }},
    {108, 108, [](i64, i64) -> i64 { return VarSrcDisplayWidth(); }},
    {109, 109, [](i64, i64) -> i64 { return VarSrcDisplayHeight(); }},
    {110, 113, [](i64 id, i64) -> i64 { return VarSrcWindowRequest(static_cast<i32>(id - 110)); }},
    {114, 114, [](i64, i64) -> i64 { return VarSrcSettingsFlag10(); }},
    {117, 117, [](i64, i64) -> i64 { return VarSrcVarSlotValue(); }},
    {119, 119, [](i64, i64) -> i64 { return g_TaskRoot ? g_TaskRoot->child_count : 0; }},
    {125, 125, [](i64, i64) -> i64 { return VarSrcMenuCommandId(); }},
    {126, 127, [](i64, i64) -> i64 { return VarSrcCursorX(0); }},
    {128, 130, [](i64 id, i64) -> i64 { return VarSrcCursorX(static_cast<i32>(id - 127)); }},
    {131, 132, [](i64, i64) -> i64 { return VarSrcCursorY(0); }},
    {133, 135, [](i64 id, i64) -> i64 { return VarSrcCursorY(static_cast<i32>(id - 132)); }},
    {136, 136, [](i64, i64) -> i64 { return VarSrcEngineStatus(); }},
    {137, 137, [](i64, i64 i) -> i64 { return i >= 1 ? KeyCounter(i) : 0; }},
    {138, 139, [](i64 id, i64) -> i64 { return VarSrcEngineValue(static_cast<i32>(id - 138)); }},
    {140, 268, [](i64 id, i64) -> i64 { return KeyCounter(g_KeyMap[id - 140]); }},
    {269, 272, [](i64 id, i64 i) -> i64 { return KeyCounter(JoyDirectionKey(id, 269, i)); }},
    {273, 273, [](i64, i64 i) -> i64 { return KeyCounter(JoyButtonKey(i)); }},
    {274, 401, [](i64 id, i64) -> i64 { return KeyPresses(g_KeyMap[id - 274]); }},
    {403, 406, [](i64 id, i64 i) -> i64 { return KeyPresses(JoyDirectionKey(id, 403, i)); }},
    {407, 407, [](i64, i64 i) -> i64 { return KeyPresses(JoyButtonKey(i)); }},
    {408, 535, [](i64 id, i64) -> i64 { return g_KeyMap[id - 408]; }},
    {536, 539, [](i64 id, i64 i) -> i64 { return KeyNumber(JoyDirectionKey(id, 536, i)); }},
    {540, 540, [](i64, i64 i) -> i64 { return KeyNumber(JoyButtonKey(i)); }},
};

i64 VarGetSysInt(i64 id, i64 index) {
  for (const SysIntRow& row : kSysInt)
    if (id >= row.first && id <= row.last) return row.read(id, index);
  return 0;
}

double VarGetSysFloat(i64 id, i64 i) {
  switch (id) {
    case 10: return 3.141592653589793;
    case 54: {
      CallFrame* f = FrameWithArg(i);
      return f ? f->arg_floats[i] : 0.0;
    }
    case 58: {
      CallFrame* f = FrameWithSlot(i);
      return f ? f->ret_floats[i] : 0.0;
    }
    case 62: return g_CurrentTask && IsSlot(i) ? g_CurrentTask->floats[i] : 0.0;
    default: return 0.0;
  }
}

typedef const char* (*SysStrRead)(i64 id, i64 i, char* buf);
struct SysStrRow {
  i32 first, last;
  SysStrRead read;  // the text, or buf after filling it
};

static const char* Text(const char* s) { return s ? s : ""; }

static const char* DroppedFile(i64, i64 i, char* buf) {
  if (i < 0 || i >= VarSrcDroppedFileCount()) {
    ErrRaiseAtScriptF(ERR_VAR_DROP_INDEX, 1, i);
    return "";
  }
  VarSrcDroppedFileCopy(static_cast<i32>(i), buf, VAR_STR_BUF);
  return buf;
}

static const char* CharCode(i64, i64 i, char* buf) {
  buf[0] = i > 0 && i < 256 ? static_cast<char>(i) : '\0';
  buf[1] = '\0';
  return buf;
}

static const SysStrRow kSysStr[] = {
    {12, 12, [](i64, i64 i, char*) { return i >= 0 && i < EXTRA_ARG_SLOTS ? Text(g_ExtraArgs[i]) : ""; }},
    {14, 14, DroppedFile},
    {55, 55,
     [](i64, i64 i, char*) {
       CallFrame* f = FrameWithArg(i);
       return f ? Text(f->arg_strs[i]) : "";
     }},
    {59, 59,
     [](i64, i64 i, char*) {
       CallFrame* f = FrameWithSlot(i);
       return f ? Text(f->ret_strs[i]) : "";
     }},
    {63, 63, [](i64, i64 i, char*) { return g_CurrentTask && IsSlot(i) ? Text(g_CurrentTask->strs[i]) : ""; }},
    {96, 96, [](i64, i64, char*) -> const char* { return g_ExeFolder; }},
    {97, 97, [](i64, i64, char*) -> const char* { return g_WorkFolder; }},
    {98, 98, [](i64, i64, char*) { return Text(VarSrcSaveFolder()); }},
    {99, 99, [](i64, i64, char*) -> const char* { return g_AppDataFolder; }},
    {100, 100, [](i64, i64, char*) -> const char* { return g_DocumentsFolder; }},
    {115, 116, [](i64 id, i64, char*) { return Text(VarSrcMessageText(static_cast<i32>(id - 115))); }},
    {118, 118, [](i64, i64, char*) { return g_CurrentTaskNode ? Text(g_CurrentTaskNode->name) : ""; }},
    {120, 120, CharCode},
    {121, 121, [](i64, i64, char*) -> const char* { return g_LayerBase; }},
    {122, 122, [](i64, i64, char*) -> const char* { return g_SoundBase; }},
    {123, 123, [](i64, i64, char*) -> const char* { return g_TaskBase; }},
    {124, 124, [](i64, i64, char*) -> const char* { return g_MenuBase; }},
};

void VarBuildSysString(i64 id, i64 index, char* buf) {
  const char* text = "";
  for (const SysStrRow& row : kSysStr)
    if (id >= row.first && id <= row.last) {
      text = row.read(id, index, buf);
      break;
    }
  if (text != buf) StrCopySjis(buf, VAR_STR_BUF, text);
}

// ---- Write side ------------------------------------------------------------------------------

// Each writer changes the engine state and returns false when the element is read-only.
typedef bool (*SysIntWrite)(i64 id, i64 i, i64 value);
struct SysIntWriteRow {
  i32 first, last;
  SysIntWrite write;
};

static const SysIntWriteRow kSysIntWrite[] = {
    {15, 15,
     [](i64, i64, i64 v) {
       if (v == 0) VarSrcDroppedFilesClear();
       return true;
     }},
    {110, 113,
     [](i64 id, i64, i64 v) {
       VarSrcWindowRequestSet(static_cast<i32>(id - 110), static_cast<u32>(v));
       return true;
     }},
    {125, 125,
     [](i64, i64, i64 v) {
       VarSrcMenuCommandIdSet(v);
       return true;
     }},
    {137, 137,
     [](i64, i64 i, i64 v) {
       if (i < 1) return false;
       VarSetSysSetting(i, v);
       return true;
     }},
    {138, 139,
     [](i64 id, i64, i64 v) {
       VarSrcEngineValueSet(static_cast<i32>(id - 138), v);
       return true;
     }},
    {140, 268,
     [](i64 id, i64, i64 v) {
       VarSetSysSetting(g_KeyMap[id - 140], v);
       return true;
     }},
    {269, 272,
     [](i64 id, i64 i, i64 v) {
       VarSetSysSetting(JoyDirectionKey(id, 269, i), v);
       return true;
     }},
    {273, 273,
     [](i64, i64 i, i64 v) {
       VarSetSysSetting(JoyButtonKey(i), v);
       return true;
     }},
    {274, 401,
     [](i64 id, i64, i64 v) {
       SetKeyPresses(g_KeyMap[id - 274], v);
       return true;
     }},
    {403, 406,
     [](i64 id, i64 i, i64 v) {
       SetKeyPresses(JoyDirectionKey(id, 403, i), v);
       return true;
     }},
    {407, 407,
     [](i64, i64 i, i64 v) {
       SetKeyPresses(JoyButtonKey(i), v);
       return true;
     }},
};

i32 VarSetSysInt(i64 id, i64 index, i64 value) {
  for (const SysIntWriteRow& row : kSysIntWrite)
    if (id >= row.first && id <= row.last) {
      if (row.write(id, index, value)) return 0;
      break;
    }
  ErrRaiseAtScript(ERR_VAR_READ_ONLY, 1);
  return -1;
}

i32 VarSetSysStr(i64 id, i64 index, const char* text) {
  (void)index;
  text = Text(text);
  switch (id) {
    case 115:
    case 116: VarSrcMessageTextSet(static_cast<i32>(id - 115), text); return 0;
    case 121:
      if (std::strcmp(g_LayerBase, text) != 0) LayerMaskNamesMoved();  // mask names may now name others
      StrCopySjis(g_LayerBase, OBJ_BASE_MAX, text);                    // cut at a whole character to the buffer
      return 0;
    case 124: StrCopySjis(g_MenuBase, OBJ_BASE_MAX, text); return 0;
    default: ErrRaiseAtScript(ERR_VAR_READ_ONLY, 1); return -1;
  }
}
