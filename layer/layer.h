// Layer records and the layer tree: the payload of a layer-tree node, its creation and release,
// and the dirty-rectangle bookkeeping that tells the compositor what to redraw. A record may be
// the payload of several nodes and is freed with the last of them (reference count). Rectangles
// are inclusive on all four sides, in the layer's own pixels; an empty one is left = top =
// 999999999, right = bottom = -999999999. A folder's dirty rectangle stays valid until the
// compositor has consumed it, so a change is never lost to a frame that did not reach it.
#pragma once
#include "common/types.h"
#include "core/obj.h"

struct ImageFrameSet;
struct ImageGifFrame;

enum {
  LAYER_NAME_SIZE = 261,         // the three name buffers
  LAYER_TILE_MAX = 32,           // texture tile columns and rows
  LAYER_TEXTURE_MAX = 256,       // texture tiles
  LAYER_RECORD_FILE_SIZE = 1600  // the record's size in save data
};
enum { LAYER_RECT_EMPTY_MIN = 999999999, LAYER_RECT_EMPTY_MAX = -999999999 };
// Drawing kinds.
enum { LAYER_DRAW_CPU = 0, LAYER_DRAW_SPRITE = 1, LAYER_DRAW_CHARACTER = 2 };

struct LayerRecord {
  u8 is_window_root;
  u8 is_message_layer;
  i32 mark_count;                                            // 0 = not marked since the last reset
  i64 update_left, update_top, update_right, update_bottom;  // this frame's changed area
  i64 dirty_left, dirty_top, dirty_right, dirty_bottom;      // area to recompose
  u8 dirty_valid;
  u8 changed;  // the whole layer is to be shown again
  u8 needs_compose;
  u8 blended;          // blended into its parent
  u8 content_changed;  // marked since the last commit: the layers using it as a mask are marked then
  char* mask_name;     // LAYER_NAME_SIZE bytes
  i64 ref_count;       // nodes whose payload this record is
  i64 user_value1, user_value2;
  i64 x, y;  // pixels, relative to the parent layer
  i32 width, height;
  i16 opacity;        // 0..256; 0 = not drawn
  i16 mask_progress;  // 0..256
  i16 mask_softness;  // 256 = hard edge
  u8 has_alpha;
  u8 blend_mode;  // 0..18
  u8 visible;
  u8 pending_visible;
  u8 pending_visible_set;
  i16 pending_opacity;
  u8 pending_opacity_set;
  u8* pixels;  // width * height * 4 + width * 4 + 4 bytes, B G R A, rows top-down
  u32 pixel_alloc_param;
  u8 keep_buffer;              // a shrinking resize keeps the pixel buffer
  ImageGifFrame** gif_frames;  // a record of every image of the last GIF: 8192 entries, made on first use
  ImageFrameSet* frame_set;
  u8 draw_kind;  // LAYER_DRAW_...
  u8 tile_byte;
  u8 tile_cols, tile_rows;
  i32 tile_max_width, tile_max_height;
  i32 tile_widths[LAYER_TILE_MAX];
  i32 tile_heights[LAYER_TILE_MAX];
  i64 x100, y100;             // hundredths of a pixel
  i64 scale_x, scale_y;       // 10000 = 100 %
  i64 gpu_transform[5];       // hundredths
  float rot_x, rot_y, rot_z;  // hundredths of a degree
  i32 saturation;             // 0..256, 128 = neutral
  u32 tone;                   // 0xRRGGBB, 0x808080 = neutral
  u8 second_mode;
  char* second_name;                                  // LAYER_NAME_SIZE bytes: GPU cross-fade source or mask
  u16 second_amount;                                  // 0..256
  char* source_name;                                  // LAYER_NAME_SIZE bytes: the picture file
  void* textures[LAYER_TEXTURE_MAX];                  // GPU texture of each tile
  void* player;                                       // animated-character player handle (null = none)
  float player_value1, player_value2, player_value3;  // 0..1
  u8 player_flag;                                     // the player's byte setting
  char* player_vars;                                  // the saved variables, only across a device rebuild (4096 bytes)
  char* player_motion;                                // the current motion and timeline names (512 bytes, "" = none)
  char* player_timeline;
  float player_fade;  // the timeline's last fade value
};

enum {
  ERR_LAYER_NULL_PATH = 900020,
  ERR_LAYER_MASK_SIZE = 100310,  // mask and layer of different sizes
};
// LayerSwap: what the two records exchange besides order and name.
enum { LAYER_SWAP_NAMES = 0, LAYER_SWAP_POSITION = 1, LAYER_SWAP_APPEARANCE = 2 };

// Frees what a record owns (name buffers, pixels, GIF frames, frame set) and the record itself, whatever
// its reference count; the caller has dropped the last reference.
void LayerRecordFree(LayerRecord* rec);

// The record of a layer node, or null for a node without one (the tree root).
static inline LayerRecord* LayerOf(const ObjNode* node) {
  return node ? static_cast<LayerRecord*>(node->payload) : nullptr;
}
// The layer has a picture to draw or compose into (a size of 0 means no pixels).
static inline bool LayerHasPixels(const LayerRecord* rec) {
  return rec && rec->pixels && rec->width > 0 && rec->height > 0;
}

// A position as the geometry uses it: far beyond any picture either way, but never so far that
// adding a size could overflow.
static inline i64 LayerClampPos(i64 v) {
  const i64 lim = i64{1} << 48;
  return v < -lim ? -lim : (v > lim ? lim : v);
}

// A node (without a record) linked under the parent that path names from g_LayerRoot. Null after
// error 900020 (null path), 100230 (missing folder) or 100010.
ObjNode* LayerCreateNode(const char* path, u8 folder, i64 order);
// A folder layer with a cleared width x height picture, marked dirty whole. Negative sizes are
// refused and a width above 8192 shows the size message; no record stays behind on failure.
LayerRecord* LayerCreate(const char* path, i32 width, i32 height, i64 order);
// The root layer "W<n>" of window n at the window's game size, marked as its root. 0 (also when
// the window object does not exist), or -1 after an error.
i32 LayerCreateWindowRoot(i32 window);
// Clears the source name, then loads the picture (empty name: the 1 x 1 missing-file picture).
i32 LayerLoadPicture(LayerRecord* rec, const char* name);

// A change of the node's area: each ancestor's dirty rectangle takes in the child's rectangle.
void LayerMarkDirty(ObjNode* node);
// The node and each ancestor need recomposition of their whole area.
void LayerMarkDirtyWhole(ObjNode* node);
// The dirty rectangle joins the update rectangle (the whole layer when changed is set).
void LayerMergeDirty(ObjNode* node, i32 which);
// Applies pending visibility and opacity over node, its following siblings and their subtrees;
// then every layer that named a changed layer as its mask at its last composition is marked.
void LayerCommitChanges(ObjNode* node);
// The mask layer that user's mask name resolved to in a composition (null: its name found none),
// kept until the user names another one or either node is released.
void LayerNoteMaskUser(ObjNode* user, ObjNode* mask);
// Forgets every mask user (the whole layer tree is being freed).
void LayerForgetMaskUsers();
// The layer base path changed or two layers exchanged names, so a mask name may now name another
// layer (or one where it found none): every layer that named a mask is marked at the next commit.
void LayerMaskNamesMoved();
// Empties the per-frame rectangles of node, its following siblings and their subtrees.
void LayerResetUpdateRects(ObjNode* node);
// Exchanges two layers' order values and names (and per what, their placement). Returns 0.
i32 LayerSwap(ObjNode* a, ObjNode* b, i32 what);
// Unlinks and frees a node (and any children it still has); the record goes with its last node.
// Every window, message or other global reference to the node is cleared.
void LayerRelease(ObjNode* node);
void LayerReleaseChildren(ObjNode* node);
void LayerDeleteTree(ObjNode* node);
void LayerFreeFrameSet(LayerRecord* rec);

// Layer records with their defaults, made the node's payload and counted: 0, or 1 after error
// 100010 (fatal) when memory runs out; LayerRecordNew gives the record (null on failure or for a
// null node).
i32 LayerRecordAlloc(ObjNode* node);
LayerRecord* LayerRecordNew(ObjNode* node);
// Sets the payload and adds one to the record's reference count; 0 (nothing for null).
i32 LayerRecordAttach(ObjNode* node, LayerRecord* rec);
// Attaches as above and returns rec (null for a null node).
LayerRecord* LayerRecordShare(ObjNode* node, LayerRecord* rec);
