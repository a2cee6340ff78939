// The kit's command definitions: a name for every one of the 119 command slots and, by
// parameter id, the name, kind and range class of each parameter, chosen so that the ids come out
// as the engine's handlers number them. Also the texts by C runtime error number and the key map
// that "chbin\zpc.zbn" carries after the commands.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

struct KitParamDef {
  u8 id;
  std::string name;  // "" for an id the command does not use
  u8 kind;           // ARG_KIND_NUMBER, ARG_KIND_STRING, ARG_KIND_RAW
  u8 cls;            // range class 0 to 28
  bool raw_text;     // kind 2 whose bytes are literal text, not byte code
};

struct KitCmdDef {
  u8 slot;
  std::string name;
  std::vector<KitParamDef> params;  // by parameter id
};

// The 119 commands in slot order.
const std::vector<KitCmdDef>& KitCommandTable();
const KitCmdDef* KitFindCommand(const std::string& name);
const KitParamDef* KitFindParam(const KitCmdDef& cmd, const std::string& name);

// "chbin\zpc.zbn" for a table (the kit's own by default).
std::vector<u8> KitCmdDefsBuild();
std::vector<u8> KitCmdDefsBuildFrom(const std::vector<KitCmdDef>& table);

// Texts by C runtime error number 0 to 36.
extern const char* const kKitCrtErrorTexts[37];

// A named key of the key map: the key variables 140 + index, 274 + index and 408 + index stand
// for key number vk.
struct KitKeyName {
  u8 index;
  const char* name;
  u8 vk;
};
const std::vector<KitKeyName>& KitKeyNames();
void KitKeyMapBuild(u8 map[256]);
