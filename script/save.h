// Save data: blocks numbered by DNO (1 to 1024) built in memory by the write command, then put
// all at once into a ".sd" file in the save folder or into one of 500 memory save slots (the same
// bytes); the load command applies one block back. Each variable or image item is compressed on
// its own with zlib (level 1). Files and slots are little-endian:
//   0 "ZPSD", 4 u32 version 480, 8 u32 blocks present, 12 u32 1024, 16 u32 offset[1024] (entry of
//   DNO d at 12 + 4 d, 0 = absent), 4112 block records: u32 DNO, then the block.
// A block: u8 kind (0 variable, 1 image, 2 group), u8 1, u16 variable id, u32 stored length,
// u32 raw length, then the stored bytes. Block 1024 written from the slots is the snapshot: 500
// records of u32 raw length, u32 stored length and the slot's compressed image.
#pragma once
#include "common/types.h"

struct ObjNode;

enum {
  SAVE_DNO_COUNT = 1024,
  SAVE_SNAPSHOT_DNO = 1024,
  SAVE_SLOT_COUNT = 500,
  SAVE_SNAPSHOT_SLOT = 99999,  // the write command's slot number that builds the snapshot
  SAVE_VERSION = 480,
  SAVE_HEADER_SIZE = 4112,  // magic, version, count, entry count, directory
  SAVE_ITEM_HEADER_SIZE = 12,
  SAVE_NAME_MAX = 32,  // bytes of a save name as the script gives it
  SAVE_SLOT_MIN_CAPACITY = 51200,
  SAVE_SCRATCH_FIRST = 1048576,
  SAVE_RECORD_IMAGE_SIZE = 1600,  // the layer record inside an image item
  SAVE_VAR_DATA_MAX = 40000000,   // data bytes of one variable item
  SAVE_STR_STORED_MAX = 4096,     // byte length of one saved string
  SAVE_INFLATE_RATIO_MAX = 1032,  // deflate never expands beyond this
};
enum { SAVE_ITEM_VAR = 0, SAVE_ITEM_IMAGE = 1, SAVE_ITEM_GROUP = 2 };
// Group selector k (0 to 11) names class 1 + k % 4 and type 1 + k / 4.
enum { SAVE_GROUP_SELECTORS = 12 };
enum {
  ERR_SAVE_LAYER_MISSING = 101250,
  ERR_SAVE_OPEN = 102100,
  ERR_SAVE_NO_BLOCK = 102110,  // the handler's result is then 0
  ERR_SAVE_TYPE = 102120,
  ERR_SAVE_CREATE = 102140,
  ERR_SAVE_NAME_FOLDER = 102150,
  ERR_SAVE_NAME_LONG = 102160,
  ERR_SAVE_PENDING = 102170,
  ERR_SAVE_MAGIC = 108030,
  ERR_SAVE_VERSION = 108040,
  ERR_SAVE_IMAGE_INTO_VAR = 108050,
  ERR_SAVE_TOO_LONG = 108070,
  ERR_SAVE_DIM_COUNT = 108080,
  ERR_SAVE_DIM_SIZE = 108090,
  ERR_SAVE_VAR_INTO_LAYER = 108100,
  ERR_SAVE_IMAGE_FORMAT = 108110,
  ERR_SAVE_PAYLOAD = 900000,
};

// A pending block; length 0 = empty. While a block is built the length is the write position.
struct SaveBlock {
  u8* data;
  i32 length;
  size_t capacity;
};
// A memory save slot: the image of a save file. Reads never pass its length.
struct SaveSlot {
  u8* data;
  i32 capacity;
  i32 length;
  i32 read_pos;
};
// The buffer an item's payload is built in before compression; it only grows.
struct SaveScratch {
  u8* data;
  size_t capacity;
};

extern SaveBlock g_SaveBlocks[SAVE_DNO_COUNT];  // entry d - 1 for DNO d
extern SaveSlot g_SaveSlots[SAVE_SLOT_COUNT];
extern SaveScratch g_SaveScratch;

// Commands 84, 55 and 85: each decodes its line, checks the names (save file and layer) and
// runs the request below.
i32 CmdSaveDataWrite();
i32 CmdSaveDataLoad();
i32 CmdSaveBufferClear();

// What a line of command 84 asks for, its names already checked.
struct SaveWriteRequest {
  const char* path;  // the save file (Shift-JIS, the save folder included), or null
  bool has_slot;
  i64 slot;  // 0 to 499, or SAVE_SNAPSHOT_SLOT for the snapshot
  bool has_dno;
  i64 dno;       // the block to build, 1 to 1024
  bool has_var;  // a variable was named (id 0 is system variable 0)
  i64 var_id;
  bool whole;
  i64 element;
  const ObjNode* layer;    // the layer whose picture to save, or null
  const char* layer_path;  // its resolved path, for messages
  u16 group;               // bit k for group selector k
};
i32 SaveDataWrite(const SaveWriteRequest& r);

// What a line of command 55 asks for.
struct SaveLoadRequest {
  const char* path;  // the save file, or null to read memory save slot `slot`
  i64 slot;
  i64 dno;
  bool has_var;  // a variable was named (id 0 is system variable 0)
  i64 var_id;
  bool whole;
  i64 element;
  ObjNode* layer;  // the layer to replace, or null
  const char* layer_path;
};
i32 SaveDataLoad(const SaveLoadRequest& r);

// -1: every pending block; otherwise the block of that index (DNO - 1).
void SaveFreeBlocks(i32 index);
// Shutdown: the pending blocks, the 500 slots and the scratch buffer.
void SaveFreeAll();

// Block 1024 from the 500 slots. 0, or -1 after the message (no block 1024 is left half-built).
i32 SaveSnapshotBuild();
// The slots from a snapshot block's contents (behind its 12-byte header of the given kind and
// id). Every record is checked and uncompressed before any slot changes. 0 or -1.
i32 SaveSnapshotRestore(u8 kind, u16 id, const u8* contents, size_t stored, const char* path);
// Applies a variable payload to variable id: the whole variable, or the one element. The payload
// is checked whole first, so a refused one changes nothing. path names the save in messages.
i32 SaveVarRestore(i64 id, bool whole, const u8* payload, size_t len, i64 element, const char* path);
// Replaces the layer node (found at the resolved path) by a new one holding the payload's
// picture. Checked before the old layer goes. 0 or -1.
i32 SaveImageRestore(ObjNode* node, const char* layer_path, const u8* payload, size_t len, const char* path);

// Tests: frees everything and forgets the load buffer.
void SaveReset();
