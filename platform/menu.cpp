// Own-drawn menus (see menu.h). Menus live in a handle table under s_MenuLock, so a destroyed or
// made-up handle is only ever "not a menu". An open menu is a stack of drop-down levels, each an
// SDL popup-menu window at screen coordinates; the stack runs a modal loop on the main thread
// (PlatModalWait), taking keys from whichever window has them, as TrackPopupMenu does.
#include "platform/menu.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/ui.h"
#include "platform/video.h"
#include "platform/video_internal.h"

namespace {

struct MenuRec {
  std::vector<PlatMenuItem> items;
};

enum { MENU_HANDLE_MAX = 1 << 20 };

std::mutex s_MenuLock;
std::unordered_map<u32, MenuRec> s_Menus;
u32 s_NextHandle = 1;

}  // namespace

// ---- The handle table --------------------------------------------------------------------------

u32 PlatMenuCreate() {
  std::lock_guard<std::mutex> g(s_MenuLock);
  if (s_Menus.size() >= MENU_HANDLE_MAX) return 0;
  while (s_NextHandle == 0 || s_Menus.count(s_NextHandle)) s_NextHandle++;
  u32 h = s_NextHandle++;
  s_Menus.emplace(h, MenuRec{});
  return h;
}

bool PlatMenuDestroy(u32 menu) {
  std::vector<u32> gone;
  {
    std::lock_guard<std::mutex> g(s_MenuLock);
    std::vector<u32> todo{menu};
    while (!todo.empty()) {
      u32 h = todo.back();
      todo.pop_back();
      auto it = s_Menus.find(h);
      if (it == s_Menus.end()) continue;  // gone already (or a submenu listed twice)
      for (const PlatMenuItem& i : it->second.items)
        if (i.submenu) todo.push_back(i.submenu);
      s_Menus.erase(it);
      gone.push_back(h);
    }
  }
  for (u32 h : gone) PlatWindowForgetMenuBar(h);
  return !gone.empty();
}

bool PlatMenuInsertItem(u32 menu, i32 position, const PlatMenuItem& item) {
  std::lock_guard<std::mutex> g(s_MenuLock);
  auto it = s_Menus.find(menu);
  if (it == s_Menus.end()) return false;
  if (item.submenu && (item.submenu == menu || !s_Menus.count(item.submenu))) return false;
  std::vector<PlatMenuItem>& items = it->second.items;
  size_t at =
      position < 0 || static_cast<size_t>(position) > items.size() ? items.size() : static_cast<size_t>(position);
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), item);
  return true;
}

i32 PlatMenuItemCount(u32 menu) {
  std::lock_guard<std::mutex> g(s_MenuLock);
  auto it = s_Menus.find(menu);
  return it == s_Menus.end() ? -1 : static_cast<i32>(it->second.items.size());
}

bool PlatMenuGetItem(u32 menu, i32 position, PlatMenuItem* out) {
  std::lock_guard<std::mutex> g(s_MenuLock);
  auto it = s_Menus.find(menu);
  if (it == s_Menus.end() || position < 0 || static_cast<size_t>(position) >= it->second.items.size()) return false;
  *out = it->second.items[static_cast<size_t>(position)];
  return true;
}

bool PlatMenuExists(u32 menu) {
  std::lock_guard<std::mutex> g(s_MenuLock);
  return s_Menus.count(menu) != 0;
}

i32 PlatMenuCount() {
  std::lock_guard<std::mutex> g(s_MenuLock);
  return static_cast<i32>(s_Menus.size());
}

static std::vector<PlatMenuItem> ItemsOf(u32 menu) {
  std::lock_guard<std::mutex> g(s_MenuLock);
  auto it = s_Menus.find(menu);
  return it == s_Menus.end() ? std::vector<PlatMenuItem>{} : it->second.items;
}

static void Describe(u32 menu, int depth, std::string* out) {
  if (depth > 16) return;
  for (const PlatMenuItem& i : ItemsOf(menu)) {
    out->append(static_cast<size_t>(depth) * 2, ' ');
    if (i.separator) {
      out->append("----\n");
      continue;
    }
    out->append(PlatSjisToUtf8(i.text));
    if (i.state & PLAT_MENU_CHECKED) out->append(" [x]");
    if ((i.state & PLAT_MENU_GRAYED) == PLAT_MENU_GRAYED) out->append(" (grey)");
    if (!i.submenu) out->append(" = " + std::to_string(i.id));
    out->push_back('\n');
    if (i.submenu) Describe(i.submenu, depth + 1, out);
  }
}

std::string PlatMenuDescribe(u32 menu) {
  std::string s;
  Describe(menu, 0, &s);
  return s;
}

// ---- Drawing -----------------------------------------------------------------------------------

namespace {

struct Level {
  u32 menu = 0;
  std::vector<PlatMenuItem> items;
  std::vector<PlatUiLabel> labels;
  PlatUiMenuLayout layout{};
  i32 x = 0, y = 0;  // screen position
  i32 lit = -1;
  SDL_Window* sdl = nullptr;
  u32 sdl_id = 0;
};

bool Grey(const PlatMenuItem& i) { return (i.state & PLAT_MENU_GRAYED) == PLAT_MENU_GRAYED; }

void LoadLevel(Level* l, u32 menu) {
  l->menu = menu;
  l->items = ItemsOf(menu);
  l->labels.clear();
  std::vector<PlatUiMenuEntry> entries;
  for (const PlatMenuItem& i : l->items) {
    l->labels.push_back(PlatUiParseLabel(PlatSjisToUtf8(i.text)));
    const PlatUiLabel& lab = l->labels.back();
    entries.push_back({PlatUiTextWidth(lab.left), PlatUiTextWidth(lab.right), i.separator});
  }
  l->layout = PlatUiLayoutMenu(entries);
}

void DrawCheck(PlatUiCanvas* c, i32 cx, i32 cy, u32 color) {
  // A tick: down-right for three pixels, then up-right for five, two pixels thick.
  for (i32 k = 0; k < 8; k++) {
    i32 x = cx - 4 + k;
    i32 y = k < 3 ? cy + k - 1 : cy + 1 - (k - 2);
    PlatUiFill(c, {x, y, x + 1, y + 2}, color);
  }
}

void DrawArrow(PlatUiCanvas* c, i32 x, i32 cy, u32 color) {
  for (i32 k = 0; k < 4; k++) PlatUiFill(c, {x + k, cy - 3 + k, x + k + 1, cy + 4 - k}, color);
}

void PaintLevel(const Level& l, PlatUiCanvas* c) {
  const PlatUiMenuLayout& lay = l.layout;
  PlatUiCanvasInit(c, lay.width, lay.height, UI_COLOR_FACE);
  PlatUiOutline(c, {0, 0, lay.width, lay.height}, UI_COLOR_EDGE);
  const i32 lh = PlatUiLineHeight();
  for (size_t k = 0; k < l.items.size(); k++) {
    const PlatMenuItem& i = l.items[k];
    const PlatRect& r = lay.items[k];
    if (i.separator) {
      i32 y = (r.top + r.bottom) / 2;
      PlatUiFill(c, {r.left + 2, y, r.right - 2, y + 1}, 0xD7D7D7);
      continue;
    }
    const bool lit = static_cast<i32>(k) == l.lit;
    if (lit) PlatUiFill(c, r, Grey(i) ? u32{0xE5E5E5} : u32{UI_COLOR_HILITE});
    const u32 ink = Grey(i) ? u32{UI_COLOR_GREY_TEXT} : lit ? u32{UI_COLOR_HILITE_TEXT} : u32{UI_COLOR_TEXT};
    const i32 ty = r.top + (r.bottom - r.top - lh) / 2;
    const PlatUiLabel& lab = l.labels[k];
    PlatUiDrawText(c, r.left + UI_MENU_CHECK_WIDTH, ty, lab.left, ink, lab.underline, r);
    if (!lab.right.empty()) PlatUiDrawText(c, lay.right_column - PlatUiTextWidth(lab.right), ty, lab.right, ink, -1, r);
    const i32 cy = (r.top + r.bottom) / 2;
    if (i.state & PLAT_MENU_CHECKED) DrawCheck(c, r.left + UI_MENU_CHECK_WIDTH / 2, cy, ink);
    if (i.submenu) DrawArrow(c, r.right - UI_MENU_ARROW_WIDTH / 2 - 2, cy, ink);
  }
}

void Blit(SDL_Window* sdl, const PlatUiCanvas& c, i32 dst_y) {
  SDL_Surface* s = SDL_GetWindowSurface(sdl);
  if (!s) return;
  const i32 w = std::min(s->w, c.width), h = std::min(s->h - dst_y, c.height);
  if (w <= 0 || h <= 0 || dst_y < 0) return;
  if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, c.px.data(), c.width * 4, s->format->format,
                    static_cast<u8*>(s->pixels) + static_cast<size_t>(dst_y) * s->pitch, s->pitch);
  if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  SDL_Rect r{0, dst_y, w, h};
  SDL_UpdateWindowSurfaceRects(sdl, &r, 1);
}

// The bar's texts and rectangles, from the window's bar menu.
struct Bar {
  std::vector<PlatMenuItem> items;
  std::vector<PlatUiLabel> labels;
  std::vector<PlatRect> rects;
};

Bar LoadBar(u32 menu) {
  Bar b;
  b.items = ItemsOf(menu);
  std::vector<i32> widths;
  for (const PlatMenuItem& i : b.items) {
    b.labels.push_back(PlatUiParseLabel(PlatSjisToUtf8(i.separator ? std::string() : i.text)));
    widths.push_back(PlatUiTextWidth(b.labels.back().left));
  }
  b.rects = PlatUiLayoutBar(widths);
  return b;
}

void PaintBar(PlatWindow* w, const Bar& b, i32 lit) {
  SDL_Window* sdl = PlatWindowSdl(w);
  if (!sdl) return;
  int width = 0, height = 0;
  SDL_GetWindowSize(sdl, &width, &height);
  PlatUiCanvas c;
  PlatUiCanvasInit(&c, width, UI_MENU_BAR_HEIGHT, UI_COLOR_WHITE);
  PlatUiFill(&c, {0, UI_MENU_BAR_HEIGHT - 1, width, UI_MENU_BAR_HEIGHT}, 0xE0E0E0);
  const i32 lh = PlatUiLineHeight();
  for (size_t k = 0; k < b.items.size(); k++) {
    const PlatRect& r = b.rects[k];
    if (static_cast<i32>(k) == lit) {
      PlatUiFill(&c, {r.left, r.top, r.right, r.bottom - 1}, 0xCCE8FF);
      PlatUiOutline(&c, {r.left, r.top, r.right, r.bottom - 1}, 0x99D1FF);
    }
    PlatUiDrawText(&c, r.left + UI_MENU_BAR_PAD, (UI_MENU_BAR_HEIGHT - lh) / 2, b.labels[k].left,
                   Grey(b.items[k]) ? u32{UI_COLOR_GREY_TEXT} : u32{UI_COLOR_TEXT}, b.labels[k].underline, r);
  }
  Blit(sdl, c, 0);
}

}  // namespace

bool PlatMenuRender(u32 menu, i32 lit, PlatUiCanvas* out) {
  if (!PlatMenuExists(menu)) return false;
  Level l;
  LoadLevel(&l, menu);
  l.lit = lit;
  PaintLevel(l, out);
  return true;
}

void PlatMenuBarRepaint(PlatWindow* w) {
  u32 menu = 0;
  i32 mode = 0, height = 0;
  if (!PlatWindowBarInfo(w, &menu, &mode, &height) || !menu) return;
  PaintBar(w, LoadBar(menu), -1);
}

// ---- Tracking ----------------------------------------------------------------------------------

namespace {

struct Track {
  std::vector<Level> levels;
  PlatWindow* bar_window = nullptr;  // tracking from a menu bar
  Bar bar;
  i32 bar_index = -1;        // the bar item whose drop-down is open
  i32 bar_x = 0, bar_y = 0;  // the bar's screen position
  u32 result = 0;
  bool done = false;
  u32 focus_check_at = 0;  // when to see whether the focus left the program
  bool focus_left = false;
  // The engine window the menu belongs to: as a Windows menu, it takes no activation from it.
  u32 owner_id = 0;
};

PlatRect MonitorArea(i32 x, i32 y) {
  PlatMonitor m{};
  i32 i = PlatMonitorNearest(x, y);
  if (i < 0 || !PlatMonitorGet(i, &m)) return {-32768, -32768, 32767, 32767};
  return {m.x, m.y, m.x + m.width, m.y + m.height};
}

void ShowLevel(Level* l) {
  PlatUiCanvas c;
  PaintLevel(*l, &c);
  Blit(l->sdl, c, 0);
}

// Opens a drop-down at (x, y), or at (alt_x - width, alt_y - height) where it would leave the
// screen.
bool OpenLevel(Track* t, u32 menu, i32 x, i32 y, i32 alt_x, i32 alt_y) {
  Level l;
  LoadLevel(&l, menu);
  PlatUiPlaceMenu(x, y, alt_x, alt_y, l.layout.width, l.layout.height, MonitorArea(x, y), &l.x, &l.y);
  l.sdl = SDL_CreateWindow(
      "", l.x, l.y, l.layout.width, l.layout.height,
      SDL_WINDOW_POPUP_MENU | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR);
  if (!l.sdl) return false;
  l.sdl_id = SDL_GetWindowID(l.sdl);
  SDL_ShowWindow(l.sdl);
  t->levels.push_back(std::move(l));
  ShowLevel(&t->levels.back());
  return true;
}

void CloseLevelsFrom(Track* t, size_t from) {
  SDL_Window* focus = SDL_GetKeyboardFocus();
  bool had_focus = false;
  while (t->levels.size() > from) {
    had_focus |= t->levels.back().sdl == focus;
    SDL_DestroyWindow(t->levels.back().sdl);
    t->levels.pop_back();
  }
  // The keys go on to the level left open, or to the bar's window: without a window manager
  // the focus of a closed window goes nowhere.
  if (!had_focus || t->done) return;
  SDL_Window* next = !t->levels.empty() ? t->levels.back().sdl : SDL_GetWindowFromID(t->owner_id);
  if (next) SDL_SetWindowInputFocus(next);
}

void Light(Track* t, size_t level, i32 item) {
  Level& l = t->levels[level];
  if (l.lit == item) return;
  l.lit = item;
  ShowLevel(&l);
}

// Opens the submenu of the lit item of a level (closing deeper ones first).
void OpenSubmenu(Track* t, size_t level, bool light_first) {
  CloseLevelsFrom(t, level + 1);
  Level& l = t->levels[level];
  if (l.lit < 0) return;
  const PlatMenuItem& i = l.items[static_cast<size_t>(l.lit)];
  if (!i.submenu || Grey(i)) return;
  const PlatRect& r = l.layout.items[static_cast<size_t>(l.lit)];
  if (!OpenLevel(t, i.submenu, l.x + r.right + UI_MENU_BORDER - 1, l.y + r.top - UI_MENU_BORDER, l.x + r.left,
                 l.y + r.bottom + UI_MENU_BORDER))
    return;
  if (light_first) {
    Level& sub = t->levels.back();
    std::vector<bool> sel;
    for (const PlatMenuItem& s : sub.items) sel.push_back(!s.separator);
    Light(t, t->levels.size() - 1, PlatUiMenuStep(sel, -1, 1));
  }
}

// The bar item's drop-down instead of the open one.
void OpenBarItem(Track* t, i32 index, bool light_first) {
  CloseLevelsFrom(t, 0);
  t->bar_index = index;
  PaintBar(t->bar_window, t->bar, index);
  const PlatMenuItem& i = t->bar.items[static_cast<size_t>(index)];
  if (!i.submenu || Grey(i)) return;
  const PlatRect& r = t->bar.rects[static_cast<size_t>(index)];
  if (!OpenLevel(t, i.submenu, t->bar_x + r.left, t->bar_y + r.bottom, t->bar_x + r.right, t->bar_y + r.top)) return;
  if (light_first) {
    std::vector<bool> sel;
    for (const PlatMenuItem& s : t->levels[0].items) sel.push_back(!s.separator);
    Light(t, 0, PlatUiMenuStep(sel, -1, 1));
  }
}

void Choose(Track* t, const PlatMenuItem& i) {
  if (i.separator || Grey(i) || i.submenu) return;
  t->result = i.id;
  t->done = true;
}

void Activate(Track* t, size_t level) {
  Level& l = t->levels[level];
  if (l.lit < 0) return;
  const PlatMenuItem& i = l.items[static_cast<size_t>(l.lit)];
  if (i.submenu) OpenSubmenu(t, level, true);
  else Choose(t, i);
}

// The screen position of an event point in an SDL window.
bool ScreenPoint(u32 window_id, i32 x, i32 y, i32* sx, i32* sy) {
  SDL_Window* w = SDL_GetWindowFromID(window_id);
  if (!w) return false;
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(w, &wx, &wy);
  *sx = wx + x;
  *sy = wy + y;
  return true;
}

// The level and item under a screen point: level -1 when it is on none of them.
void HitLevels(const Track* t, i32 sx, i32 sy, i32* level, i32* item) {
  *level = -1;
  *item = -1;
  for (i32 k = static_cast<i32>(t->levels.size()) - 1; k >= 0; k--) {
    const Level& l = t->levels[static_cast<size_t>(k)];
    if (!PlatUiInside({l.x, l.y, l.x + l.layout.width, l.y + l.layout.height}, sx, sy)) continue;
    *level = k;
    *item = PlatUiHitTest(l.layout.items, sx - l.x, sy - l.y);
    return;
  }
}

i32 HitBar(const Track* t, i32 sx, i32 sy) {
  if (!t->bar_window) return -1;
  return PlatUiHitTest(t->bar.rects, sx - t->bar_x, sy - t->bar_y);
}

void OnMotion(Track* t, i32 sx, i32 sy) {
  i32 level, item;
  HitLevels(t, sx, sy, &level, &item);
  if (level >= 0) {
    Level& l = t->levels[static_cast<size_t>(level)];
    if (item >= 0 && l.items[static_cast<size_t>(item)].separator) item = -1;
    if (item == l.lit) return;
    Light(t, static_cast<size_t>(level), item);
    CloseLevelsFrom(t, static_cast<size_t>(level) + 1);
    if (item >= 0) OpenSubmenu(t, static_cast<size_t>(level), false);
    return;
  }
  i32 b = HitBar(t, sx, sy);
  if (b < 0 || b == t->bar_index) return;
  if (!t->levels.empty()) {
    OpenBarItem(t, b, false);
  } else {
    // With no drop-down open (Escape closed it) the pointer only moves the lit item.
    t->bar_index = b;
    PaintBar(t->bar_window, t->bar, b);
  }
}

// The first item whose underlined letter is the key (ASCII letters and digits, either case);
// -1 for none.
i32 Mnemonic(const std::vector<PlatUiLabel>& labels, const std::vector<PlatMenuItem>& items, SDL_Keycode k) {
  if (k <= 0 || k >= 128) return -1;
  for (size_t i = 0; i < items.size(); i++) {
    const PlatUiLabel& lab = labels[i];
    if (lab.underline < 0 || items[i].separator) continue;
    const char32_t c = lab.left[static_cast<size_t>(lab.underline)];
    if (c < 128 && std::tolower(static_cast<int>(c)) == std::tolower(static_cast<int>(k))) return static_cast<i32>(i);
  }
  return -1;
}

// A bar item chosen from the keyboard: its drop-down opens with its first item lit, a command
// on the bar itself is chosen.
void ActivateBarItem(Track* t, i32 index) {
  const PlatMenuItem& i = t->bar.items[static_cast<size_t>(index)];
  if (i.submenu) OpenBarItem(t, index, true);
  else Choose(t, i);
}

// The level the keys work on: the deepest one with a lit item. A submenu that the pointer opened
// has none yet, and the item that opened it keeps the keys: Right enters it, Down leaves it.
size_t KeyLevel(const Track* t) {
  for (size_t k = t->levels.size(); k-- > 1;)
    if (t->levels[k].lit >= 0) return k;
  return 0;
}

void OnKey(Track* t, SDL_Keycode k) {
  // Alt leaves the menus, as it entered them.
  if (k == SDLK_LALT || k == SDLK_RALT) {
    t->done = true;
    return;
  }
  if (t->levels.empty()) {
    // Only the bar is lit (a drop-down closed by Escape): its keys work on the bar items.
    if (k == SDLK_ESCAPE) t->done = true;
    if (!t->bar_window || t->bar.items.empty()) return;
    const i32 n = static_cast<i32>(t->bar.items.size());
    if (k == SDLK_RIGHT || k == SDLK_LEFT) OpenBarItem(t, ((t->bar_index + (k == SDLK_RIGHT ? 1 : -1)) % n + n) % n, true);
    else if ((k == SDLK_DOWN || k == SDLK_UP || k == SDLK_RETURN || k == SDLK_KP_ENTER) && t->bar_index >= 0)
      ActivateBarItem(t, t->bar_index);
    else if (i32 m = Mnemonic(t->bar.labels, t->bar.items, k); m >= 0) ActivateBarItem(t, m);
    return;
  }
  const size_t top = KeyLevel(t);
  Level& l = t->levels[top];
  std::vector<bool> sel;
  for (const PlatMenuItem& i : l.items) sel.push_back(!i.separator);
  switch (k) {
    case SDLK_DOWN:
    case SDLK_UP:
      CloseLevelsFrom(t, top + 1);
      Light(t, top, PlatUiMenuStep(sel, l.lit, k == SDLK_DOWN ? 1 : -1));
      break;
    case SDLK_RIGHT:
      if (l.lit >= 0 && l.items[static_cast<size_t>(l.lit)].submenu) OpenSubmenu(t, top, true);
      else if (t->bar_window && !t->bar.items.empty())
        OpenBarItem(t, (t->bar_index + 1) % static_cast<i32>(t->bar.items.size()), true);
      break;
    case SDLK_LEFT:
      if (top > 0) CloseLevelsFrom(t, top);
      else if (t->bar_window && !t->bar.items.empty()) {
        i32 n = static_cast<i32>(t->bar.items.size());
        OpenBarItem(t, ((t->bar_index - 1) % n + n) % n, true);
      }
      break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_SPACE: Activate(t, top); break;
    case SDLK_ESCAPE:
      if (top > 0 || t->bar_window) CloseLevelsFrom(t, top);
      if (top == 0 && !t->bar_window) t->done = true;
      break;
    default:
      // The underlined letter chooses its item (or opens its submenu).
      if (i32 m = Mnemonic(l.labels, l.items, k); m >= 0) {
        Light(t, top, m);
        Activate(t, top);
      }
      break;
  }
}

bool OnTrackEvent(const SDL_Event* e, void* ctx) {
  Track* t = static_cast<Track*>(ctx);
  switch (e->type) {
    case SDL_QUIT: t->done = true; break;
    case SDL_KEYDOWN: OnKey(t, e->key.keysym.sym); break;
    case SDL_MOUSEMOTION: {
      i32 sx, sy;
      if (ScreenPoint(e->motion.windowID, e->motion.x, e->motion.y, &sx, &sy)) OnMotion(t, sx, sy);
      break;
    }
    case SDL_MOUSEBUTTONDOWN: {
      i32 sx, sy, level, item;
      if (!ScreenPoint(e->button.windowID, e->button.x, e->button.y, &sx, &sy)) {
        t->done = true;
        break;
      }
      HitLevels(t, sx, sy, &level, &item);
      if (level >= 0) break;  // items act on the release
      i32 b = HitBar(t, sx, sy);
      if (b < 0) {
        t->done = true;  // a click elsewhere
      } else if (!t->bar.items[static_cast<size_t>(b)].submenu) {
        Choose(t, t->bar.items[static_cast<size_t>(b)]);  // a command on the bar itself
      } else if (b == t->bar_index && !t->levels.empty()) {
        t->done = true;  // a second click on the open item closes it
      } else {
        OpenBarItem(t, b, false);  // also the lit item whose drop-down Escape closed
      }
      break;
    }
    case SDL_MOUSEBUTTONUP: {
      i32 sx, sy, level, item;
      if (!ScreenPoint(e->button.windowID, e->button.x, e->button.y, &sx, &sy)) break;
      HitLevels(t, sx, sy, &level, &item);
      if (level >= 0 && item >= 0) Choose(t, t->levels[static_cast<size_t>(level)].items[static_cast<size_t>(item)]);
      break;
    }
    case SDL_WINDOWEVENT: {
      const u8 ev = e->window.event;
      // Where the focus went is known a moment later: to a drop-down (a display server without
      // a window manager lets the focus follow the pointer) the menu stays open.
      if (ev == SDL_WINDOWEVENT_FOCUS_LOST && PlatWindowIsEngine(e->window.windowID))
        t->focus_check_at = SDL_GetTicks() + 100;
      if (ev == SDL_WINDOWEVENT_EXPOSED)
        for (Level& l : t->levels)
          if (l.sdl_id == e->window.windowID) ShowLevel(&l);
      // The owner stays active while its menu is open; RunTrack settles its focus at the end.
      if ((ev == SDL_WINDOWEVENT_FOCUS_LOST || ev == SDL_WINDOWEVENT_FOCUS_GAINED) && t->owner_id &&
          e->window.windowID == t->owner_id)
        return false;
      break;
    }
  }
  return true;
}

// The focus went to a window that is not the program's.
bool FocusLeft() {
  SDL_Window* f = SDL_GetKeyboardFocus();
  return !f;
}

// The engine window with the keyboard focus, 0 for none.
u32 FocusedEngineWindow() {
  SDL_Window* f = SDL_GetKeyboardFocus();
  const u32 id = f ? SDL_GetWindowID(f) : 0;
  return id && PlatWindowIsEngine(id) ? id : 0;
}

void RunTrack(Track* t) {
  while (!t->done && !PlatQuitSignalled() && (!t->levels.empty() || t->bar_window)) {
    PlatModalWait(50, OnTrackEvent, t);
    if (t->focus_check_at && SDL_TICKS_PASSED(SDL_GetTicks(), t->focus_check_at)) {
      t->focus_check_at = 0;
      if (FocusLeft()) t->done = t->focus_left = true;
    }
  }
  CloseLevelsFrom(t, 0);
  if (t->bar_window) PaintBar(t->bar_window, t->bar, -1);
  // The drop-downs may have taken the keyboard focus: it goes back to the owner, which never
  // stopped being active, unless the player went to another program meanwhile.
  if (SDL_Window* owner = t->owner_id ? SDL_GetWindowFromID(t->owner_id) : nullptr) {
    if (t->focus_left) PlatWindowDeliverActivate(PlatWindowFromSdlId(t->owner_id), false);
    else if (SDL_GetKeyboardFocus() != owner) SDL_SetWindowInputFocus(owner);
  }
  PlatModalEnd();
}

// The menus need a display; the stderr sink of the dialogs does not keep them from showing.
bool NoDisplay() {
  if (!PlatVideoReady()) return true;
  const char* d = SDL_GetCurrentVideoDriver();
  return !d || SDL_strcmp(d, "dummy") == 0 || SDL_strcmp(d, "offscreen") == 0;
}

}  // namespace

u32 PlatMenuTrack(u32 menu, i32 screen_x, i32 screen_y) {
  if (PlatMenuItemCount(menu) <= 0) return 0;  // no menu, or nothing to show
  if (NoDisplay() || !PlatIsMainThread()) {
    std::fprintf(stderr, "[popup menu] at %d, %d\n%s", screen_x, screen_y, PlatMenuDescribe(menu).c_str());
    std::fflush(stderr);
    return 0;
  }
  Track t;
  t.owner_id = FocusedEngineWindow();
  if (!OpenLevel(&t, menu, screen_x, screen_y, screen_x, screen_y)) return 0;
  RunTrack(&t);
  return t.result;
}

bool PlatMenuBarKey(PlatWindow* w, i32 keycode) {
  u32 menu = 0;
  i32 mode = 0, height = 0;
  // The bar of a window frame only: a fullscreen bar belongs to no window the keys go to.
  if (!PlatWindowBarInfo(w, &menu, &mode, &height) || !menu || mode != PLAT_MENU_BAR_FRAME) return false;
  Track t;
  t.bar_window = w;
  t.bar = LoadBar(menu);
  const i32 index = Mnemonic(t.bar.labels, t.bar.items, keycode);
  SDL_Window* sdl = PlatWindowSdl(w);
  if (index < 0 || !sdl) return false;
  t.owner_id = SDL_GetWindowID(sdl);
  SDL_GetWindowPosition(sdl, &t.bar_x, &t.bar_y);
  t.bar_index = index;
  PaintBar(w, t.bar, index);
  ActivateBarItem(&t, index);
  RunTrack(&t);
  if (t.result) PlatWindowDeliverMenuCommand(w, t.result);
  return true;
}

bool PlatMenuBarMouseDown(PlatWindow* w, i32 x, i32 y) {
  u32 menu = 0;
  i32 mode = 0, height = 0;
  if (!PlatWindowBarInfo(w, &menu, &mode, &height) || !menu || y < 0 || y >= UI_MENU_BAR_HEIGHT) return false;
  Track t;
  t.bar_window = w;
  t.bar = LoadBar(menu);
  i32 index = PlatUiHitTest(t.bar.rects, x, y);
  if (index < 0) return true;  // the empty part of the bar
  SDL_Window* sdl = PlatWindowSdl(w);
  if (!sdl) return true;
  t.owner_id = SDL_GetWindowID(sdl);
  SDL_GetWindowPosition(sdl, &t.bar_x, &t.bar_y);
  const PlatMenuItem& item = t.bar.items[static_cast<size_t>(index)];
  if (!item.submenu) {
    // A command on the bar itself.
    if (!item.separator && !Grey(item)) PlatWindowDeliverMenuCommand(w, item.id);
    return true;
  }
  OpenBarItem(&t, index, false);
  RunTrack(&t);
  if (t.result) PlatWindowDeliverMenuCommand(w, t.result);
  return true;
}
