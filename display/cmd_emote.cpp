// Commands 12 and 13: control and questions of the animated-character players. The layer is
// parameter 0, with parameter 1 appended after a point when given. Durations are milliseconds.
#include <cstdio>

#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "display/emote.h"
#include "layer/layer.h"
#include "script/cmdargs.h"
#include "script/var.h"

enum {
  EMOTE_CMD_CONTROL = 12,
  EMOTE_CMD_QUERY = 13,
  P_NAME = 0,
  P_NUM = 1,
  // Command 12.
  P_FLAG = 2,
  P_SWITCH = 4,
  P_VALUE1 = 5,
  P_OPTION = 8,
  P_OPT1 = 9,
  P_RESET = 14,
  P_CLIP = 15,
  P_START = 16,
  P_STOP = 17,
  P_TIME = 18,
  P_FADE = 19,
  P_NAMES = 20,
  P_VALUES = 21,
  P_COUNT = 22,
  P_LIST = 23,
  // Command 13.
  Q_CLIP = 2,
  Q_RESULT = 3,
  Q_BUSY = 4,
  Q_TIMELINE = 5,
  Q_MOTION = 6,
  Q_DUMP = 7,
  EMOTE_PATH_SIZE = 600,
};

// The layer the command names, or null when it cannot be resolved.
static LayerRecord* NamedLayer(const CmdArgRecord* a) {
  if (!CmdArgGiven(a, P_NAME)) return nullptr;
  char name[EMOTE_PATH_SIZE];
  if (CmdArgGiven(a, P_NUM))
    std::snprintf(name, sizeof name, "%s.%lld", CmdArgStr(a, P_NAME), static_cast<long long>(CmdArgInt(a, P_NUM)));
  else std::snprintf(name, sizeof name, "%s", CmdArgStr(a, P_NAME));
  char path[OBJ_PATH_MAX];
  const i32 folder = ObjResolvePath(path, sizeof path, name, g_LayerBase, 0);
  if (folder < 0) return nullptr;
  return LayerOf(ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM));
}

static float Ms(const CmdArgRecord* a) { return static_cast<float>(CmdArgInt(a, P_TIME)); }

// Parameters 2, 5, 6 and 7 on one layer.
static void ApplyShared(const CmdArgRecord* a, LayerRecord* rec) {
  if (CmdArgGiven(a, P_FLAG)) EmoteSetFlag(rec, CmdArgInt(a, P_FLAG) != 0 ? 1 : 0);
  for (i32 i = 0; i < 3; i++)
    if (CmdArgGiven(a, P_VALUE1 + i))
      EmoteSetValue(rec, i + 1, static_cast<float>(static_cast<double>(CmdArgInt(a, P_VALUE1 + i)) / 256.0));
}

i32 CmdEmoteControl() {
  CmdArgRecord args;
  if (ArgDecodeRecord(EMOTE_CMD_CONTROL, &args) != 0) return -1;
  const CmdArgRecord* a = &args;
  if (!g_EmoteAvailable) return 0;
  LayerRecord* rec = NamedLayer(a);
  if (!CmdArgGiven(a, P_NUM)) {
    // Without a number the shared settings go to every player in the slot table.
    for (LayerRecord* s : g_EmoteSlots)
      if (s) ApplyShared(a, s);
  } else if (rec && rec->player) {
    ApplyShared(a, rec);
  }
  if (!rec || !rec->player) return 0;
  if (CmdArgGiven(a, P_SWITCH)) EmoteSetSwitch(rec, CmdArgInt(a, P_SWITCH) != 0);
  if (CmdArgGiven(a, P_OPTION)) {
    if (CmdArgInt(a, P_OPTION) != 0) {
      static const float kDefaults[5] = {0, 1, 1, 1, 1};
      float v[5];
      for (i32 i = 0; i < 5; i++)
        v[i] = CmdArgGiven(a, P_OPT1 + i) ? static_cast<float>(CmdArgInt(a, P_OPT1 + i)) : kDefaults[i];
      EmoteOptionOn(rec, v);
    } else {
      EmoteOptionOff(rec);
    }
  }
  if (CmdArgGiven(a, P_RESET) && CmdArgInt(a, P_RESET) == 1) EmoteReset(rec);
  if (CmdArgGiven(a, P_CLIP)) {
    const char* clip = CmdArgStr(a, P_CLIP);
    const i64 start = CmdArgInt(a, P_START), stop = CmdArgInt(a, P_STOP);
    if (start == 1) EmoteMotionStart(rec, clip);
    if (start == 2) {
      const float fade =
          CmdArgGiven(a, P_FADE) ? static_cast<float>(static_cast<double>(CmdArgInt(a, P_FADE)) / 100.0) : 1.0f;
      EmoteTimelineStart(rec, clip, fade, Ms(a));
    }
    if (stop == 1) EmoteMotionStop(rec, clip);
    if (stop == 2) EmoteTimelineStop(rec, clip, Ms(a));
  }
  if (CmdArgGiven(a, P_NAMES) && CmdArgGiven(a, P_VALUES) && CmdArgGiven(a, P_COUNT)) {
    const i64 n = CmdArgInt(a, P_COUNT);
    for (i64 i = 0; i < n; i++) {
      const char* name = VarGetStrElement(a->var_id[P_NAMES], a->var_elem[P_NAMES] + i);
      if (!name) break;  // past the end of the name array
      const double v = VarGetFloatElement(a->var_id[P_VALUES], a->var_elem[P_VALUES] + i);
      EmoteSetVariable(rec, name, static_cast<float>(v), Ms(a));
    }
  }
  if (CmdArgGiven(a, P_LIST)) EmoteApplyVariables(rec, CmdArgStr(a, P_LIST), Ms(a));
  return 0;
}

i32 CmdEmoteQuery() {
  CmdArgRecord args;
  if (ArgDecodeRecord(EMOTE_CMD_QUERY, &args) != 0) return -1;
  const CmdArgRecord* a = &args;
  if (!g_EmoteAvailable || !CmdArgGiven(a, Q_RESULT)) return 0;
  LayerRecord* rec = NamedLayer(a);
  if (!rec || !rec->player) return 0;
  const i64 id = a->var_id[Q_RESULT], elem = a->var_elem[Q_RESULT];
  if (CmdArgGiven(a, Q_BUSY)) {
    VarSetNumElement(id, elem, EmoteAskMotionsPlaying(rec));
  } else if (CmdArgGiven(a, Q_TIMELINE)) {
    VarSetNumElement(id, elem, EmoteAskTimelinePlaying(rec, CmdArgGiven(a, Q_CLIP) ? CmdArgStr(a, Q_CLIP) : ""));
  } else if (CmdArgGiven(a, Q_MOTION)) {
    VarSetNumElement(id, elem, EmoteAskMotionPlaying(rec, CmdArgStr(a, Q_CLIP)));
  } else if (CmdArgGiven(a, Q_DUMP)) {
    char text[EMOTE_DUMP_SIZE];
    EmoteDumpVariables(rec, text, sizeof text);
    VarSetStrElement(id, elem, text);
  }
  return 0;
}
