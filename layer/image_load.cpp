// The picture loader: a name a script gives is resolved through the file sources, read by the
// reader of the source it was found in, and decoded by its type code into the layer's record.
// The record's picture, size and has-alpha change only together, after a decode succeeded.
#include <cstdlib>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/pack.h"
#include "layer/image.h"
#include "layer/image_gif.h"
#include "layer/layer.h"
#include "script/arg.h"
#include "script/cmd.h"

enum { CMD_SLOT_LAYER_CREATE = 1, IMAGE_NAME_BUF = 1024 };

static bool IsPictureType(u8 type) {
  return type == IMAGE_TYPE_BMP || type == IMAGE_TYPE_PNG || type == IMAGE_TYPE_JPEG || type == IMAGE_TYPE_GIF ||
         type == IMAGE_TYPE_PSD || type == IMAGE_TYPE_ZCG || type == IMAGE_TYPE_PSB;
}

static void StoreSourceName(LayerRecord* rec, const char* name) {
  if (rec->source_name) StrCopySjis(rec->source_name, LAYER_NAME_SIZE, name);
}

i32 ImageLoad(LayerRecord* rec, const char* name) {
  if (!rec || !name) return -1;
  PackLookup lookup{};
  char resolved[IMAGE_NAME_BUF] = {0};
  i32 found = PackResolveMediaFile(&lookup, PACK_MEDIA_IMAGE, name, resolved, sizeof resolved);
  if (found < 0) return -1;
  ImagePicture pic = {rec->pixels, rec->width, rec->height, 0};
  if (found == 1) {
    // Found nowhere: the layer shows the missing-file picture and the script goes on.
    i32 r = ImageMakeEmpty(&pic, name);
    rec->pixels = pic.pixels;
    if (r == 0) {
      rec->width = pic.width;
      rec->height = pic.height;
      rec->has_alpha = 0;
    }
    return r;
  }
  rec->has_alpha = 0;
  if (!IsPictureType(lookup.type)) {
    // Checked before reading: a sound or unknown file never reaches a decoder.
    ErrRaiseAtScriptF(IMAGE_ERR_NOT_PICTURE, 1, ArgCommandName(CMD_SLOT_LAYER_CREATE), name);
    return -1;
  }
  if (lookup.type == IMAGE_TYPE_PSB) {
    // The character bridge reads the file itself and gives the layer its placeholder picture.
    if (!g_HookEmoteLoadPsb) return 0;
    if (g_HookEmoteLoadPsb(&lookup, rec, resolved, name) != 0) return -1;
    StoreSourceName(rec, name);
    return 0;
  }
  if (PackReadBySource(&lookup, resolved) != 0) {
    std::free(lookup.data);
    return -1;
  }
  if (lookup.type == IMAGE_TYPE_GIF) {
    // The layer keeps a record of every image of its GIF, in a table made on its first GIF.
    if (!rec->gif_frames) rec->gif_frames = ImageGifNewFrameTable();
    if (!rec->gif_frames) {
      std::free(lookup.data);
      ErrRaise(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    pic.gif_frames = rec->gif_frames;
  }
  i32 r = ImageDecode(lookup.type, lookup.data, lookup.size, resolved, &pic);
  std::free(lookup.data);
  // Even a failed decode leaves pic describing the block it points at, so the record stays whole.
  rec->pixels = pic.pixels;
  rec->width = pic.width;
  rec->height = pic.height;
  if (r != 0) return -1;
  rec->has_alpha = pic.has_alpha;
  StoreSourceName(rec, name);
  return 0;
}
