// Message boxes and the error dialog through SDL's message box, or a sink that prints to stderr
// and takes the default answer (ZEPHRA_DIALOGS=stderr, or no display to show them on).
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <mutex>

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
