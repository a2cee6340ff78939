// Desktop services for the script commands: the clipboard, opening documents and web pages in
// the desktop's viewer, the program the desktop opens a file with, and the read-only registry
// store. Texts cross this header in Shift-JIS (CP932); game-data names are resolved as
// platform/file.h resolves them.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "common/types.h"

// ---- Clipboard -------------------------------------------------------------------------------
// SDL's clipboard belongs to the thread that pumps the video events: from another thread the
// call is carried out by the pump while the caller waits; the wait gives up (-1) once *abort is
// non-zero, so a shutdown never waits for a pump that no longer runs.
// Puts the text on the clipboard. 0, or -1.
int PlatClipboardSetText(const char* sjis, const std::atomic<u8>* abort);
// The clipboard text in CP932. 0, or -1 when the clipboard holds no text.
int PlatClipboardGetText(std::string* sjis, const std::atomic<u8>* abort);

// ---- Opening documents -----------------------------------------------------------------------
// What an open starts with: a native program (an executable ELF file or script) itself with the
// parameters split at blanks; a name that starts with a URL scheme ("http:", "mailto:" ...) as a
// URL with its "\" turned into "/"; any other existing file through xdg-open. A Windows program,
// a missing file or a failed start starts nothing (-1). With wait the call returns once the
// started process ended (for xdg-open: once it has handed the file to the viewer).
enum { PLAT_OPEN_NOTHING = 0, PLAT_OPEN_PROGRAM = 1, PLAT_OPEN_URL = 2, PLAT_OPEN_VIEWER = 3 };
// The argument vector an open would start (empty for nothing) and its kind.
int PlatSpawnOpenCommand(const char* sjis_name, const char* sjis_params, std::vector<std::string>* argv);
// 0 when started, -1 when nothing was started.
int PlatSpawnOpen(const char* sjis_name, const char* sjis_params, bool wait);
// The desktop entry that xdg-mime names as the default program for the file's type (for example
// "org.gnome.Evince.desktop"), in CP932; empty when the file does not exist or none is known.
std::string PlatSpawnAssociatedApp(const char* sjis_name);

// ---- Registry store --------------------------------------------------------------------------
// A per-user file in regedit's export format ("REGEDIT4" or "Windows Registry Editor Version
// 5.00", UTF-8 or UTF-16LE with its byte-order mark), $XDG_CONFIG_HOME/zephra/registry.reg
// (default ~/.config/zephra/registry.reg). The engine only reads it.
enum {
  PLAT_REG_SZ = 1,
  PLAT_REG_EXPAND_SZ = 2,
  PLAT_REG_BINARY = 3,
  PLAT_REG_DWORD = 4,
  PLAT_REG_MULTI_SZ = 7,
  PLAT_REG_FILE_MAX = 16 << 20,  // a larger store is refused
  PLAT_REG_VALUE_MAX = 1 << 20,  // data bytes of one value
};
// One value as the registry holds it: strings (also hex(2) and hex(7)) as CP932 bytes with their
// terminating zero, a dword as four little-endian bytes, anything else as its bytes.
struct PlatRegValue {
  std::string name;  // CP932; empty for the key's default value ("@")
  u32 type;
  std::vector<u8> data;
};
struct PlatRegKey {
  std::string path;  // CP932, "HKEY_...\sub\key"
  std::vector<PlatRegValue> values;
};
// An entry of a store's index: the hash of a folded name and the key (and value) it names.
struct PlatRegSlot {
  u64 hash;  // 0: empty
  u32 key;
  u32 value;
};
struct PlatRegStore {
  std::vector<PlatRegKey> keys;
  // Open-addressed by the hash of the root and the folded sub-key, and of the key and the folded
  // value name; powers of two in size, at most half full.
  std::vector<PlatRegSlot> key_index, value_index;
  size_t value_count = 0;
};
// Parses a store file, in time linear in its size. 0, or -1 when it is damaged (no header, a
// malformed line, a value too large); every line, escape and hex run is bounded by the bytes
// given.
int PlatRegistryParse(const u8* data, size_t size, PlatRegStore* out);
// The value of a key: root (such as "HKEY_CURRENT_USER", compared exactly), sub-key and value
// name (null or empty: the default value) compared without regard to case. Null when missing.
const PlatRegValue* PlatRegistryFind(const PlatRegStore& store, const char* root, const char* subkey,
                                     const char* value);
std::string PlatRegistryPath();
// Reads one value from the store file: 0, or -1 without a store, with a damaged one, or when the
// key or value is missing. The parsed store is kept and parsed again only when the file changes.
int PlatRegistryRead(const char* root, const char* subkey, const char* value, PlatRegValue* out);
