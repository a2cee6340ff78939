// Message boxes and the error dialog through SDL's message box, or a sink that prints to stderr
// and takes the default answer (ZEPHRA_DIALOGS=stderr, or no display to show them on).
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/sjis.h"
#include "platform/platform.h"

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
    case PLAT_MB_ABORTRETRYIGNORE: return {3, {PLAT_IDABORT, PLAT_IDRETRY, PLAT_IDIGNORE}, {"中止", "再試行", "無視"}};
    case PLAT_MB_YESNOCANCEL: return {3, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, {"はい", "いいえ", "キャンセル"}};
    case PLAT_MB_YESNO: return {2, {PLAT_IDYES, PLAT_IDNO}, {"はい", "いいえ"}};
    case PLAT_MB_RETRYCANCEL: return {2, {PLAT_IDRETRY, PLAT_IDCANCEL}, {"再試行", "キャンセル"}};
    default: return {1, {PLAT_IDOK}, {"OK"}};
  }
}

static int DefaultIndex(u32 style, int count) {
  int i = (style & PLAT_MB_DEFBUTTON3) ? 2 : (style & PLAT_MB_DEFBUTTON2) ? 1 : 0;
  return i < count ? i : 0;
}

int PlatMessageBox(const char* title, const char* text, u32 style) {
  ButtonSet bs = ButtonsFor(style);
  int def = DefaultIndex(style, bs.count);
  if (PlatDialogsToStderr()) {
    PrintDialog("message box", title, text);
    int a = s_Answer.load();
    return a ? a : bs.ids[def];
  }
  std::string t = PlatSjisToUtf8(title ? title : "");
  std::string x = PlatSjisToUtf8(text ? text : "");
  SDL_MessageBoxButtonData buttons[3];
  for (int i = 0; i < bs.count; i++) {
    buttons[i].flags = 0;
    if (i == def) buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (bs.ids[i] == PLAT_IDCANCEL || (bs.count == 1)) buttons[i].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    buttons[i].buttonid = bs.ids[i];
    buttons[i].text = bs.labels[i];
  }
  u32 kind = style & 0xF0;
  SDL_MessageBoxData data{};
  data.flags = kind == PLAT_MB_ICONERROR ? SDL_MESSAGEBOX_ERROR
               : kind == PLAT_MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
  data.title = t.c_str();
  data.message = x.c_str();
  data.numbuttons = bs.count;
  data.buttons = buttons;
  int hit = -1;
  if (SDL_ShowMessageBox(&data, &hit) != 0 || hit < 0) {
    // No way to show it: behave like the sink rather than lose the message.
    PrintDialog("message box", title, text);
    return bs.ids[def];
  }
  return hit;
}

void PlatErrorDialog(const char* caption, const char* text, int edit_enabled,
                     void (*on_edit)(void* ctx), void* ctx) {
  if (PlatDialogsToStderr()) {
    PrintDialog("error dialog", caption, text);
    return;
  }
  std::string t = PlatSjisToUtf8(caption ? caption : "");
  std::string x = PlatSjisToUtf8(text ? text : "");
  enum { kEnd = 1034, kEdit = 1033 };
  SDL_MessageBoxButtonData buttons[2];
  int n = 0;
  if (edit_enabled > 0) buttons[n++] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kEdit, "エディタで開く"};
  u32 end_flags = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  if (edit_enabled <= 0) end_flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
  buttons[n++] = {end_flags, kEnd, "終了"};
  SDL_MessageBoxData data{};
  data.flags = SDL_MESSAGEBOX_ERROR;
  data.title = t.c_str();
  data.message = x.c_str();
  data.numbuttons = n;
  data.buttons = buttons;
  for (;;) {
    int hit = -1;
    if (SDL_ShowMessageBox(&data, &hit) != 0) {
      PrintDialog("error dialog", caption, text);
      return;
    }
    if (hit != kEdit) return;
    if (on_edit) on_edit(ctx);  // the dialog stays open after starting the editor
  }
}

// ---- Text entry ------------------------------------------------------------------------------

// Appends sjis to text while the whole character fits the limit.
static void InputAppend(std::string* text, const std::string& sjis, size_t limit) {
  for (size_t i = 0; i < sjis.size();) {
    size_t n = (SjisIsLead(static_cast<u8>(sjis[i])) && i + 1 < sjis.size()) ? 2 : 1;
    if (text->size() + n > limit) return;
    text->append(sjis, i, n);
    i += n;
  }
}

// Removes the last whole character.
static void InputBackspace(std::string* text) {
  size_t last = 0;
  for (size_t i = 0; i < text->size();) {
    last = i;
    i += (SjisIsLead(static_cast<u8>((*text)[i])) && i + 1 < text->size()) ? 2 : 1;
  }
  if (!text->empty()) text->erase(last);
}

static void InputDraw(SDL_Window* w, SDL_Renderer* r, const std::string& head, const std::string& text) {
  std::string caption = head + " [" + PlatSjisToUtf8(text) + "]";
  SDL_SetWindowTitle(w, caption.c_str());
  SDL_SetRenderDrawColor(r, 236, 236, 236, 255);
  SDL_RenderClear(r);
  SDL_Rect box = {16, 40, 448, 28};
  SDL_SetRenderDrawColor(r, 255, 255, 255, 255);
  SDL_RenderFillRect(r, &box);
  SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
  SDL_RenderDrawRect(r, &box);
  // One mark a character: the window has no font of its own, its caption shows the text.
  int x = 20;
  for (size_t i = 0; i < text.size() && x < 456;) {
    size_t n = SjisIsLead(static_cast<u8>(text[i])) && i + 1 < text.size() ? 2 : 1;
    SDL_Rect m = {x, 46, n == 2 ? 12 : 6, 16};
    SDL_RenderFillRect(r, &m);
    x += m.w + 2;
    i += n;
  }
  SDL_RenderPresent(r);
}

int PlatInputDialog(const char* title, const char* prompt, const char* initial, int max_bytes, char* out,
                    size_t out_size) {
  if (!out || out_size == 0) return -1;
  out[0] = '\0';
  if (PlatDialogsToStderr()) {
    PrintDialog("input", title, prompt);
    return 0;
  }
  size_t limit = out_size - 1;
  if (max_bytes > 0 && static_cast<size_t>(max_bytes) < limit) limit = static_cast<size_t>(max_bytes);
  std::string head = PlatSjisToUtf8(title ? title : "") + ": " + PlatSjisToUtf8(prompt ? prompt : "");
  SDL_Window* w = SDL_CreateWindow(head.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 480, 96, 0);
  if (!w) return -1;
  SDL_Renderer* r = SDL_CreateRenderer(w, -1, SDL_RENDERER_SOFTWARE);
  if (!r) {
    SDL_DestroyWindow(w);
    return -1;
  }
  std::string text;
  InputAppend(&text, initial ? initial : "", limit);
  const u32 id = SDL_GetWindowID(w);
  SDL_StartTextInput();
  InputDraw(w, r, head, text);
  bool done = false, quit = false;
  while (!done) {
    SDL_Event e;
    if (!SDL_WaitEvent(&e)) break;
    // Modal: events of other windows are dropped; closing the window does nothing.
    switch (e.type) {
      case SDL_TEXTINPUT:
        if (e.text.windowID != id) break;
        InputAppend(&text, PlatUtf8ToSjis(e.text.text), limit);
        InputDraw(w, r, head, text);
        break;
      case SDL_KEYDOWN:
        if (e.key.windowID != id) break;
        if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) done = true;
        if (e.key.keysym.sym == SDLK_BACKSPACE) {
          InputBackspace(&text);
          InputDraw(w, r, head, text);
        }
        break;
      case SDL_WINDOWEVENT:
        if (e.window.windowID == id && e.window.event == SDL_WINDOWEVENT_EXPOSED) InputDraw(w, r, head, text);
        break;
      case SDL_QUIT: quit = true; break;  // handed on once the window is gone
      default: break;
    }
  }
  SDL_StopTextInput();
  SDL_DestroyRenderer(r);
  SDL_DestroyWindow(w);
  if (quit) {
    SDL_Event q{};
    q.type = SDL_QUIT;
    SDL_PushEvent(&q);
  }
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return 0;
}
