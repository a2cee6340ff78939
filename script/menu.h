// Menu items: the payload of a menu-tree node. The window menus, popup menus and the tray menu
// are built from the tree; an empty text makes the item a separator.
#pragma once
#include "common/types.h"

struct ObjNode;

enum { MENU_TEXT_SIZE = 261 };

struct MenuItem {
  char* text;      // MENU_TEXT_SIZE bytes
  u8 shown;        // 0: left out of the menu
  i16 enabled;     // 0: greyed and disabled
  u8 check;        // 1: shown with a check mark
  i64 command_id;  // the low 32 bits are reported when the item is chosen
};

// Frees the item's text and the item.
void MenuItemFree(MenuItem* item);

// A menu item record with its defaults (shown, enabled) and the text, made the node's payload;
// null for a null node or after error 100010 (fatal) when memory runs out.
MenuItem* MenuItemNew(ObjNode* node, const char* text);

// Deleting from the menu tree: a node is unlinked, then its text, its item, its name and the node
// are freed. Children goes depth first below the folder (the folder stays); Tree deletes the
// folder too.
void MenuItemDeleteNode(ObjNode* node);
void MenuItemDeleteChildren(ObjNode* folder);
void MenuItemDeleteTree(ObjNode* folder);
