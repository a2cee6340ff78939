// Fuzz target for the CSV splitter: any bytes, walked with the command's appended line end; every
// stored field must lie inside the field buffer's limit.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "script/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  u8* text = static_cast<u8*>(std::malloc(size + 2));
  if (size) std::memcpy(text, data, size);
  text[size] = '\r';
  text[size + 1] = '\n';
  i64 seen = 0;
  const i64 stored = FileCsvSplit(
      text, size + 2,
      [](void* ctx, i64 index, const char* s, size_t len) {
        i64* n = static_cast<i64*>(ctx);
        if (index != *n || len > FILE_CSV_FIELD_MAX || (len && !s)) std::abort();
        (*n)++;
        return true;
      },
      &seen);
  if (stored != seen || FileCsvSplit(text, size + 2, nullptr, nullptr) != stored) std::abort();
  std::free(text);
  return 0;
}
