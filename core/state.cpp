// The shared records of core/state.h, with their start-up values.
#include "core/state.h"

// ---- Windows -------------------------------------------------------------------------------------
WindowObject* g_WindowObjects[WIN_COUNT];
std::atomic<i32> g_WindowOpen[WIN_COUNT] = {-1, -1, -1, -1};
std::atomic<u32> g_MenuCommandId{0};
std::atomic<u32> g_LastKeyDown{0};
std::atomic<u8> g_MouseMoved{0};
std::atomic<u32> g_MouseButtonDown{0};
std::atomic<i16> g_WheelDelta{0};
std::atomic<u32> g_CloseRequested{0};
std::atomic<u32> g_MaximiseRequested{0};
std::atomic<u32> g_MinimiseRequested{0};
std::atomic<u32> g_CaptionDoubleClicked{0};
std::atomic<u8> g_DragWindow{0};
std::atomic<u32> g_DragLParam{0};
i32 g_MonitorIndex = 0;
i32 g_MenuBarHeight = 0;
WinShapeBitmap g_ShapeBitmap = {nullptr, 0, 0};
WinDropList g_DroppedFiles = {0, nullptr};
WinCommandWindow g_CommandWindow = {0, 0, 0};

// ---- Frame loop ----------------------------------------------------------------------------------
u64 g_FrameCounter = 0;
u64 g_StepCounter = 0;
u32 g_RerunRequest = 0;
i32 g_FrameRate = 60;
u32 g_FrameSkipAllowed = 1;
u32 g_FramePhase = 0;
u32 g_FrameStart = 0;
u32 g_GameClock = 0, g_RealClock = 0;
u32 g_FrameSleeping = 0;
u8 g_SkipDrawing = 0, g_SkipNext = 0, g_FirstFrameDone = 0;
std::atomic<u8> g_FramesHeld{0};
std::atomic<i8> g_RedrawCountdown{0};
std::atomic<u8> g_InactivePaused{0};
u32 g_InactiveSince = 0;
std::atomic<u8> g_RunInBackground{1};
u8 g_FrameThreadState = 255;
u32 g_FpsSecondMark = 0;
u32 g_FpsPaced = 0, g_FpsPresented = 0;
u32 g_FpsPacedLast = 0, g_FpsPresentedLast = 0;
FramePopupRequest g_PopupMenuRequest = {0, 0, 0};
FrameScriptTimers g_ScriptTimers = {};
std::atomic<u8> g_QuitPosted{0};
u64 g_FrameExitAfter = 0;

u32 FrameStampTime() {
  g_FrameStart = PlatTimeMs();
  return g_FrameStart;
}

// ---- Input key table -----------------------------------------------------------------------------
InputKeyTable g_InputKeyTable;
std::atomic<i32> g_InputActiveWindow{-1};
u8 g_InputKeyboardOn = 1, g_InputJoystickOn = 1, g_InputMouseOn = 1;
u8 g_JoystickPresent = 0;
i32 g_InputJoystickCount = 0;
InputJoyRecord g_InputJoy[INPUT_JOY_MAX];
std::atomic<u8> g_CursorShown{1};
std::atomic<PointI32> g_CursorScreenPos{PointI32{0, 0}};
std::atomic<u8> g_CursorOp{INPUT_CURSOR_OP_NONE};
u8 g_CursorAutoHide = 1;
u8 g_CursorMode = INPUT_CURSOR_AUTO_HIDE;
i32 g_CursorHideDelay = 2500;
i32 g_CursorHotX = 0, g_CursorHotY = 0;

// ---- Screen geometry -----------------------------------------------------------------------------
std::atomic<SizeI32> g_DisplaySize{SizeI32{0, 0}};
std::atomic<PointI32> g_MonitorOrigin{PointI32{0, 0}};
std::atomic<u8> g_Fullscreen{0}, g_Maximised{0};
std::atomic<u8> g_ScaleKind{0};
std::atomic<u8> g_D3dResetRequest{0};
i32 g_FullscreenBitsPerPixel = 32;
u8 g_RestoreSizePending = 0;
u8 g_BlockScreenSaver = 0;
std::atomic<SizeI32> g_OutputSize{SizeI32{0, 0}};
std::atomic<PointI32> g_OutputOffset{PointI32{0, 0}};

// ---- Folders and paths ---------------------------------------------------------------------------
char g_ExePath[SYS_EXE_PATH_MAX];
char g_ExeFolder[SYS_PATH_MAX];
char g_WorkFolder[SYS_PATH_MAX];
char g_InstanceName[SYS_PATH_MAX];
char g_FolderInstanceName[SYS_PATH_MAX];
char g_AppDataFolder[SYS_PATH_MAX];
char g_DocumentsFolder[SYS_PATH_MAX];
char g_GameFolderNative[4096];
u8 g_ScreenSaverBuild = 0;
u8 g_FolderNotWritable = 0;
u8 g_RelaunchAtExit = 0;
std::atomic<u8> g_Running{1};
char g_VersionMarker[10];
PlatLocalTime g_StartLocalTime;
i32 g_InstanceMutexes[3];
i32 g_ExtraArgCount = 0;
char* g_ExtraArgs[SYS_EXTRA_ARGS + 1];

// ---- The machine ---------------------------------------------------------------------------------
i8 g_OsCode = 0;
i32 g_CpuCount = 1;
i8 g_WorkerCount = 1;
std::atomic<SizeI32> g_MonitorSize{SizeI32{0, 0}};
i32 g_DesktopBitsPerPixel = 32;
i32 g_DesktopRefreshRate = -1;
i32 g_DxVersion = 0;

LayerRecord* g_EmoteSlots[EMOTE_SLOT_COUNT] = {};
float g_EmotePendingMs[EMOTE_SLOT_COUNT] = {};
