// Layer records: the payload of a layer-tree node. Kept as a native record; save data writes the
// engine's 1600-byte layout field by field. A record may be the payload of several nodes and is
// freed with the last of them (reference count). Rectangles are inclusive on all four sides; an
// empty one is left = top = 999999999, right = bottom = -999999999.
#pragma once
#include "common/types.h"

struct ImageFrameSet;

enum {
  LAYER_NAME_SIZE = 261,        // the three name buffers
  LAYER_TILE_MAX = 32,          // texture tile columns and rows
  LAYER_TEXTURE_MAX = 256,      // texture tiles
  LAYER_RECORD_FILE_SIZE = 1600 // the record's size in save data
};
enum { LAYER_RECT_EMPTY_MIN = 999999999, LAYER_RECT_EMPTY_MAX = -999999999 };
// Drawing kinds.
enum { LAYER_DRAW_CPU = 0, LAYER_DRAW_SPRITE = 1, LAYER_DRAW_CHARACTER = 2 };

struct LayerRecord {
  u8 is_window_root;
  u8 is_message_layer;
  i32 mark_count;           // 0 = not marked since the last reset
  i64 update_left, update_top, update_right, update_bottom;  // this frame's changed area
  i64 dirty_left, dirty_top, dirty_right, dirty_bottom;      // area to recompose
  u8 dirty_valid;
  u8 changed;               // the whole layer is to be shown again
  u8 needs_compose;
  u8 blended;               // blended into its parent
  char* mask_name;          // LAYER_NAME_SIZE bytes
  i64 ref_count;            // nodes whose payload this record is
  i64 user_value1, user_value2;
  i64 x, y;                 // pixels, relative to the parent layer
  i32 width, height;
  i16 opacity;              // 0..256; 0 = not drawn
  i16 mask_progress;        // 0..256
  i16 mask_softness;        // 256 = hard edge
  u8 has_alpha;
  u8 blend_mode;            // 0..18
  u8 visible;
  u8 pending_visible;
  u8 pending_visible_set;
  i16 pending_opacity;
  u8 pending_opacity_set;
  u8* pixels;               // width * height * 4 + width * 4 + 4 bytes, B G R A, rows top-down
  u32 pixel_alloc_param;
  u8 keep_buffer;           // a shrinking resize keeps the pixel buffer
  u32* gif_work;            // 8192 entries, made on first use
  ImageFrameSet* frame_set;
  u8 draw_kind;             // LAYER_DRAW_...
  u8 tile_byte;
  u8 tile_cols, tile_rows;
  i32 tile_max_width, tile_max_height;
  i32 tile_widths[LAYER_TILE_MAX];
  i32 tile_heights[LAYER_TILE_MAX];
  i64 x100, y100;           // hundredths of a pixel
  i64 scale_x, scale_y;     // 10000 = 100 %
  i64 gpu_transform[5];     // hundredths
  float rot_x, rot_y, rot_z;  // hundredths of a degree
  i32 saturation;           // 0..256, 128 = neutral
  u32 tone;                 // 0xRRGGBB, 0x808080 = neutral
  u8 second_mode;
  char* second_name;        // LAYER_NAME_SIZE bytes: GPU cross-fade source or mask
  u16 second_amount;        // 0..256
  char* source_name;        // LAYER_NAME_SIZE bytes: the picture file
  void* textures[LAYER_TEXTURE_MAX];  // GPU texture of each tile
  void* player;             // animated-character player
  float player_value1, player_value2, player_value3;  // 0..1
  u8 player_flag;
  char* player_vars;
  char* player_motion;
  char* player_list2;
  i32 player_value;
};

// Frees what a record owns (name buffers, pixels, GIF table) and the record itself, whatever
// its reference count; the caller has dropped the last reference.
void LayerRecordFree(LayerRecord* rec);
