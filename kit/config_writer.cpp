// Settings and project-configuration writers. The project configuration's header is not read by
// the runtime; the kit fills it with a recognisable tag.
#include "kit/config_writer.h"

#include <cstring>

#include "core/config.h"
#include "platform/file.h"

static void Put32At(std::vector<u8>& out, size_t at, u32 v) {
  for (int i = 0; i < 4; i++) out[at + i] = static_cast<u8>(v >> (8 * i));
}

std::vector<u32> KitEngineSettingsDefaults() {
  std::vector<u32> v(CFG_VALUE_COUNT, 0);
  v[0] = 1;  // DirectShow movies
  v[1] = 1;
  v[2] = 1;           // SSE
  v[3] = 1;           // SSE2
  v[4] = 4;           // four drawing workers
  v[6] = 1;           // fullscreen keeps the desktop resolution
  v[7] = 0;           // fit mode 1
  v[8] = 0xFFFFFFFF;  // no drawing mode: the defaults stay
  v[14] = 1;          // dithered textures
  return v;
}

int KitSettingsValuesWrite(const std::string& native, const std::vector<u32>& values) {
  std::vector<u8> out(values.size() * 4);
  for (size_t i = 0; i < values.size(); i++) Put32At(out, i * 4, values[i]);
  return PlatFileWriteAtomicNative(native, out.data(), out.size());
}

int KitSaveFolderSettingsWrite(const std::string& native, u32 mode) {
  std::vector<u32> v(CFG_VALUE_COUNT, 0);
  v[CFG_SAVE_MODE_INDEX] = mode;
  return KitSettingsValuesWrite(native, v);
}

std::vector<u8> KitProjectConfigBuild(const KitProjectConfig& cfg) {
  u32 len = cfg.title_length >= 0 ? static_cast<u32>(cfg.title_length) : static_cast<u32>(cfg.title.size());
  std::vector<u8> out(CFG_OFF_TITLE, 0);
  std::memcpy(out.data(), "ZPCFG-KIT", 9);
  Put32At(out, CFG_OFF_WIDTH, static_cast<u32>(cfg.width));
  Put32At(out, CFG_OFF_HEIGHT, static_cast<u32>(cfg.height));
  Put32At(out, CFG_OFF_SHOW_AFTER_FIRST_FRAME, cfg.show_after_first_frame);
  std::memcpy(out.data() + CFG_OFF_IMAGE_ORDER, cfg.image_order, 8);
  std::memcpy(out.data() + CFG_OFF_SOUND_ORDER, cfg.sound_order, 4);
  Put32At(out, CFG_OFF_THREADED, cfg.threaded);
  Put32At(out, CFG_OFF_DEBUG, cfg.debug);
  Put32At(out, CFG_OFF_SOUND, cfg.sound);
  Put32At(out, CFG_OFF_RESIZABLE, cfg.resizable);
  Put32At(out, CFG_OFF_FRAMED, cfg.framed);
  for (int i = 0; i < 3; i++) Put32At(out, CFG_OFF_OPTIONS + 4 * i, cfg.options[i]);
  out[CFG_OFF_TITLE_LENGTH] = static_cast<u8>(len);
  out[CFG_OFF_TITLE_LENGTH + 1] = static_cast<u8>(len >> 8);
  out.resize(CFG_OFF_TITLE + cfg.title.size());
  if (!cfg.title.empty()) std::memcpy(out.data() + CFG_OFF_TITLE, cfg.title.data(), cfg.title.size());
  return out;
}

int KitProjectConfigWrite(const std::string& native, const KitProjectConfig& cfg) {
  std::vector<u8> out = KitProjectConfigBuild(cfg);
  return PlatFileWriteAtomicNative(native, out.data(), out.size());
}
