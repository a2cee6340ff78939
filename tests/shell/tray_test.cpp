// The tray icon on a private session bus (a dbus-daemon of the test's own) with a
// StatusNotifierWatcher written here: registration, the tip and the pixels as the panel reads
// them, ContextMenu opening the tray menu (set 2) at its point, removal, and the size message of
// a layer that is not 16 x 16.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/state.h"
#include "layer/compose_fixture.h"
#include "platform/menu.h"
#include "platform/tray.h"
#include "platform/video.h"
#include "script/cmd_game.h"
#include "shell/menu.h"
#include "shell/window.h"

namespace {

const char kWatcherXml[] =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg name='service' type='s' direction='in'/></method>"
    "</interface></node>";

std::string g_Registered;

void WatcherCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                 GDBusMethodInvocation* invocation, gpointer) {
  const gchar* service = nullptr;
  g_variant_get(params, "(&s)", &service);
  g_Registered = service ? service : "";
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kWatcherVtable = {WatcherCall, nullptr, nullptr, {}};

std::vector<PlatMsg> g_Posted;
void Record(const PlatMsg* m) { g_Posted.push_back(*m); }

struct TrayTest : CmdGameTest {
  pid_t daemon = 0;
  GMainContext* ctx = nullptr;
  GDBusConnection* bus = nullptr;
  guint object = 0, own = 0;

  void SetUp() override {
    FILE* p = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    char address[512] = {0}, pid[32] = {0};
    if (!p || !fgets(address, sizeof address, p) || !fgets(pid, sizeof pid, p)) {
      if (p) pclose(p);
      GTEST_SKIP() << "dbus-daemon is not installed";
    }
    pclose(p);
    daemon = static_cast<pid_t>(std::atoi(pid));
    std::string a = address;
    a.erase(a.find_last_not_of("\r\n") + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    bus = g_dbus_connection_new_for_address_sync(
        a.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
    object = g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", info->interfaces[0], &kWatcherVtable,
                                               nullptr, nullptr, nullptr);
    g_dbus_node_info_unref(info);
    own = g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                       nullptr, nullptr, nullptr);
    g_Registered.clear();
    g_Posted.clear();
    ASSERT_EQ(PlatVideoInit(), 0);  // the icon's clicks come back as posted messages
    PlatSetMessageHandler(Record);
    SysObjReset();
    ASSERT_EQ(WinObjsCreate(), 0);
    g_WindowObjects[0]->width = 320;
    g_WindowObjects[0]->height = 200;
    WinObjSetupScreen(g_WindowObjects[0], "Game");
    ASSERT_EQ(SysCreateRoots(), 0);
    PlatDialogsSetStderr(true);
  }
  void TearDown() override {
    TrayReset();
    WinMenuShutdown();
    WinReset();
    SysObjReset();
    PlatSetMessageHandler(nullptr);
    PlatVideoQuit();
    if (bus) {
      g_bus_unown_name(own);
      g_dbus_connection_unregister_object(bus, object);
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    if (ctx) {
      while (g_main_context_iteration(ctx, FALSE)) {}
      g_main_context_pop_thread_default(ctx);
      g_main_context_unref(ctx);
    }
    if (daemon > 0) kill(daemon, SIGTERM);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    CmdGameTest::TearDown();
  }
  // Serves the watcher until done() holds, for at most 10 seconds.
  template <typename F>
  bool Until(F done) {
    for (int i = 0; i < 1000; i++) {
      while (g_main_context_iteration(ctx, FALSE)) {}
      if (done()) return true;
      g_usleep(10000);
    }
    return false;
  }
  GVariant* Property(const std::string& item, const char* name) {
    GVariant* r =
        g_dbus_connection_call_sync(bus, item.c_str(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), G_VARIANT_TYPE("(v)"),
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!r) return nullptr;
    GVariant* v = nullptr;
    g_variant_get(r, "(v)", &v);
    g_variant_unref(r);
    return v;
  }
  bool HasOwner(const std::string& name) {
    GVariant* r = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean has = FALSE;
    if (r) {
      g_variant_get(r, "(b)", &has);
      g_variant_unref(r);
    }
    return has;
  }
};

}  // namespace

TEST_F(TrayTest, RegisteredWithTipAndPixelsOpensItsMenuAtThePointAndGoes) {
  ObjNode* ico = TestPicture("W0/ico", 16, 16, 0, 0);
  ASSERT_NE(ico, nullptr);
  LayerRecord* r = LayerOf(ico);
  for (i32 i = 0; i < 256; i++) {
    const u8 px[4] = {static_cast<u8>(i), 0x20, 0x40, static_cast<u8>(255 - i)};  // B, G, R, A
    std::memcpy(r->pixels + i * 4, px, 4);
  }
  Load(
      PlatUtf8ToSjis("*SYSTEM_START\n"
                     "menu path='tm/', text='tm', order=1\n"
                     "menu path='tm/quit', text='終了', order=1, id=77\n"
                     "tray show=1, tip='ヒント', icon='W0/ico', menu='tm'\n"
                     "tray show=0\n"));
  RunAll(0, 2);
  const std::string name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  ASSERT_TRUE(Until([&] { return g_Registered == name; })) << "registered: '" << g_Registered << "'";
  EXPECT_EQ(PlatMenuDescribe(g_MenuHandles.handle[MENU_SET_TRAY][0]), "MENUSET\n  終了 = 77\n");

  GVariant* tip = Property(name, "ToolTip");
  ASSERT_NE(tip, nullptr);
  const gchar* text = nullptr;
  g_variant_get_child(tip, 2, "&s", &text);
  EXPECT_STREQ(text, "ヒント");
  g_variant_unref(tip);

  GVariant* icons = Property(name, "IconPixmap");
  ASSERT_NE(icons, nullptr);
  ASSERT_EQ(g_variant_n_children(icons), 1u);
  GVariant* icon = g_variant_get_child_value(icons, 0);
  gint32 iw = 0, ih = 0;
  GVariant* bytes = nullptr;
  g_variant_get(icon, "(ii@ay)", &iw, &ih, &bytes);
  EXPECT_EQ(iw, 16);
  EXPECT_EQ(ih, 16);
  gsize n = 0;
  const u8* argb = static_cast<const u8*>(g_variant_get_fixed_array(bytes, &n, 1));
  ASSERT_EQ(n, 16u * 16u * 4u);
  for (i32 i = 0; i < 256; i++) {
    // A, R, G, B in network order.
    ASSERT_EQ(argb[i * 4], 255 - i) << i;
    ASSERT_EQ(argb[i * 4 + 1], 0x40) << i;
    ASSERT_EQ(argb[i * 4 + 2], 0x20) << i;
    ASSERT_EQ(argb[i * 4 + 3], i) << i;
  }
  g_variant_unref(bytes);
  g_variant_unref(icon);
  g_variant_unref(icons);

  // The panel's menu request: the tray menu opens at its point.
  GVariant* done = g_dbus_connection_call_sync(bus, name.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                               "ContextMenu", g_variant_new("(ii)", 33, 44), nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(done, nullptr);
  g_variant_unref(done);
  ASSERT_TRUE(Until([&] {
    PlatPollEvents();
    return !g_Posted.empty();
  }));
  const PlatMsg m = g_Posted.back();
  EXPECT_EQ(m.code, u32{WIN_MSG_TRAY});
  EXPECT_EQ(m.a, TRAY_ICON_ID);
  TrayOnNotify(g_WindowObjects[0], m.a, m.b);
  EXPECT_EQ(g_PopupMenuRequest.set, MENU_SET_TRAY);
  EXPECT_EQ(g_PopupMenuRequest.x, 33);
  EXPECT_EQ(g_PopupMenuRequest.y, 44);
  g_PopupMenuRequest = {0, 0, 0};

  ASSERT_EQ(w.Run(3), 0);
  EXPECT_FALSE(PlatTrayShown());
  EXPECT_FALSE(HasOwner(name)) << "the item left the bus";
}

TEST_F(TrayTest, ALayerOfAnotherSizeGivesTheSizeMessageAndKeepsTheIcon) {
  TestFillSolid(LayerOf(TestPicture("W0/ico", 16, 16, 0, 0)), 0xFF0000FFu);
  ASSERT_NE(TestPicture("W0/big", 32, 32, 0, 0), nullptr);
  Load("*SYSTEM_START\ntray icon='W0/ico'\ntray icon='W0/big'\ntray icon='W0/none'\n");
  RunAll(0, 0);
  ASSERT_EQ(TrayIconPixels().size(), 256u);
  testing::internal::CaptureStderr();
  RunAll(1, 2);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("ICON ERR.\r\nレイヤサイズが 16x16 ではありません。"), std::string::npos) << out;
  ASSERT_EQ(TrayIconPixels().size(), 256u);
  EXPECT_EQ(TrayIconPixels()[0], 0xFF0000FFu) << "the icon as it was (blue, from B, G, R, A bytes)";
}
