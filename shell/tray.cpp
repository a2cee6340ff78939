// Command 98 and the tray icon's record: the icon taken from a 16 x 16 layer, the tip, the shown
// byte and the tray menu (menu set 2). The platform shows the icon; its clicks come back to the
// main window as WIN_MSG_TRAY messages (TrayOnNotify in menu.cpp).
#include <cstdio>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/obj.h"
#include "layer/layer.h"
#include "platform/platform.h"
#include "platform/tray.h"
#include "script/arg.h"
#include "script/cmd.h"
#include "shell/menu.h"
#include "shell/window.h"

namespace {

enum { SLOT_TRAY = 98, TRAY_TIP_SIZE = 128, TRAY_ICON_SIDE = 16 };
enum { P_SHOW = 0, P_TIP = 1, P_ICON = 2, P_MENU = 3 };

struct TrayIconRecord {
  std::vector<u32> argb;  // the icon, 0xAARRGGBB; empty until a layer gave one
  char tip[TRAY_TIP_SIZE];
  u8 shown;
};
TrayIconRecord s_Tray = {{}, {0}, 0};

// The icon from the layer: a 16 x 16 picture, else the size message and no new icon. A missing
// layer, or one without pixels, leaves the icon as it was.
void IconFromLayer(const char* name) {
  char path[OBJ_PATH_MAX];
  const i32 folder = ObjResolvePath(path, sizeof path, name, g_LayerBase, 0);
  if (folder < 0) return;
  const LayerRecord* rec = LayerOf(ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_EITHER));
  if (!rec) return;
  if (rec->width != TRAY_ICON_SIDE || rec->height != TRAY_ICON_SIDE) {
    char text[128];
    std::snprintf(text, sizeof text, "ICON ERR.\r\nレイヤサイズが %dx%d ではありません。", TRAY_ICON_SIDE,
                  TRAY_ICON_SIDE);
    PlatMessageBox(nullptr, PlatUtf8ToSjis(text).c_str(), PLAT_MB_OK);
    return;
  }
  if (!rec->pixels) return;
  std::vector<u32> argb(TRAY_ICON_SIDE * TRAY_ICON_SIDE);
  for (size_t i = 0; i < argb.size(); i++) {
    const u8* p = rec->pixels + i * 4;  // B, G, R, A
    argb[i] = u32{p[3]} << 24 | u32{p[2]} << 16 | u32{p[1]} << 8 | p[0];
  }
  s_Tray.argb.swap(argb);
}

}  // namespace

void WinTrayIconRemove() {
  if (!s_Tray.shown) return;
  s_Tray.shown = 0;
  PlatTrayRemove();
}

void TrayIconRemove() { WinTrayIconRemove(); }

i32 CmdTrayIconSet() {
  if (ArgDecode(SLOT_TRAY) != 0) return -1;
  if (ArgGiven(P_ICON)) IconFromLayer(ArgStr(P_ICON));
  if (ArgGiven(P_TIP)) StrCopySjis(s_Tray.tip, sizeof s_Tray.tip, ArgStr(P_TIP));
  if (ArgGiven(P_SHOW)) {
    if (ArgInt(P_SHOW) == 1) {
      WindowObject* main = g_WindowObjects[0];
      PlatTraySetNotify(WIN_MSG_TRAY, TRAY_ICON_ID);
      const bool icon = !s_Tray.argb.empty();
      PlatTrayShow(s_Tray.argb, icon ? TRAY_ICON_SIDE : 0, icon ? TRAY_ICON_SIDE : 0, PlatSjisToUtf8(s_Tray.tip),
                   PlatSjisToUtf8(main ? main->title : ""));
      s_Tray.shown = 1;
    } else {
      WinTrayIconRemove();
    }
  }
  if (ArgGiven(P_MENU)) {
    if (ObjNode* folder = WinMenuFind(ArgStr(P_MENU))) WinMenuBuildPopupSet(MENU_SET_TRAY, folder);
  }
  return 0;
}

// Tests: the icon as the next show would hand it over.
const std::vector<u32>& TrayIconPixels() { return s_Tray.argb; }

void TrayReset() {
  WinTrayIconRemove();
  s_Tray.argb.clear();
  s_Tray.tip[0] = '\0';
}
