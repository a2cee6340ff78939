// The records that many floors read: the windows and their input atomics, the input key table,
// frame counters and clocks, the game's folders and paths, the screen geometry that presentation
// and the screen modes share, and what start-up learnt about the machine. Only records and
// globals live here; the code that keeps them lives with its owner above (windows, frame loop,
// input, screen modes, start-up). Who writes what, and under which lock, is said per group.
#pragma once
#include <atomic>

#include "common/types.h"
#include "platform/platform.h"

// ---- Windows ---------------------------------------------------------------------------------
// A WindowObject lives from start-up to the end of the run; its platform window may come and go.
// Fields and flags that the main thread writes and the frame thread reads (or the other way
// round) are atomics; the dropped-file list is kept under g_EngineLock.
struct ObjNode;
struct PlatWindow;
struct PlatMsg;
struct PlatInputEvent;

enum { WIN_COUNT = 4, WIN_TITLE_MAX = 263, WIN_MENU_NAME_MAX = 256, WIN_SPARE_BYTES = 100 };

// Close state: what the close button does.
enum {
  WIN_CLOSE_TELL_SCRIPT = 0,  // the script sees the request and decides
  WIN_CLOSE_CONFIRM = 1,      // ask the player first
  WIN_CLOSE_QUIT = 2,         // close and end the program
  WIN_CLOSE_ONLY = 3,         // close the window without ending the program
};

// Engine messages posted through the platform's queue (the Windows numbers they stand for).
enum {
  WIN_MSG_CLOSE = 0x0010,           // WM_CLOSE, a = window index
  WIN_MSG_COMMAND = 0x0111,         // WM_COMMAND, a = command id, b = window index or WIN_TARGET_COMMAND
  WIN_MSG_MCI_NOTIFY = 0x03B9,      // MM_MCINOTIFY, a = the notification (1 = finished successfully)
  WIN_MSG_TRAY = 0x040A,            // WM_USER + 10 from the tray icon: a = icon id, b = mouse message
  WIN_MSG_SHOW = 0x0464,            // the engine's own: show window a (ShowWindow from any thread)
  WIN_MSG_MCI_NOTIFY_ALT = 0x04C8,  // the movie player's second notification number, as MM_MCINOTIFY
  WIN_MSG_GRAPH_EVENT = 0x8001,     // WM_APP + 1: the movie graph has events waiting
};
enum { WIN_TARGET_COMMAND = -1 };  // the hidden command window "zpMncl"

// System commands (WM_SYSCOMMAND numbers) and the system-menu item of the main window.
enum {
  WIN_SC_SIZE_RESET = 30001,  // "ウィンドウサイズ初期化"
  WIN_SC_MINIMIZE = 0xF020,
  WIN_SC_MAXIMIZE = 0xF030,
  WIN_SC_CLOSE = 0xF060,
  WIN_SC_RESTORE = 0xF120,
  WIN_SC_SCREENSAVE = 0xF140,
};

// Window styles (WS_ numbers) as WinGetStyle reports them and WinSetStyle takes them.
enum : u32 {
  WIN_WS_POPUP = 0x80000000u,
  WIN_WS_VISIBLE = 0x10000000u,
  WIN_WS_CLIPCHILDREN = 0x02000000u,
  WIN_WS_CAPTION = 0x00C00000u,
  WIN_WS_SYSMENU = 0x00080000u,
  WIN_WS_THICKFRAME = 0x00040000u,
  WIN_WS_MINIMIZEBOX = 0x00020000u,
  WIN_WS_MAXIMIZEBOX = 0x00010000u,
};

// The header of a window's screen buffer, as the presentation describes its picture.
struct WinBitmapHeader {
  u32 size;  // 40
  i32 width, height;
  u16 planes, bit_count;  // 1, 32
  u32 compression, size_image;
  i32 x_pels_per_meter, y_pels_per_meter;
  u32 colours_used, colours_important;
};

struct WinRect {
  i32 left, top, right, bottom;
};

struct WindowObject {
  i32 index;          // 0 to 3
  i32 x, y;           // window position on the desktop
  i32 width, height;  // size of the game screen
  i32 opacity;        // 256 after set-up
  u8 show_after_first_frame;
  u8 class_registered;
  std::atomic<u8> close_state;  // WIN_CLOSE_...
  u8 maximise_acts;
  u8 minimise_allowed;
  char title[WIN_TITLE_MAX];  // Shift-JIS
  ObjNode* root_layer;
  char menu_name[WIN_MENU_NAME_MAX];
  u8 has_drawn;
  u8 spare[WIN_SPARE_BYTES];  // zero-filled by set-up, its first u32 = 100
  WinRect client;             // 0, 0, width, height
  PlatWindow* handle;
  std::atomic<u8> active;               // the window is active
  std::atomic<i32> cursor_x, cursor_y;  // cursor in game pixels
  std::atomic<u8> outside_screen, outside_extended;
  u8 move_shows_cursor, button_shows_cursor, wheel_shows_cursor;
  std::atomic<u8> cursor_timer_running;  // also stopped by the error dialog's thread
  u32 cursor_timer_start;
  WinBitmapHeader screen_header;
};

extern WindowObject* g_WindowObjects[WIN_COUNT];
// -1 for a window that is not open, 1 for an open one.
extern std::atomic<i32> g_WindowOpen[WIN_COUNT];
extern std::atomic<u32> g_MenuCommandId;    // the last menu command id
extern std::atomic<u32> g_LastKeyDown;      // virtual key of the last key press
extern std::atomic<u8> g_MouseMoved;        // 0x80 after a mouse move, cleared by the input update
extern std::atomic<u32> g_MouseButtonDown;  // the last button pressed: 1 left, 2 right, 4 middle
extern std::atomic<i16> g_WheelDelta;       // the last wheel turn, 120 per step
// Requests the scripts read and clear: window index + 1, 0 for none.
extern std::atomic<u32> g_CloseRequested;  // the close button, with close state 0
extern std::atomic<u32> g_MaximiseRequested;
extern std::atomic<u32> g_MinimiseRequested;
extern std::atomic<u32> g_CaptionDoubleClicked;
// A press on the drag map: the window (index + 1) the system is moving, and where it started
// (x in the low 16 bits, y in the high 16 bits, client pixels).
extern std::atomic<u8> g_DragWindow;
extern std::atomic<u32> g_DragLParam;
extern i32 g_MonitorIndex;  // display device holding the main window, per move
extern i32 g_MenuBarHeight;

// The picture a shaped window takes its shape from: 32-bit pixels, rows top-down, every alpha
// byte 255, so only opaque black (0xFF000000) lies outside the shape.
struct WinShapeBitmap {
  u32* pixels;
  i32 width, height;
};
extern WinShapeBitmap g_ShapeBitmap;

// Files dropped on a window: paths in the Windows spelling (Shift-JIS, "\" between names), a
// folder ending in "\". Guarded by g_EngineLock.
enum { WIN_DROP_PATH_SIZE = 521 };
struct WinDropList {
  i32 count;
  char** names;  // count heap strings of WIN_DROP_PATH_SIZE bytes
};
extern WinDropList g_DroppedFiles;

// The hidden command window "zpMncl": on this platform an internal message target as wide as
// the main game screen and one menu bar high, which keeps the last menu command.
struct WinCommandWindow {
  u8 created;
  i32 width, height;
};
extern WinCommandWindow g_CommandWindow;

// ---- Frame loop --------------------------------------------------------------------------------
// Everything here belongs to the thread that runs frames, except the frame thread's state byte
// (under g_EngineLock) and the atomics.
extern u64 g_FrameCounter;      // every FrameRun call
extern u64 g_StepCounter;       // every scheduler pass
extern u32 g_RerunRequest;      // a command asks for another pass in this frame
extern i32 g_FrameRate;         // frames per second, 60
extern u32 g_FrameSkipAllowed;  // 1
extern u32 g_FramePhase;        // 16.16 accumulator of frame periods
extern u32 g_FrameStart;        // scheduled start of the current frame
extern u32 g_GameClock, g_RealClock;
extern u32 g_FrameSleeping;
extern u8 g_SkipDrawing, g_SkipNext, g_FirstFrameDone;
extern std::atomic<u8> g_FramesHeld;       // frames do nothing while the close box is open
extern std::atomic<i8> g_RedrawCountdown;  // frames that still redraw every window first
extern std::atomic<u8> g_InactivePaused;   // also read by the sound thread
extern u32 g_InactiveSince;
extern std::atomic<u8> g_RunInBackground;  // 1; also read by the sound thread
extern u8 g_FrameThreadState;              // 255 never started, 0 running, 9 finished

// Per-second counters, read by the system variables.
extern u32 g_FpsSecondMark;                     // time of the last rollover
extern u32 g_FpsPaced, g_FpsPresented;          // in the current second
extern u32 g_FpsPacedLast, g_FpsPresentedLast;  // totals of the last whole second

struct FramePopupRequest {
  u8 set;  // menu set index, 0 = none
  i32 x, y;
};
extern FramePopupRequest g_PopupMenuRequest;

struct FrameScriptTimers {
  u32 start[4];
  u8 running[4];
  u32 stopped_at[4];  // when a stopped timer stopped (command 91)
};
extern FrameScriptTimers g_ScriptTimers;

// The quit path has posted its close (so the message loop does not post it again).
extern std::atomic<u8> g_QuitPosted;
// ZEPHRA_EXIT_AFTER_FRAMES: ask to quit after this many frames (0 = never).
extern u64 g_FrameExitAfter;

// Restarts the frame schedule at the current time and returns it: called after a picture was
// loaded, so the loading time does not count as a late frame.
u32 FrameStampTime();

// ---- Input key table ---------------------------------------------------------------------------
// Per key the raw down byte, the state byte, the transition counter (1 on the press frame, then
// 2, 3, ...; -1 on the release frame, then -2, ...) and the press count, indexed by virtual-key
// code or pseudo key. The poll (UI thread) writes only the down bytes, which are atomics;
// everything else belongs to the thread that runs frames.
enum {
  INPUT_KEY_COUNT = 1024,
  INPUT_JOY_FIRST_KEY = 384,
  INPUT_JOY_KEYS = 36,
  INPUT_JOY_BUTTONS = 32,
  INPUT_JOY_MAX = 16,
};
enum { INPUT_STATE_UP = 0, INPUT_STATE_HELD = 2 };

// Pseudo keys.
enum {
  INPUT_KEY_ANY = 0,
  INPUT_KEY_LBUTTON = 1,
  INPUT_KEY_RBUTTON = 2,
  INPUT_KEY_MBUTTON = 4,
  INPUT_KEY_WHEEL_UP = 5,
  INPUT_KEY_WHEEL_DOWN = 6,
  INPUT_KEY_MOUSE_MOVED = 7,
};
// Offsets inside a joystick's 36 keys.
enum { INPUT_JOY_UP = 0, INPUT_JOY_DOWN = 1, INPUT_JOY_LEFT = 2, INPUT_JOY_RIGHT = 3, INPUT_JOY_BUTTON1 = 4 };

// Indexed by state + (down ? 1 : 0).
typedef void (*InputKeyHandler)(u32 key);

struct InputKeyTable {
  std::atomic<u8> down[INPUT_KEY_COUNT];  // 0x80 when down at the last sample
  u8 state[INPUT_KEY_COUNT];              // INPUT_STATE_UP or INPUT_STATE_HELD
  i64 counter[INPUT_KEY_COUNT];
  u64 presses[INPUT_KEY_COUNT];
  InputKeyHandler handlers[4];
};

extern InputKeyTable g_InputKeyTable;

// One joystick as the last update read it.
struct InputJoyRecord {
  u32 x, y, buttons;
  u8 ok;  // the read succeeded (a joystick sits in this slot)
};

extern std::atomic<i32> g_InputActiveWindow;                     // the first active window, -1 none
extern u8 g_InputKeyboardOn, g_InputJoystickOn, g_InputMouseOn;  // command 50; all 1
extern u8 g_JoystickPresent;                                     // set at start-up
extern i32 g_InputJoystickCount;                                 // at most INPUT_JOY_MAX
extern InputJoyRecord g_InputJoy[INPUT_JOY_MAX];

// The cursor: shown and the pending operation may be changed from any thread (the error dialog).
enum { INPUT_CURSOR_OP_NONE = 0, INPUT_CURSOR_OP_SHOW = 1, INPUT_CURSOR_OP_HIDE = 2 };
enum { INPUT_CURSOR_HIDDEN = 0, INPUT_CURSOR_AUTO_HIDE = 1, INPUT_CURSOR_SHOWN = 2 };
extern std::atomic<u8> g_CursorShown;   // 1
extern std::atomic<u8> g_CursorOp;      // INPUT_CURSOR_OP_...
extern u8 g_CursorAutoHide;             // 1
extern u8 g_CursorMode;                 // INPUT_CURSOR_...; auto-hide at start
extern i32 g_CursorHideDelay;           // ms, 2500
extern i32 g_CursorHotX, g_CursorHotY;  // hot spot of a cursor made from a layer
// The cursor in desktop pixels, kept by input at every poll of the main thread (read by the
// script engine's debug corner detector without waiting).
extern std::atomic<PointI32> g_CursorScreenPos;

// ---- Screen geometry ---------------------------------------------------------------------------
// Written on the main thread by the screen modes; the sizes and flags that presentation reads on
// the frame thread are atomics.
// Fit modes (settings value 7) and the scale kinds the output size was computed with.
enum { WIN_FIT_NATIVE = 0, WIN_FIT_INSIDE = 1, WIN_FIT_FILL = 2, WIN_FIT_STRETCH = 3 };
enum { WIN_SCALE_NATIVE = 0, WIN_SCALE_TO_WIDTH = 1, WIN_SCALE_TO_HEIGHT = 2, WIN_SCALE_STRETCH = 3 };
enum {
  WIN_OUTPUT_WIDTH_MAX = 8192,
  WIN_MODES_MAX = 10000,  // display modes looked at
  ERR_WIN_MODE_REFUSED = 105210,
};
// The dragged edge of a sizing (the WMSZ_ numbers).
enum {
  WIN_EDGE_LEFT = 1,
  WIN_EDGE_RIGHT = 2,
  WIN_EDGE_TOP = 3,
  WIN_EDGE_TOP_LEFT = 4,
  WIN_EDGE_TOP_RIGHT = 5,
  WIN_EDGE_BOTTOM = 6,
  WIN_EDGE_BOTTOM_LEFT = 7,
  WIN_EDGE_BOTTOM_RIGHT = 8,
};

extern std::atomic<SizeI32> g_DisplaySize;     // client area, or the display mode in use
extern std::atomic<PointI32> g_MonitorOrigin;  // top-left of the monitor holding the main window
extern std::atomic<u8> g_Fullscreen, g_Maximised;
extern std::atomic<u8> g_ScaleKind;        // WIN_SCALE_...
extern std::atomic<u8> g_D3dResetRequest;  // the Direct3D device must be reset
extern i32 g_FullscreenBitsPerPixel;       // depth of the fullscreen display modes (the desktop's)
extern u8 g_RestoreSizePending;            // the size handlers restore the sizes of before a maximise
extern u8 g_BlockScreenSaver;              // command 91: the screen saver is kept from starting
extern std::atomic<SizeI32> g_OutputSize;
extern std::atomic<PointI32> g_OutputOffset;

// ---- Folders and paths ---------------------------------------------------------------------------
enum { SYS_PATH_MAX = 288, SYS_EXE_PATH_MAX = 261, SYS_EXTRA_ARGS = 8 };

extern char g_ExePath[SYS_EXE_PATH_MAX];   // lower-cased, Windows-style path of the game's executable
extern char g_ExeFolder[SYS_PATH_MAX];     // its folder, lower-cased, ending in "\"
extern char g_WorkFolder[SYS_PATH_MAX];    // working folder of the file sources
extern char g_InstanceName[SYS_PATH_MAX];  // g_ExePath with "\" turned into ":"
extern char g_FolderInstanceName[SYS_PATH_MAX];
extern char g_AppDataFolder[SYS_PATH_MAX];  // Windows-style, without a trailing "\"
extern char g_DocumentsFolder[SYS_PATH_MAX];
extern char g_GameFolderNative[4096];  // the game folder as the platform spells it (UTF-8)
extern u8 g_ScreenSaverBuild;
extern u8 g_FolderNotWritable;
extern u8 g_RelaunchAtExit;
extern std::atomic<u8> g_Running;       // the message loop runs; cleared by the quit message
extern char g_VersionMarker[10];        // "revarhpez"
extern PlatLocalTime g_StartLocalTime;  // when the run started, for the system variables

// Instance locks: 0 the start-up interlock "zephra1", 1 per executable, 2 per folder; 0 = none.
extern i32 g_InstanceMutexes[3];

// Slot 0 the program path, slots 1 to 8 the first eight game arguments ("" when not given).
extern i32 g_ExtraArgCount;
extern char* g_ExtraArgs[SYS_EXTRA_ARGS + 1];

// ---- The machine ---------------------------------------------------------------------------------
extern i8 g_OsCode;                         // see SysOsCodeFromBuild; compare as u8 (255 = unknown = new)
extern i32 g_CpuCount;                      // a full integer: 128 processors and more stay positive
extern i8 g_WorkerCount;                    // drawing workers, 1 to 4
extern std::atomic<SizeI32> g_MonitorSize;  // the monitor holding the main window (also read by scripts)
extern i32 g_DesktopBitsPerPixel;           // a 24-bit desktop reports 32
extern i32 g_DesktopRefreshRate;            // -1 below 60
extern i32 g_DxVersion;                     // DirectX major version, 0 when none

// ---- Animated-character players ------------------------------------------------------------------
// The layers whose players the engine advances and carries over a device rebuild (null = free
// slot), and per slot the milliseconds not yet given to its player. Kept by the character bridge
// (display/emote.cpp) on the thread that runs the frames; the layer effects that hand a player to
// another layer rename its slots.
struct LayerRecord;
enum { EMOTE_SLOT_COUNT = 128 };
extern LayerRecord* g_EmoteSlots[EMOTE_SLOT_COUNT];
extern float g_EmotePendingMs[EMOTE_SLOT_COUNT];
