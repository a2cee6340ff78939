// Menu items (see menu.h).
#include "script/menu.h"

#include <cstdlib>

void MenuItemFree(MenuItem* item) {
  if (!item) return;
  free(item->text);
  free(item);
}
