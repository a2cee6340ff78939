// The Flash player library (see flash.h), loaded with dlopen once per run.
#include "platform/flash.h"

#include <dlfcn.h>

static const PlatFlashApi* s_Api = nullptr;
static const PlatFlashApi* s_TestApi = nullptr;
static bool s_Tried = false;

static bool Complete(const PlatFlashApi* a) {
  return a && a->create && a->load_movie && a->total_frames && a->play && a->is_playing && a->current_frame &&
         a->get_variable && a->move && a->release;
}

const PlatFlashApi* PlatFlashLoad() {
  if (s_TestApi) return s_TestApi;
  if (s_Tried) return s_Api;
  s_Tried = true;
  void* lib = dlopen("libzephra-flash.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  typedef const PlatFlashApi* (*ApiFn)();
  ApiFn fn = reinterpret_cast<ApiFn>(dlsym(lib, "zephra_flash_api"));
  const PlatFlashApi* a = fn ? fn() : nullptr;
  if (!Complete(a)) {
    dlclose(lib);
    return nullptr;
  }
  s_Api = a;
  return s_Api;
}

void PlatFlashSetForTests(const PlatFlashApi* api) {
  s_TestApi = api;
  if (!api) s_Tried = false;
}
