// Calls into parts of the engine that are not built yet, and the globals those parts own. Each
// function does nothing visible and succeeds; each global holds the value the owning part starts
// with. The work that builds the real function or global removes it from here.
#pragma once
#include "common/types.h"

struct ImageFrameSet;
struct ImagePicture;
struct LayerRecord;
struct ObjNode;
struct WindowObject;
struct WorkerJob;

// ---- Compiler link and screen-saver mode -----------------------------------------------------
// Scripts not packed: until the compiler link exists the work folder is the game folder and
// start-up goes on, so a game with loose "chbin" files runs during development.
i32 ScriptCompilerLink();
i32 WinSaverArgs();

// ---- Window command --------------------------------------------------------------------------
// 1 when the drag-map option is on and the game pixel x, y lies on a non-black pixel of the
// drag-map layer: a press there drags the window.
i32 WinDragMapHit(WindowObject* w, i32 x, i32 y);
// The drag-map layer: forgotten when that layer is released.
void WinForgetDragLayer(ObjNode* node);

// ---- Screen modes and monitors ---------------------------------------------------------------
extern SizeI32 g_DisplaySize;         // client area (start-up: the game size)
extern u8 g_Fullscreen, g_Maximised;
extern i32 g_FullscreenBitsPerPixel;  // the colour depth wanted for fullscreen display modes
i32 WinSetFullscreen(i32 on);         // 1 switched, 0 already in that state
extern u8 g_D3dResetRequest;          // the Direct3D device must be reset
extern u8 g_RestoreSizePending;       // the size handler restores the sizes from before a maximise
extern u8 g_BlockScreenSaver;         // the screen saver is kept from starting
i32 WinGetMonitor(WindowObject* w);   // index of the display device holding the window
void WinRememberWindowedSizes();      // the display size and output offset, at a maximise
// The size messages of the main window: aspect keeping, display and output size.
void WinOnSize(WindowObject* w, i32 client_width, i32 client_height);
void WinOnWindowPosChanged(WindowObject* w);

// ---- Menus and tray icon ---------------------------------------------------------------------
extern u8 g_MenuBarWindowShown;  // the fullscreen menu bar is shown
// A message of the tray icon (icon id, mouse message) to the main window.
void TrayOnNotify(WindowObject* w, i64 icon_id, i64 mouse_message);
void TrayIconRemove();
void MenuDestroySet(i32 set);  // the 128 menu handles of one set

// ---- Input -----------------------------------------------------------------------------------
// The cursor made from a layer's picture (cursor command parameter 10), with its hot spot.
i32 InputCursorFromLayer(const char* layer_name, i32 hot_x, i32 hot_y);

// ---- Object trees, variables, scripts --------------------------------------------------------
void VarInitAccessorTables();
i32 TaskRunGroup(ObjNode* group);
i32 TaskRunCurrentHandler();    // the running command's handler, through the scheduler's array
void SaveFreeBlocks(i32 index);

// ---- Compositor ------------------------------------------------------------------------------
i32 TextMessageInit();
// The current message text's layer: forgotten when that layer is released.
void TextMessageForgetLayer(ObjNode* node);
// The picture loader: a named picture into the layer through the file sources. Here: succeeds
// and leaves the layer's picture as it was.
i32 ImageLoad(LayerRecord* rec, const char* name);
// A JPEG frame set with its data buffer.
void ImageFrameSetFree(ImageFrameSet* set);
// Job 41: bilinear rows of a resized layer picture (the threaded resize filter). Here: nothing.
void LayerJobResizeBilinear(WorkerJob* job);
// GIF decoder. Here it fails, so a GIF picture ends in the loader's GIF error (100215).
int ImageDecodeGif(const u8* data, u32 size, const char* name, ImagePicture* pic);

// ---- Display ---------------------------------------------------------------------------------
extern u8 g_D3dRedraw;
extern u8 g_EmoteAvailable;     // the animated-character bridge is loaded
i32 D3dStartup();               // 0 ready, 1 fall back to CPU drawing, -1 stop
void D3dReleaseAll();
void D3dRenderFrame();          // the frame pass that reads window 0's GPU layers back
void D3dForgetLayer(ObjNode* node);        // the read-back layer, when it is released
void GpuFreeLayerTiles(LayerRecord* rec);  // a layer's texture tiles
void EmoteReleasePlayer(LayerRecord* rec); // a layer's animated-character player
void EmoteBridgeLoad();
void EmoteBridgeRelease();
void EmoteAdvanceAll(u32 elapsed_ms);
i32 EmoteAnyBusy();
// Animated-character data (".psb") handed to the character player bridge. Here: succeeds and
// leaves the picture as it was.
int EmoteLoadPsb(const u8* data, u32 size, const char* name, ImagePicture* pic);

// ---- Sound and movies ------------------------------------------------------------------------
extern u8 g_MoviePlaying, g_MovieMciOpen;
void MovieGraphRelease();
void MovieMciClose();
// The movie graph's waiting events: a finished or aborted movie releases the graph and clears
// g_MoviePlaying.
void MovieGraphDrainEvents();
