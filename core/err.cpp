// Error reporting: text lookup (built-in codes win over the project's texts), the script-position
// header, the checking formatter, the once-per-run dialog and the editor launch of the edit button.
#include "core/err.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/sjis.h"
#include "core/hooks.h"
#include "core/state.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "platform/platform.h"

const char* g_ErrDialogCaption = "ZEPHRA Debug Info.";
u8 g_ErrDialogShown = 0;
std::atomic<u8> g_ErrFatalRaised{0};
const char* g_ErrScriptFile = nullptr;
i32 g_ErrScriptLine = 1;
std::string g_ErrLastText;
u8 g_DebugMode = 0;
ErrScriptPositionFn g_ErrScriptPosition = nullptr;

static std::string s_ErrScriptFileCopy;
// Raises may come from the frame thread and the sound thread: the texts and flags are built
// under this lock (recursive: the script-position hook may raise); the dialog runs outside it.
static std::recursive_mutex s_ErrMutex;

// ---- Texts -----------------------------------------------------------------------------------

static const char kNotices[] =
    "■ライセンスについて\n"
    "\n"
    "このソフトウェアは以下のオープンソースソフトウェアを使用しています。\n"
    "\n"
    "● Ogg Vorbis (libogg, libvorbis, libvorbisfile)\n"
    "Copyright (c) 2002-2020 Xiph.org Foundation\n"
    "Redistribution and use in source and binary forms, with or without modification, are "
    "permitted provided that the following conditions are met: redistributions of source code "
    "must retain the above copyright notice, this list of conditions and the following "
    "disclaimer; redistributions in binary form must reproduce the above copyright notice, this "
    "list of conditions and the following disclaimer in the documentation and/or other materials "
    "provided with the distribution; neither the name of the Xiph.org Foundation nor the names of "
    "its contributors may be used to endorse or promote products derived from this software "
    "without specific prior written permission.\n"
    "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY EXPRESS "
    "OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES OF "
    "MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE ARE DISCLAIMED. IN NO EVENT SHALL THE "
    "FOUNDATION OR CONTRIBUTORS BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, "
    "EXEMPLARY, OR CONSEQUENTIAL DAMAGES ARISING IN ANY WAY OUT OF THE USE OF THIS SOFTWARE.\n"
    "\n"
    "● libpng\n"
    "Copyright (c) 1995-2024 The PNG Reference Library Authors.\n"
    "Copyright (c) 2018-2024 Cosmin Truta. Copyright (c) 1998-2018 Glenn Randers-Pehrson.\n"
    "Copyright (c) 1996-1997 Andreas Dilger. Copyright (c) 1995-1996 Guy Eric Schalnat, Group 42, Inc.\n"
    "The software is supplied \"as is\", without warranty of any kind. Permission is hereby "
    "granted to use, copy, modify, and distribute this software, or portions hereof, for any "
    "purpose, without fee, subject to the following restrictions: the origin of this software "
    "must not be misrepresented; altered versions must be plainly marked as such and must not be "
    "misrepresented as being the original software; this copyright notice may not be removed or "
    "altered from any source or altered source distribution.\n"
    "\n"
    "● zlib\n"
    "Copyright (C) 1995-2022 Jean-loup Gailly and Mark Adler\n"
    "This software is provided 'as-is', without any express or implied warranty. In no event "
    "will the authors be held liable for any damages arising from the use of this software. "
    "Permission is granted to anyone to use this software for any purpose, including commercial "
    "applications, and to alter it and redistribute it freely, subject to the following "
    "restrictions: 1. The origin of this software must not be misrepresented; you must not claim "
    "that you wrote the original software. 2. Altered source versions must be plainly marked as "
    "such, and must not be misrepresented as being the original software. 3. This notice may not "
    "be removed or altered from any source distribution.\n"
    "\n"
    "● libjpeg-turbo\n"
    "This software is based in part on the work of the Independent JPEG Group.\n"
    "Copyright (C) 1991-2020 Thomas G. Lane, Guido Vollbeding. Copyright (C) 2009-2023 D. R. "
    "Commander. Used under the IJG License and the Modified (3-clause) BSD License.\n"
    "\n"
    "● Simple DirectMedia Layer (SDL2)\n"
    "Copyright (C) 1997-2023 Sam Lantinga <slouken@libsdl.org>\n"
    "Used under the zlib license (the same terms as zlib above).\n"
    "\n"
    "● FreeType\n"
    "Portions of this software are copyright (C) 1996-2023 The FreeType Project "
    "(www.freetype.org). All rights reserved. Used under the FreeType License.\n"
    "\n"
    "● Fontconfig\n"
    "Copyright (C) 2000-2007 Keith Packard and others. Permission to use, copy, modify, "
    "distribute, and sell this software and its documentation for any purpose is hereby granted "
    "without fee, provided that the above copyright notice appear in all copies. THE SOFTWARE IS "
    "PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND.\n";

struct BuiltinText {
  i32 code;
  const char* utf8;
};

static const BuiltinText kBuiltin[] = {
    {100000, kNotices},
    {100010, "メモリ不足です。"},
    {104010, "[%s]ファイルを\n読み込めませんでした。"},
    {104030, "メモリ不足のため[%s]ファイルを\n読み込めませんでした。"},
    {104060, "[%s]ファイルが\n存在しません。"},
    {104100, "パックファイル中に破損ファイルが見つかりました。\n\nPacFile = %s\nFile = %s"},
    {104110, "フォルダの数が多すぎます。"},
    {104111, "フォルダの階層が深すぎます。"},
    {104120, "パックファイル仕様が現在の仕様と一致しません。\n\n[%s]"},
    {104130, "パックファイルを同時に扱えるのは %d 個までです。"},
    {104140, "パックファイル内に含まれるファイルが、合計 %d 個を超えました。"},
    {104150, "パックファイル内のファイル\n[%s]が\n重複しています。"},
    {106010, "メモリ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {900040, "[内部エラー]\n\nバッファ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {901040, "[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"},
};

// Codes raised before the project's error texts are loaded: the project configuration is read
// before them, and a damaged error-text file cannot give texts of its own. Used when the project
// has no text for the code; each names the file and what is wrong with it.
static const BuiltinText kEarly[] = {
    {105000, "[%s]ファイルが壊れています。"},
    {901000, "[%s]ファイルが正しくありません。\n\n%s"},
    {901020, "[%s]ファイルが正しくありません。\n\n%s"},
};

static const char kDefaultText[] =
    "[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。";
static const char kHeader[] = "[対象ファイル]\n%s\n\n[場所]\n%d 行目\n\n[内容]\n\n";

// The built-in texts converted to Shift-JIS once.
struct SjisTexts {
  std::string builtin[ZP_COUNTOF(kBuiltin)];
  std::string early[ZP_COUNTOF(kEarly)];
  std::string deflt, header, caption_info;
  SjisTexts() {
    for (size_t i = 0; i < ZP_COUNTOF(kBuiltin); i++) builtin[i] = PlatUtf8ToSjis(kBuiltin[i].utf8);
    for (size_t i = 0; i < ZP_COUNTOF(kEarly); i++) early[i] = PlatUtf8ToSjis(kEarly[i].utf8);
    deflt = PlatUtf8ToSjis(kDefaultText);
    header = PlatUtf8ToSjis(kHeader);
  }
};

static const SjisTexts& Texts() {
  static const SjisTexts t;
  return t;
}

const char* ErrMessageForCode(i32 code) {
  const SjisTexts& t = Texts();
  const char* text = nullptr;
  for (i32 i = 0; i < g_UserErrCount && i < USER_ERR_MAX; i++) {
    if (g_UserErrCodes[i] == static_cast<u32>(code)) {
      text = g_UserErrTexts[i];
      break;
    }
  }
  for (size_t i = 0; i < ZP_COUNTOF(kBuiltin); i++)
    if (kBuiltin[i].code == code) return t.builtin[i].c_str();
  if (text) return text;
  for (size_t i = 0; i < ZP_COUNTOF(kEarly); i++)
    if (kEarly[i].code == code) return t.early[i].c_str();
  return t.deflt.c_str();
}

// ---- The checking formatter ------------------------------------------------------------------

// One conversion's flags, width and precision, parsed by the printf grammar. A width or precision
// is limited to what a dialog can show; a '*' takes an int argument (a negative width means
// left-justified, a negative precision none).
struct ConvSpec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  i32 width = 0;
  i32 precision = -1;
  // The conversion as printf reads it, rebuilt from the parsed fields (never the text as written).
  std::string Printf() const {
    std::string f = "%";
    if (left) f += '-';
    if (plus) f += '+';
    if (space) f += ' ';
    if (alt) f += '#';
    if (zero) f += '0';
    if (width > 0) f += std::to_string(width);
    if (precision >= 0) f += "." + std::to_string(precision);
    return f;
  }
};

// Digits as a field size, saturating at the limit so no count of digits can overflow.
static i32 ParseField(const char** p) {
  const i64 max = ERR_FORMAT_FIELD_MAX;
  i64 v = 0;
  while (**p >= '0' && **p <= '9') {
    v = v * 10 + (**p - '0');
    if (v > max) v = max + 1;
    (*p)++;
  }
  return static_cast<i32>(v > max ? max : v);
}

static i32 StarField(const ErrArg* a) {
  if (!a || a->kind == ErrArg::STR || a->kind == ErrArg::NONE) return 0;
  const i64 max = ERR_FORMAT_FIELD_MAX;
  // A double beyond the i64 range is clamped before its conversion (which would be undefined).
  i64 v = a->kind == ErrArg::DBL ? (a->d >= 1e18 ? max : a->d <= -1e18 ? -max : static_cast<i64>(a->d)) : a->i;
  return static_cast<i32>(v < -max ? -max : v > max ? max : v);
}

// The widest text one conversion can give: a field, a precision and a number's own digits.
enum { ERR_CONV_BUF = 2 * ERR_FORMAT_FIELD_MAX + 512 };

static void AppendInt(std::string& out, const ConvSpec& spec, char conv, const ErrArg& a) {
  char buf[ERR_CONV_BUF];
  std::string f = spec.Printf() + "ll" + conv;
  bool is_unsigned_conv = conv == 'u' || conv == 'x' || conv == 'X' || conv == 'o';
  if (is_unsigned_conv) {
    u64 v = static_cast<u64>(a.i);
    if (!a.wide) v &= 0xFFFFFFFFull;  // a 32-bit argument prints as its own width
    std::snprintf(buf, sizeof buf, f.c_str(), static_cast<unsigned long long>(v));
  } else {
    i64 v = a.i;
    if (a.kind == ErrArg::UINT && !a.wide) v = static_cast<i64>(static_cast<u32>(a.i));
    std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(v));
  }
  out += buf;
}

static void AppendArg(std::string& out, const ConvSpec& spec, char conv, const ErrArg* a) {
  char buf[ERR_CONV_BUF];
  if (!a) return;  // a conversion without an argument gives nothing
  switch (conv) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      if (a->kind == ErrArg::INT || a->kind == ErrArg::UINT) {
        AppendInt(out, spec, conv, *a);
      } else if (a->kind == ErrArg::DBL) {
        ErrArg t(static_cast<i64>(a->d));
        AppendInt(out, spec, conv, t);
      } else if (a->kind == ErrArg::STR) {
        out += a->s;
      }
      return;
    case 'c':
      if (a->kind == ErrArg::INT || a->kind == ErrArg::UINT) out += static_cast<char>(a->i);
      else if (a->kind == ErrArg::STR) out += a->s;
      return;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G': {
      if (a->kind == ErrArg::STR) {
        out += a->s;
        return;
      }
      double v = a->kind == ErrArg::DBL ? a->d : static_cast<double>(a->i);
      // %f of a huge value has hundreds of digits: the buffer cuts what does not fit.
      std::snprintf(buf, sizeof buf, (spec.Printf() + conv).c_str(), v);
      out += buf;
      return;
    }
    case 's':
      if (a->kind == ErrArg::STR) {
        // Width and precision apply to strings as printf would; precision never cuts a character.
        std::string s = a->s;
        if (spec.precision >= 0) s.resize(StrCutSjis(s.data(), s.size(), static_cast<size_t>(spec.precision)));
        size_t width = static_cast<size_t>(spec.width);
        if (s.size() < width) {
          if (spec.left) s.append(width - s.size(), ' ');
          else s.insert(0, width - s.size(), ' ');
        }
        out += s;
      } else if (a->kind == ErrArg::DBL) {
        std::snprintf(buf, sizeof buf, "%g", a->d);
        out += buf;
      } else {
        AppendInt(out, ConvSpec{}, 'd', *a);
      }
      return;
    case 'p':
      std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(a->i));
      out += buf;
      return;
  }
}

static std::string FormatArgs(const char* format, const ErrArg* args, size_t count) {
  std::string out;
  size_t next = 0;
  auto take = [&]() -> const ErrArg* { return next < count ? &args[next++] : nullptr; };
  for (const char* p = format; *p;) {
    if (*p != '%') {
      // The text up to the next conversion in one piece, stepping over whole characters so a
      // trail byte equal to '%' is never read as a conversion.
      const char* run = p;
      while (*p && *p != '%') p += SjisCharLen(p);
      out.append(run, static_cast<size_t>(p - run));
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      p++;
      continue;
    }
    ConvSpec spec;
    for (;; p++) {
      if (*p == '-') spec.left = true;
      else if (*p == '+') spec.plus = true;
      else if (*p == ' ') spec.space = true;
      else if (*p == '#') spec.alt = true;
      else if (*p == '0') spec.zero = true;
      else break;
    }
    if (*p == '*') {
      p++;
      i32 w = StarField(take());
      if (w < 0) spec.left = true, w = -w;
      spec.width = w;
    } else {
      spec.width = ParseField(&p);
    }
    if (*p == '.') {
      p++;
      if (*p == '*') {
        p++;
        i32 v = StarField(take());
        spec.precision = v < 0 ? -1 : v;
      } else {
        spec.precision = ParseField(&p);
      }
    }
    // Length modifiers carry no meaning here: each argument knows its own width.
    while (*p && std::strchr("hlLqjzt", *p)) p++;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') p += 3;
    char conv = *p;
    if (conv && std::strchr("diuxXocfFeEgGsp", conv)) {
      p++;
      AppendArg(out, spec, conv, take());
    } else {
      // Not a conversion: keep the text as it stands.
      out.append(start, static_cast<size_t>(p - start));
    }
  }
  return out;
}

std::string ErrFormatArgs(const char* format, const ErrArg* args, size_t count) noexcept {
  // Out of memory gives what can be given: nothing. No exception leaves the reporter.
  try {
    return FormatArgs(format ? format : "", args, count);
  } catch (...) {
    return std::string();
  }
}

// ---- Raising ---------------------------------------------------------------------------------

// The script-position header (data, never a format), or "" outside any script. Sets
// g_ErrScriptFile and g_ErrScriptLine.
static std::string ScriptHeader(bool at_script) {
  g_ErrScriptFile = nullptr;
  g_ErrScriptLine = 1;
  const char* file = nullptr;
  i32 line = 1;
  if (!at_script || !g_ErrScriptPosition || !g_ErrScriptPosition(&file, &line) || !file) return std::string();
  s_ErrScriptFileCopy = file;
  g_ErrScriptFile = s_ErrScriptFileCopy.c_str();
  g_ErrScriptLine = line;
  ErrArg hdr[2] = {ErrArg(file), ErrArg(line)};
  return ErrFormatArgs(Texts().header.c_str(), hdr, 2);
}

std::string ErrFormatPlain(i32 code) { return ScriptHeader(false) + ErrMessageForCode(code); }
std::string ErrFormatWithContext(i32 code) { return ScriptHeader(true) + ErrMessageForCode(code); }

// The script file's full path in the platform's spelling: the game folder, then the file name
// with "\" turned into "/".
static std::string ScriptFilePath(const char* file) {
  std::string rel = PlatSjisToUtf8(file);
  for (char& c : rel)
    if (c == '\\') c = '/';
  std::string folder = g_GameFolderNative;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + rel;
}

// What the edit button opens: the script position of the error the dialog shows, copied, so a
// later raise (which rewrites the globals) cannot move it while the dialog is open.
struct EditTarget {
  std::string file;
  i32 line;
};

static void LaunchEditor(void* ctx) {
  const EditTarget* t = static_cast<const EditTarget*>(ctx);
  if (t->file.empty()) return;
  std::string editor = PlatGetEnv("VISUAL");
  if (editor.empty()) editor = PlatGetEnv("EDITOR");
  if (editor.empty()) return;  // no registered program: nothing is started
  std::vector<std::string> argv = ErrEditorCommand(editor, t->line, ScriptFilePath(t->file.c_str()));
  if (!argv.empty()) PlatSpawn(argv);
}

static int RaiseArgs(i32 code, i8 fatal, bool at_script, const ErrArg* args, size_t count) {
  std::string text;
  const char* caption;
  int edit;
  EditTarget target;
  {
    std::lock_guard<std::recursive_mutex> lock(s_ErrMutex);
    // The arguments are substituted into the message text alone; the header is prepended as data.
    std::string header = ScriptHeader(at_script);
    g_ErrLastText = header + ErrFormatArgs(ErrMessageForCode(code), args, count);
    if (fatal) {
      g_QuitRequested = 1;  // a non-fatal raise never clears an earlier quit request
      g_ErrFatalRaised = 1;
    }
    if (g_ErrDialogShown) return 0;
    g_ErrDialogShown = 1;
    text = g_ErrLastText;
    caption = g_ErrDialogCaption;
    edit = g_DebugMode == 1 ? (g_ErrScriptFile ? 1 : 0) : -1;
    target.file = g_ErrScriptFile ? g_ErrScriptFile : "";
    target.line = g_ErrScriptLine;
  }
  HookCall(g_HookCursorForDialog);
  PlatErrorDialog(caption, text.c_str(), edit, LaunchEditor, &target);
  return 1034;
}

// The entry points catch what the standard library may throw (out of memory): a raise still
// applies its fatal flag, and no exception leaves the reporter. The build checks that they say so.
static_assert(
    noexcept(ErrFormatArgs(nullptr, nullptr, 0)) && noexcept(ErrRaiseArgs(0, 0, false, nullptr, 0)) && noexcept(
        ErrMessageBoxArgs(nullptr, nullptr, nullptr, 0)) && noexcept(ErrTraceArgs(nullptr, nullptr, 0)),
    "the error reporter's entry points never throw");
int ErrRaiseArgs(i32 code, i8 fatal, bool at_script, const ErrArg* args, size_t count) noexcept {
  try {
    return RaiseArgs(code, fatal, at_script, args, count);
  } catch (...) {
    if (fatal) {
      g_QuitRequested = 1;
      g_ErrFatalRaised = 1;
    }
    return 0;
  }
}

void ErrQuitOnFailure() {
  g_ErrFatalRaised = 1;
  g_QuitRequested = 1;
}

int ErrMessageBoxArgs(const char* title, const char* format, const ErrArg* args, size_t count) noexcept {
  try {
    std::string text = ErrFormatArgs(format, args, count);
    // An empty title is none: the box then carries the system's default caption.
    return PlatMessageBox(title && title[0] ? title : nullptr, text.c_str(), PLAT_MB_OK | PLAT_MB_SYSTEMMODAL);
  } catch (...) {
    return 0;
  }
}

void ErrTraceArgs(const char* format, const ErrArg* args, size_t count) noexcept {
  try {
    std::string text = ErrFormatArgs(format, args, count);
    std::fprintf(stderr, "[trace] %s\n", PlatSjisToUtf8(text).c_str());
  } catch (...) {}
}

// ---- The edit button -------------------------------------------------------------------------

struct EditorRow {
  const char* file;
  const char* params;
  const char* order;  // the arguments in the order of the conversions: q quote, p path, l line
};

static const EditorRow kEditors[] = {
    {"apsaly.exe", " /j%d %s", "lp"},         {"EmEditor.exe", " %c%s%c /l %d", "qpql"},
    {"Ginnie.exe", " %c%s%c /r%d", "qpql"},   {"GinnieFE.exe", " %c%s%c /r%d", "qpql"},
    {"Jcref.exe", " %c%s%c /r%d", "qpql"},    {"JmEdit2.exe", " %c%s%c/%d", "qpql"},
    {"K2Editor.exe", " %s /j%d", "pl"},       {"MIW.exe", " %c%s+%d%c", "qplq"},
    {"oseditor2.exe", " /j%d %s", "lp"},      {"otbedit.exe", " %s /r%d", "pl"},
    {"QXW32.exe", " -J%d %c%s%c", "lqpq"},    {"tepa.exe", " /j%d %c%s%c", "lqpq"},
    {"TeraPad.exe", " /jl=%d %s", "lp"},      {"whinny.exe", " %c%s/%d%c", "qplq"},
    {"WZEDITOR.exe", " %s /j%d", "pl"},       {"sakura.exe", " %c%s%c -Y=%d", "qpql"},
    {"hidemaru.exe", " /j%d %c%s%c", "lqpq"},
    // The editors of this platform, as $VISUAL or $EDITOR name them.
    {"vi", " +%d %s", "lp"},                  {"vim", " +%d %s", "lp"},
    {"nvim", " +%d %s", "lp"},                {"emacs", " +%d %s", "lp"},
    {"nano", " +%d %s", "lp"},                {"kate", " +%d %s", "lp"},
    {"gedit", " +%d %s", "lp"},               {"mousepad", " +%d %s", "lp"},
    {"code", " --goto %s:%d", "pl"},
};
static const EditorRow kDefaultEditor = {"", " %s", "p"};

static const EditorRow& FindEditor(const char* editor_file) {
  for (const EditorRow& r : kEditors)
    if (StrEqualNoCaseSjis(r.file, editor_file)) return r;
  // On this platform editors carry no ".exe": match the bare name too.
  for (const EditorRow& r : kEditors) {
    if (!StrEndsWith(r.file, ".exe")) continue;
    std::string bare(r.file, std::strlen(r.file) - 4);
    if (StrEqualNoCaseSjis(bare.c_str(), editor_file)) return r;
  }
  return kDefaultEditor;
}

std::string ErrEditorParameters(const char* editor_file, i32 line, const char* path) {
  const EditorRow& r = FindEditor(editor_file);
  ErrArg args[4];
  size_t n = 0;
  for (const char* o = r.order; *o; o++)
    args[n++] = *o == 'q' ? ErrArg(static_cast<i32>('"')) : *o == 'p' ? ErrArg(path) : ErrArg(line);
  return ErrFormatArgs(r.params, args, n);
}

// Splits text into arguments: blanks separate them, double quotes group them. No shell ever
// sees them.
static void SplitArgs(const std::string& text, std::vector<std::string>& argv) {
  std::string cur;
  bool quoted = false, have = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if (c == ' ' && !quoted) {
      if (have) argv.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) argv.push_back(cur);
}

std::vector<std::string> ErrEditorCommand(const std::string& editor, i32 line, const std::string& path) {
  std::vector<std::string> argv;
  SplitArgs(editor, argv);  // the variable's own words, never the path's
  if (argv.empty()) return argv;
  std::string name = argv[0];
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  // The row's parameters word by word, the conversions filled in: the path is always part of one
  // argument, and the quotes that kept it whole on a Windows command line have no work left.
  const EditorRow& r = FindEditor(name.c_str());
  const char* order = r.order;
  std::string word;
  bool have = false;
  for (const char* p = r.params;; p++) {
    if (*p == ' ' || *p == '\0') {
      if (have) argv.push_back(word);
      word.clear();
      have = false;
      if (*p == '\0') break;
    } else if (*p == '%' && (p[1] == 'c' || p[1] == 's' || p[1] == 'd') && *order) {
      const char o = *order++;
      if (o == 'p') word += path;
      if (o == 'l') word += std::to_string(line);
      have = true;
      p++;
    } else {
      word += *p;
      have = true;
    }
  }
  return argv;
}

void ErrReset() {
  g_ErrDialogCaption = "ZEPHRA Debug Info.";
  g_ErrDialogShown = 0;
  g_ErrFatalRaised = 0;
  g_ErrScriptFile = nullptr;
  g_ErrScriptLine = 1;
  g_ErrLastText.clear();
  s_ErrScriptFileCopy.clear();
}
