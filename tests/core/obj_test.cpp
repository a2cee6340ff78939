#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/hash.h"
#include "core/obj.h"
#include "layer/layer.h"
#include "script/menu.h"
#include "script/script_test_util.h"
#include "script/task.h"
#include "shell/startup.h"
#include "sound/sound_object.h"

namespace {

struct ObjTest : ::testing::Test {
  ObjNode* root = nullptr;
  void SetUp() override {
    SysObjReset();
    TestErrTexts({ERR_OBJ_MISSING_FOLDER, ERR_OBJ_BLANK_IN_PATH});
    ASSERT_EQ(SysCreateRoots(), 0);
    root = g_LayerRoot;
  }
  void TearDown() override {
    SysObjReset();
    UserErrReset();
    g_QuitRequested = 0;
  }
  ObjNode* Make(const char* path, u8 kind, i64 order = 1) {
    ObjNode* n = ObjCreateNode(root, path, kind, order);
    EXPECT_NE(n, nullptr) << path;
    return n;
  }
  std::vector<std::string> Names(ObjNode* parent) {
    std::vector<std::string> out;
    for (ObjNode* c = parent->first_child; c; c = c->next) out.push_back(c->name);
    return out;
  }
};

struct Resolve {
  const char* path;
  const char* base;
  i8 blanks;
  const char* want;
  i32 result;
};

TEST_F(ObjTest, ResolvePathJoinsAndNormalises) {
  const Resolve cases[] = {
      {":a/b", "x", 0, "a/b", 0},  // absolute
      {":/a", "x", 0, "a", 0},     // one slash after the colon is dropped
      {"a/b", "x", 0, "x/a/b", 0},
      {"/a", "x", 0, "x/a", 0},  // a leading slash is not absolute
      {"../c", "x/y", 0, "x/c", 0},
      {"./c", "x", 0, "x/c", 0},
      {"../../../c", "x", 0, "c", 0},  // going up past the top leaves it empty
      {".hidden/a", "", 0, ".hidden/a", 0},
      {"a//b", "", 0, "a//b", 0},  // runs of slashes are kept
      {"x/", "", 0, "x", 1},
      {"d/e/", "w", 0, "w/d/e", 1},
      {"x", "", 0, "x", 0},  // plain name
      {"x", "b", 0, "b/x", 0},
      {"", "x", 0, "x", 1},
      {"", "", 0, "", 0},
      {":", "x", 0, "", 0},          // an empty joined path
      {"a b", "x", 0, "x/a b", 0},   // plain names are not checked for blanks
      {"a b/c", "", 1, "a b/c", 0},  // blanks allowed
  };
  for (const Resolve& c : cases) {
    char out[64];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(ObjResolvePath(out, sizeof out, c.path, c.base, c.blanks), c.result) << c.path << " | " << c.base;
    EXPECT_STREQ(out, c.want) << c.path << " | " << c.base;
  }
  EXPECT_EQ(g_QuitRequested.load(), 0);
}

TEST_F(ObjTest, ResolvePathRefusesBlanksInComponents) {
  char out[64];
  EXPECT_EQ(ObjResolvePath(out, sizeof out, "a b/c", "x", 0), -1);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_OBJ_BLANK_IN_PATH, "x/a b/c"));
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_STREQ(out, "");
}

TEST_F(ObjTest, ResolvePathNeverWritesPastItsBuffer) {
  // out_size 5 holds "ab/c" exactly; 4 does not, and the bytes after it stay untouched.
  char out[8];
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(ObjResolvePath(out, 5, "c", "ab", 0), 0);
  EXPECT_STREQ(out, "ab/c");
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(ObjResolvePath(out, 4, "c", "ab", 0), -1);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_OBJ_BLANK_IN_PATH, "ab/c"));
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[4], 'Z');
  // A folder path is stored without its slash, so it fits the same buffer.
  EXPECT_EQ(ObjResolvePath(out, 5, "ab/c/", "", 0), 1);
  EXPECT_STREQ(out, "ab/c");
}

TEST_F(ObjTest, ResolvePathStopsAtALeadByteBeforeTheTerminator) {
  // Exact-size heap strings: a step past the terminator is an overrun the sanitizer reports.
  const char* texts[] = {"ab\x81", "x/ab\x81", "\x81"};
  for (const char* t : texts) {
    size_t n = std::strlen(t) + 1;
    std::unique_ptr<char[]> path(new char[n]);
    std::memcpy(path.get(), t, n);
    char out[64];
    i32 r = ObjResolvePath(out, sizeof out, path.get(), "", 0);
    EXPECT_EQ(r, 0);
    EXPECT_STREQ(out, t);
  }
  // A double-byte name followed by a folder slash: the trail byte is never a separator.
  char out[64];
  EXPECT_EQ(ObjResolvePath(out, sizeof out, "\x95\x5c/\x83\x41/", "", 0), 1);
  EXPECT_STREQ(out, "\x95\x5c/\x83\x41");
}

TEST_F(ObjTest, NameKeyIsMurmurWithTheFolderBit) {
  const char* name = "background";
  u32 h = HashMurmur2(name, 10, 0);
  EXPECT_EQ(ObjNameKey(name, 10, OBJ_ITEM), h & 0x7fffffffu);
  EXPECT_EQ(ObjNameKey(name, 10, OBJ_FOLDER), h | 0x80000000u);
  EXPECT_NE(ObjNameKey("Background", 10, OBJ_ITEM), ObjNameKey(name, 10, OBJ_ITEM));
  ObjNode* n = Make("bg", OBJ_FOLDER);
  EXPECT_EQ(n->key, ObjNameKey("bg", 2, OBJ_FOLDER));
  EXPECT_EQ(n->name_len, 2u);
  EXPECT_EQ(n->kind, OBJ_FOLDER);
}

TEST_F(ObjTest, InsertKeepsAscendingOrderAndEqualOrdersInInsertionOrder) {
  ObjNode* p = Make("p", OBJ_FOLDER);
  Make("p/five_a", OBJ_ITEM, 5);
  Make("p/three", OBJ_ITEM, 3);
  Make("p/five_b", OBJ_ITEM, 5);
  Make("p/one", OBJ_ITEM, 1);
  EXPECT_EQ(Names(p), (std::vector<std::string>{"one", "three", "five_a", "five_b"}));
  EXPECT_EQ(p->child_count, 4u);
  EXPECT_EQ(p->first_child->prev, nullptr);
  EXPECT_EQ(p->last_child->next, nullptr);
  EXPECT_STREQ(p->last_child->name, "five_b");
  EXPECT_STREQ(p->last_child->prev->name, "five_a");
  for (ObjNode* c = p->first_child; c; c = c->next) EXPECT_EQ(c->parent, p);
}

TEST_F(ObjTest, UnlinkAndReinsertReorders) {
  ObjNode* p = Make("p", OBJ_FOLDER);
  ObjNode* a = Make("p/a", OBJ_ITEM, 1);
  ObjNode* b = Make("p/b", OBJ_ITEM, 2);
  ObjNode* c = Make("p/c", OBJ_ITEM, 3);
  // Middle, then re-inserted at the end with an order equal to the last.
  EXPECT_EQ(ObjUnlinkNode(b), p);
  EXPECT_EQ(Names(p), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);
  ObjInsertChild(p, b, 3);
  EXPECT_EQ(Names(p), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(b->order, 3);
  // First and last.
  EXPECT_EQ(ObjUnlinkNode(a), p);
  EXPECT_EQ(p->first_child, c);
  EXPECT_EQ(ObjUnlinkNode(b), p);
  EXPECT_EQ(p->last_child, c);
  EXPECT_EQ(p->child_count, 1u);
  // A second unlink of the same node changes nothing.
  EXPECT_EQ(ObjUnlinkNode(b), nullptr);
  EXPECT_EQ(p->child_count, 1u);
  // The only child.
  EXPECT_EQ(ObjUnlinkNode(c), p);
  EXPECT_EQ(p->first_child, nullptr);
  EXPECT_EQ(p->last_child, nullptr);
  EXPECT_EQ(p->child_count, 0u);
  EXPECT_EQ(ObjUnlinkNode(nullptr), nullptr);
  // Back in at the front.
  ObjInsertChild(p, c, 0);
  ObjInsertChild(p, a, -5);
  EXPECT_EQ(Names(p), (std::vector<std::string>{"a", "c"}));
  ObjFreeNode(b);  // unlinked nodes are the caller's to free
}

// A folder with hundreds of children (which keeps an index beside its list) against a plain
// model: random links with few order values, unlinks, re-orders, name exchanges (which can give
// two children one name) and lookups of every kind. The list order and every lookup must be what
// walking the list gives.
TEST_F(ObjTest, ManyChildrenKeepListOrderAndLookupsOfAPlainList) {
  for (u32 seed = 1; seed <= 6; seed++) {
    SCOPED_TRACE(seed);
    SetUp();
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<u32>(n)); };
    ObjNode* folder = Make("f", OBJ_FOLDER);
    std::vector<ObjNode*> model;  // the children in list order
    std::vector<ObjNode*> loose;  // unlinked nodes, freed at the end
    std::map<const char*, u8> name_kind;  // each name buffer's kind when made: it goes with the name
    auto insert_model = [&](ObjNode* n) {
      auto at = model.begin();
      while (at != model.end() && (*at)->order <= n->order) ++at;
      model.insert(at, n);
    };
    auto find_model = [&](const std::string& name, int mode) -> ObjNode* {
      for (ObjNode* c : model) {
        bool kind_ok = mode == OBJ_FIND_EITHER || (mode == OBJ_FIND_FOLDER) == (name_kind.at(c->name) == OBJ_FOLDER);
        if (kind_ok && name == c->name) return c;
      }
      return nullptr;
    };
    for (int step = 0; step < 3000; step++) {
      const std::string name = "n" + std::to_string(pick(400));
      switch (pick(6)) {
        case 0:
        case 1:
        case 2: {
          u8 kind = pick(4) == 0 ? OBJ_FOLDER : OBJ_ITEM;
          ObjNode* n = ObjCreateNode(root, ("f/" + name).c_str(), kind, pick(5));
          ASSERT_NE(n, nullptr);
          name_kind[n->name] = kind;
          insert_model(n);
          break;
        }
        case 3:
          if (!model.empty()) {
            ObjNode* n = model[static_cast<size_t>(pick(static_cast<int>(model.size())))];
            ASSERT_EQ(ObjUnlinkNode(n), folder);
            model.erase(std::find(model.begin(), model.end(), n));
            loose.push_back(n);
          }
          break;
        case 4:
          if (!model.empty()) {
            ObjNode* n = model[static_cast<size_t>(pick(static_cast<int>(model.size())))];
            model.erase(std::find(model.begin(), model.end(), n));
            ObjSetOrder(n, pick(5));
            insert_model(n);
          }
          break;
        default:
          if (model.size() >= 2) {
            ObjSwapNames(model[static_cast<size_t>(pick(static_cast<int>(model.size())))],
                         model[static_cast<size_t>(pick(static_cast<int>(model.size())))]);
          }
          break;
      }
      const std::string probe = "n" + std::to_string(pick(400));
      for (int mode : {OBJ_FIND_ITEM, OBJ_FIND_FOLDER, OBJ_FIND_EITHER})
        ASSERT_EQ(ObjFindNode(root, ("f/" + probe).c_str(), mode), find_model(probe, mode)) << step << " " << mode;
      ASSERT_EQ(ObjFindChild(folder, probe.c_str(), static_cast<u32>(probe.size())),
                find_model(probe, OBJ_FIND_FOLDER));
    }
    std::vector<ObjNode*> listed;
    for (ObjNode* c = folder->first_child; c; c = c->next) listed.push_back(c);
    EXPECT_EQ(listed, model);
    EXPECT_EQ(folder->child_count, model.size());
    for (ObjNode* n : loose) ObjFreeNode(n);
  }
}

TEST_F(ObjTest, NthChildStopsAfterTheLast) {
  ObjNode* p = Make("p", OBJ_FOLDER);
  EXPECT_EQ(ObjGetNthChild(p, 1), nullptr);
  Make("p/a", OBJ_ITEM, 1);
  Make("p/b", OBJ_ITEM, 2);
  Make("p/c", OBJ_ITEM, 3);
  const struct {
    i64 n;
    const char* name;
  } cases[] = {{-1, "a"}, {0, "a"}, {1, "a"}, {2, "b"}, {3, "c"}, {4, nullptr}, {1000000, nullptr}};
  for (const auto& c : cases) {
    ObjNode* got = ObjGetNthChild(p, c.n);
    if (c.name) EXPECT_STREQ(got ? got->name : "(null)", c.name) << c.n;
    else EXPECT_EQ(got, nullptr) << c.n;
  }
  EXPECT_EQ(ObjGetNthChild(nullptr, 1), nullptr);
}

TEST_F(ObjTest, FindNodeByModeAndThroughFoldersOnly) {
  ObjNode* folder = Make("a", OBJ_FOLDER, 1);
  ObjNode* item = Make("a", OBJ_ITEM, 2);
  Make("a/b", OBJ_FOLDER);
  ObjNode* deep = Make("a/b/x", OBJ_ITEM);
  Make("a/b/y", OBJ_FOLDER);
  ObjNode* leaf = Make("leaf", OBJ_ITEM);
  const struct {
    const char* path;
    i32 mode;
    ObjNode* want;
  } cases[] = {
      {"a", OBJ_FIND_ITEM, item},
      {"a", OBJ_FIND_FOLDER, folder},
      {"a", OBJ_FIND_EITHER, folder},  // the first in list order
      {"a/b/x", OBJ_FIND_ITEM, deep},
      {"a/b/x", OBJ_FIND_FOLDER, nullptr},
      {"a/b/y", OBJ_FIND_ITEM, nullptr},
      {"A", OBJ_FIND_EITHER, nullptr},       // names are case-sensitive
      {"leaf/x", OBJ_FIND_EITHER, nullptr},  // a path through an item
      {"missing/x", OBJ_FIND_ITEM, nullptr},
      {"a", 7, nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(ObjFindNode(root, c.path, c.mode), c.want) << c.path << " " << c.mode;
  EXPECT_EQ(ObjFindChild(root, "a", 1), folder);
  EXPECT_EQ(ObjFindChild(root, "leaf", 4), nullptr);
  (void)leaf;
  EXPECT_EQ(g_QuitRequested.load(), 0);  // lookups raise nothing
}

TEST_F(ObjTest, FindPathNamesTheMissingFolder) {
  ObjNode* a = Make("a", OBJ_FOLDER);
  EXPECT_EQ(ObjFindPath("x", root), root);
  EXPECT_EQ(ObjFindPath("a/x", root), a);
  EXPECT_EQ(g_QuitRequested.load(), 0);
  EXPECT_EQ(ObjFindPath("a/nope/x", root), nullptr);
  EXPECT_EQ(g_ErrLastText, TestErr(ERR_OBJ_MISSING_FOLDER, "nope"));
  EXPECT_EQ(g_QuitRequested.load(), 1);
  EXPECT_EQ(ObjCreateNode(root, "nope/x", OBJ_ITEM, 1), nullptr);
  EXPECT_EQ(ObjCreateNode(root, nullptr, OBJ_ITEM, 1), nullptr);
}

TEST_F(ObjTest, PayloadConstructorsSetTheirDefaults) {
  ObjNode* n = Make("n", OBJ_ITEM);
  std::string long_text(300, 'm');
  MenuItem* item = MenuItemNew(n, long_text.c_str());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(n->payload, item);
  EXPECT_EQ(std::strlen(item->text), size_t{MENU_TEXT_SIZE - 1});
  EXPECT_EQ(item->shown, 1);
  EXPECT_EQ(item->enabled, 256);
  EXPECT_EQ(item->check, 0);
  EXPECT_EQ(item->command_id, 0);
  MenuItemFree(item);

  SoundObject* snd = SoundObjectNew(n);
  ASSERT_NE(snd, nullptr);
  EXPECT_EQ(snd->on, 1);
  EXPECT_EQ(snd->pan, 256);
  EXPECT_EQ(snd->volume, 256);
  EXPECT_EQ(snd->target_volume, 256);
  EXPECT_EQ(snd->previous_target, 256);
  EXPECT_EQ(snd->fade_from, 0);
  EXPECT_EQ(snd->state, SOUND_UNLOADED);
  EXPECT_EQ(snd->speed, 0);
  SoundObjectFree(snd);

  TaskContext* ctx = TaskNewContext(n);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(n->payload, ctx);
  EXPECT_EQ(ctx->run_a, 1);
  EXPECT_EQ(ctx->run_b, 1);
  EXPECT_NE(ctx->blocks[0], nullptr);
  EXPECT_NE(ctx->frames[0], nullptr);
  EXPECT_NE(ctx->loops[0], nullptr);
  EXPECT_EQ(ctx->blocks[1], nullptr);
  EXPECT_EQ(ctx->no_end, 0);
  TaskFreeContext(ctx);

  EXPECT_EQ(MenuItemNew(nullptr, "x"), nullptr);
  EXPECT_EQ(SoundObjectNew(nullptr), nullptr);
  EXPECT_EQ(TaskNewContext(nullptr), nullptr);
  n->payload = nullptr;
}

TEST_F(ObjTest, LayerRecordsAreSharedByReference) {
  ObjNode* a = Make("a", OBJ_ITEM);
  ObjNode* b = Make("b", OBJ_ITEM);
  LayerRecord* rec = LayerRecordNew(a);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(a->payload, rec);
  EXPECT_EQ(rec->ref_count, 1);
  EXPECT_EQ(rec->width, 1);
  EXPECT_EQ(rec->height, 1);
  EXPECT_EQ(rec->opacity, 256);
  EXPECT_EQ(rec->mask_progress, 256);
  EXPECT_EQ(rec->mask_softness, 0);
  EXPECT_EQ(rec->visible, 1);
  EXPECT_EQ(rec->scale_x, 10000);
  EXPECT_EQ(rec->scale_y, 10000);
  EXPECT_EQ(rec->saturation, 128);
  EXPECT_EQ(rec->tone, 0x808080u);
  EXPECT_FLOAT_EQ(rec->player_value1, 1.0f);
  EXPECT_EQ(rec->player_flag, 1);
  EXPECT_EQ(rec->pixels, nullptr);
  for (char* name : {rec->mask_name, rec->second_name, rec->source_name}) {
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "");
  }
  EXPECT_EQ(LayerRecordShare(b, rec), rec);
  EXPECT_EQ(b->payload, rec);
  EXPECT_EQ(rec->ref_count, 2);
  EXPECT_EQ(LayerRecordShare(nullptr, rec), nullptr);
  EXPECT_EQ(LayerRecordAttach(b, nullptr), 0);
  EXPECT_EQ(rec->ref_count, 2);
  EXPECT_EQ(LayerRecordAlloc(nullptr), 1);
  EXPECT_EQ(LayerRecordNew(nullptr), nullptr);
  // The reset drops both references and frees the record once (the sanitizer checks).
}

TEST_F(ObjTest, StartUpRootsHoldTheSystemThreadAndAMenuItem) {
  for (ObjNode* r : {g_LayerRoot, g_MenuRoot, g_TaskRoot, g_SoundRoot}) {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->parent, nullptr);
    EXPECT_EQ(r->name_len, 0u);
  }
  ObjNode* sys = ObjFindNode(g_TaskRoot, "SYSTEM", OBJ_FIND_ITEM);
  ASSERT_NE(sys, nullptr);
  TaskContext* ctx = static_cast<TaskContext*>(sys->payload);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->no_end, 1);
  EXPECT_EQ(g_TaskRoot->child_count, 1u);
  ASSERT_EQ(g_MenuRoot->child_count, 1u);
  EXPECT_NE(g_MenuRoot->first_child->payload, nullptr);
  EXPECT_EQ(g_SoundRoot->child_count, 0u);
}

}  // namespace
