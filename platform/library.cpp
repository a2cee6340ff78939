// Shared libraries loaded at run time (dlopen), for the animated-character player.
#include <dlfcn.h>

#include "platform/platform.h"

void* PlatLibraryOpen(const std::string& path) {
  if (path.empty()) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PlatLibrarySymbol(void* lib, const char* name) { return lib && name ? dlsym(lib, name) : nullptr; }

void PlatLibraryClose(void* lib) {
  if (lib) dlclose(lib);
}
