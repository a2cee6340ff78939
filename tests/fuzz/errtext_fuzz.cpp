// Fuzz target for the error-text formatter on a game's own texts ("chbin\zpe.zbn" holds them):
// the input up to its first NUL is the text, the rest picks the arguments; the text is formatted
// directly and raised through the project's error table (header, dialog sink and fatal flag).
#include <cstdint>
#include <cstring>
#include <string>

#include "core/err.h"
#include "core/sys.h"
#include "core/usererr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  const char* p = reinterpret_cast<const char*>(data);
  const size_t text_len = strnlen(p, size);
  const std::string text(p, text_len);
  const std::string rest = text_len < size ? std::string(p + text_len + 1, size - text_len - 1) : std::string();
  i64 wide = 0;
  std::memcpy(&wide, rest.data(), rest.size() < sizeof wide ? rest.size() : sizeof wide);
  const ErrArg args[] = {ErrArg(static_cast<i32>(wide)),          ErrArg(rest),
                         ErrArg(static_cast<double>(wide) / 7.0), ErrArg(wide),
                         ErrArg(static_cast<u32>(wide >> 32)),    ErrArg(text)};
  const size_t count = rest.empty() ? 0 : (static_cast<u8>(rest[0]) % 7);
  std::string out = ErrFormatArgs(text.c_str(), args, count);
  // Widths stay bounded: the text itself and at most one limited field per argument.
  if (out.size() > text.size() + count * (rest.size() + 2 * ERR_FORMAT_FIELD_MAX + 512)) __builtin_trap();
  ErrReset();
  UserErrReset();
  g_UserErrCount = 1;
  g_UserErrCodes[0] = 200001;
  g_UserErrTexts[0] = text.c_str();
  ErrRaiseAtScriptF(200001, static_cast<i8>(wide & 1), static_cast<i32>(wide), rest, wide);
  UserErrReset();
  ErrReset();
  g_QuitRequested = 0;
  return 0;
}
