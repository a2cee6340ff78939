// Menu items (see menu.h).
#include "script/menu.h"

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"

#include <cstdlib>

void MenuItemFree(MenuItem* item) {
  if (!item) return;
  free(item->text);
  free(item);
}

MenuItem* MenuItemNew(ObjNode* node, const char* text) {
  if (!node) return nullptr;
  MenuItem* item = static_cast<MenuItem*>(ObjAllocPayload(sizeof(MenuItem)));
  if (!item) return nullptr;
  item->text = static_cast<char*>(MemAllocZeroed(MENU_TEXT_SIZE));
  if (!item->text) {
    free(item);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return nullptr;
  }
  StrCopySjis(item->text, MENU_TEXT_SIZE, text ? text : "");
  item->shown = 1;
  item->enabled = 256;
  node->payload = item;
  return item;
}

void MenuItemDeleteNode(ObjNode* node) {
  if (!node) return;
  ObjUnlinkNode(node);
  MenuItemFree(static_cast<MenuItem*>(node->payload));
  node->payload = nullptr;
  ObjFreeNode(node);
}

void MenuItemDeleteChildren(ObjNode* folder) {
  if (!folder) return;
  while (ObjNode* c = folder->first_child) {
    MenuItemDeleteChildren(c);
    MenuItemDeleteNode(c);
  }
}

void MenuItemDeleteTree(ObjNode* folder) {
  MenuItemDeleteChildren(folder);
  MenuItemDeleteNode(folder);
}
