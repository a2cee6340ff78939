// Fuzz target for name folding: object paths joined to a base and looked up (ObjResolvePath,
// ObjFindNode), the pack name normalisation of media names, and the case-insensitive resolver of
// game-data names (Shift-JIS, "\" and "/", ".." and drive letters) against a folder that holds
// Japanese and mixed-case names. The input up to its first NUL is the name, the rest the base.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/obj.h"
#include "core/pack.h"
#include "fuzz_game.h"

namespace {

bool Init() {
  const std::string& f = FuzzGameFolder();
  for (const char* rel : {"Data", "Data/Bg", "データ"}) PlatFolderCreateNative(f + "/" + rel);
  for (const char* rel : {"Data/Bg/Sky.PNG", "データ/背景.bmp", "readme.TXT"})
    if (FILE* fp = std::fopen((f + "/" + rel).c_str(), "wb")) std::fclose(fp);
  g_LayerRoot = ObjNewRoot();
  for (const char* path : {"a", "a/b", "a/b/c", "\x83\x65\x83\x58\x83\x67"})  // テスト
    ObjCreateNode(g_LayerRoot, path, OBJ_FOLDER, 1);
  ObjCreateNode(g_LayerRoot, "a/b/c/item", OBJ_ITEM, 1);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  (void)ready;
  if (size > 16384) return 0;
  FuzzErrorsReset();
  const char* p = reinterpret_cast<const char*>(data);
  const size_t name_len = strnlen(p, size);
  const std::string name(p, name_len);
  const std::string base =
      name_len < size ? std::string(p + name_len + 1, strnlen(p + name_len + 1, size - name_len - 1)) : "";
  static char out[OBJ_PATH_MAX];
  for (i8 blanks : {0, 1}) {
    i32 folder = ObjResolvePath(out, sizeof out, name.c_str(), base.c_str(), blanks);
    if (folder >= 0) {
      if (std::strlen(out) >= sizeof out) __builtin_trap();
      ObjFindNode(g_LayerRoot, out, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_EITHER);
    }
  }
  ObjResolvePath(out, 16, name.c_str(), base.c_str(), 0);  // a buffer too small for most
  std::string norm = PackNormaliseName(name.c_str());
  PlatFileResolve(name.c_str());
  PlatFileResolve(norm.c_str());
  PlatFileKind((std::string(g_ExeFolder) + name).c_str());
  return 0;
}
