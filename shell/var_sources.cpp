// Accessors of the engine state that the system variables read (see var_sources.h): real reads
// of the globals that exist, and the two values that scripts set (138, 139) kept here.
#include "shell/var_sources.h"

#include <cstring>

#include "core/config.h"
#include "display/gpu.h"
#include "layer/message.h"
#include "script/save.h"
#include "shell/frame.h"
#include "shell/menu.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/window.h"
#include "sound/movie.h"
#include "sound/sound_thread.h"

u64 VarSrcFrameCounter() { return g_FrameCounter; }
u64 VarSrcStepCounter() { return g_StepCounter; }
VarTimerState VarSrcScriptTimer(i32 timer) {
  if (timer < 0 || timer >= 4) return VarTimerState{0, 0, 0};
  return VarTimerState{g_ScriptTimers.start[timer], g_ScriptTimers.stopped_at[timer], g_ScriptTimers.running[timer]};
}
PlatLocalTime VarSrcStartTime() { return g_StartLocalTime; }
i32 VarSrcOsCode() { return static_cast<u8>(g_OsCode); }
i32 VarSrcDxVersion() { return g_DxVersion; }
i32 VarSrcDisplayBits() { return g_DesktopBitsPerPixel; }
i32 VarSrcDisplayWidth() { return g_MonitorSize.load().width; }
i32 VarSrcDisplayHeight() { return g_MonitorSize.load().height; }
u8 VarSrcD3dInUse() { return g_D3dInUse; }
// Nothing in the engine defines a meaning for the status word: it reads 0.
u32 VarSrcEngineStatus() { return 0; }

i32 VarSrcDrawingMode() { return g_CfgDrawingMode; }
i32 VarSrcSettingsFlag10() { return g_CfgReportedFlag; }
const char* VarSrcSaveFolder() { return g_SaveFolder; }

i32 VarSrcDroppedFileCount() { return WinDroppedFileCount(); }
void VarSrcDroppedFileCopy(i32 i, char* buf, size_t buf_size) { WinDroppedFileCopy(i, buf, buf_size); }
void VarSrcDroppedFilesClear() { WinDroppedFilesClear(); }

static std::atomic<u32>* WindowRequest(i32 which) {
  switch (which) {
    case 0: return &g_MaximiseRequested;
    case 1: return &g_MinimiseRequested;
    case 2: return &g_CloseRequested;
    case 3: return &g_CaptionDoubleClicked;
    default: return nullptr;
  }
}
u32 VarSrcWindowRequest(i32 which) {
  std::atomic<u32>* r = WindowRequest(which);
  return r ? r->load() : 0;
}
void VarSrcWindowRequestSet(i32 which, u32 value) {
  if (std::atomic<u32>* r = WindowRequest(which)) *r = value;
}
i64 VarSrcMenuCommandId() { return g_MenuCommandId.load(); }
void VarSrcMenuCommandIdSet(i64 value) { g_MenuCommandId = static_cast<u32>(value); }
i32 VarSrcCursorX(i32 window) {
  WindowObject* w = window >= 0 && window < WIN_COUNT ? g_WindowObjects[window] : nullptr;
  return w ? w->cursor_x.load() : 0;
}
i32 VarSrcCursorY(i32 window) {
  WindowObject* w = window >= 0 && window < WIN_COUNT ? g_WindowObjects[window] : nullptr;
  return w ? w->cursor_y.load() : 0;
}
// Atomic: the window message handling may set them from the main thread while scripts run on
// the frame thread.
static std::atomic<i64> s_EngineValues[2];
i64 VarSrcEngineValue(i32 which) { return which == 0 || which == 1 ? s_EngineValues[which].load() : 0; }
void VarSrcEngineValueSet(i32 which, i64 value) {
  if (which == 0 || which == 1) s_EngineValues[which] = value;
}

u8 VarSrcSoundOn() { return g_SoundEnabled.load() != 0 ? 1 : 0; }

const char* VarSrcMessageText(i32 which) { return TextMessageVarText(which); }
void VarSrcMessageTextSet(i32 which, const char* text) { TextMessageVarSet(which, text); }

u32 VarSrcVarSlotValue() { return g_VarSlotValue; }

void VarSourcesReset() {
  std::memset(g_KeyMap, 0, sizeof g_KeyMap);
  s_EngineValues[0] = 0;
  s_EngineValues[1] = 0;
}
