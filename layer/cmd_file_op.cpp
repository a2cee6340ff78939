// Command 21, the file operations of scripts. Its steps run in a fixed order, each when its
// parameter is given: preload an image, preload a sound, write a layer as an image file, create
// folders, copy, delete, open. Only the preloads and the image write can fail the line; folder,
// copy, delete and open failures are not reported, as on the system the games were made for.
#include <cstdio>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "layer/image_write.h"
#include "layer/layer.h"
#include "layer/layer_cmd.h"
#include "platform/desktop.h"
#include "platform/file.h"
#include "script/arg.h"
#include "script/file.h"

enum {
  SLOT_FILE_OP = 21,
  P_NAME = 0,
  P_NAME2 = 1,
  P_FOLDER = 2,
  P_MAKE_FOLDERS = 3,
  P_COPY = 4,
  P_DELETE = 5,
  P_OPEN = 6,
  P_OPEN_WAIT = 7,
  P_OPEN_PARAMS = 8,
  P_QUALITY = 9,
  P_LAYER = 10,
  P_LAYER_NUM = 11,
  P_BMP = 12,
  P_PNG = 13,
  P_JPEG = 14,
  P_PRELOAD_IMAGE = 15,
  P_PRELOAD_SOUND = 16,
};
enum { FORMAT_BMP, FORMAT_PNG, FORMAT_JPEG };

// A "\" that is the trail byte of a double-byte character does not end a path.
static bool EndsWithSeparator(const std::string& s) {
  bool sep = false;
  for (const char* p = s.c_str(); *p;) {
    const size_t n = SjisCharLen(p);
    sep = n == 1 && *p == '\\';
    p += n;
  }
  return sep;
}

// Parameters 15 and 16: list n (1 to 4, whatever the argument's class allows); 0 asks nothing.
static i32 Preload(u8 param, i32 kind, const std::string& name) {
  if (!ArgGiven(param)) return 0;
  const i64 n = ArgInt(param);
  if (n == 0) return 0;
  if (n < 1 || n > PACK_MEMLIST_COUNT) {
    ErrTrace("file op: preload list %lld outside 1 to 4", static_cast<long long>(n));
    return 0;
  }
  return FileMemListPreload(static_cast<i32>(n - 1), name.c_str(), kind);
}

// Parameter 10: the layer written in the format of parameters 12 to 14 (PNG unless one says
// otherwise, later ones winning), its extension appended to the file name unless it has it.
static i32 WriteLayer(const std::string& name) {
  char built[LAYER_CMD_PATH_SIZE];
  if (ArgGiven(P_LAYER_NUM))
    std::snprintf(built, sizeof built, "%s.%lld", ArgStr(P_LAYER), static_cast<long long>(ArgInt(P_LAYER_NUM)));
  else StrCopySjis(built, sizeof built, ArgStr(P_LAYER));
  char path[OBJ_PATH_MAX];
  const i32 folder = ObjResolvePath(path, sizeof path, built, g_LayerBase, 0);
  if (folder < 0) return -1;
  ObjNode* node = ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_EITHER);
  if (!node || !LayerOf(node)) {
    ErrRaiseAtScriptF(ERR_LAYER_SHARE_MISSING, 1, ArgCommandName(SLOT_FILE_OP), path);
    return -1;
  }
  i32 format = FORMAT_PNG;
  if (ArgGiven(P_BMP) && ArgInt(P_BMP) == 1) format = FORMAT_BMP;
  if (ArgGiven(P_PNG) && ArgInt(P_PNG) == 1) format = FORMAT_PNG;
  if (ArgGiven(P_JPEG) && ArgInt(P_JPEG) == 1) format = FORMAT_JPEG;
  static const char* const kExt[] = {".bmp", ".png", ".jpg"};
  std::string file = name;
  if (!StrEndsWith(file.c_str(), kExt[format])) file += kExt[format];
  LayerRecord* rec = LayerOf(node);
  const i64 q = ArgInt(P_QUALITY);
  switch (format) {
    case FORMAT_BMP: return ImageSaveBmp(rec, file.c_str()) < 0 ? -1 : 0;
    case FORMAT_PNG: {
      const i32 level = ArgGiven(P_QUALITY) ? static_cast<i32>(q < 0 ? 0 : (q > 9 ? 9 : q)) : IMAGE_PNG_LEVEL_DEFAULT;
      return ImageSavePng(rec, file.c_str(), level) < 0 ? -1 : 0;
    }
    default: {
      const i32 quality =
          ArgGiven(P_QUALITY) ? static_cast<i32>(q < 1 ? 1 : (q > 100 ? 100 : q)) : IMAGE_JPEG_QUALITY_DEFAULT;
      return ImageSaveJpeg(rec, file.c_str(), quality) < 0 ? -1 : 0;
    }
  }
}

i32 CmdFileOp() {
  if (ArgDecode(SLOT_FILE_OP) != 0) return -1;
  std::string name = ArgStr(P_NAME);
  FileNormaliseName(name.data());
  std::string name2 = ArgStr(P_NAME2);
  FileNormaliseName(name2.data());
  std::string folder = ArgStr(P_FOLDER);
  FileNormaliseName(folder.data());
  if (!EndsWithSeparator(folder)) folder += '\\';

  if (Preload(P_PRELOAD_IMAGE, PACK_MEDIA_IMAGE, name) < 0) return -1;
  if (Preload(P_PRELOAD_SOUND, PACK_MEDIA_SOUND, name) < 0) return -1;
  if (ArgGiven(P_LAYER) && WriteLayer(name) < 0) return -1;
  if (ArgGiven(P_MAKE_FOLDERS)) FileMakeFolders(folder.c_str());
  if (ArgGiven(P_COPY)) PlatFileCopy(name.c_str(), name2.c_str());
  if (ArgGiven(P_DELETE)) {
    // Only save files can be deleted: the name always ends in ".sd".
    if (ArgGiven(P_NAME)) {
      std::string save = name;
      if (!StrEndsWith(save.c_str(), ".sd")) save += ".sd";
      PlatFileDelete(save.c_str());
    }
    if (ArgGiven(P_FOLDER)) PlatFolderRemove(folder.c_str());
  }
  if (ArgGiven(P_OPEN) && !name.empty()) PlatSpawnOpen(name.c_str(), ArgStr(P_OPEN_PARAMS), false);
  else if (ArgGiven(P_OPEN_WAIT) && !name.empty()) PlatSpawnOpen(name.c_str(), ArgStr(P_OPEN_PARAMS), true);
  return 0;
}
