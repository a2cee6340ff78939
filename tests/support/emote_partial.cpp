// A player library for the bridge tests that lacks one entry point the engine calls (256, the
// drawing): the bridge must not use it.
static void Nothing() {}

extern "C" __attribute__((visibility("default"))) void* ZephraEmoteProc(unsigned ordinal) {
  return ordinal == 256 ? nullptr : reinterpret_cast<void*>(&Nothing);
}
