// The layer side of save data: the 1600-byte record image that save files hold (the layout of the
// engine's 32-bit record, little-endian, written field by field from the native record, whose own
// layout differs; pointer and handle fields are written as 0 and never read), and the layer that
// a load makes. Save data reaches these through the hooks in core/hooks.h.
#include "layer/layer_save.h"

#include <cstring>

#include "core/hooks.h"
#include "core/obj.h"
#include "layer/layer.h"

namespace {

void PutU8(u8* image, u32 at, u8 v) { image[at] = v; }
void PutU16(u8* image, u32 at, u16 v) {
  image[at] = static_cast<u8>(v);
  image[at + 1] = static_cast<u8>(v >> 8);
}
void PutU32(u8* image, u32 at, u32 v) {
  for (u32 k = 0; k < 4; k++) image[at + k] = static_cast<u8>(v >> (8 * k));
}
void PutI64(u8* image, u32 at, i64 v) {
  const u64 u = static_cast<u64>(v);
  PutU32(image, at, static_cast<u32>(u));
  PutU32(image, at + 4, static_cast<u32>(u >> 32));
}
void PutF32(u8* image, u32 at, float v) {
  u32 bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(image, at, bits);
}
i32 GetI32(const u8* image, u32 at) {
  u32 v = 0;
  for (u32 k = 0; k < 4; k++) v |= static_cast<u32>(image[at + k]) << (8 * k);
  return static_cast<i32>(v);
}

// Offsets of the record image.
enum : u32 {
  AT_WIDTH = 120,
  AT_HEIGHT = 124,
};

void WriteRecordImage(const LayerRecord* r, u8* image) {
  std::memset(image, 0, LAYER_RECORD_FILE_SIZE);
  PutU8(image, 0, r->is_window_root);
  PutU8(image, 1, r->is_message_layer);
  PutU32(image, 4, static_cast<u32>(r->mark_count));
  const i64 rects[8] = {r->update_left, r->update_top, r->update_right, r->update_bottom,
                        r->dirty_left,  r->dirty_top,  r->dirty_right,  r->dirty_bottom};
  for (u32 k = 0; k < 8; k++) PutI64(image, 8 + 8 * k, rects[k]);
  PutU8(image, 72, r->dirty_valid);
  PutU8(image, 73, r->changed);
  PutU8(image, 74, r->needs_compose);
  PutU8(image, 75, r->blended);
  // 76: mask name buffer (pointer)
  PutI64(image, 80, r->ref_count);
  PutI64(image, 88, r->user_value1);
  PutI64(image, 96, r->user_value2);
  PutI64(image, 104, r->x);
  PutI64(image, 112, r->y);
  PutU32(image, AT_WIDTH, static_cast<u32>(r->width));
  PutU32(image, AT_HEIGHT, static_cast<u32>(r->height));
  PutU16(image, 128, static_cast<u16>(r->opacity));
  PutU16(image, 130, static_cast<u16>(r->mask_progress));
  PutU16(image, 132, static_cast<u16>(r->mask_softness));
  PutU8(image, 134, r->has_alpha);
  PutU8(image, 135, r->blend_mode);
  PutU8(image, 137, r->visible);
  PutU8(image, 138, r->pending_visible);
  PutU8(image, 139, r->pending_visible_set);
  PutU16(image, 140, static_cast<u16>(r->pending_opacity));
  PutU8(image, 142, r->pending_opacity_set);
  // 144: pixel buffer (pointer)
  PutU32(image, 148, r->pixel_alloc_param);
  PutU8(image, 153, r->keep_buffer);
  // 156, 160: GIF work table and frame set (pointers)
  PutU8(image, 164, r->draw_kind);
  PutU8(image, 165, r->tile_byte);
  PutU8(image, 166, r->tile_cols);
  PutU8(image, 167, r->tile_rows);
  PutU32(image, 168, static_cast<u32>(r->tile_max_width));
  PutU32(image, 172, static_cast<u32>(r->tile_max_height));
  for (u32 k = 0; k < LAYER_TILE_MAX; k++) {
    PutU32(image, 176 + 4 * k, static_cast<u32>(r->tile_widths[k]));
    PutU32(image, 304 + 4 * k, static_cast<u32>(r->tile_heights[k]));
  }
  PutI64(image, 432, r->x100);
  PutI64(image, 440, r->y100);
  PutI64(image, 448, r->scale_x);
  PutI64(image, 456, r->scale_y);
  for (u32 k = 0; k < 5; k++) PutI64(image, 464 + 8 * k, r->gpu_transform[k]);
  PutF32(image, 504, r->rot_x);
  PutF32(image, 508, r->rot_y);
  PutF32(image, 512, r->rot_z);
  PutU32(image, 516, static_cast<u32>(r->saturation));
  PutU32(image, 520, r->tone);
  PutU8(image, 524, r->second_mode);
  // 528: second layer name (pointer)
  PutU16(image, 532, r->second_amount);
  // 536 to 1567: source name, texture tiles and the player handle (pointers)
  PutF32(image, 1568, r->player_value1);
  PutF32(image, 1572, r->player_value2);
  PutF32(image, 1576, r->player_value3);
  PutU8(image, 1580, r->player_flag);
  // 1584 to 1595: the player's texts (pointers)
  PutF32(image, 1596, r->player_fade);  // the timeline's last fade value
}

i32 SaveImage(const ObjNode* node, u8* image, i32* width, i32* height, const u8** pixels) {
  const LayerRecord* r = LayerOf(node);
  if (!LayerHasPixels(r)) return -1;
  WriteRecordImage(r, image);
  *width = r->width;
  *height = r->height;
  *pixels = r->pixels;
  return 0;
}

void ImageSize(const u8* image, i32* width, i32* height) {
  *width = GetI32(image, AT_WIDTH);
  *height = GetI32(image, AT_HEIGHT);
}

i32 NewPicture(ObjNode* node, i32 width, i32 height, u8* pixels) {
  LayerRecord* r = LayerRecordNew(node);
  if (!r) return -1;
  r->pixels = pixels;
  r->width = width;
  r->height = height;
  r->changed = 1;
  // The new node's own area: a larger picture than the old one must show whole.
  LayerMarkDirty(node);
  return 0;
}

}  // namespace

void LayerSaveRecordImage(const LayerRecord* rec, u8* image) { WriteRecordImage(rec, image); }

void LayerSaveInstallHooks() {
  g_HookLayerSaveImage = SaveImage;
  g_HookLayerImageSize = ImageSize;
  g_HookLayerMarkDirty = LayerMarkDirty;
  g_HookLayerRelease = LayerRelease;
  g_HookLayerNewPicture = NewPicture;
}
