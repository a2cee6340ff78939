// Named-object trees (see obj.h). Paths are stepped a Shift-JIS character at a time, so a lead
// byte and its trail byte are never taken for "/", "." or ":", and a lead byte right before the
// terminator never steps past it.
#include "core/obj.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>

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

// ---- Lookup ----------------------------------------------------------------------------------

ObjNode* ObjFindChild(ObjNode* parent, const char* name, u32 len) {
  if (!parent || !name) return nullptr;
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
  u32 key = ObjNameKey(comp, static_cast<u32>(std::strlen(comp)), OBJ_ITEM);
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
  ObjNode* after = parent->first_child;
  while (after && after->order <= order) after = after->next;
  if (after) {
    node->next = after;
    node->prev = after->prev;
    if (after->prev)
      after->prev->next = node;
    else
      parent->first_child = node;
    after->prev = node;
  } else {
    node->prev = parent->last_child;
    node->next = nullptr;
    if (parent->last_child)
      parent->last_child->next = node;
    else
      parent->first_child = node;
    parent->last_child = node;
  }
  parent->child_count++;
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
  free(node->name);
  free(node);
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
