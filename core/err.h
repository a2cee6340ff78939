// Numbered error reporting. The text of a code comes from the project's error texts, except for
// the fifteen built-in codes whose own texts win; it is optionally headed by the running script's
// file and line, filled with the call's arguments by a checking formatter (a text is never used
// as a printf format of its own), and shown in the error dialog. Only the first error of a run
// opens the dialog; a fatal raise sets the quit flag, a non-fatal one leaves it as it is.
#pragma once
#include <atomic>
#include <string>
#include <type_traits>
#include <vector>

#include "common/types.h"

// Built-in codes used across the engine.
enum {
  ERR_NOTICES = 100000,
  ERR_OUT_OF_MEMORY = 100010,
  ERR_FILE_READ = 104010,
  ERR_FILE_READ_NOMEM = 104030,
  ERR_FILE_MISSING = 104060,
  ERR_PACK_DAMAGED = 104100,
  ERR_PACK_TOO_MANY_FOLDERS = 104110,
  ERR_PACK_FOLDERS_TOO_DEEP = 104111,
  ERR_PACK_VERSION = 104120,
  ERR_PACK_TOO_MANY_PACKS = 104130,
  ERR_PACK_TOO_MANY_ENTRIES = 104140,
  ERR_PACK_DUPLICATE = 104150,
  ERR_INFLATE_NOMEM = 106010,
  ERR_INFLATE_BUFFER = 900040,
  ERR_PACK_OPEN = 901040,
};

// One argument of a formatted message: integers (with their width), doubles and strings.
struct ErrArg {
  enum Kind : u8 { NONE, INT, UINT, DBL, STR } kind = NONE;
  u8 wide = 0;  // 64-bit integer argument
  i64 i = 0;
  double d = 0;
  const char* s = nullptr;
  ErrArg() = default;
  template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  ErrArg(T v) : kind(std::is_signed_v<T> ? INT : UINT), wide(sizeof(T) > 4), i(static_cast<i64>(v)) {}
  template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  ErrArg(T v) : kind(INT), i(static_cast<i64>(v)) {}
  ErrArg(double v) : kind(DBL), d(v) {}
  ErrArg(const char* v) : kind(STR), s(v ? v : "") {}
  ErrArg(char* v) : kind(STR), s(v ? v : "") {}
  ErrArg(const std::string& v) : kind(STR), s(v.c_str()) {}
};

// printf-style formatting with the conversions checked against the arguments actually given:
// a conversion without an argument gives nothing, a mismatched one is converted sensibly. Flags,
// widths and precisions follow the printf grammar; a width or precision is limited to
// ERR_FORMAT_FIELD_MAX; what is not a conversion stays literal text. Never throws.
enum { ERR_FORMAT_FIELD_MAX = 4096 };
std::string ErrFormatArgs(const char* format, const ErrArg* args, size_t count) noexcept;
template <class... A>
std::string ErrFormat(const char* format, const A&... a) {
  const ErrArg args[] = {ErrArg(a)..., ErrArg()};
  return ErrFormatArgs(format, args, sizeof...(A));
}

int ErrRaiseArgs(i32 code, i8 fatal, bool at_script, const ErrArg* args, size_t count) noexcept;

// The raise entry points. "AtScript" heads the text with the running script's file and line.
// Returns the dialog's result (callers ignore it).
template <class... A>
int ErrRaiseAtScriptF(i32 code, i8 fatal, const A&... a) {
  const ErrArg args[] = {ErrArg(a)..., ErrArg()};
  return ErrRaiseArgs(code, fatal, true, args, sizeof...(A));
}
template <class... A>
int ErrRaiseF(i32 code, i8 fatal, const A&... a) {
  const ErrArg args[] = {ErrArg(a)..., ErrArg()};
  return ErrRaiseArgs(code, fatal, false, args, sizeof...(A));
}
inline int ErrRaiseAtScript(i32 code, i8 fatal) { return ErrRaiseArgs(code, fatal, true, nullptr, 0); }
inline int ErrRaise(i32 code, i8 fatal) { return ErrRaiseArgs(code, fatal, false, nullptr, 0); }

// A failure that ends the run without a numbered error (its message box has been shown, or it
// has none): the quit flag, and exit status 1 as after a fatal error. Every quit that a failure
// causes goes through here or through a fatal raise.
void ErrQuitOnFailure();

// The text of a code (never null): built-in codes first, then the project's texts, then the
// engine's own texts of the codes raised before the project's are loaded, else the default
// text. Shift-JIS.
const char* ErrMessageForCode(i32 code);

// The message of a raise before formatting: the text, headed by the script position when asked
// and known. Sets g_ErrScriptFile and g_ErrScriptLine.
std::string ErrFormatWithContext(i32 code);
std::string ErrFormatPlain(i32 code);

// An immediate system-modal message box, usable before any window exists.
int ErrMessageBoxArgs(const char* title, const char* format, const ErrArg* args, size_t count) noexcept;
template <class... A>
int ErrMessageBoxF(const char* title, const char* format, const A&... a) {
  const ErrArg args[] = {ErrArg(a)..., ErrArg()};
  return ErrMessageBoxArgs(title, format, args, sizeof...(A));
}

// The trace sink: prints to stderr in debug builds, nothing in released builds.
void ErrTraceArgs(const char* format, const ErrArg* args, size_t count) noexcept;
template <class... A>
inline void ErrTrace(const char* format, const A&... a) {
#if defined(ZEPHRA_DEBUG_TRACE)
  const ErrArg args[] = {ErrArg(a)..., ErrArg()};
  ErrTraceArgs(format, args, sizeof...(A));
#else
  (void)format;
  ((void)a, ...);
#endif
}

// Where the running script stands, for the error header; filled by the script engine. Returns
// false when no script runs.
typedef bool (*ErrScriptPositionFn)(const char** file, i32* line);
extern ErrScriptPositionFn g_ErrScriptPosition;

// State visible to the rest of the engine and to tests.
extern const char* g_ErrDialogCaption;    // "ZEPHRA Debug Info." or "License Information"
extern u8 g_ErrDialogShown;               // the dialog has been opened this run
extern std::atomic<u8> g_ErrFatalRaised;  // a fatal error or a failure ended this run (exit status 1)
extern const char* g_ErrScriptFile;       // script file of the last error with context, or null
extern i32 g_ErrScriptLine;               // its line, 1 without context
extern std::string g_ErrLastText;         // the last formatted message (shown or not)
extern u8 g_DebugMode;                    // project configuration: the edit button is offered

// The editor's argument vector for the edit button: the editor setting split at blanks (a
// program and its own options, as $EDITOR often holds), then the parameters of the known-editor
// row that matches the program's file name (or the default row), filled with line and path word
// by word, so the path stays within one argument whatever it holds (blanks, quotes).
std::vector<std::string> ErrEditorCommand(const std::string& editor, i32 line, const std::string& path);
// The parameter text of the known-editor table for an editor file name (Shift-JIS path).
std::string ErrEditorParameters(const char* editor_file, i32 line, const char* path);

// Tests: forget the shown dialog, the caption and the last texts.
void ErrReset();
