// The notification-area icon: a freedesktop StatusNotifierItem on the session bus (KDE, XFCE,
// LXQt, waybar and GNOME's AppIndicator extension show it). A thread of its own owns the bus
// connection, so the engine's loop is untouched; the engine hands it the icon, the tip and the
// shown state, and hears of clicks as posted messages. Without a session bus there is no icon
// and no error. No menu is exported over the bus: the engine opens its own popup.
#pragma once
#include <string>
#include <vector>

#include "common/types.h"

// The item's mouse messages, posted with PlatPostMessage(code, id, message): Activate as the
// left button down and ContextMenu as the right button up (Windows' WM_ numbers).
enum { PLAT_TRAY_LBUTTONDOWN = 0x0201, PLAT_TRAY_RBUTTONUP = 0x0205 };
void PlatTraySetNotify(u32 code, i64 id);

// Shows the icon (first time) or changes it: pixels as 0xAARRGGBB words, width x height, rows
// top-down; tip and title UTF-8. Any thread. The icon appears once the bus is reached.
void PlatTrayShow(const std::vector<u32>& argb, i32 width, i32 height, const std::string& tip_utf8,
                  const std::string& title_utf8);
// Takes the icon away (and the bus connection with it). Any thread; waits for the tray thread.
void PlatTrayRemove();
bool PlatTrayShown();
// The screen point of the last ContextMenu request; false when there was none.
bool PlatTrayMenuPoint(i32* x, i32* y);
// The item's bus name once it is on the bus ("org.kde.StatusNotifierItem-PID-1"), else empty
// (tests).
std::string PlatTrayBusName();
