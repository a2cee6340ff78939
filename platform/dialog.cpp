// Message boxes, the error dialog and the text-entry window, drawn by the engine in windows of
// their own (the text in the Japanese font, so Shift-JIS game text reads correctly whatever fonts
// the display server has), or a sink that prints to stderr and takes the default answer
// (ZEPHRA_DIALOGS=stderr, or no display to show them on). Dialogs are windows, so they run on the
// main thread: a call from another thread is handed to it and waits.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "platform/video.h"
#include "platform/video_internal.h"

static std::atomic<int> s_Sink{-1};  // -1 not decided yet, 0 show, 1 print
static std::atomic<int> s_Answer{0};
static std::mutex s_PrintMutex;

bool PlatDialogsToStderr() {
  int v = s_Sink.load();
  if (v < 0) {
    bool print = PlatGetEnv("ZEPHRA_DIALOGS") == "stderr" ||
                 (PlatGetEnv("DISPLAY").empty() && PlatGetEnv("WAYLAND_DISPLAY").empty()) ||
                 PlatGetEnv("SDL_VIDEODRIVER") == "dummy";
    v = print ? 1 : 0;
    s_Sink.store(v);
  }
  return v == 1;
}

void PlatDialogsSetStderr(bool on) { s_Sink.store(on ? 1 : 0); }
void PlatDialogsSetAnswer(int answer) { s_Answer.store(answer); }

static void PrintDialog(const char* kind, const char* title, const char* text) {
  std::lock_guard<std::mutex> g(s_PrintMutex);
  std::string t = PlatSjisToUtf8(title ? title : "");
  std::string x = PlatSjisToUtf8(text ? text : "");
  std::fprintf(stderr, "[%s] %s\n%s\n", kind, t.c_str(), x.c_str());
  std::fflush(stderr);
}

struct ButtonSet {
  int count;
  int ids[3];
  const char* labels[3];
};

static ButtonSet ButtonsFor(u32 style) {
  switch (style & 0xF) {
    case PLAT_MB_OKCANCEL: return {2, {PLAT_IDOK, PLAT_IDCANCEL}, {"OK", "キャンセル"}};
    case PLAT_MB_ABORTRETRYIGNORE:
      return {3, {PLAT_IDABORT, PLAT_IDRETRY, PLAT_IDIGNORE}, {"中止(&A)", "再試行(&R)", "無視(&I)"}};
    case PLAT_MB_YESNOCANCEL:
      return {3, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, {"はい(&Y)", "いいえ(&N)", "キャンセル"}};
    case PLAT_MB_YESNO: return {2, {PLAT_IDYES, PLAT_IDNO}, {"はい(&Y)", "いいえ(&N)"}};
    case PLAT_MB_RETRYCANCEL: return {2, {PLAT_IDRETRY, PLAT_IDCANCEL}, {"再試行(&R)", "キャンセル"}};
    default: return {1, {PLAT_IDOK}, {"OK"}};
  }
}

static int DefaultIndex(u32 style, int count) {
  int i = (style & PLAT_MB_DEFBUTTON3) ? 2 : (style & PLAT_MB_DEFBUTTON2) ? 1 : 0;
  return i < count ? i : 0;
}

// ---- The dialog window -------------------------------------------------------------------------

namespace {

struct Dialog {
  std::string title;                  // UTF-8
  std::vector<std::u32string> lines;  // the message, wrapped
  std::vector<PlatUiLabel> labels;    // the buttons
  std::vector<int> ids;
  std::vector<bool> enabled;
  int focus = 0;      // the button Enter presses
  int pressed = -1;   // the button the mouse went down on
  int escape_id = 0;  // Escape answers this; 0: it does nothing
  int close_id = 0;   // the close button likewise
  bool edit = false;  // the text-entry window's edit box
  std::string text;   // its text, Shift-JIS
  size_t limit = 0;
  void (*on_button)(void* ctx, int id) = nullptr;  // a button that does not end the dialog
  int keep_open_id = -1;
  void* ctx = nullptr;
  i32 icon = UI_ICON_NONE;
  i32 first_line = 0;  // the first line shown when the text scrolls
  i32 drag_from = -1;  // the pointer's row where a drag of the scroll thumb began, -1 for none
  i32 drag_top = 0;    // the thumb's top then
  PlatUiDialogLayout layout{};
  SDL_Window* sdl = nullptr;
  u32 sdl_id = 0;
  SDL_Window* owner = nullptr;  // the game window it belongs to
  PlatUiCanvas canvas;
  int result = 0;
  bool done = false;
};

// The window manager's caption: its font is not ours, and not one of fixed width (a bold sans
// takes about 9 pixels a capital, 7 for the other narrow characters and 14 for a wide one),
// and beside the title it holds an icon and three buttons.
enum { CAPTION_EXTRA_WIDTH = 120, CAPTION_HEIGHT = 40 };
i32 CaptionWidth(const std::string& title_utf8) {
  i32 width = CAPTION_EXTRA_WIDTH;
  for (char32_t c : PlatUiDecodeUtf8(title_utf8)) width += c >= 0x2E80 ? 14 : c >= U'A' && c <= U'Z' ? 9 : 7;
  return width;
}

// The caption of a box the engine shows without a title, as the system gives one.
const char* const kDefaultCaption = "エラー";

// Appends sjis to text while the whole character fits the limit.
void InputAppend(std::string* text, const std::string& sjis, size_t limit) {
  for (size_t i = 0; i < sjis.size();) {
    size_t n = (SjisIsLead(static_cast<u8>(sjis[i])) && i + 1 < sjis.size()) ? 2 : 1;
    if (text->size() + n > limit) return;
    text->append(sjis, i, n);
    i += n;
  }
}

// Removes the last whole character.
void InputBackspace(std::string* text) {
  size_t last = 0;
  for (size_t i = 0; i < text->size();) {
    last = i;
    i += (SjisIsLead(static_cast<u8>((*text)[i])) && i + 1 < text->size()) ? 2 : 1;
  }
  if (!text->empty()) text->erase(last);
}

// The usable area of the display the dialog opens on (its owner's, else the first).
SDL_Rect DialogArea(SDL_Window* owner) {
  SDL_Rect r{0, 0, 0, 0};
  const int display = owner ? SDL_GetWindowDisplayIndex(owner) : 0;
  if (SDL_GetDisplayUsableBounds(display < 0 ? 0 : display, &r) != 0) r = {0, 0, 0, 0};
  return r;
}

void Layout(Dialog* d, const std::string& message_sjis) {
  std::u32string msg = PlatUiDecodeUtf8(PlatSjisToUtf8(message_sjis));
  d->lines = PlatUiWrap(msg, UI_DIALOG_TEXT_MAX_WIDTH, PlatUiAdvance);
  PlatUiDialogSpec spec;
  spec.line_height = std::max(PlatUiLineHeight(), 1);
  for (const std::u32string& l : d->lines) spec.text_width = std::max(spec.text_width, PlatUiTextWidth(l));
  spec.text_height = spec.line_height * static_cast<i32>(d->lines.size());
  for (const PlatUiLabel& l : d->labels) spec.label_widths.push_back(PlatUiTextWidth(l.left));
  spec.with_edit = d->edit;
  spec.icon = d->icon != UI_ICON_NONE;
  // As wide as its caption, and no taller than the screen: a longer text scrolls.
  spec.min_width = CaptionWidth(d->title);
  const SDL_Rect area = DialogArea(d->owner);
  if (area.h > CAPTION_HEIGHT) spec.max_height = area.h - CAPTION_HEIGHT;
  d->layout = PlatUiLayoutDialog(spec);
}

i32 TotalLines(const Dialog* d) { return static_cast<i32>(d->lines.size()); }

// Scrolls the text so that `first` is its first line shown; true when that changed anything.
bool ScrollTo(Dialog* d, i32 first) {
  const i32 last_first = std::max(0, TotalLines(d) - d->layout.visible_lines);
  first = std::clamp(first, 0, last_first);
  if (first == d->first_line) return false;
  d->first_line = first;
  return true;
}

bool Scrolls(const Dialog* d) { return d->layout.scrollbar.right > d->layout.scrollbar.left; }

void Paint(Dialog* d) {
  const PlatUiDialogLayout& l = d->layout;
  PlatUiCanvas& c = d->canvas;
  PlatUiCanvasInit(&c, l.width, l.height, UI_COLOR_WHITE);
  const i32 lh = std::max(PlatUiLineHeight(), 1);
  if (d->icon != UI_ICON_NONE) PlatUiDrawIcon(&c, l.icon.left, l.icon.top, d->icon);
  const i32 first = Scrolls(d) ? d->first_line : 0;
  for (i32 i = first; i < TotalLines(d); i++) {
    const i32 y = l.text.top + (i - first) * lh;
    if (y >= l.text.bottom) break;
    PlatUiDrawText(&c, l.text.left, y, d->lines[static_cast<size_t>(i)], UI_COLOR_TEXT, -1, l.text);
  }
  if (Scrolls(d)) {
    PlatUiFill(&c, l.scrollbar, 0xF0F0F0);
    PlatRect thumb = PlatUiScrollThumb(l.scrollbar, TotalLines(d), l.visible_lines, d->first_line);
    PlatUiFill(&c, {thumb.left + 3, thumb.top + 1, thumb.right - 3, thumb.bottom - 1},
               d->drag_from >= 0 ? 0x606060 : 0xA6A6A6);
  }
  if (d->edit) {
    PlatUiOutline(&c, l.edit, UI_COLOR_FOCUS);
    std::u32string t = PlatUiDecodeUtf8(PlatSjisToUtf8(d->text));
    const PlatRect inner{l.edit.left + 4, l.edit.top + 1, l.edit.right - 4, l.edit.bottom - 1};
    // The end of a long text stays in view, as an edit control scrolls to its caret.
    i32 w = PlatUiTextWidth(t);
    i32 x = inner.left - std::max(0, w + 2 - (inner.right - inner.left));
    i32 y = l.edit.top + (l.edit.bottom - l.edit.top - lh) / 2;
    PlatUiDrawText(&c, x, y, t, UI_COLOR_TEXT, -1, inner);
    PlatUiFill(&c, {x + w, y, x + w + 1, y + lh}, UI_COLOR_TEXT);
  }
  PlatUiFill(&c, l.band, UI_COLOR_FACE);
  for (size_t i = 0; i < l.buttons.size(); i++) {
    const PlatRect& b = l.buttons[i];
    bool on = d->enabled[i];
    PlatUiFill(&c, b, static_cast<int>(i) == d->pressed ? 0xCCE4F7 : 0xE1E1E1);
    PlatUiOutline(&c, b, static_cast<int>(i) == d->focus && on ? u32{UI_COLOR_FOCUS} : u32{0xADADAD});
    const PlatUiLabel& lab = d->labels[i];
    i32 tw = PlatUiTextWidth(lab.left);
    PlatUiDrawText(&c, b.left + (b.right - b.left - tw) / 2, b.top + (b.bottom - b.top - lh) / 2, lab.left,
                   on ? UI_COLOR_TEXT : UI_COLOR_GREY_TEXT, lab.underline, b);
  }
  SDL_Surface* s = SDL_GetWindowSurface(d->sdl);
  if (!s) return;
  if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
  const i32 w = std::min(s->w, c.width), h = std::min(s->h, c.height);
  if (w > 0 && h > 0)
    SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, c.px.data(), c.width * 4, s->format->format, s->pixels, s->pitch);
  if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  SDL_UpdateWindowSurface(d->sdl);
}

void Press(Dialog* d, int index) {
  if (index < 0 || index >= static_cast<int>(d->ids.size()) || !d->enabled[static_cast<size_t>(index)]) return;
  const int id = d->ids[static_cast<size_t>(index)];
  if (id == d->keep_open_id) {
    if (d->on_button) d->on_button(d->ctx, id);
    return;
  }
  d->result = id;
  d->done = true;
}

void MoveFocus(Dialog* d, int step) {
  std::vector<bool> sel(d->enabled.begin(), d->enabled.end());
  int n = PlatUiMenuStep(sel, d->focus, step);
  if (n >= 0) d->focus = n;
}

bool OnEvent(const SDL_Event* e, void* ctx) {
  Dialog* d = static_cast<Dialog*>(ctx);
  switch (e->type) {
    case SDL_TEXTINPUT:
      if (e->text.windowID != d->sdl_id || !d->edit) break;
      InputAppend(&d->text, PlatUtf8ToSjis(e->text.text), d->limit);
      Paint(d);
      break;
    case SDL_KEYDOWN: {
      if (e->key.windowID != d->sdl_id) break;
      const SDL_Keycode k = e->key.keysym.sym;
      const i32 page = std::max(1, d->layout.visible_lines - 1);
      if (Scrolls(d) && (k == SDLK_UP || k == SDLK_DOWN || k == SDLK_PAGEUP || k == SDLK_PAGEDOWN ||
                         k == SDLK_HOME || k == SDLK_END)) {
        // A text that scrolls takes the vertical keys; Tab and the side arrows move the focus.
        const i32 to = k == SDLK_UP ? d->first_line - 1
                       : k == SDLK_DOWN ? d->first_line + 1
                       : k == SDLK_PAGEUP ? d->first_line - page
                       : k == SDLK_PAGEDOWN ? d->first_line + page
                       : k == SDLK_HOME ? 0
                                        : TotalLines(d);
        ScrollTo(d, to);
      } else if (k == SDLK_RETURN || k == SDLK_KP_ENTER || (k == SDLK_SPACE && !d->edit)) Press(d, d->focus);
      else if (k == SDLK_ESCAPE && d->escape_id) {
        d->result = d->escape_id;
        d->done = true;
      } else if (k == SDLK_BACKSPACE && d->edit) InputBackspace(&d->text);
      else if (k == SDLK_TAB) MoveFocus(d, (e->key.keysym.mod & KMOD_SHIFT) ? -1 : 1);
      else if (!d->edit && (k == SDLK_RIGHT || k == SDLK_DOWN)) MoveFocus(d, 1);
      else if (!d->edit && (k == SDLK_LEFT || k == SDLK_UP)) MoveFocus(d, -1);
      else if (!d->edit && k > 0 && k < 128) {
        // The underlined letter presses its button.
        for (size_t i = 0; i < d->labels.size(); i++) {
          const PlatUiLabel& l = d->labels[i];
          if (l.underline >= 0 &&
              static_cast<char32_t>(std::tolower(static_cast<int>(l.left[static_cast<size_t>(l.underline)]))) ==
                  static_cast<char32_t>(k)) {
            d->focus = static_cast<int>(i);
            Press(d, static_cast<int>(i));
          }
        }
      }
      if (!d->done) Paint(d);
      break;
    }
    case SDL_MOUSEWHEEL:
      if (e->wheel.windowID != d->sdl_id || !Scrolls(d)) break;
      if (ScrollTo(d, d->first_line - 3 * (e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y)))
        Paint(d);
      break;
    case SDL_MOUSEMOTION:
      if (e->motion.windowID != d->sdl_id || d->drag_from < 0) break;
      if (ScrollTo(d, PlatUiScrollFirstAt(d->layout.scrollbar, TotalLines(d), d->layout.visible_lines,
                                          d->drag_top + e->motion.y - d->drag_from)))
        Paint(d);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (e->button.windowID != d->sdl_id || e->button.button != SDL_BUTTON_LEFT) break;
      if (Scrolls(d) && PlatUiInside(d->layout.scrollbar, e->button.x, e->button.y)) {
        // On the thumb a drag begins; above or below it the text moves by a page.
        const PlatRect thumb =
            PlatUiScrollThumb(d->layout.scrollbar, TotalLines(d), d->layout.visible_lines, d->first_line);
        const i32 page = std::max(1, d->layout.visible_lines - 1);
        if (e->button.y < thumb.top) ScrollTo(d, d->first_line - page);
        else if (e->button.y >= thumb.bottom) ScrollTo(d, d->first_line + page);
        else d->drag_from = e->button.y, d->drag_top = thumb.top;
        Paint(d);
        break;
      }
      d->pressed = PlatUiHitTest(d->layout.buttons, e->button.x, e->button.y);
      if (d->pressed >= 0 && d->enabled[static_cast<size_t>(d->pressed)]) d->focus = d->pressed;
      Paint(d);
      break;
    case SDL_MOUSEBUTTONUP: {
      if (e->button.windowID != d->sdl_id || e->button.button != SDL_BUTTON_LEFT) break;
      if (d->drag_from >= 0) {
        d->drag_from = -1;
        Paint(d);
        break;
      }
      int hit = PlatUiHitTest(d->layout.buttons, e->button.x, e->button.y);
      int was = d->pressed;
      d->pressed = -1;
      if (hit >= 0 && hit == was) Press(d, hit);
      if (!d->done) Paint(d);
      break;
    }
    case SDL_WINDOWEVENT:
      if (e->window.windowID != d->sdl_id) break;
      if (e->window.event == SDL_WINDOWEVENT_EXPOSED || e->window.event == SDL_WINDOWEVENT_SIZE_CHANGED) Paint(d);
      if (e->window.event == SDL_WINDOWEVENT_CLOSE && d->close_id) {
        d->result = d->close_id;
        d->done = true;
      }
      break;
    default: break;
  }
  return true;
}

// Where the dialog opens: centred over its owner, else on the screen, and inside the usable
// area either way.
void Place(const Dialog* d, int* x, int* y) {
  const SDL_Rect area = DialogArea(d->owner);
  int cx = area.x + area.w / 2, cy = area.y + area.h / 2;
  if (d->owner) {
    int ox = 0, oy = 0, ow = 0, oh = 0, top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowPosition(d->owner, &ox, &oy);
    SDL_GetWindowSize(d->owner, &ow, &oh);
    SDL_GetWindowBordersSize(d->owner, &top, &left, &bottom, &right);  // 0 where unknown
    cx = ox - left + (left + ow + right) / 2;
    cy = oy - top + (top + oh + bottom) / 2;
  }
  *x = cx - d->layout.width / 2;
  *y = cy - d->layout.height / 2;
  if (area.w > 0 && area.h > 0) {
    *x = std::max(area.x, std::min(*x, area.x + area.w - d->layout.width));
    *y = std::max(area.y + CAPTION_HEIGHT / 2, std::min(*y, area.y + area.h - d->layout.height));
  }
}

// Opens the window, runs it until a button ends it and closes it. False when no window can be
// made.
bool RunWindow(Dialog* d) {
  d->enabled.resize(d->ids.size(), true);
  std::string title = d->title.empty() ? std::string(" ") : d->title;
  // A dialog of the game's window stays with it (transient for it); one without a window to
  // belong to must not hide behind others.
  int x, y;
  Place(d, &x, &y);
  d->sdl = SDL_CreateWindow(title.c_str(), x, y, d->layout.width, d->layout.height,
                            SDL_WINDOW_HIDDEN | (d->owner ? 0u : u32{SDL_WINDOW_ALWAYS_ON_TOP}));
  if (!d->sdl) return false;
  d->sdl_id = SDL_GetWindowID(d->sdl);
  PlatX11MarkDialog(d->sdl);
  if (d->owner) SDL_SetWindowModalFor(d->sdl, d->owner);
  SDL_ShowWindow(d->sdl);
  SDL_RaiseWindow(d->sdl);
  if (d->edit) SDL_StartTextInput();
  Paint(d);
  // A quit signal ends the box unanswered: the caller then takes the default answer.
  while (!d->done && !PlatQuitSignalled()) PlatModalWait(100, OnEvent, d);
  if (d->edit) SDL_StopTextInput();
  // Answered, the box gives the keys back to the window it belongs to (a window manager does
  // that for a transient; a bare X server leaves the focus nowhere).
  const bool had_focus = SDL_GetKeyboardFocus() == d->sdl;
  SDL_DestroyWindow(d->sdl);
  d->sdl = nullptr;
  if (had_focus && d->owner) SDL_SetWindowInputFocus(d->owner);
  PlatModalEnd();
  return true;
}

bool Run(Dialog* d) {
  // A box asked for before the program started its video (a message at the very start, the
  // compiler's box) starts it for the box alone: without it the wait has no events and returns
  // at once.
  const bool own_video = !PlatVideoReady();
  if (own_video && PlatVideoInit() != 0) return false;
  const bool shown = RunWindow(d);
  if (own_video) PlatVideoQuit();
  return shown;
}

// Runs body on the main thread; false when it could not (the caller then prints instead).
template <typename F>
bool OnMain(F* body) {
  if (PlatIsMainThread()) {
    (*body)();
    return true;
  }
  return PlatCallOnMain([](void* a) { (*static_cast<F*>(a))(); }, body, nullptr);
}

}  // namespace

int PlatMessageBox(const char* title, const char* text, u32 style) {
  ButtonSet bs = ButtonsFor(style);
  int def = DefaultIndex(style, bs.count);
  static const std::string default_caption = PlatUtf8ToSjis(kDefaultCaption);
  if (!title) title = default_caption.c_str();
  if (PlatDialogsToStderr()) {
    PrintDialog("message box", title, text);
    int a = s_Answer.load();
    return a ? a : bs.ids[def];
  }
  int answer = 0;
  auto body = [&]() {
    Dialog d;
    d.owner = PlatDialogOwner();
    d.icon = static_cast<i32>((style >> 4) & 0xF);
    d.title = PlatSjisToUtf8(title);
    for (int i = 0; i < bs.count; i++) {
      d.labels.push_back(PlatUiParseLabel(bs.labels[i]));
      d.ids.push_back(bs.ids[i]);
      if (bs.ids[i] == PLAT_IDCANCEL) d.escape_id = d.close_id = PLAT_IDCANCEL;
    }
    // A lone OK button is what Escape answers; the close button still answers Cancel.
    if (bs.count == 1) {
      d.escape_id = bs.ids[0];
      d.close_id = PLAT_IDCANCEL;
    }
    d.focus = def;
    Layout(&d, text ? text : "");
    if (Run(&d)) answer = d.result;
  };
  if (!OnMain(&body) || answer == 0) {
    // No way to show it: behave like the sink rather than lose the message.
    PrintDialog("message box", title, text);
    return bs.ids[def];
  }
  return answer;
}

void PlatErrorDialog(const char* caption, const char* text, int edit_enabled, void (*on_edit)(void* ctx), void* ctx) {
  if (PlatDialogsToStderr()) {
    PrintDialog("error dialog", caption, text);
    return;
  }
  enum { kEnd = 1034, kEdit = 1033 };
  struct Edit {
    void (*fn)(void*);
    void* ctx;
  } edit{on_edit, ctx};
  bool shown = false;
  auto body = [&]() {
    Dialog d;
    d.owner = PlatDialogOwner();
    d.title = PlatSjisToUtf8(caption ? caption : "");
    if (edit_enabled >= 0) {
      d.labels.push_back(PlatUiParseLabel("エディタで開く(&E)"));
      d.ids.push_back(kEdit);
    }
    d.labels.push_back(PlatUiParseLabel("終了(&X)"));
    d.ids.push_back(kEnd);
    d.enabled.assign(d.ids.size(), true);
    if (edit_enabled == 0) d.enabled[0] = false;
    d.focus = edit_enabled > 0 ? 0 : static_cast<int>(d.ids.size()) - 1;
    d.keep_open_id = kEdit;  // the dialog stays open after starting the editor
    d.on_button = [](void* c, int) {
      Edit* e = static_cast<Edit*>(c);
      if (e->fn) e->fn(e->ctx);
    };
    d.ctx = &edit;
    Layout(&d, text ? text : "");
    shown = Run(&d);
  };
  if (!OnMain(&body) || !shown) PrintDialog("error dialog", caption, text);
}

// ---- Text entry ------------------------------------------------------------------------------

int PlatInputDialog(const char* title, const char* prompt, const char* initial, int max_bytes, char* out,
                    size_t out_size) {
  if (!out || out_size == 0) return -1;
  out[0] = '\0';
  // The length limit holds what is typed; the initial text is shown whole, as far as the answer
  // can hold it, and a text above the limit takes no more characters until it is shortened.
  const size_t room = out_size - 1;
  size_t limit = room;
  if (max_bytes > 0 && static_cast<size_t>(max_bytes) < limit) limit = static_cast<size_t>(max_bytes);
  std::string text;
  InputAppend(&text, initial ? initial : "", room);
  if (PlatDialogsToStderr()) {
    // OK at once: the edit field as it starts.
    PrintDialog("input", title, prompt);
  } else {
    bool shown = false;
    auto body = [&]() {
      Dialog d;
      d.owner = PlatDialogOwner();
      d.title = PlatSjisToUtf8(title ? title : "");
      d.labels.push_back(PlatUiParseLabel("OK"));
      d.ids.push_back(PLAT_IDOK);
      d.edit = true;
      d.limit = limit;
      d.text = text;
      Layout(&d, prompt ? prompt : "");
      shown = Run(&d);
      text = d.text;
    };
    if (!OnMain(&body) || !shown) return -1;
  }
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return 0;
}
