// Named-object trees: the one node record of the layer, menu, script-thread and sound trees,
// the name key, path joining against a per-tree base path, lookup, ordered insertion and
// unlinking. Invariant: a node's children form a doubly linked list in ascending order value
// (equal values in insertion order), the child count is that list's length, and every child's
// parent points at the list's owner. Only folder nodes stand in the middle of a path.
#pragma once
#include "common/types.h"

enum { OBJ_ITEM = 0, OBJ_FOLDER = 1 };
// ObjFindNode modes.
enum { OBJ_FIND_ITEM = 0, OBJ_FIND_FOLDER = 1, OBJ_FIND_EITHER = 2 };
enum {
  OBJ_KEY_FOLDER_BIT = 0x80000000u,
  OBJ_BASE_MAX = 256,   // base path buffers, NUL included
  OBJ_PATH_MAX = 4096,  // the usual size of a resolved-path buffer
};
enum {
  ERR_OBJ_MISSING_FOLDER = 100230,
  ERR_OBJ_BLANK_IN_PATH = 100242,
};

struct ObjChildIndex;

struct ObjNode {
  ObjNode* first_child;
  ObjNode* last_child;
  ObjNode* prev;
  ObjNode* next;
  ObjNode* parent;
  char* name;  // heap copy of the last path component
  u32 name_len;
  u32 key;  // MurmurHash2 of the name, bit 31 = folder
  u32 child_count;
  i64 order;
  u8 kind;               // OBJ_FOLDER or OBJ_ITEM
  void* payload;         // LayerRecord, MenuItem, TaskContext or SoundObject
  u64 seq;               // when it was linked: among equal order values the list runs in this order
  ObjChildIndex* index;  // a folder with many children: its children by name and by order value
};

extern ObjNode* g_LayerRoot;
extern ObjNode* g_MenuRoot;
extern ObjNode* g_TaskRoot;
extern ObjNode* g_SoundRoot;

// Base paths that relative names are joined to (system variables 121 to 124).
extern char g_LayerBase[OBJ_BASE_MAX];
extern char g_SoundBase[OBJ_BASE_MAX];
extern char g_TaskBase[OBJ_BASE_MAX];
extern char g_MenuBase[OBJ_BASE_MAX];

// The key of a name: MurmurHash2 (seed 0) with bit 31 replaced by the kind.
u32 ObjNameKey(const char* name, u32 len, u8 kind);

// Joins path to base into out (out_size bytes). Returns 1 when the joined path ended in "/"
// (the slash is removed), 0 otherwise, -1 after error 100242 (a blank inside a component
// when blanks are not allowed, or a result that does not fit out).
i32 ObjResolvePath(char* out, size_t out_size, const char* path, const char* base, i8 blanks_allowed);

// The node at path below root, or null. mode: OBJ_FIND_ITEM, OBJ_FIND_FOLDER or OBJ_FIND_EITHER.
ObjNode* ObjFindNode(ObjNode* root, const char* path, i32 mode);
// The folder child of parent with that name, or null.
ObjNode* ObjFindChild(ObjNode* parent, const char* name, u32 len);
// The node under which path's last component lies, or null after error 100230.
ObjNode* ObjFindPath(const char* path, ObjNode* start);

// Links node among parent's children after every child whose order value is at most order. A
// folder with many children keeps an index beside the list, so finding a child by name and
// linking one take constant (or logarithmic) time however many children there are.
void ObjInsertChild(ObjNode* parent, ObjNode* node, i64 order);
// Exchanges the names and keys of two linked nodes, keeping their folders' indexes right. A key
// keeps its folder bit, so a folder and an item that exchange names are each found afterwards by
// the other's kind of path (the folder by the item's name without "/").
void ObjSwapNames(ObjNode* a, ObjNode* b);
// Takes node out of its parent's list; returns the former parent (null for a null or unlinked
// node). The node keeps its own links; freeing it is the caller's business.
ObjNode* ObjUnlinkNode(ObjNode* node);
// Re-inserts node among its siblings with a new order value: 1, or 0 when the node or its parent
// is missing.
i32 ObjSetOrder(ObjNode* node, i64 order);
// The n-th child (1-based; n below 2 gives the first), null past the last.
ObjNode* ObjGetNthChild(ObjNode* parent, i64 n);

// The shared node-creation procedure: parent from ObjFindPath, name = the text after the last
// "/", key, kind and order set, linked in order. Null after error 100230 or 100010.
ObjNode* ObjCreateNode(ObjNode* start, const char* path, u8 kind, i64 order);
// A node with no parent and no payload (a tree root). Null after error 100010.
ObjNode* ObjNewRoot();
// Frees a node's name and the node (not its payload, not its children).
void ObjFreeNode(ObjNode* node);

// A zero-filled payload record of size bytes for an owner's constructor; null after error
// 100010 (fatal) when memory runs out.
void* ObjAllocPayload(size_t size);

// The trees in the order of ObjReset's table of payload-freeing functions, which the payloads'
// owners provide (the tree knows nothing of what it holds).
enum { OBJ_TREE_LAYER = 0, OBJ_TREE_MENU = 1, OBJ_TREE_TASK = 2, OBJ_TREE_SOUND = 3, OBJ_TREE_COUNT = 4 };
typedef void (*ObjPayloadFreeFn)(void* payload);
// Frees the four trees, each payload through its tree's function, and clears the base paths.
void ObjReset(const ObjPayloadFreeFn free_payload[OBJ_TREE_COUNT]);
