// Fuzz target for thread-state strings (command 93 reads them back, save data carries them): the
// decoder over a thread of a game with two script files, and what it accepts encoded again and
// decoded once more to the same state.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/obj.h"
#include "core/sys.h"
#include "kit/cmddefs.h"
#include "kit/script_files.h"
#include "platform/platform.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"

namespace {

u8* Own(const std::vector<u8>& v) {
  u8* p = static_cast<u8*>(std::malloc(v.size() ? v.size() : 1));
  if (!v.empty()) std::memcpy(p, v.data(), v.size());
  return p;
}

bool Init() {
  PlatDialogsSetStderr(true);
  VarTableCreate(1100);
  std::vector<u8> defs = KitCmdDefsBuild();
  ScriptParseCommandDefs(Own(defs), static_cast<u32>(defs.size()));
  std::vector<u8> list = KitFileListBuild({{0, "script\\main.zs", 10}, {1, "script\\sub.zs", 11}});
  ScriptParseFileList(Own(list), static_cast<u32>(list.size()));
  std::vector<KitLine> lines(40);
  for (KitLine& l : lines) l.opcode = 102;  // wait
  std::vector<u8> body = KitBodyBuild(lines);
  ScriptBindFile(0, Own(body), static_cast<u32>(body.size()));
  ScriptBindFile(1, Own(body), static_cast<u32>(body.size()));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  (void)ready;
  if (size > 65536) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  ObjNode* node = ObjNewRoot();
  TaskContext* ctx = TaskNewContext(node);
  if (ctx && TaskStateDecode(text.c_str(), ctx) == 0) {
    static char again[65536];
    if (TaskStateEncode(again, sizeof again, ctx) >= 0) {
      TaskContext* other = TaskNewContext(node);
      if (other && TaskStateDecode(again, other) != 0) __builtin_trap();  // what was encoded decodes
      TaskFreeContext(other);
      node->payload = ctx;
    }
  }
  TaskFreeContext(ctx);
  node->payload = nullptr;
  ObjFreeNode(node);
  g_QuitRequested = 0;
  return 0;
}
