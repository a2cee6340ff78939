// Named-object trees (see obj.h). Paths are stepped a Shift-JIS character at a time, so a lead
// byte and its trail byte are never taken for "/", "." or ":", and a lead byte right before the
// terminator never steps past it.
#include "core/obj.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <unordered_map>

#include "common/hash.h"
#include "common/sjis.h"
#include "core/err.h"

ObjNode* g_LayerRoot = nullptr;
ObjNode* g_MenuRoot = nullptr;
ObjNode* g_TaskRoot = nullptr;
ObjNode* g_SoundRoot = nullptr;

char g_LayerBase[OBJ_BASE_MAX];
char g_SoundBase[OBJ_BASE_MAX];
char g_TaskBase[OBJ_BASE_MAX];
char g_MenuBase[OBJ_BASE_MAX];

u32 ObjNameKey(const char* name, u32 len, u8 kind) {
  u32 h = HashMurmur2(name, len, 0) & ~OBJ_KEY_FOLDER_BIT;
  return kind ? (h | OBJ_KEY_FOLDER_BIT) : h;
}

// ---- Paths -----------------------------------------------------------------------------------

static bool IsPlainName(const char* s) {
  while (*s) {
    size_t n = SjisCharLen(s);
    if (n == 1 && (*s == '.' || *s == ':' || *s == '/')) return false;
    s += n;
  }
  return true;
}

// End of the component that starts at s: the next "/" or the terminator.
static const char* ComponentEnd(const char* s) {
  while (*s && *s != '/') s += SjisCharLen(s);
  return s;
}

// The start of the last component: just after the last "/".
static const char* LastComponent(const char* s) {
  const char* last = s;
  while (*s) {
    if (*s == '/') last = s + 1;
    s += SjisCharLen(s);
  }
  return last;
}

static i32 StoreResolved(char* out, size_t out_size, std::string& result, const std::string& joined) {
  i32 folder = 0;
  if (!result.empty() && result.back() == '/') {
    result.pop_back();
    folder = 1;
  }
  if (result.size() >= out_size) {
    // The caller's buffer cannot hold the path: refused like any other unusable path.
    ErrRaiseAtScriptF(ERR_OBJ_BLANK_IN_PATH, 1, joined);
    return -1;
  }
  std::memcpy(out, result.data(), result.size());
  out[result.size()] = '\0';
  return folder;
}

i32 ObjResolvePath(char* out, size_t out_size, const char* path, const char* base, i8 blanks_allowed) {
  if (!out || out_size == 0) return -1;
  out[0] = '\0';
  if (!path) path = "";
  if (!base) base = "";

  std::string joined;
  if (IsPlainName(path)) {
    if (*base) {
      joined = base;
      joined += '/';
    }
    joined += path;
    return StoreResolved(out, out_size, joined, joined);
  }
  if (path[0] == ':') {
    const char* rest = path + 1;
    if (*rest == '/') rest++;
    joined = rest;
  } else {
    if (*base) {
      joined = base;
      joined += '/';
    }
    joined += path[0] == '/' ? path + 1 : path;  // a leading "/" does not make it absolute
  }
  if (joined.empty()) return 0;

  std::string result;
  result.reserve(joined.size());
  const char* s = joined.c_str();
  while (*s) {
    if (*s == '/') {
      result += '/';
      s++;
      continue;
    }
    const char* end = ComponentEnd(s);
    size_t len = static_cast<size_t>(end - s);
    if (!blanks_allowed && std::memchr(s, ' ', len)) {
      ErrRaiseAtScriptF(ERR_OBJ_BLANK_IN_PATH, 1, joined);
      return -1;
    }
    bool slash_follows = *end == '/';
    if (slash_follows && len == 1 && s[0] == '.') {
      s = end + 1;
    } else if (slash_follows && len == 2 && s[0] == '.' && s[1] == '.') {
      // Up one level: drop the last component with its slash; nothing to drop leaves it empty.
      size_t n = result.size();
      while (n > 0 && result[n - 1] == '/') n--;
      while (n > 0 && result[n - 1] != '/') n--;  // "/" is never a trail byte
      result.resize(n);
      s = end + 1;
    } else {
      result.append(s, len);
      s = end;
    }
  }
  return StoreResolved(out, out_size, result, joined);
}

// ---- Child index -----------------------------------------------------------------------------

// Beside the ordered list of a folder with many children: the first child (in list order) of
// each kind and name, with the number of children sharing it, and the last child of each order
// value. The list stays the truth; the index only answers faster. Building or growing it may
// run out of memory: the folder then drops its index and falls back to walking the list.
struct ObjChildIndex {
  struct Named {
    ObjNode* first;
    u32 count;
  };
  std::unordered_map<std::string, Named> by_name;
  std::map<i64, ObjNode*> last_of_order;
};

enum { OBJ_INDEX_FROM = 32 };  // children before a folder keeps an index
static u64 s_LinkSeq = 0;

static std::string IndexKey(u8 kind, const char* name, u32 len) {
  std::string k(1, static_cast<char>(kind));
  k.append(name, len);
  return k;
}
// Lookups go by the key's folder bit, not the node's kind: after an exchange of names the two
// can differ.
static u8 KeyKind(const ObjNode* n) { return (n->key & OBJ_KEY_FOLDER_BIT) ? OBJ_FOLDER : OBJ_ITEM; }

// a stands before b in their folder's list.
static bool Before(const ObjNode* a, const ObjNode* b) {
  return a->order < b->order || (a->order == b->order && a->seq < b->seq);
}

static void DropIndex(ObjNode* parent) {
  delete parent->index;
  parent->index = nullptr;
}

static void IndexAddName(ObjChildIndex* x, ObjNode* node) {
  auto [it, fresh] =
      x->by_name.try_emplace(IndexKey(KeyKind(node), node->name, node->name_len), ObjChildIndex::Named{node, 1});
  if (fresh) return;
  it->second.count++;
  if (Before(node, it->second.first)) it->second.first = node;
}

static void IndexRemoveName(ObjNode* parent, ObjNode* node) {
  ObjChildIndex* x = parent->index;
  auto it = x->by_name.find(IndexKey(KeyKind(node), node->name, node->name_len));
  if (it == x->by_name.end()) return;
  if (--it->second.count == 0) {
    x->by_name.erase(it);
    return;
  }
  if (it->second.first != node) return;
  // Rare (two children of one name): the next of that name in list order.
  for (ObjNode* c = parent->first_child; c; c = c->next) {
    if (c != node && c->key == node->key && c->name_len == node->name_len &&
        std::memcmp(c->name, node->name, node->name_len) == 0) {
      it->second.first = c;
      return;
    }
  }
}

// Builds the index of a folder from its list (in list order, so each name's first is right).
static void BuildIndex(ObjNode* parent) {
  try {
    parent->index = new ObjChildIndex;
    parent->index->by_name.reserve(parent->child_count * 2);
    for (ObjNode* c = parent->first_child; c; c = c->next) {
      IndexAddName(parent->index, c);
      parent->index->last_of_order[c->order] = c;
    }
  } catch (...) {
    DropIndex(parent);
  }
}

// ---- Lookup ----------------------------------------------------------------------------------

// The first child of that kind and name, through the index when the folder has one.
static ObjNode* IndexedChild(ObjNode* parent, u8 kind, const char* name, u32 len) {
  try {
    auto it = parent->index->by_name.find(IndexKey(kind, name, len));
    return it == parent->index->by_name.end() ? nullptr : it->second.first;
  } catch (...) {
    DropIndex(parent);
    return nullptr;
  }
}

ObjNode* ObjFindChild(ObjNode* parent, const char* name, u32 len) {
  if (!parent || !name) return nullptr;
  if (parent->index) {
    ObjNode* c = IndexedChild(parent, OBJ_FOLDER, name, len);
    if (c || parent->index) return c;
  }
  u32 key = ObjNameKey(name, len, OBJ_FOLDER);
  for (ObjNode* c = parent->first_child; c; c = c->next)
    if (c->key == key && c->name_len == len && std::memcmp(c->name, name, len) == 0) return c;
  return nullptr;
}

ObjNode* ObjFindNode(ObjNode* root, const char* path, i32 mode) {
  if (!root || !path) return nullptr;
  ObjNode* cur = root;
  const char* comp = path;
  for (;;) {
    const char* end = ComponentEnd(comp);
    if (*end != '/') break;
    cur = ObjFindChild(cur, comp, static_cast<u32>(end - comp));
    if (!cur) return nullptr;
    comp = end + 1;
  }
  const u32 len = static_cast<u32>(std::strlen(comp));
  if (cur->index && mode >= OBJ_FIND_ITEM && mode <= OBJ_FIND_EITHER) {
    ObjNode* item = mode != OBJ_FIND_FOLDER ? IndexedChild(cur, OBJ_ITEM, comp, len) : nullptr;
    ObjNode* folder = mode != OBJ_FIND_ITEM && cur->index ? IndexedChild(cur, OBJ_FOLDER, comp, len) : nullptr;
    if (cur->index) return item && (!folder || Before(item, folder)) ? item : folder;
  }
  u32 key = ObjNameKey(comp, len, OBJ_ITEM);
  for (ObjNode* c = cur->first_child; c; c = c->next) {
    bool match;
    switch (mode) {
      case OBJ_FIND_ITEM: match = c->key == key; break;
      case OBJ_FIND_FOLDER: match = c->key == (key | OBJ_KEY_FOLDER_BIT); break;
      case OBJ_FIND_EITHER: match = (c->key & ~OBJ_KEY_FOLDER_BIT) == key; break;
      default: return nullptr;
    }
    if (match && c->name && std::strcmp(c->name, comp) == 0) return c;
  }
  return nullptr;
}

ObjNode* ObjFindPath(const char* path, ObjNode* start) {
  if (!path) return nullptr;
  ObjNode* cur = start;
  const char* comp = path;
  for (;;) {
    const char* end = ComponentEnd(comp);
    if (*end != '/') return cur;
    u32 len = static_cast<u32>(end - comp);
    ObjNode* next = ObjFindChild(cur, comp, len);
    if (!next) {
      ErrRaiseAtScriptF(ERR_OBJ_MISSING_FOLDER, 1, std::string(comp, len));
      return nullptr;
    }
    cur = next;
    comp = end + 1;
  }
}

// ---- Linking ---------------------------------------------------------------------------------

void ObjInsertChild(ObjNode* parent, ObjNode* node, i64 order) {
  if (!parent || !node) return;
  node->parent = parent;
  node->order = order;
  node->seq = ++s_LinkSeq;
  if (!parent->index && parent->child_count + 1 >= OBJ_INDEX_FROM) BuildIndex(parent);
  // The child to link before: the one after the last child whose order value is at most order.
  ObjNode* after;
  if (ObjChildIndex* x = parent->index) {
    auto it = x->last_of_order.upper_bound(order);
    after = it == x->last_of_order.begin() ? parent->first_child : std::prev(it)->second->next;
  } else if (!parent->last_child || parent->last_child->order <= order) {
    after = nullptr;  // the common case: appended
  } else {
    after = parent->first_child;
    while (after && after->order <= order) after = after->next;
  }
  if (after) {
    node->next = after;
    node->prev = after->prev;
    if (after->prev) after->prev->next = node;
    else parent->first_child = node;
    after->prev = node;
  } else {
    node->prev = parent->last_child;
    node->next = nullptr;
    if (parent->last_child) parent->last_child->next = node;
    else parent->first_child = node;
    parent->last_child = node;
  }
  parent->child_count++;
  if (ObjChildIndex* x = parent->index) {
    try {
      x->last_of_order[order] = node;
      IndexAddName(x, node);
    } catch (...) {
      DropIndex(parent);
    }
  }
  assert(node->prev ? node->prev->next == node && node->prev->order <= order : parent->first_child == node);
  assert(node->next ? node->next->prev == node && node->next->order > order : parent->last_child == node);
}

ObjNode* ObjUnlinkNode(ObjNode* node) {
  if (!node || !node->parent) return nullptr;
  ObjNode* parent = node->parent;
  // A node that is not in its parent's list (unlinked before) must not unlink its old
  // neighbours a second time.
  if ((node->prev ? node->prev->next : parent->first_child) != node) return nullptr;
  assert(parent->child_count > 0);
  assert(node->next ? node->next->prev == node : parent->last_child == node);
  if (ObjChildIndex* x = parent->index) {
    IndexRemoveName(parent, node);
    auto it = x->last_of_order.find(node->order);
    if (it != x->last_of_order.end() && it->second == node) {
      if (node->prev && node->prev->order == node->order) it->second = node->prev;
      else x->last_of_order.erase(it);
    }
  }
  if (parent->child_count == 1) {
    assert(parent->first_child == node && parent->last_child == node);
    parent->first_child = nullptr;
    parent->last_child = nullptr;
  } else {
    if (parent->first_child == node) parent->first_child = node->next;
    if (parent->last_child == node) parent->last_child = node->prev;
    if (node->prev) node->prev->next = node->next;
    if (node->next) node->next->prev = node->prev;
  }
  parent->child_count--;
  return parent;
}

i32 ObjSetOrder(ObjNode* node, i64 order) {
  if (!node || !node->parent) return 0;
  ObjNode* parent = ObjUnlinkNode(node);
  node->prev = node->next = nullptr;
  ObjInsertChild(parent, node, order);
  return 1;
}

ObjNode* ObjGetNthChild(ObjNode* parent, i64 n) {
  if (!parent) return nullptr;
  ObjNode* c = parent->first_child;
  for (i64 k = 1; k < n && c; k++) c = c->next;
  return c;
}

// ---- Nodes -----------------------------------------------------------------------------------

static ObjNode* NewNode(const char* name, u32 len, u8 kind, i64 order) {
  ObjNode* node = static_cast<ObjNode*>(MemAllocZeroed(sizeof(ObjNode)));
  char* copy = static_cast<char*>(MemAllocZeroed(size_t{len} + 1));
  if (!node || !copy) {
    free(node);
    free(copy);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  std::memcpy(copy, name, len);
  node->name = copy;
  node->name_len = len;
  node->key = ObjNameKey(copy, len, kind);
  node->kind = kind;
  node->order = order;
  return node;
}

ObjNode* ObjCreateNode(ObjNode* start, const char* path, u8 kind, i64 order) {
  if (!path) return nullptr;
  ObjNode* parent = ObjFindPath(path, start);
  if (!parent) return nullptr;
  const char* name = LastComponent(path);
  ObjNode* node = NewNode(name, static_cast<u32>(std::strlen(name)), kind ? OBJ_FOLDER : OBJ_ITEM, order);
  if (node) ObjInsertChild(parent, node, order);
  return node;
}

ObjNode* ObjNewRoot() { return NewNode("", 0, OBJ_FOLDER, 0); }

void ObjFreeNode(ObjNode* node) {
  if (!node) return;
  DropIndex(node);
  free(node->name);
  free(node);
}

void ObjSwapNames(ObjNode* a, ObjNode* b) {
  if (!a || !b || a == b) return;
  // Out of the indexes under the old names, back in under the new ones.
  if (a->parent && a->parent->index) IndexRemoveName(a->parent, a);
  if (b->parent && b->parent->index) IndexRemoveName(b->parent, b);
  // The keys go with the names, folder bit included: each name is still found by the kind of
  // path it was found by, now at the other node.
  std::swap(a->name, b->name);
  std::swap(a->name_len, b->name_len);
  std::swap(a->key, b->key);
  for (ObjNode* n : {a, b}) {
    if (!n->parent || !n->parent->index) continue;
    try {
      IndexAddName(n->parent->index, n);
    } catch (...) {
      DropIndex(n->parent);
    }
  }
}

// ---- Payloads --------------------------------------------------------------------------------

void* ObjAllocPayload(size_t size) {
  void* rec = MemAllocZeroed(size);
  if (!rec) ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
  return rec;
}

// ---- Reset -----------------------------------------------------------------------------------

static void FreeTree(ObjNode* node, void (*free_payload)(void*)) {
  ObjNode* c = node->first_child;
  while (c) {
    ObjNode* next = c->next;
    FreeTree(c, free_payload);
    c = next;
  }
  if (node->payload) free_payload(node->payload);
  ObjFreeNode(node);
}

void ObjReset(const ObjPayloadFreeFn free_payload[OBJ_TREE_COUNT]) {
  ObjNode** roots[OBJ_TREE_COUNT] = {&g_LayerRoot, &g_MenuRoot, &g_TaskRoot, &g_SoundRoot};
  for (i32 t = 0; t < OBJ_TREE_COUNT; t++) {
    if (*roots[t]) FreeTree(*roots[t], free_payload[t]);
    *roots[t] = nullptr;
  }
  g_LayerBase[0] = g_SoundBase[0] = g_TaskBase[0] = g_MenuBase[0] = '\0';
}
