// Fuzz target for the registry store parser: any bytes (UTF-8, UTF-16LE, damaged), then a lookup
// of every key and value it accepted.
#include <cstdint>
#include <cstdlib>

#include "platform/desktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PlatRegStore store;
  if (PlatRegistryParse(data, size, &store) != 0) return 0;
  for (const PlatRegKey& k : store.keys) {
    const size_t bs = k.path.find('\\');
    const std::string root = k.path.substr(0, bs);
    const std::string sub = bs == std::string::npos ? std::string() : k.path.substr(bs + 1);
    for (const PlatRegValue& v : k.values)
      if (!PlatRegistryFind(store, root.c_str(), sub.c_str(), v.name.c_str())) std::abort();
  }
  return 0;
}
