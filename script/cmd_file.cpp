// The system commands that reach outside the engine without touching layers: the clipboard (5,
// 6), CSV tables (8), the command flag bytes (15), file information (22), registry values (76)
// and the script-file list (92); 7 and 16 only decode their arguments. File operations (21)
// write layers and live with the layer commands.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/sys.h"
#include "platform/desktop.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/file.h"
#include "script/script.h"
#include "script/var.h"

enum {
  SLOT_CLIP_SET = 5,
  SLOT_CLIP_GET = 6,
  SLOT_NOP7 = 7,
  SLOT_CSV = 8,
  SLOT_FLAGS = 15,
  SLOT_NOP16 = 16,
  SLOT_FILE_INFO = 22,
  SLOT_REGISTRY = 76,
  SLOT_SCRIPT_INFO = 92,
};

// The variable element a parameter names, and its type.
struct VarRef {
  i64 id, index;
  i8 type;
};
static VarRef RefOf(u8 param) {
  const u8 p = ArgPos(param);
  VarRef r{g_ArgVarId[p], g_ArgVarElem[p], VAR_TYPE_NONE};
  if (const VarRecord* v = VarRecordOf(r.id)) r.type = v->type;
  return r;
}

// A copy of a string argument, normalised as file names are.
static std::string NormalisedArg(u8 param) {
  std::string s = ArgStr(param);
  FileNormaliseName(s.data());
  return s;
}

// ---- Clipboard -------------------------------------------------------------------------------

i32 CmdClipboardSetText() {
  if (ArgDecode(SLOT_CLIP_SET) != 0) return -1;
  if (!ArgGiven(0) || !ArgGiven(1)) return 0;
  PlatClipboardSetText(ArgStr(1), &g_QuitRequested);
  return 0;
}

i32 CmdClipboardGetText() {
  if (ArgDecode(SLOT_CLIP_GET) != 0) return -1;
  if (!ArgGiven(0)) return 0;
  std::string text;
  if (PlatClipboardGetText(&text, &g_QuitRequested) != 0) return -1;
  char* out = static_cast<char*>(std::malloc(FILE_CLIP_TEXT_MAX + 1));
  if (!out) {
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  FileClipboardTextCut(text.data(), text.size(), out);
  if (ArgGiven(1)) {
    const VarRef v = RefOf(1);
    VarSetStrElement(v.id, v.index, out);
  }
  std::free(out);
  return 0;
}

i32 CmdNop7() { return ArgDecode(SLOT_NOP7) != 0 ? -1 : 0; }
i32 CmdNop16() { return ArgDecode(SLOT_NOP16) != 0 ? -1 : 0; }

// ---- CSV -------------------------------------------------------------------------------------

// The file through the four sources, read whole with CR LF appended into a malloc'd block. 0, or
// -1 after the error (the reader raises its own).
static i32 ReadCsvFile(const char* name, u8** data, size_t* size) {
  PackLookup lookup{};
  const i32 found = PackFindAnySource(&lookup, name, 0);
  if (found == 0) {
    ErrRaiseF(ERR_FILE_MISSING, 1, name);
    return -1;
  }
  if (found < 0) {
    ErrRaiseF(ERR_PACK_OPEN, 1, name);
    return -1;
  }
  if (PackReadBySource(&lookup, name) != 0) return -1;
  u8* block = static_cast<u8*>(std::realloc(lookup.data, static_cast<size_t>(lookup.size) + 2));
  if (!block) {
    std::free(lookup.data);
    ErrRaiseF(ERR_FILE_READ_NOMEM, 1, name);
    return -1;
  }
  block[lookup.size] = '\r';
  block[lookup.size + 1] = '\n';
  *data = block;
  *size = static_cast<size_t>(lookup.size) + 2;
  return 0;
}

// Stores field `index` into element `index`; once an element cannot take it (past the end, or
// not a string variable) no later one can, so the walk stops storing.
static bool StoreField(void* ctx, i64 index, const char* text, size_t len) {
  return VarSetStrElementN(*static_cast<const i64*>(ctx), index, text, len) == 0;
}

i32 CmdCsvFileRead() {
  enum { P_NAME = 0, P_COUNT = 1, P_READ = 2, P_VAR = 3 };
  if (ArgDecode(SLOT_CSV) != 0) return -1;
  if (!ArgGiven(P_VAR)) return 0;
  const std::string name = NormalisedArg(P_NAME);
  const VarRef v = RefOf(P_VAR);
  u8* data = nullptr;
  size_t size = 0;
  if (ArgGiven(P_READ)) {
    if (ReadCsvFile(name.c_str(), &data, &size) != 0) return -1;
    i64 id = v.id;
    FileCsvSplit(data, size, StoreField, &id);
  }
  if (ArgGiven(P_COUNT)) {
    if (!data && ReadCsvFile(name.c_str(), &data, &size) != 0) return -1;
    VarSetNumElement(v.id, v.index, FileCsvSplit(data, size, nullptr, nullptr) + 1);
  }
  std::free(data);
  return 0;
}

// ---- Command flags ---------------------------------------------------------------------------

i32 CmdCommandFlagsSet() {
  if (ArgDecode(SLOT_FLAGS) != 0) return -1;
  for (u32 k = 1; k <= CMD_SLOT_COUNT; k++)
    if (ArgGiven(static_cast<u8>(k + 1))) g_CmdFlags[k] = static_cast<u8>(ArgInt(static_cast<u8>(k + 1)));
  return 0;
}

// ---- File information ------------------------------------------------------------------------

enum { KIND_FOLDER = 0, KIND_FILE = 1, KIND_IMAGE = 2, KIND_SOUND = 3 };

static i32 Exists(const std::string& name, i32 kind) {
  static const char* const kImageExt[] = {"", ".bmp", ".png", ".jpg", ".gif", ".psd"};
  static const char* const kSoundExt[] = {"", ".ogg", ".wav"};
  switch (kind) {
    case KIND_FOLDER: return FileExistsAnySource(name.c_str(), true);
    case KIND_IMAGE:
      for (const char* e : kImageExt)
        if (FileExistsAnySource((name + e).c_str(), false)) return 1;
      return 0;
    case KIND_SOUND:
      for (const char* e : kSoundExt)
        if (FileExistsAnySource((name + e).c_str(), false)) return 1;
      return 0;
  }
  return FileExistsAnySource(name.c_str(), false);
}

// The associated program's text as the 264-byte buffer holds it: at most 263 bytes, cut at a
// whole character.
static std::string AssociatedApp(const std::string& name) {
  std::string app = PlatSpawnAssociatedApp(name.c_str());
  app.resize(StrCutSjis(app.data(), app.size(), FILE_ASSOC_BUF - 1));
  return app;
}

i32 CmdFileInfoGet() {
  enum { P_EXISTS = 4, P_SIZE = 5, P_APP = 6, P_RESULT = 7 };
  if (ArgDecode(SLOT_FILE_INFO) != 0) return -1;
  if (!ArgGiven(P_RESULT)) return 0;
  i32 kind = KIND_FILE;
  u8 name_param = 0xFF;
  for (u8 p = KIND_FOLDER; p <= KIND_SOUND; p++)
    if (ArgGiven(p)) kind = p, name_param = p;
  const std::string name = name_param != 0xFF ? NormalisedArg(name_param) : std::string();
  const VarRef v = RefOf(P_RESULT);
  if (ArgGiven(P_EXISTS)) {
    if (v.type == VAR_TYPE_STR) {
      ErrRaiseAtScript(ERR_VAR_WRONG_TYPE, 1);
      return -1;
    }
    VarSetNumElement(v.id, v.index, Exists(name, kind));
  } else if (ArgGiven(P_SIZE)) {
    i64 size = 0;
    if (kind == KIND_FILE && PlatFileKind(name.c_str()) == PLAT_FILE_REGULAR) {
      PlatFile* f = PlatFileOpenRead(name.c_str());
      size = f ? PlatFileSize(f) : 0;
      PlatFileClose(f);
    }
    VarSetNumElement(v.id, v.index, size < 0 ? 0 : size);
  } else if (ArgGiven(P_APP)) {
    if (v.type == VAR_TYPE_STR) VarSetStrElement(v.id, v.index, kind == KIND_FOLDER ? "" : AssociatedApp(name).c_str());
    else VarSetNumElement(v.id, v.index, 0);
  }
  return 0;
}

// ---- Registry --------------------------------------------------------------------------------

// The predefined keys by the prefix that names them (compared byte for byte).
static const char* const kRegRoots[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

i32 CmdRegistryRead() {
  enum { P_KEY = 0, P_VALUE = 1, P_VAR = 2 };
  if (ArgDecode(SLOT_REGISTRY) != 0) return -1;
  if (!ArgGiven(P_VAR)) return 0;
  std::string path = ArgStr(P_KEY);
  StrReplaceCharSjis(path.data(), '/', '\\');
  const char* root = nullptr;
  const char* subkey = nullptr;
  for (const char* r : kRegRoots) {
    const size_t n = std::strlen(r);
    if (path.compare(0, n, r) == 0 && path.size() > n && path[n] == '\\') {
      root = r;
      subkey = path.c_str() + n + 1;
      break;
    }
  }
  if (!root) return 0;
  char buf[FILE_REG_BUF];
  const VarRef v = RefOf(P_VAR);
  if (RegReadString(root, subkey, ArgGiven(P_VALUE) ? ArgStr(P_VALUE) : nullptr, buf) == 0) {
    if (v.type == VAR_TYPE_STR) VarSetStrElement(v.id, v.index, buf);
    return 0;
  }
  if (v.type == VAR_TYPE_STR) VarSetStrElement(v.id, v.index, "");
  else if (v.type == VAR_TYPE_FLOAT) VarSetFloatElement(v.id, v.index, 0.0);
  else VarSetNumElement(v.id, v.index, 0);
  return 0;
}

// ---- Script files ----------------------------------------------------------------------------

i32 CmdScriptFileInfoGet() {
  enum { P_NAME = 0, P_COUNT = 1, P_VALUE = 2, P_PLAYER = 3, P_NUMBER = 4, P_RESULT = 5 };
  if (ArgDecode(SLOT_SCRIPT_INFO) != 0) return -1;
  if (!ArgGiven(P_RESULT)) return 0;
  const VarRef v = RefOf(P_RESULT);
  // Compared in 64 bits before it indexes: file n (1-based) of the list.
  const i64 n = ArgInt(P_NUMBER);
  const bool inside = n >= 1 && n <= static_cast<i64>(g_ScriptFileCount);
  if (ArgGiven(P_COUNT)) {
    VarSetNumElement(v.id, v.index, g_ScriptFileCount);
  } else if (ArgGiven(P_VALUE)) {
    VarSetNumElement(v.id, v.index, inside && g_ScriptFileValues ? g_ScriptFileValues[n - 1] : 0);
  } else if (ArgGiven(P_NAME)) {
    // The list may have gaps: a number it names no file for gives the empty string.
    const char* name = inside && g_ScriptFileNames ? g_ScriptFileNames[n - 1] : nullptr;
    VarSetStrElement(v.id, v.index, name ? name : "");
  } else if (ArgGiven(P_PLAYER)) {
    VarSetNumElement(v.id, v.index, g_EmoteAvailable ? 1 : 0);
  } else {
    VarSetNumElement(v.id, v.index, 0);
  }
  return 0;
}
