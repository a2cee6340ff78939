// Build-time checks (see build_check.h). File names are looked up as the engine looks them up:
// folded and lower-cased by the engine's own normalisation, with the extensions of the project's
// image and sound orders tried for a name that carries none of its kind.
#include "kit/build_check.h"

#include <cstring>
#include <set>

#include "common/sjis.h"
#include "core/pack.h"
#include "kit/config_writer.h"
#include "kit/errtexts.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/script.h"

namespace {

enum LookupKind { LOOKUP_IMAGE, LOOKUP_SOUND, LOOKUP_EXACT };

// The parameters that name a file of the game; a row with a "needs" applies only when the line
// gives that parameter too.
struct FileParam {
  const char* command;
  const char* param;
  const char* needs;
  LookupKind kind;
};

// clang-format off
const FileParam kFileParams[] = {
    {"layer", "file", nullptr, LOOKUP_IMAGE},
    {"sound", "file", nullptr, LOOKUP_SOUND},
    {"movie", "file", nullptr, LOOKUP_EXACT},
    {"frames_load", "file", nullptr, LOOKUP_EXACT},
    {"csv_read", "file", nullptr, LOOKUP_EXACT},
    {"file", "file", "preload_image", LOOKUP_IMAGE},
    {"file", "file", "preload_sound", LOOKUP_SOUND},
};
// clang-format on

// The extensions of the project's orders, by code; a name ending in one of its kind's own is
// looked up as it stands.
const char* const kImageByCode[] = {nullptr, ".png", ".bmp", ".jpg", ".gif", ".psb"};
const char* const kSoundByCode[] = {nullptr, ".ogg", ".wav"};
const char* const kImageOwn[] = {".bmp", ".png", ".jpg", ".gif", ".psb"};
const char* const kSoundOwn[] = {".wav", ".ogg"};

const FileParam* FileParamOf(const KitScriptLiteral& lit) {
  for (const FileParam& f : kFileParams) {
    if (lit.command != f.command || lit.param != f.param) continue;
    if (!f.needs) return &f;
    for (const std::string& p : lit.line_params)
      if (p == f.needs) return &f;
  }
  return nullptr;
}

std::vector<std::string> Candidates(const std::string& base, LookupKind kind, const KitProjectConfig& cfg) {
  if (kind == LOOKUP_EXACT) return {base};
  bool image = kind == LOOKUP_IMAGE;
  for (const char* e : image ? std::vector<const char*>(std::begin(kImageOwn), std::end(kImageOwn))
                             : std::vector<const char*>(std::begin(kSoundOwn), std::end(kSoundOwn)))
    if (StrEndsWith(base.c_str(), e)) return {base};
  std::vector<std::string> out;
  for (u32 i = 0; i < (image ? 5u : 2u); i++) {
    u8 code = image ? cfg.image_order[i] : cfg.sound_order[i];
    if (code >= 1 && code <= (image ? 5 : 2)) out.push_back(base + (image ? kImageByCode : kSoundByCode)[code]);
  }
  return out;
}

u32 Be32(const u8* p) {
  return static_cast<u32>(p[0]) << 24 | static_cast<u32>(p[1]) << 16 | static_cast<u32>(p[2]) << 8 | p[3];
}

}  // namespace

bool KitPngHasTrns(const std::vector<u8>& png) {
  static const u8 kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return false;
  // Chunks: length, type, data, CRC. tRNS must come before the first IDAT.
  for (size_t at = 8; png.size() - at >= 12;) {
    u32 len = Be32(&png[at]);
    const u8* type = &png[at + 4];
    if (!std::memcmp(type, "tRNS", 4)) return true;
    if (!std::memcmp(type, "IDAT", 4) || !std::memcmp(type, "IEND", 4)) return false;
    if (len > png.size() - at - 12) return false;
    at += 12 + static_cast<size_t>(len);
  }
  return false;
}

int KitCheckGame(const KitGameSource& src, const KitScriptFacts& facts, std::vector<std::string>* warnings,
                 std::string* err) {
  bool starts = false;
  for (const std::string& l : facts.labels) starts = starts || l == "SYSTEM_START";
  if (!starts) {
    // The engine's own words for it, and where the game was meant to start.
    for (const KitErrText& t : KitDefaultErrorTexts()) {
      if (t.code != ERR_LABEL_MISSING) continue;
      std::string text = PlatSjisToUtf8(t.text);
      size_t arg = text.find("%s");
      if (arg != std::string::npos) text.replace(arg, 2, "SYSTEM_START");
      *err = text + " (no script has the label *SYSTEM_START, where the game starts)";
    }
    return -1;
  }
  KitProjectConfig cfg;
  if (KitProjectFromSettings(src.project, &cfg, err) != 0) return -1;

  std::set<std::string> names;
  for (const auto& asset : src.assets) names.insert(PackNormaliseName(asset.second.c_str()));
  for (const KitScriptLiteral& lit : facts.literals) {
    const FileParam* f = FileParamOf(lit);
    if (!f || lit.text.empty()) continue;
    std::vector<std::string> tried = Candidates(PackNormaliseName(lit.text.c_str()), f->kind, cfg);
    bool found = false;
    std::string shown;
    for (const std::string& c : tried) {
      found = found || names.count(c);
      shown += (shown.empty() ? "" : ", ") + PlatSjisToUtf8(c);
    }
    if (found) continue;
    warnings->push_back(PlatSjisToUtf8(src.scripts[lit.file].name) + ":" + std::to_string(lit.line) + ": " +
                        lit.command + " " + lit.param + "=\"" + PlatSjisToUtf8(lit.text) +
                        "\" names no file of the game (looked for " +
                        (shown.empty() ? "nothing: the project's order tries no extension" : shown) + ")");
  }

  for (const auto& [native, name] : src.assets) {
    if (!StrEndsWith(name.c_str(), ".png")) continue;
    std::vector<u8> bytes;
    if (PlatFileReadAllNative(native, &bytes) == 0 && KitPngHasTrns(bytes))
      warnings->push_back(PlatSjisToUtf8(name) +
                          ": a PNG with a transparency chunk (tRNS) is drawn opaque by the engine; use an RGBA PNG");
  }
  return 0;
}
