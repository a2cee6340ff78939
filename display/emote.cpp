// The animated-character bridge (see emote.h). The player library is looked for only when the
// game ships the driver file; every entry point the engine calls must be there, or the library is
// not used. Names go to the player in UTF-8, except variable names, which are the player's own.
#include "display/emote.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/state.h"
#include "core/sys.h"
#include "display/gpu.h"
#include "emote/emote_api.h"
#include "layer/image.h"
#include "layer/layer.h"
#include "platform/gpu.h"
#include "platform/platform.h"

EmoteBridgeTable g_EmoteBridge = {};
void* g_EmoteModule = nullptr;
void* g_EmoteDriver = nullptr;
i32 g_EmoteSaturation = 128;
std::string g_EmoteLibraryPath;

// The clock at the last hand-over of frame time.
static u32 s_LastHandOver = 0;
static bool s_HandedOver = false;
// The device state the player reads its transforms from. A size change of the main window sets
// it from the main thread while the frame thread may be drawing: it is written, and read by a
// draw, under g_EngineLock.
static EmoteDevice s_Device = {};

static const char kDriverFile[] = "emotedriver.dll";
// The entry points the engine calls.
static const u16 kCalled[] = {2,   3,   102, 119, 121, 202, 205, 208, 212, 214, 216, 218, 220, 222, 224, 226, 228,
                              229, 233, 234, 235, 236, 244, 245, 246, 247, 248, 251, 252, 253, 254, 255, 256};

template <class F>
static F Ord(u32 n) {
  return reinterpret_cast<F>(g_EmoteBridge.fn[n]);
}

static void Box(const char* utf8) {
  std::string t = PlatUtf8ToSjis(utf8);
  ErrMessageBoxF("", "%s", t.c_str());
}

// ---- Loading the library ---------------------------------------------------------------------

static std::string LibraryPath() {
  if (!g_EmoteLibraryPath.empty()) return g_EmoteLibraryPath;
  std::string exe = PlatExecutablePath();
  size_t slash = exe.rfind('/');
  return (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + ZEMOTE_LIBRARY_NAME;
}

static void ClearTable() { std::memset(&g_EmoteBridge, 0, sizeof g_EmoteBridge); }

void EmoteBridgeLoad() {
  // The driver is only probed: the game ships it among its files (a loose file counts).
  PackLookup lookup{};
  if (PackFindAnySource(&lookup, kDriverFile, 0) <= 0) return;
  void* lib = PlatLibraryOpen(LibraryPath());
  if (!lib) return;
  EmoteProcFn proc = reinterpret_cast<EmoteProcFn>(PlatLibrarySymbol(lib, ZEMOTE_PROC_SYMBOL));
  if (!proc) {
    PlatLibraryClose(lib);
    return;
  }
  ClearTable();
  for (u32 n = 1; n <= EMOTE_ORDINAL_MAX; n++)
    if (n <= 3 || (n >= 101 && n <= 121) || n >= 201) g_EmoteBridge.fn[n] = proc(n);
  for (u16 n : kCalled)
    if (!g_EmoteBridge.fn[n]) {
      // A library without every entry point the engine calls is not used.
      ClearTable();
      PlatLibraryClose(lib);
      return;
    }
  g_EmoteModule = lib;
  g_EmoteAvailable = 1;
  s_HandedOver = false;
  // The driver keeps only the device block, whose transforms the draws read, so it is made now,
  // before the frame thread can run a script that loads a character while the main thread is
  // still starting the device (which then finds it made). A rebuild makes it again.
  EmoteDriverInit();
}

// Every layer below node that still holds a player gives it up.
static void ReleaseTree(ObjNode* node) {
  for (ObjNode* c = node ? node->first_child : nullptr; c; c = c->next) {
    ReleaseTree(c);
    LayerRecord* rec = LayerOf(c);
    if (rec && rec->player) EmoteReleasePlayer(rec);
  }
}

void EmoteBridgeRelease() {
  if (!g_EmoteModule) return;
  if (PlatGpuDeviceExists()) PlatGpuBind();
  for (LayerRecord*& s : g_EmoteSlots)
    if (s) EmoteReleasePlayer(s);
  ReleaseTree(g_LayerRoot);
  if (g_EmoteDriver) Ord<EmoteFnD>(102)(g_EmoteDriver);
  g_EmoteDriver = nullptr;
  ClearTable();
  PlatLibraryClose(g_EmoteModule);
  g_EmoteModule = nullptr;
  g_EmoteAvailable = 0;
}

i32 EmoteDriverInit() {
  if (!g_EmoteDriver && g_EmoteBridge.fn[2]) {
    void* block[3] = {&s_Device, nullptr, nullptr};
    g_EmoteDriver = Ord<EmoteFn2>(2)(block);
  }
  return g_EmoteDriver ? 0 : 1;
}

// ---- Players -----------------------------------------------------------------------------------

static i32 SlotOf(const LayerRecord* rec) {
  for (i32 i = 0; i < EMOTE_SLOT_COUNT; i++)
    if (g_EmoteSlots[i] == rec) return i;
  return -1;
}

void EmoteSaturationFilter(u32* pixels, u32 bytes) {
  const i32 s = g_EmoteSaturation;
  if (!pixels || s == 128) return;
  u8* p = reinterpret_cast<u8*>(pixels);
  for (u32 i = 0; i + 4 <= bytes; i += 4, p += 4) {
    i32 c[3] = {p[0], p[1], p[2]};
    const i32 m = (c[0] + c[1] + c[2]) / 3;
    if (s < 128) {
      for (i32 j = 0; j < 3; j++) c[j] += ((m - c[j]) * (128 - s)) >> 7;
    } else {
      // The stretch away from the mean is limited so that no byte leaves 0..255; a byte at the
      // mean has no such limit (and does not move).
      i32 k = s - 128;
      for (i32 j = 0; j < 3; j++) {
        const i32 d = c[j] - m;
        if (d > 0 && c[j] + ((d * k) >> 7) > 255) k = std::min(k, (255 - c[j]) * 128 / d);
        if (d < 0 && c[j] + ((d * k) >> 7) < 0) k = std::min(k, -c[j] * 128 / d);
      }
      for (i32 j = 0; j < 3; j++) c[j] += ((c[j] - m) * k) >> 7;
    }
    for (i32 j = 0; j < 3; j++) p[j] = static_cast<u8>(c[j] < 0 ? 0 : (c[j] > 255 ? 255 : c[j]));
  }
}

i32 EmotePlayerCreate(LayerRecord* rec, const u8* bytes, u32 size) {
  if (rec->player) {
    Box("EmotePlayerがすでに読み込まれています.");
    return 1;
  }
  void* h = nullptr;
  Ord<EmoteFn119>(119)(g_EmoteDriver, bytes, size, &h);
  rec->player = h;
  if (!h) {
    Box("EmotePlayer読み込みに失敗しました.");
    return 1;
  }
  for (i32 i = 0; i < EMOTE_SLOT_COUNT; i++)
    if (!g_EmoteSlots[i]) {
      g_EmoteSlots[i] = rec;
      g_EmotePendingMs[i] = 0;
      return 0;
    }
  // The player stays with the layer until the layer lets it go.
  Box("EmotePlayer最大読込数をオーバーしました.");
  return 1;
}

void EmoteReleasePlayer(LayerRecord* rec) {
  if (!rec || !rec->player) return;
  for (i32 i = 0; i < EMOTE_SLOT_COUNT; i++)
    if (g_EmoteSlots[i] == rec) {
      g_EmoteSlots[i] = nullptr;
      g_EmotePendingMs[i] = 0;
    }
  if (g_EmoteBridge.fn[202]) Ord<EmoteFnH>(202)(rec->player);
  rec->player = nullptr;
  rec->draw_kind = LAYER_DRAW_SPRITE;
}

i32 EmoteLoadPsb(PackLookup* lookup, LayerRecord* rec, const char* resolved, const char* name) {
  // A 2 x 2 placeholder, which the compositor skips once the layer is drawn by its player.
  ImagePicture pic = {rec->pixels, rec->width, rec->height, 0};
  u8* px = ImageAllocPixels(pic.pixels, 2, 2, resolved);
  if (!px) return -1;
  std::memset(px, 0, 16);
  rec->pixels = px;
  rec->width = rec->height = 2;
  rec->has_alpha = 1;
  rec->changed = 1;
  if (!g_EmoteAvailable) return 0;
  EmoteReleasePlayer(rec);
  if (PackReadBySource(lookup, resolved) != 0) {
    std::free(lookup->data);
    lookup->data = nullptr;
    Box("[Load_PSB] Load Error.");
    return 1;
  }
  rec->draw_kind = LAYER_DRAW_CHARACTER;
  if (rec->source_name) StrCopySjis(rec->source_name, LAYER_NAME_SIZE, name);
  g_EmoteSaturation = rec->saturation;
  Ord<EmoteFn3>(3)(lookup->data, lookup->size, EmoteSaturationFilter);
  const i32 r = EmotePlayerCreate(rec, lookup->data, lookup->size);
  std::free(lookup->data);
  lookup->data = nullptr;
  if (r != 0) {
    std::string t = PlatUtf8ToSjis("E-mote 読込に失敗しました. = %s");
    ErrMessageBoxF("", t.c_str(), resolved);
    return -1;
  }
  Ord<EmoteFnH>(205)(rec->player);
  return 0;
}

// ---- Names -------------------------------------------------------------------------------------

// A Shift-JIS name as the player takes it: UTF-8 that fits its buffer; false for a name that is
// not whole Shift-JIS, has characters without a UTF-8 form, or is too long.
static bool ToPlayerName(const char* sjis, std::string* out) {
  if (!sjis) return false;
  const size_t n = std::strlen(sjis);
  if (n >= EMOTE_NAME_SIZE) return false;
  for (size_t i = 0; i < n; i++) {
    if (!SjisIsLead(static_cast<u8>(sjis[i]))) continue;
    const u8 t = static_cast<u8>(sjis[i + 1]);
    if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
    i++;
  }
  *out = PlatSjisToUtf8(sjis);
  return out->size() < EMOTE_NAME_SIZE && out->find("\xEF\xBF\xBD") == std::string::npos;
}

// The 512-byte heap name buffer of a layer, made on first use.
static char* NameBuffer(char** slot) {
  if (!*slot) *slot = static_cast<char*>(std::calloc(EMOTE_NAME_SIZE, 1));
  return *slot;
}

static void StoreName(char** slot, const char* name) {
  char* b = NameBuffer(slot);
  if (b) StrCopySjis(b, EMOTE_NAME_SIZE, name);
}

static bool HasName(const char* b) { return b && b[0]; }

static float Frames(float ms) { return ms * 0.06f; }

// ---- Setters -----------------------------------------------------------------------------------

static bool Playing(const LayerRecord* rec) { return rec && rec->player && g_EmoteAvailable; }

void EmoteSetValue(LayerRecord* rec, i32 which, float v) {
  if (!Playing(rec) || SlotOf(rec) < 0 || which < 1 || which > 3) return;
  v = std::isfinite(v) ? (v < 0 ? 0 : (v > 1 ? 1 : v)) : 0;
  static const u32 kOrd[3] = {214, 218, 216};
  float* field[3] = {&rec->player_value1, &rec->player_value2, &rec->player_value3};
  *field[which - 1] = v;
  Ord<EmoteFnHFloat>(kOrd[which - 1])(rec->player, v);
}

void EmoteSetFlag(LayerRecord* rec, u8 v) {
  if (!Playing(rec) || SlotOf(rec) < 0) return;
  rec->player_flag = v;
  Ord<EmoteFnHByte>(208)(rec->player, v);
}

void EmoteSetSwitch(LayerRecord* rec, i32 on) {
  if (Playing(rec)) Ord<EmoteFnHInt>(212)(rec->player, on ? 1 : 0);
}

void EmoteOptionOn(LayerRecord* rec, const float v[5]) {
  if (Playing(rec)) Ord<EmoteFnHFloat5>(235)(rec->player, v[0], v[1], v[2], v[3], v[4]);
}

void EmoteOptionOff(LayerRecord* rec) {
  if (Playing(rec)) Ord<EmoteFnH>(236)(rec->player);
}

void EmoteReset(LayerRecord* rec) {
  if (Playing(rec)) Ord<EmoteFnH>(253)(rec->player);
}

i32 EmoteMotionStop(LayerRecord* rec, const char* name) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name, &u)) return -1;
  Ord<EmoteFnHName0>(247)(rec->player, u.c_str());
  if (rec->player_motion) rec->player_motion[0] = 0;
  return 0;
}

i32 EmoteMotionStart(LayerRecord* rec, const char* name) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name, &u)) return -1;
  if (HasName(rec->player_motion)) {
    char old[EMOTE_NAME_SIZE];
    StrCopySjis(old, sizeof old, rec->player_motion);
    EmoteMotionStop(rec, old);
  }
  StoreName(&rec->player_motion, name);
  Ord<EmoteFnHStart>(245)(rec->player, u.c_str(), 1);
  return 0;
}

i32 EmoteTimelineStart(LayerRecord* rec, const char* name, float fade, float ms) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name, &u)) return -1;
  StoreName(&rec->player_timeline, name);
  rec->player_fade = fade;
  Ord<EmoteFnHStart>(245)(rec->player, u.c_str(), 3);
  Ord<EmoteFnHFade>(248)(rec->player, u.c_str(), fade, Frames(ms), 0.0f, 0);
  return 0;
}

i32 EmoteTimelineStop(LayerRecord* rec, const char* name, float ms) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name, &u)) return -1;
  Ord<EmoteFnHStopTl>(251)(rec->player, u.c_str(), Frames(ms), 0.0f);
  if (rec->player_timeline) rec->player_timeline[0] = 0;
  return 0;
}

i32 EmoteSetVariable(LayerRecord* rec, const char* name, float value, float ms) {
  if (!Playing(rec) || !name || std::strlen(name) >= EMOTE_NAME_SIZE) return -1;
  Ord<EmoteFnHSet>(233)(rec->player, name, value, Frames(ms), 0.0f);
  return 0;
}

i32 EmoteAskMotionsPlaying(LayerRecord* rec) { return Playing(rec) && Ord<EmoteFnHAsk>(252)(rec->player) == 1 ? 1 : 0; }

i32 EmoteAskTimelinePlaying(LayerRecord* rec, const char* name) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name ? name : "", &u)) return 0;
  return Ord<EmoteFnHAskName>(246)(rec->player, u.c_str()) == 1 ? 1 : 0;
}

i32 EmoteAskMotionPlaying(LayerRecord* rec, const char* name) {
  std::string u;
  if (!Playing(rec) || !ToPlayerName(name, &u)) return 0;
  return Ord<EmoteFnHAskName>(244)(rec->player, u.c_str()) == 1 ? 1 : 0;
}

// ---- The variable dump ------------------------------------------------------------------------------

static const char kSep[] = "\x81\x92";

size_t EmoteDumpVariables(LayerRecord* rec, char* out, size_t size) {
  if (!out || size == 0) return 0;
  out[0] = 0;
  if (!Playing(rec)) return 0;
  size_t len = 0;
  const u32 count = Ord<EmoteFnHCount>(228)(rec->player);
  for (u32 i = 0; i < count; i++) {
    const char* name = Ord<EmoteFnHName>(229)(rec->player, i);
    if (!name || !name[0]) continue;
    // The name is the player's own, so it goes back as it came.
    const float v = Ord<EmoteFnHGet>(234)(rec->player, name);
    // Truncated toward zero: 0.7 (0.699999988 as a float) is written as 699.
    const double scaled = std::isfinite(v) ? std::trunc(static_cast<double>(v) * 1000.0) : 0.0;
    const long long n =
        scaled > 2e12 ? 2000000000000LL : (scaled < -2e12 ? -2000000000000LL : static_cast<long long>(scaled));
    char num[32];
    std::snprintf(num, sizeof num, "%lld", n);
    const size_t need = std::strlen(name) + 2 + std::strlen(num) + 2;
    if (len + need + 1 > size) break;  // only whole pairs
    const size_t name_len = std::strlen(name), num_len = std::strlen(num);
    std::memcpy(out + len, name, name_len);
    std::memcpy(out + len + name_len, kSep, 2);
    std::memcpy(out + len + name_len + 2, num, num_len);
    std::memcpy(out + len + name_len + 2 + num_len, kSep, 2);
    len += need;
    out[len] = 0;
  }
  return len;
}

i32 EmoteParseVariables(const char* text, void (*fn)(void* ctx, const char* name, float value), void* ctx) {
  if (!text) return 0;
  std::string field, name;
  bool have_name = false;
  i32 sent = 0;
  for (size_t i = 0; text[i];) {
    const u8 c = static_cast<u8>(text[i]);
    if (c == 0x81 && static_cast<u8>(text[i + 1]) == 0x92) {
      i += 2;
      if (!have_name) {
        name = field;
        have_name = true;
      } else {
        // A value: an optional sign and decimal digits, nothing else.
        const char* s = field.c_str();
        char* end = nullptr;
        const long long v = std::strtoll(s, &end, 10);
        if (!name.empty() && end != s && *end == 0 && name.size() < EMOTE_NAME_SIZE) {
          fn(ctx, name.c_str(), static_cast<float>(static_cast<double>(v) / 1000.0));
          sent++;
        }
        have_name = false;
      }
      field.clear();
      continue;
    }
    if (SjisIsLead(c)) {
      if (!text[i + 1]) break;  // a cut character ends the text
      field += text[i];
      field += text[i + 1];
      i += 2;
    } else {
      field += text[i];
      i++;
    }
  }
  return sent;
}

struct ApplyCtx {
  LayerRecord* rec;
  float ms;
};

i32 EmoteApplyVariables(LayerRecord* rec, const char* text, float ms) {
  if (!Playing(rec)) return 0;
  ApplyCtx ctx = {rec, ms};
  return EmoteParseVariables(
      text,
      [](void* c, const char* name, float value) {
        ApplyCtx* a = static_cast<ApplyCtx*>(c);
        EmoteSetVariable(a->rec, name, value, a->ms);
      },
      &ctx);
}

// ---- Time ----------------------------------------------------------------------------------------

void EmoteAdvance(LayerRecord* rec, float ms) {
  if (Playing(rec)) Ord<EmoteFnHFloat>(254)(rec->player, Frames(ms));
}

void EmoteAdvanceAll(u32 now_ms) {
  if (!g_EmoteAvailable) return;
  const u32 elapsed_ms = s_HandedOver ? now_ms - s_LastHandOver : 0;
  s_LastHandOver = now_ms;
  s_HandedOver = true;
  for (i32 i = 0; i < EMOTE_SLOT_COUNT; i++) {
    LayerRecord* rec = g_EmoteSlots[i];
    if (!rec || !rec->player) continue;
    if (g_EmotePendingMs[i] != 0) {
      EmoteAdvance(rec, g_EmotePendingMs[i]);
      g_EmotePendingMs[i] = 0;
    }
  }
  const float ms = static_cast<float>(elapsed_ms) > 10000.0f ? 16.666f : static_cast<float>(elapsed_ms);
  for (i32 i = 0; i < EMOTE_SLOT_COUNT; i++)
    if (g_EmoteSlots[i] && g_EmoteSlots[i]->player) g_EmotePendingMs[i] = ms;
}

i32 EmoteAnyBusy() {
  if (!g_EmoteAvailable) return 0;
  for (LayerRecord* rec : g_EmoteSlots) {
    if (!rec || !rec->player) continue;
    if (Ord<EmoteFnHAsk>(255)(rec->player) == 1 || Ord<EmoteFnHAskName>(246)(rec->player, "") == 1) return 1;
  }
  return 0;
}

// ---- Transforms ----------------------------------------------------------------------------------

static void Identity(float* m) {
  std::memset(m, 0, 16 * sizeof(float));
  m[0] = m[5] = m[10] = m[15] = 1;
}

void EmoteSetTransforms(i32 w, i32 h, float offset_x, float offset_y) {
  // World: the offset from the target's centre (a rotation of 0 about z). View: a look-at with
  // the up vector (0, -1, 0) whose x axis is mirrored, so y points up. Projection: the target's
  // height across two units, the width by the reciprocal of the width-to-height ratio.
  const float hh = h > 0 ? static_cast<float>(h) : 1.0f;
  float ratio = h > 0 ? static_cast<float>(w) / hh : 0.0f;
  if (ratio == 0) ratio = 1;
  Identity(s_Device.world);
  s_Device.world[12] = offset_x;
  s_Device.world[13] = offset_y;
  Identity(s_Device.view);
  s_Device.view[5] = -1;
  Identity(s_Device.projection);
  s_Device.projection[0] = 2.0f / hh / ratio;
  s_Device.projection[5] = -2.0f / hh;
}

void EmoteUpdateTransforms() {
  EngineLockGuard lock;
  EmoteSetTransforms(g_D3dBackBufferSize[1], g_D3dBackBufferSize[1], 0, 0);
}

// ---- Device rebuild --------------------------------------------------------------------------------

void EmoteSaveAndReleasePlayers() {
  for (LayerRecord* rec : g_EmoteSlots) {
    if (!rec || !rec->player) continue;
    std::free(rec->player_vars);
    rec->player_vars = static_cast<char*>(std::malloc(EMOTE_DUMP_SIZE));
    if (rec->player_vars) EmoteDumpVariables(rec, rec->player_vars, EMOTE_DUMP_SIZE);
    // Names of clips that have ended are not started again. (A motion is asked about as a
    // motion, a timeline as a timeline.)
    if (HasName(rec->player_motion) && !EmoteAskMotionPlaying(rec, rec->player_motion)) rec->player_motion[0] = 0;
    if (HasName(rec->player_timeline) && !EmoteAskTimelinePlaying(rec, rec->player_timeline))
      rec->player_timeline[0] = 0;
  }
  for (LayerRecord*& s : g_EmoteSlots)
    if (s) EmoteReleasePlayer(s);
  // A player that found no slot goes too: it would outlive the driver and the device it was
  // made with. Its layer makes a new one when it is loaded again.
  ReleaseTree(g_LayerRoot);
  if (g_EmoteDriver) Ord<EmoteFnD>(102)(g_EmoteDriver);
  g_EmoteDriver = nullptr;
}

void EmoteRestorePlayer(LayerRecord* rec) {
  if (!Playing(rec)) return;
  EmoteSetValue(rec, 1, rec->player_value1);
  EmoteSetValue(rec, 2, rec->player_value2);
  EmoteSetValue(rec, 3, rec->player_value3);
  EmoteSetFlag(rec, rec->player_flag);
  if (rec->player_vars) {
    EmoteApplyVariables(rec, rec->player_vars, 0);
    std::free(rec->player_vars);
    rec->player_vars = nullptr;
  }
  char name[EMOTE_NAME_SIZE];
  if (HasName(rec->player_motion)) {
    StrCopySjis(name, sizeof name, rec->player_motion);
    rec->player_motion[0] = 0;
    EmoteMotionStart(rec, name);
  }
  if (HasName(rec->player_timeline)) {
    std::string u;
    StrCopySjis(name, sizeof name, rec->player_timeline);
    const float fade = rec->player_fade;
    if (ToPlayerName(name, &u)) {
      Ord<EmoteFnHStopTl>(251)(rec->player, u.c_str(), 0.0f, 0.0f);
      Ord<EmoteFnHStart>(245)(rec->player, u.c_str(), 3);
      Ord<EmoteFnHFade>(248)(rec->player, u.c_str(), 0.0f, 0.0f, 0.0f, 0);
      Ord<EmoteFnHFade>(248)(rec->player, u.c_str(), fade, 0.0f, 0.0f, 0);
    }
  }
}

// ---- Drawing -------------------------------------------------------------------------------------

void EmoteDrawPlayer(LayerRecord* rec, PlatGpuTexture* target) {
  if (!Playing(rec) || !g_EmoteDriver) return;
  void* h = rec->player;
  // The tone is sent every time, the neutral grey included, so a tone set back to neutral is
  // neutral again (the player takes 0x80 as 1.0).
  Ord<EmoteFnHColour>(226)(h, (rec->tone & 0xFFFFFFu) << 8 | 0xFFu, 0.0f, 0.0f);
  const float g2 = static_cast<float>(rec->gpu_transform[2]), g3 = static_cast<float>(rec->gpu_transform[3]);
  Ord<EmoteFnHFloat4>(220)(h, -g2 / 200.0f, g3 / 200.0f, 0.0f, 0.0f);
  Ord<EmoteFnHFloat3>(222)(h, static_cast<float>(rec->scale_x) / 10000.0f, 0.0f, 0.0f);
  Ord<EmoteFnHFloat3>(224)(h, -(rec->rot_z / 100.0f) * 3.14159265f / 180.0f, 0.0f, 0.0f);
  const i32 bw = g_D3dBackBufferSize[0], bh = g_D3dBackBufferSize[1];
  EngineLockGuard lock;  // until the draw has read the transforms
  EmoteSetTransforms(bw, bh, static_cast<float>(rec->x100) / 100.0f - g2 / 200.0f - static_cast<float>(bw) / 2.0f,
                     static_cast<float>(rec->y100) / 100.0f - g3 / 200.0f - static_cast<float>(bh) / 2.0f);
  const i32 slot = SlotOf(rec);
  if (slot >= 0 && g_EmotePendingMs[slot] != 0) {
    EmoteAdvance(rec, g_EmotePendingMs[slot]);
    g_EmotePendingMs[slot] = 0;
  }
  Ord<EmoteFn121>(121)(g_EmoteDriver, PlatGpuTextureName(target));
  Ord<EmoteFnH>(256)(h);
}
