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

// ---- Menus and tray icon ---------------------------------------------------------------------
extern u8 g_MenuBarWindowShown;  // the fullscreen menu bar is shown
// The window menu built from the menu node of that name (an empty name removes it). 0, or -1
// after the menu's error. Here: 0.
i32 WinMenuSet(const char* name, WindowObject* w);
// The window's menu bar taken off (before fullscreen, and from the fullscreen menu bar window
// when the window returns).
void WinMenuDetach(WindowObject* w);
// A message of the tray icon (icon id, mouse message) to the main window.
void TrayOnNotify(WindowObject* w, i64 icon_id, i64 mouse_message);
void TrayIconRemove();
void MenuDestroySet(i32 set);  // the 128 menu handles of one set

// ---- Object trees, variables, scripts --------------------------------------------------------
void VarInitAccessorTables();
// The debug corner detector's reads: the cursor in screen pixels and the display resolution.
// Here: the cursor at 0, 0 on a 640 x 480 display.
void InputCursorScreenPos(i32* x, i32* y);
void ScreenDisplayResolution(i32* w, i32* h);
void SaveFreeBlocks(i32 index);

// ---- Compositor ------------------------------------------------------------------------------
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
extern ObjNode* g_D3dReadbackNode;         // the layer that receives the GPU frame (or null)
// A layer's picture cut into texture tiles (tile parameter, tile sizes). 0, non-zero on failure.
i32 D3dBuildLayerTextures(LayerRecord* rec, i8 tile, i32 size1, i32 size2);
void GpuFreeLayerTiles(LayerRecord* rec);  // a layer's texture tiles
void EmoteReleasePlayer(LayerRecord* rec); // a layer's animated-character player
void EmoteBridgeLoad();
void EmoteBridgeRelease();
void EmoteAdvanceAll(u32 elapsed_ms);
void EmoteUpdateTransforms();   // after a size change of the main window
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
// The movie and Flash windows after a size change of the main window: the Flash host's
// rectangle in game pixels (0, or -1 when no Flash host is open) and its new place in the client
// area; the movie graph's video window; the MCI movie's rectangle (0, or -1 when none) and its
// new place.
struct WinRect;
i32 FlashHostRect(WinRect* out);
void FlashHostMove(const WinRect* r);
void MovieGraphLayout();
i32 MovieMciRect(WinRect* out);
void MovieMciPut(const WinRect* r);
