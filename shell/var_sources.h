// Where the system variables read engine state that other modules own: one accessor per global
// of its owner (named in its comment).
#pragma once
#include "common/types.h"
#include "platform/platform.h"
#include "script/script.h"

// ---- Frame loop, start-up and system information ----------------------------------------------
u64 VarSrcFrameCounter();  // g_FrameCounter
u64 VarSrcStepCounter();   // g_StepCounter
// One of the four script timers of g_ScriptTimers: its base, the moment it was stopped (by
// command 91), and whether it runs.
struct VarTimerState {
  u32 base;
  u32 stopped_at;
  u8 running;
};
VarTimerState VarSrcScriptTimer(i32 timer);
PlatLocalTime VarSrcStartTime();  // the local time kept at start-up for the system variables
i32 VarSrcOsCode();               // g_OsCode
i32 VarSrcDxVersion();            // g_DxVersion
i32 VarSrcDisplayBits();          // g_DesktopBitsPerPixel
i32 VarSrcDisplayWidth();         // g_MonitorSize
i32 VarSrcDisplayHeight();
u8 VarSrcD3dInUse();       // g_D3dInUse
u32 VarSrcEngineStatus();  // the engine status word: no part of the engine sets it, so 0

// ---- Settings files ---------------------------------------------------------------------------
i32 VarSrcDrawingMode();         // g_CfgDrawingMode: drawing mode of the settings file (0 to 3)
i32 VarSrcSettingsFlag10();      // g_CfgReportedFlag: settings flag 10
const char* VarSrcSaveFolder();  // g_SaveFolder

// ---- Windows and messages ---------------------------------------------------------------------
// g_DroppedFiles (read under g_EngineLock by the owner).
i32 VarSrcDroppedFileCount();
// Copies dropped file i into buf (buf_size bytes); empty when there is none.
void VarSrcDroppedFileCopy(i32 i, char* buf, size_t buf_size);
void VarSrcDroppedFilesClear();
// Window requests: 0 g_MaximiseRequested, 1 g_MinimiseRequested, 2 g_CloseRequested,
// 3 g_CaptionDoubleClicked (window index + 1, 0 none).
u32 VarSrcWindowRequest(i32 which);
void VarSrcWindowRequestSet(i32 which, u32 value);
i64 VarSrcMenuCommandId();  // g_MenuCommandId
void VarSrcMenuCommandIdSet(i64 value);
// Cursor position in game pixels of window 0..3 (WindowObject).
i32 VarSrcCursorX(i32 window);
i32 VarSrcCursorY(i32 window);
// The two engine values that scripts and the window messages set (system variables 138, 139;
// which 0 or 1): a read gives what was last written, 0 at start.
i64 VarSrcEngineValue(i32 which);
void VarSrcEngineValueSet(i32 which, i64 value);

// ---- Sound -------------------------------------------------------------------------------------
u8 VarSrcSoundOn();  // g_SoundEnabled

// ---- Message text ------------------------------------------------------------------------------
// The current message's characters (0) or control codes (1).
const char* VarSrcMessageText(i32 which);
void VarSrcMessageTextSet(i32 which, const char* text);

// ---- Compiled scripts --------------------------------------------------------------------------
u32 VarSrcVarSlotValue();  // g_VarSlotValue: the third value of the variable-slot file
// The key map g_KeyMap of the command-definition file (script.h): entry k is the key number that
// the key variables 140 + k, 274 + k and 408 + k stand for.

// Tests: clears the key map.
void VarSourcesReset();
