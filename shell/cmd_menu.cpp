// Commands 63 to 69 (the menu tree and the popup menu) and 104, 105 (hiding and querying the
// engine windows). The tree is the script's; the menus built from it belong to the platform, so
// a change of the tree shows the next time a menu is set. Window queries run on the main thread,
// which owns the windows.
#include <climits>
#include <cstring>
#include <string>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "script/menu.h"
#include "script/var.h"
#include "shell/menu.h"
#include "shell/window.h"

namespace {

enum {
  SLOT_ITEM_SET = 63,
  SLOT_POPUP = 64,
  SLOT_ITEM_DELETE = 65,
  SLOT_ITEM_GET = 66,
  SLOT_WINDOW_HIDE = 104,
  SLOT_WINDOW_INFO = 105,
};
enum {
  ERR_MENU_NO_ORDER = 100240,
  ERR_MENU_NO_TEXT = 100260,
  ERR_WINDOW_HIDE_MAIN = 101330,
};

// The menu-tree node a path names (a trailing "/" names a folder). *folder tells which was asked
// for; null when it does not exist or the path is bad (after its error).
ObjNode* FindMenuNode(const char* path_arg, char* path, size_t path_size, i32* folder) {
  *folder = ObjResolvePath(path, path_size, path_arg, g_MenuBase, 1);
  if (*folder < 0) return nullptr;
  return ObjFindNode(g_MenuRoot, path, *folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
}

// The type of the variable an argument names (VAR_TYPE_NONE when it names none).
i8 VarTypeOfArg(u8 param) {
  if (!ArgGiven(param)) return VAR_TYPE_NONE;
  const VarRecord* v = VarRecordOf(g_ArgVarId[ArgPos(param)]);
  return v ? v->type : i8{VAR_TYPE_NONE};
}

void StoreNumber(u8 param, i64 value) {
  if (!ArgGiven(param)) return;
  VarSetNumElement(g_ArgVarId[ArgPos(param)], g_ArgVarElem[ArgPos(param)], value);
}

void StoreText(u8 param, const char* text) {
  if (VarTypeOfArg(param) != VAR_TYPE_STR) return;  // text goes into string variables only
  VarSetStrElement(g_ArgVarId[ArgPos(param)], g_ArgVarElem[ArgPos(param)], text);
}

// 0, 0.0 or the empty string, as the variable takes it.
void StoreEmpty(u8 param) {
  if (VarTypeOfArg(param) == VAR_TYPE_STR) StoreText(param, "");
  else StoreNumber(param, 0);
}

}  // namespace

// The order value after "op value": wrapping arithmetic, so no operand can trap; a zero divisor
// leaves the order; the results of "-=", "*=" and "/=" below 1 become 1.
i64 MenuOrderApply(i64 order, u32 op, i64 value) {
  const u64 a = static_cast<u64>(order), b = static_cast<u64>(value);
  i64 r = order;
  switch (op) {
    case ARG_OP_SET: return value;
    case ARG_OP_ADD: return static_cast<i64>(a + b);
    case ARG_OP_SUB: r = static_cast<i64>(a - b); break;
    case ARG_OP_MUL: r = static_cast<i64>(a * b); break;
    case ARG_OP_DIV:
      if (value == 0) return order;
      r = (order == INT64_MIN && value == -1) ? INT64_MIN : order / value;
      break;
    default: return order;
  }
  return r < 1 ? 1 : r;
}

i32 CmdMenuItemSet() {
  enum { P_PATH = 0, P_TEXT = 1, P_ORDER = 2, P_SHOWN = 3, P_ENABLED = 4, P_CHECK = 5, P_ID = 6 };
  if (ArgDecode(SLOT_ITEM_SET) != 0) return -1;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindMenuNode(ArgStr(P_PATH), path, sizeof path, &folder);
  if (folder < 0) return -1;
  const bool order_given = ArgGiven(P_ORDER);
  const i64 order = order_given ? MenuOrderApply(node ? node->order : 1, ArgOp(P_ORDER), ArgInt(P_ORDER)) : 0;
  MenuItem* item;
  if (node) {
    if (order_given) ObjSetOrder(node, order);
    item = static_cast<MenuItem*>(node->payload);
    if (!item) return 0;  // the tree's own root
    if (ArgGiven(P_TEXT)) StrCopySjis(item->text, MENU_TEXT_SIZE, ArgStr(P_TEXT));
  } else {
    const char* name = ArgCommandName(SLOT_ITEM_SET);
    if (!ArgGiven(P_TEXT)) {
      ErrRaiseAtScriptF(ERR_MENU_NO_TEXT, 1, name, path);
      return -1;
    }
    if (!order_given) {
      ErrRaiseAtScriptF(ERR_MENU_NO_ORDER, 1, name);
      return -1;
    }
    node = ObjCreateNode(g_MenuRoot, path, folder == 1 ? u8{OBJ_FOLDER} : u8{OBJ_ITEM}, order);
    if (!node) return -1;
    item = MenuItemNew(node, ArgStr(P_TEXT));
    if (!item) {
      MenuItemDeleteNode(node);
      return -1;
    }
  }
  if (ArgGiven(P_SHOWN)) item->shown = static_cast<u8>(ArgInt(P_SHOWN));
  if (ArgGiven(P_ENABLED)) item->enabled = static_cast<i16>(ArgInt(P_ENABLED));
  if (ArgGiven(P_CHECK)) item->check = static_cast<u8>(ArgInt(P_CHECK));
  if (ArgGiven(P_ID)) item->command_id = ArgInt(P_ID);
  return 0;
}

i32 CmdMenuPopupShow() {
  enum { P_PATH = 0, P_SHOW = 1 };
  if (ArgDecode(SLOT_POPUP) != 0) return -1;
  ObjNode* folder = WinMenuFind(ArgStr(P_PATH));
  if (!folder || !ArgGiven(P_SHOW) || ArgInt(P_SHOW) != 1) return 0;
  WinMenuBuildPopupSet(MENU_SET_POPUP, folder);
  // At the cursor, in the main window's client pixels (the main thread places it on the screen).
  i32 x = 0, y = 0;
  WindowObject* main = g_WindowObjects[0];
  if (main && main->handle) PlatInputCursorClient(main->handle, &x, &y);
  WinMenuRequestPopup(MENU_SET_POPUP, x, y);
  return 0;
}

i32 CmdMenuItemDelete() {
  if (ArgDecode(SLOT_ITEM_DELETE) != 0) return -1;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindMenuNode(ArgStr(0), path, sizeof path, &folder);
  if (!node || node == g_MenuRoot || !node->parent) return 0;  // the root is never deleted
  if (folder == 1) MenuItemDeleteTree(node);
  else MenuItemDeleteNode(node);
  return 0;
}

i32 CmdMenuItemGet() {
  enum {
    P_RESULT = 0,
    P_PATH = 1,
    P_TEXT = 2,
    P_EXISTS = 3,
    P_ORDER = 4,
    P_SHOWN = 5,
    P_ENABLED = 6,
    P_CHECK = 7,
    P_ID = 8
  };
  if (ArgDecode(SLOT_ITEM_GET) != 0) return -1;
  char path[OBJ_PATH_MAX];
  i32 folder;
  ObjNode* node = FindMenuNode(ArgStr(P_PATH), path, sizeof path, &folder);
  if (folder < 0) return -1;
  const MenuItem* item = node ? static_cast<const MenuItem*>(node->payload) : nullptr;
  if (!item) {
    StoreEmpty(P_RESULT);
    return 0;
  }
  if (ArgGiven(P_EXISTS)) StoreNumber(P_RESULT, 1);
  else if (ArgGiven(P_SHOWN)) StoreNumber(P_RESULT, item->shown);
  else if (ArgGiven(P_ENABLED)) StoreNumber(P_RESULT, item->enabled);
  else if (ArgGiven(P_ORDER)) StoreNumber(P_RESULT, node->order);
  else if (ArgGiven(P_CHECK)) StoreNumber(P_RESULT, item->check);
  else if (ArgGiven(P_ID)) StoreNumber(P_RESULT, item->command_id);
  else if (ArgGiven(P_TEXT)) StoreText(P_RESULT, item->text);
  return 0;
}

i32 CmdNop67() { return ArgDecode(67) != 0 ? -1 : 0; }
i32 CmdNop68() { return ArgDecode(68) != 0 ? -1 : 0; }
i32 CmdNop69() { return ArgDecode(69) != 0 ? -1 : 0; }

// ---- Windows -----------------------------------------------------------------------------------

i32 CmdWindowHide() {
  if (ArgDecode(SLOT_WINDOW_HIDE) != 0) return -1;
  if (!ArgGiven(0)) return 0;
  const i64 n = ArgInt(0);
  if (n == 0) {
    ErrRaiseAtScriptF(ERR_WINDOW_HIDE_MAIN, 1, ArgCommandName(SLOT_WINDOW_HIDE), ArgName(SLOT_WINDOW_HIDE, 0), n);
    return -1;
  }
  if (n < 0 || n >= WIN_COUNT || g_WindowOpen[n] != 1) return 0;  // no such window open: nothing to hide
  WindowObject* w = g_WindowObjects[n];
  if (w && w->handle) PlatWindowShow(w->handle, false);
  return 0;
}

namespace {

// One answer of command 105, read on the main thread.
struct WindowInfoCall {
  i32 index;
  u8 param;
  bool text;
  i64 number;
  std::string title;
};

void ReadWindowInfo(void* arg) {
  WindowInfoCall* c = static_cast<WindowInfoCall*>(arg);
  WindowObject* w = g_WindowObjects[c->index];
  i32 cx = 0, cy = 0, cw = 0, ch = 0;
  const bool rect = w->handle && PlatWindowClientRect(w->handle, &cx, &cy, &cw, &ch);
  i32 dx = 0, dy = 0;
  WinClientOffset(w, &dx, &dy);
  switch (c->param) {
    case 2: c->number = 1; break;
    case 3: c->number = w->opacity; break;
    case 4: c->number = w->show_after_first_frame; break;
    case 5: c->number = w->active; break;
    case 6:
      c->text = true;
      c->title = w->title;
      break;
    case 7:
    case 8:
      if (rect) {
        w->x = cx - dx;
        w->y = cy - dy;
      }
      c->number = c->param == 7 ? w->x : w->y;
      break;
    case 10: c->number = w->width; break;
    case 11: c->number = w->height; break;
    case 12: c->number = rect ? cw : 0; break;
    case 13: c->number = rect ? ch : 0; break;
    case 14: c->number = g_MonitorIndex; break;
    case 15: c->number = g_Fullscreen; break;
    case 16: c->number = g_Maximised; break;
    case 17: c->number = WinIsIconic(w) ? 1 : 0; break;
  }
}

}  // namespace

i32 CmdWindowInfoGet() {
  enum { P_WINDOW = 0, P_RESULT = 1 };
  if (ArgDecode(SLOT_WINDOW_INFO) != 0) return -1;
  const i64 n = ArgInt(P_WINDOW);
  if (n < 0 || n >= WIN_COUNT || g_WindowOpen[n] != 1 || !g_WindowObjects[n]) {
    StoreEmpty(P_RESULT);
    return 0;
  }
  static const u8 kOrder[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 14, 17};
  WindowInfoCall call{static_cast<i32>(n), 0, false, 0, {}};
  for (u8 p : kOrder)
    if (ArgGiven(p)) {
      call.param = p;
      break;
    }
  if (!call.param) return 0;
  if (!PlatCallOnMain(ReadWindowInfo, &call, &g_QuitRequested)) return -1;
  if (call.text) StoreText(P_RESULT, call.title.c_str());
  else StoreNumber(P_RESULT, call.number);
  return 0;
}
