// Movie playback and the Flash host (see movie.h). Both movie modes drive the one player of
// platform/movie.h; what differs is kept as the engine keeps it: the graph mode takes its place
// from the output size and offset and releases the player when the movie ends, the MCI mode
// fits the game into the display in fit mode 2 and keeps its device (the player) open until
// command 72, while the frame loop pauses as long as it is open.
#include "sound/movie.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/file.h"
#include "platform/flash.h"
#include "platform/movie.h"
#include "platform/present.h"
#include "script/arg.h"
#include "script/cmdargs.h"
#include "script/var.h"

std::atomic<u8> g_MoviePlaying{0};
std::atomic<u32> g_MovieMciOpen{0};
MovieRect g_MovieRect = {0, 0, 0, 0};
i32 g_MovieVolume = 256;
char g_MovieFileName[MOVIE_NAME_SIZE];
MovieRect g_FlashRect = {0, 0, 0, 0};

// Under g_EngineLock: the player of either mode, and the picture last shown.
static PlatMovie* s_Graph = nullptr;        // graph mode
static PlatMovie* s_Mci = nullptr;          // MCI mode, open until command 72
static MovieRect s_MciRect = {0, 0, 0, 0};  // the MCI movie's rectangle, game pixels
static std::vector<u8> s_Picture;
static i32 s_PictureW = 0, s_PictureH = 0;
static u64 s_PictureSerial = 0;

// The Flash host: one at a time.
static const PlatFlashApi* s_Flash = nullptr;
static bool s_FlashLoadTried = false;
static void* s_FlashControl = nullptr;
static i32 s_FlashControlCount = 0;
static u8 s_FlashOpen = 0;
static u8 s_FlashWindow = 0;  // the host area exists
static i32 s_FlashTotalFrames = 0;
static i32 s_FlashOpenArg = 0;
static char s_FlashFileName[MOVIE_NAME_SIZE];

static std::string Sjis(const char* utf8) { return PlatUtf8ToSjis(utf8); }

static WindowObject* MainWindow() { return g_WindowObjects[0]; }

static SizeI32 GameSize() {
  WindowObject* w = MainWindow();
  return w ? SizeI32{w->width, w->height} : SizeI32{0, 0};
}

// ---- Arithmetic -----------------------------------------------------------------------------------

i32 MovieGraphVolumeMb(i32 volume) {
  volume = std::clamp(volume, 0, 256);
  if (volume == 0) return -10000;
  double mb = 4000.0 * std::log10(volume / 256.0);
  return std::clamp(static_cast<i32>(mb), -10000, 0);
}

i32 MovieMciVolumeValue(i32 volume) { return std::clamp(volume, 0, 256) * 1000 / 256; }

// The mixer attenuation of the MCI volume value (0..1000, linear).
static i32 MciVolumeMb(i32 value) {
  if (value <= 0) return -10000;
  return std::clamp(static_cast<i32>(2000.0 * std::log10(value / 1000.0)), -10000, 0);
}

MovieRect MovieScreenRect(const MovieRect& r, bool mci, i32 fit_mode, SizeI32 game, SizeI32 display, SizeI32 output,
                          PointI32 offset) {
  i64 ow = output.width, oh = output.height, ox = offset.x, oy = offset.y;
  if (mci && fit_mode == 2 && game.width > 0 && game.height > 0) {
    const i64 hf = i64{display.width} * game.height / game.width;
    if (display.height <= hf) {
      oh = display.height;
      ow = i64{display.height} * game.width / game.height;
    } else {
      ow = display.width;
      oh = hf;
    }
    ox = (display.width - ow) / 2;
    oy = (display.height - oh) / 2;
  }
  i64 w = r.w, h = r.h;
  if (game.width != 0) w = i64{r.w} * ow / game.width;
  if (game.height != 0) h = i64{r.h} * oh / game.height;
  auto cut = [](i64 v) { return static_cast<i32>(std::clamp<i64>(v, INT32_MIN, INT32_MAX)); };
  return MovieRect{cut(ox + r.x), cut(oy + r.y), cut(w), cut(h)};
}

i32 MovieMpegType(const u8* head, size_t size) {
  if (size < 5 || head[0] != 0 || head[1] != 0 || head[2] != 1 || head[3] != 0xBA) return 255;
  if ((head[4] & 0xF0) == 0x20) return 1;
  if ((head[4] & 0xC0) == 0x40) return 2;
  return 255;
}

// ---- Names -------------------------------------------------------------------------------------------

// A script's file name as the engine keeps it: lower-cased, "/" turned into "\".
static void NormaliseName(char* dst, size_t size, const char* src) {
  StrCopySjis(dst, size, src);
  StrLowerSjis(dst);
  StrReplaceCharSjis(dst, '/', '\\');
}

// Characters of a Shift-JIS name, a double-byte one counting as one.
static size_t NameChars(const char* s) {
  size_t n = 0;
  for (; *s; n++) s += SjisIsLead(static_cast<u8>(*s)) && s[1] ? 2 : 1;
  return n;
}

// 0 when the file opens for reading, else error 104060 (fatal) naming it and -1.
static i32 CheckFile(const char* name) {
  PlatFile* f = PlatFileOpenRead(name);
  if (!f) {
    ErrRaiseAtScriptF(ERR_FILE_MISSING, 1, name);
    return -1;
  }
  PlatFileClose(f);
  return 0;
}

// ---- The player ----------------------------------------------------------------------------------------

static void ForgetPicture() {
  s_Picture.clear();
  s_PictureW = s_PictureH = 0;
  s_PictureSerial = 0;
}

// Opens and starts the player for the kept file; null when it cannot play (a name too long for
// the player is refused, never cut).
static PlatMovie* StartPlayer(u32 end_code, i32 volume_mb) {
  if (NameChars(g_MovieFileName) > MOVIE_NAME_CHARS) return nullptr;
  std::string path = PlatFileResolve(g_MovieFileName);
  PlatMovie* m = PlatMovieOpen(path.c_str());
  if (!m) return nullptr;
  PlatMovieSetVolume(m, volume_mb);
  PlatMovieSetEndMessage(m, end_code, 1);
  PlatMoviePlay(m, PlatClockIsFixed());
  ForgetPicture();
  return m;
}

void MovieGraphRelease() {
  PlatMovie* m;
  {
    EngineLockGuard lock;
    m = s_Graph;
    s_Graph = nullptr;
  }
  PlatMovieClose(m);  // joins the player's thread and removes its voice
}

void MovieMciClose() {
  PlatMovie* m;
  {
    EngineLockGuard lock;
    m = s_Mci;
    s_Mci = nullptr;
  }
  PlatMovieClose(m);
}

void MovieGraphDrainEvents() {
  bool ended;
  {
    EngineLockGuard lock;
    ended = s_Graph && PlatMovieEnded(s_Graph);
  }
  if (!ended) return;
  MovieGraphRelease();
  g_MoviePlaying = 0;
}

// The player of the running mode.
static PlatMovie* ActivePlayer() { return g_MovieUseDirectShow == 1 ? s_Graph : s_Mci; }

void MovieGraphLayout() {
  // The picture is placed anew from g_MovieRect at every frame it is shown.
  EngineLockGuard lock;
  s_PictureSerial = 0;
}

i32 MovieMciRect(WinRect* out) {
  EngineLockGuard lock;
  if (!s_Mci) return -1;
  *out = WinRect{s_MciRect.x, s_MciRect.y, s_MciRect.x + s_MciRect.w, s_MciRect.y + s_MciRect.h};
  return 0;
}

void MovieMciPut(const WinRect*) {
  EngineLockGuard lock;
  s_PictureSerial = 0;  // shown again at the new place
}

// The place of the movie's picture in the client area.
static MovieRect CurrentScreenRect(bool mci) {
  return MovieScreenRect(mci ? s_MciRect : g_MovieRect, mci, g_FitMode, GameSize(), g_DisplaySize.load(),
                         g_OutputSize.load(), g_OutputOffset.load());
}

void MovieShowFrame(u32 elapsed_ms) {
  WindowObject* w = MainWindow();
  EngineLockGuard lock;
  PlatMovie* m = ActivePlayer();
  if (!m) return;
  if (PlatClockIsFixed()) PlatMovieAdvance(m, elapsed_ms);
  // Shown when it is new, or placed anew (a layout forgets the serial); an erased window gets
  // the presented copy back from the platform.
  const u64 before = s_PictureSerial;
  if (!PlatMovieTakeFrame(m, &s_Picture, &s_PictureW, &s_PictureH, &s_PictureSerial) && before != 0) return;
  if (!w || !w->handle || s_Picture.empty()) return;
  // A black client area under the picture: the movie covers only its rectangle.
  const SizeI32 client = g_DisplaySize.load();
  static const u8 kBlack[4] = {0, 0, 0, 255};
  if (client.width > 0 && client.height > 0)
    PlatPresent(w->handle, kBlack, 1, 1, 0, 0, client.width, client.height, 0, 0, 1, 1);
  const MovieRect r = CurrentScreenRect(g_MovieUseDirectShow != 1);
  if (r.w > 0 && r.h > 0)
    PlatPresent(w->handle, s_Picture.data(), s_PictureW, s_PictureH, r.x, r.y, r.w, r.h, 0, 0, s_PictureW, s_PictureH);
}

bool MovieShownPicture(std::vector<u8>* out, i32* width, i32* height) {
  EngineLockGuard lock;
  const SizeI32 client = g_DisplaySize.load();
  if (s_Picture.empty() || client.width <= 0 || client.height <= 0) return false;
  out->assign(static_cast<size_t>(client.width) * static_cast<size_t>(client.height) * 4, 0);
  for (size_t i = 3; i < out->size(); i += 4) (*out)[i] = 255;
  const MovieRect r = CurrentScreenRect(g_MovieUseDirectShow != 1);
  for (i64 y = std::max(0, r.y); y < std::min<i64>(i64{r.y} + r.h, client.height); y++) {
    const i64 sy = (y - r.y) * s_PictureH / r.h;
    for (i64 x = std::max(0, r.x); x < std::min<i64>(i64{r.x} + r.w, client.width); x++) {
      const i64 sx = (x - r.x) * s_PictureW / r.w;
      std::memcpy(out->data() + (y * client.width + x) * 4, s_Picture.data() + (sy * s_PictureW + sx) * 4, 4);
    }
  }
  *width = client.width;
  *height = client.height;
  return true;
}

// Paints the movie's rectangle black in the client area (after a stop).
static void MoviePaintBlack() {
  WindowObject* w = MainWindow();
  if (!w || !w->handle) return;
  const MovieRect r = CurrentScreenRect(g_MovieUseDirectShow != 1);
  static const u8 kBlack[4] = {0, 0, 0, 255};
  if (r.w > 0 && r.h > 0) PlatPresent(w->handle, kBlack, 1, 1, r.x, r.y, r.w, r.h, 0, 0, 1, 1);
}

// ---- Command 71 -----------------------------------------------------------------------------------------

static void ApplyRect(const CmdArgRecord* a, MovieRect* r) {
  i32* fields[4] = {&r->x, &r->y, &r->w, &r->h};
  for (i32 p = 2; p <= 5; p++)
    if (CmdArgGiven(a, p))
      *fields[p - 2] = static_cast<i32>(ArgApplyOpInt64(CmdArgOp(a, p), *fields[p - 2], CmdArgInt(a, p)));
}

// Parameter 0 of commands 71 and 23: the file's name kept normalised, the rectangle's parts not
// given taken from the main window (0, 0, its game size). 0, or -1 after error 104060.
static i32 TakeFile(const CmdArgRecord* a, MovieRect* r, char* kept, size_t kept_size) {
  char name[MOVIE_NAME_SIZE];
  NormaliseName(name, sizeof name, CmdArgStr(a, 0));
  const SizeI32 game = GameSize();
  if (!CmdArgGiven(a, 2)) r->x = 0;
  if (!CmdArgGiven(a, 3)) r->y = 0;
  if (!CmdArgGiven(a, 4)) r->w = game.width;
  if (!CmdArgGiven(a, 5)) r->h = game.height;
  if (CheckFile(name) != 0) return -1;
  StrCopySjis(kept, kept_size, name);
  return 0;
}

static void SetVolume(i32 volume) {
  EngineLockGuard lock;
  if (g_MovieUseDirectShow == 1) PlatMovieSetVolume(s_Graph, MovieGraphVolumeMb(volume));
  else PlatMovieSetVolume(s_Mci, MciVolumeMb(MovieMciVolumeValue(volume)));
}

static i32 StartGraph() {
  if (!g_MovieFileName[0]) {
    ErrRaiseAtScriptF(ERR_MOVIE_NO_NAME, 0);
    return -1;
  }
  MovieGraphRelease();  // a new start releases the previous movie completely
  PlatMovie* m = StartPlayer(WIN_MSG_GRAPH_EVENT, MovieGraphVolumeMb(g_MovieVolume));
  if (!m) {
    ErrRaiseAtScriptF(ERR_MOVIE_OPEN, 0);
    return -1;
  }
  {
    EngineLockGuard lock;
    s_Graph = m;
  }
  g_MoviePlaying = 1;
  return 0;
}

static i32 StartMci() {
  MovieMciClose();
  PlatMovie* m = StartPlayer(WIN_MSG_MCI_NOTIFY, MciVolumeMb(MovieMciVolumeValue(g_MovieVolume)));
  {
    EngineLockGuard lock;
    s_Mci = m;
    s_MciRect = g_MovieRect;
  }
  g_MovieMciOpen = m ? 1 : 0;
  // A device that did not open never notifies: the movie is over before it began.
  g_MoviePlaying = m ? 1 : 0;
  return 0;
}

i32 CmdMoviePlay() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_MOVIE_PLAY, &a) != 0) return -1;
  ApplyRect(&a, &g_MovieRect);
  if (CmdArgGiven(&a, 0)) {
    if (TakeFile(&a, &g_MovieRect, g_MovieFileName, sizeof g_MovieFileName) != 0) return -1;
    g_MoviePlaying = 0;
  }
  if (CmdArgGiven(&a, 6)) {
    g_MovieVolume = static_cast<i32>(std::clamp<i64>(CmdArgInt(&a, 6), 0, 256));
    SetVolume(g_MovieVolume);
  }
  if (CmdArgGiven(&a, 1)) {
    const i64 play = CmdArgInt(&a, 1);
    if (play == 1) return g_MovieUseDirectShow == 1 ? StartGraph() : StartMci();
    if (play == 0) {
      EngineLockGuard lock;
      PlatMoviePause(ActivePlayer());
      g_MoviePlaying = 0;
    }
  }
  return 0;
}

i32 CmdMovieStop() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_MOVIE_STOP, &a) != 0) return -1;
  if (g_MovieUseDirectShow == 1) MovieGraphRelease();
  else MovieMciClose();
  // The black is painted where the movie was, before the rectangle is forgotten with the name.
  MoviePaintBlack();
  g_MovieFileName[0] = '\0';
  g_MoviePlaying = 0;
  g_MovieVolume = 256;
  g_MovieMciOpen = 0;
  EngineLockGuard lock;
  ForgetPicture();
  return 0;
}

// Stores a number into the result element (a float variable gets it converted).
static void StoreResult(const CmdArgRecord* a, i32 param, i64 value) {
  if (CmdArgGiven(a, param)) VarSetNumElement(a->var_id[param], a->var_elem[param], value);
}

i32 CmdMovieQuery() {
  enum { RESULT = 7 };
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_MOVIE_QUERY, &a) != 0) return -1;
  for (i32 sel = 0; sel <= 6; sel++) {
    if (!CmdArgGiven(&a, sel)) continue;
    i64 v = 0;
    switch (sel) {
      case 0: v = g_MoviePlaying.load(); break;
      case 1: v = g_MovieRect.x; break;
      case 2: v = g_MovieRect.y; break;
      case 3: v = g_MovieRect.w; break;
      case 4: v = g_MovieRect.h; break;
      case 5: v = g_MovieVolume; break;
      default: {
        char name[MOVIE_NAME_SIZE];
        NormaliseName(name, sizeof name, CmdArgStr(&a, 6));
        std::string path = std::string(g_WorkFolder) + name;
        PlatFile* f = PlatFileOpenRead(path.c_str());
        if (!f) break;
        u8 head[5] = {};
        size_t n = PlatFileRead(f, head, sizeof head);
        PlatFileClose(f);
        v = MovieMpegType(head, n);
        break;
      }
    }
    StoreResult(&a, RESULT, v);
    return 0;
  }
  return 0;
}

i32 CmdMovieNoOp() {
  CmdArgRecord a;
  return ArgDecodeRecord(CMD_SLOT_MOVIE_NOOP, &a) != 0 ? -1 : 0;
}

// ---- Flash host -------------------------------------------------------------------------------------------

static MovieRect FlashScreenRect() {
  return MovieScreenRect(g_FlashRect, false, 0, GameSize(), g_DisplaySize.load(), g_OutputSize.load(),
                         g_OutputOffset.load());
}

void FlashReleaseControl() {
  if (s_FlashControlCount > 0 && s_Flash && s_FlashControl) s_Flash->release(s_FlashControl);
  if (s_FlashControlCount > 0) s_FlashControlCount--;
  s_FlashControl = nullptr;
}

// The player in the host area with the movie loaded and playing: its total frames, 0 when any
// step fails.
static i32 FlashHostCreate(const MovieRect& r, const std::string& path) {
  if (!s_FlashLoadTried) {
    s_FlashLoadTried = true;
    s_Flash = PlatFlashLoad();
    if (!s_Flash) ErrMessageBoxF("", "%s", Sjis("ATL.DLLが見つかりませんでした。").c_str());
  }
  if (!s_Flash) return 0;
  void* c = s_Flash->create(r.x, r.y, r.w, r.h);
  if (!c) return 0;
  s_FlashControl = c;
  s_FlashControlCount++;
  std::string utf8 = PlatSjisToUtf8(path);
  if (s_Flash->load_movie(c, utf8.c_str()) != 0) return 0;
  i32 total = s_Flash->total_frames(c);
  if (s_Flash->play(c) != 0) return 0;
  return total;
}

i32 CmdFlashOpen() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_FLASH_OPEN, &a) != 0) return -1;
  ApplyRect(&a, &g_FlashRect);
  if (CmdArgGiven(&a, 6)) s_FlashOpenArg = static_cast<i32>(CmdArgInt(&a, 6));
  if (CmdArgGiven(&a, 0)) {
    if (TakeFile(&a, &g_FlashRect, s_FlashFileName, sizeof s_FlashFileName) != 0) return -1;
    s_FlashOpen = 0;
  }
  if (CmdArgInt(&a, 1) != 1) return 0;
  const MovieRect r = FlashScreenRect();
  // The host area is a part of the main window that the player draws into (black until it does),
  // not a window of its own, so making it cannot fail here.
  WindowObject* w = MainWindow();
  FlashReleaseControl();
  s_FlashWindow = 1;
  static const u8 kBlack[4] = {0, 0, 0, 255};
  if (w && w->handle && r.w > 0 && r.h > 0) PlatPresent(w->handle, kBlack, 1, 1, r.x, r.y, r.w, r.h, 0, 0, 1, 1);
  std::string path = std::string(g_WorkFolder) + s_FlashFileName;
  // A path too long for the player is refused, never cut.
  s_FlashTotalFrames = NameChars(path.c_str()) > FLASH_NAME_CHARS ? 0 : FlashHostCreate(r, path);
  s_FlashOpen = 1;
  return 0;
}

i32 CmdFlashClose() {
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_FLASH_CLOSE, &a) != 0) return -1;
  FlashReleaseControl();
  s_FlashWindow = 0;
  s_FlashFileName[0] = '\0';
  s_FlashOpen = 0;
  s_FlashOpenArg = 0;
  s_FlashTotalFrames = 0;
  return 0;
}

i32 CmdFlashQuery() {
  enum { RESULT = 9 };
  CmdArgRecord a;
  if (ArgDecodeRecord(CMD_SLOT_FLASH_QUERY, &a) != 0) return -1;
  void* c = s_FlashControlCount > 0 ? s_FlashControl : nullptr;
  for (i32 sel = 0; sel <= 8; sel++) {
    if (!CmdArgGiven(&a, sel)) continue;
    i64 v = 0;
    switch (sel) {
      case 0: v = c && s_Flash->is_playing(c) ? 1 : 0; break;
      case 1: {
        const char* name = "zephraa";
        i64 found = 0;
        if (c && s_Flash->get_variable(c, name, &found) == 0) {
          v = found;
        } else {
          ErrMessageBoxF("",
                         Sjis("変数 %s "
                              "が見つかりませんでした。\r\nルートの変数になっているか、また整数が格納されているか、\r\n"
                              "確認してください。")
                             .c_str(),
                         name);
        }
        break;
      }
      case 2: v = g_FlashRect.x; break;
      case 3: v = g_FlashRect.y; break;
      case 4: v = g_FlashRect.w; break;
      case 5: v = g_FlashRect.h; break;
      case 6: v = s_FlashOpen && c ? s_Flash->current_frame(c) : 0; break;
      case 7: v = s_FlashOpen ? s_FlashOpenArg : 0; break;
      default: v = s_FlashOpen ? s_FlashTotalFrames : 0; break;
    }
    StoreResult(&a, RESULT, v);
    return 0;
  }
  return 0;
}

i32 FlashHostRect(WinRect* out) {
  if (!s_FlashWindow) return -1;
  *out = WinRect{g_FlashRect.x, g_FlashRect.y, g_FlashRect.x + g_FlashRect.w, g_FlashRect.y + g_FlashRect.h};
  return 0;
}

void FlashHostMove(const WinRect* r) {
  if (s_FlashControlCount > 0 && s_Flash && s_FlashControl)
    s_Flash->move(s_FlashControl, r->left, r->top, r->right - r->left, r->bottom - r->top);
}

// ---- Shutdown and tests ---------------------------------------------------------------------------------------

void MovieShutdown() {
  MovieGraphRelease();
  MovieMciClose();
  FlashReleaseControl();
  s_FlashWindow = 0;
}

void MovieReset() {
  MovieShutdown();
  g_MoviePlaying = 0;
  g_MovieMciOpen = 0;
  g_MovieRect = {0, 0, 0, 0};
  g_MovieVolume = 256;
  g_MovieFileName[0] = '\0';
  g_FlashRect = {0, 0, 0, 0};
  s_MciRect = {0, 0, 0, 0};
  s_Flash = nullptr;
  s_FlashLoadTried = false;
  s_FlashControlCount = 0;
  s_FlashOpen = 0;
  s_FlashTotalFrames = 0;
  s_FlashOpenArg = 0;
  s_FlashFileName[0] = '\0';
  EngineLockGuard lock;
  ForgetPicture();
}
