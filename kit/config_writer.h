// Writers of the settings files "\zpcfg.dat" and "\zpsfs.dat" and of the project configuration
// "chbin\zpcfg.zbn", in the layouts the runtime reads (shell/config.h).
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// The 32 values of a settings file that reproduce the engine's defaults (a drawing mode that
// selects none of the four, so the default drawing settings stay).
std::vector<u32> KitEngineSettingsDefaults();
// Writes the values given, little-endian; fewer than 32 make a short file.
int KitSettingsValuesWrite(const std::string& native, const std::vector<u32>& values);
// "\zpsfs.dat" with the save-folder mode at its index and zeros elsewhere.
int KitSaveFolderSettingsWrite(const std::string& native, u32 mode);

struct KitProjectConfig {
  i32 width = 640;
  i32 height = 480;
  u32 show_after_first_frame = 1;
  u8 image_order[8] = {1, 2, 3, 4, 5, 0, 0, 0};
  u8 sound_order[4] = {1, 2, 0, 0};
  u32 threaded = 0;
  u32 debug = 0;
  u32 sound = 1;
  u32 resizable = 0;
  u32 framed = 1;
  u32 options[3] = {0, 0, 0};
  std::string title = "Zephra";  // Shift-JIS
  i32 title_length = -1;         // the stored length; -1: the title's own
};
std::vector<u8> KitProjectConfigBuild(const KitProjectConfig& cfg);
int KitProjectConfigWrite(const std::string& native, const KitProjectConfig& cfg);
