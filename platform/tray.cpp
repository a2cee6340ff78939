// The StatusNotifierItem (see tray.h) over GDBus. The tray thread runs its own GMainContext and
// owns the bus connection, the exported object and the name; other threads only change the
// shared state under s_StateLock and hand the thread work with g_main_context_invoke. The icon
// exists while the thread runs: showing starts it, removing stops and joins it.
#include "platform/tray.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/video.h"

namespace {

// GLib's libraries are loaded when the icon is first shown rather than linked: with what they
// pull in they would cost every start a millisecond and more in the dynamic loader, for a tray
// icon that few games show.
#define TRAY_GIO_FUNCTIONS(X)               \
  X(g_bus_own_name_on_connection)           \
  X(g_bus_unown_name)                       \
  X(g_bus_unwatch_name)                     \
  X(g_bus_watch_name_on_connection)         \
  X(g_clear_error)                          \
  X(g_dbus_address_get_for_bus_sync)        \
  X(g_dbus_connection_call)                 \
  X(g_dbus_connection_close_sync)           \
  X(g_dbus_connection_emit_signal)          \
  X(g_dbus_connection_new_for_address_sync) \
  X(g_dbus_connection_register_object)      \
  X(g_dbus_connection_unregister_object)    \
  X(g_dbus_method_invocation_return_value)  \
  X(g_dbus_node_info_new_for_xml)           \
  X(g_dbus_node_info_unref)                 \
  X(g_free)                                 \
  X(g_main_context_invoke)                  \
  X(g_main_context_iteration)               \
  X(g_main_context_new)                     \
  X(g_main_context_pop_thread_default)      \
  X(g_main_context_push_thread_default)     \
  X(g_main_context_unref)                   \
  X(g_main_loop_new)                        \
  X(g_main_loop_quit)                       \
  X(g_main_loop_run)                        \
  X(g_main_loop_unref)                      \
  X(g_object_unref)                         \
  X(g_variant_builder_add)                  \
  X(g_variant_builder_end)                  \
  X(g_variant_builder_init)                 \
  X(g_variant_get)                          \
  X(g_variant_new)                          \
  X(g_variant_new_boolean)                  \
  X(g_variant_new_fixed_array)              \
  X(g_variant_new_string)                   \
  X(g_variant_type_checked_)

struct GioApi {
  bool loaded = false;
#define TRAY_GIO_POINTER(name) decltype(&::name) name = nullptr;
  TRAY_GIO_FUNCTIONS(TRAY_GIO_POINTER)
#undef TRAY_GIO_POINTER
};

GioApi LoadGio() {
  GioApi api;
  // GIO brings GObject and GLib, where the rest of the names are.
  void* lib = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return api;
  bool all = true;
#define TRAY_GIO_FIND(name)                                          \
  api.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name)); \
  all = all && api.name != nullptr;
  TRAY_GIO_FUNCTIONS(TRAY_GIO_FIND)
#undef TRAY_GIO_FIND
  api.loaded = all;
  return api;
}

// Loaded once per run, on the first call (thread-safe); the libraries stay loaded.
const GioApi& Gio() {
  static const GioApi api = LoadGio();
  return api;
}

const char kItemXml[] =
    "<node>"
    " <interface name='org.kde.StatusNotifierItem'>"
    "  <property name='Category' type='s' access='read'/>"
    "  <property name='Id' type='s' access='read'/>"
    "  <property name='Title' type='s' access='read'/>"
    "  <property name='Status' type='s' access='read'/>"
    "  <property name='IconName' type='s' access='read'/>"
    "  <property name='IconPixmap' type='a(iiay)' access='read'/>"
    "  <property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "  <property name='ItemIsMenu' type='b' access='read'/>"
    "  <method name='Activate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "  <method name='SecondaryActivate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' "
    "direction='in'/></method>"
    "  <method name='ContextMenu'><arg name='x' type='i' direction='in'/><arg name='y' type='i' "
    "direction='in'/></method>"
    "  <method name='Scroll'><arg name='delta' type='i' direction='in'/><arg name='orientation' type='s' "
    "direction='in'/></method>"
    "  <signal name='NewIcon'/>"
    "  <signal name='NewToolTip'/>"
    "  <signal name='NewTitle'/>"
    " </interface>"
    "</node>";
const char kItemPath[] = "/StatusNotifierItem";
const char kItemIface[] = "org.kde.StatusNotifierItem";
const char kWatcherName[] = "org.kde.StatusNotifierWatcher";

// What the engine last gave the icon.
std::mutex s_StateLock;
std::vector<u32> s_Argb;
i32 s_Width = 0, s_Height = 0;
std::string s_Tip, s_Title, s_BusName;
bool s_HavePoint = false;
i32 s_PointX = 0, s_PointY = 0;

std::atomic<u32> s_NotifyCode{0};
std::atomic<i64> s_NotifyId{0};

// The tray thread (under s_LifeLock).
std::mutex s_LifeLock;
std::thread* s_Thread = nullptr;
GMainContext* s_Context = nullptr;
GMainLoop* s_Loop = nullptr;
std::atomic<bool> s_Shown{false};

// The tray thread's own.
GDBusConnection* s_Bus = nullptr;
std::string s_OwnName;
bool s_NameOwned = false, s_WatcherUp = false;

void Post(i64 message) {
  const u32 code = s_NotifyCode.load();
  if (code) PlatPostMessage(code, s_NotifyId.load(), message);
}

// The pixels as the item's pixmap: ARGB32 in network byte order.
GVariant* Pixmaps(bool with_icon) {
  GVariantBuilder b;
  Gio().g_variant_builder_init(&b, Gio().g_variant_type_checked_("a(iiay)"));
  std::lock_guard<std::mutex> g(s_StateLock);
  if (with_icon && s_Width > 0 && s_Height > 0 && s_Argb.size() == static_cast<size_t>(s_Width) * s_Height) {
    std::vector<u8> bytes(s_Argb.size() * 4);
    for (size_t i = 0; i < s_Argb.size(); i++)
      for (int k = 0; k < 4; k++) bytes[i * 4 + k] = static_cast<u8>(s_Argb[i] >> (24 - 8 * k));
    Gio().g_variant_builder_add(&b, "(ii@ay)", s_Width, s_Height,
                                Gio().g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1));
  }
  return Gio().g_variant_builder_end(&b);
}

std::string Locked(const std::string& s) {
  std::lock_guard<std::mutex> g(s_StateLock);
  return s;
}

GVariant* GetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                      gpointer) {
  const std::string p = name;
  if (p == "Category") return Gio().g_variant_new_string("ApplicationStatus");
  if (p == "Id") return Gio().g_variant_new_string("zephra");
  if (p == "Title") return Gio().g_variant_new_string(Locked(s_Title).c_str());
  if (p == "Status") return Gio().g_variant_new_string("Active");
  if (p == "IconName") return Gio().g_variant_new_string("");
  if (p == "IconPixmap") return Pixmaps(true);
  if (p == "ToolTip") return Gio().g_variant_new("(s@a(iiay)ss)", "", Pixmaps(false), Locked(s_Tip).c_str(), "");
  if (p == "ItemIsMenu") return Gio().g_variant_new_boolean(FALSE);
  return nullptr;
}

void CallMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
                GDBusMethodInvocation* invocation, gpointer) {
  const std::string m = method;
  if (m == "Activate") {
    Post(PLAT_TRAY_LBUTTONDOWN);
  } else if (m == "ContextMenu") {
    gint32 x = 0, y = 0;
    Gio().g_variant_get(params, "(ii)", &x, &y);
    {
      std::lock_guard<std::mutex> g(s_StateLock);
      s_HavePoint = true;
      s_PointX = x;
      s_PointY = y;
    }
    Post(PLAT_TRAY_RBUTTONUP);
  }
  Gio().g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kVtable = {CallMethod, GetProperty, nullptr, {}};

void RegisterWithWatcher() {
  if (!s_NameOwned || !s_WatcherUp || !s_Bus) return;
  Gio().g_dbus_connection_call(s_Bus, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
                               "RegisterStatusNotifierItem", Gio().g_variant_new("(s)", s_OwnName.c_str()), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
  s_NameOwned = true;
  {
    std::lock_guard<std::mutex> g(s_StateLock);
    s_BusName = s_OwnName;
  }
  RegisterWithWatcher();
}

// A watcher that appears later (the panel restarted) hears of the item again.
void OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer) {
  s_WatcherUp = true;
  RegisterWithWatcher();
}

void OnWatcherVanished(GDBusConnection*, const gchar*, gpointer) { s_WatcherUp = false; }

gboolean EmitChanged(gpointer) {
  if (s_Bus)
    for (const char* signal : {"NewIcon", "NewToolTip", "NewTitle"})
      Gio().g_dbus_connection_emit_signal(s_Bus, nullptr, kItemPath, kItemIface, signal, nullptr, nullptr);
  return G_SOURCE_REMOVE;
}

gboolean QuitLoop(gpointer) {
  Gio().g_main_loop_quit(s_Loop);
  return G_SOURCE_REMOVE;
}

void TrayMain() {
  Gio().g_main_context_push_thread_default(s_Context);
  GError* err = nullptr;
  gchar* address = Gio().g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
  // A private connection: it goes away whole when the icon is removed.
  GDBusConnection* bus = address
                             ? Gio().g_dbus_connection_new_for_address_sync(
                                   address,
                                   static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                   nullptr, nullptr, &err)
                             : nullptr;
  Gio().g_free(address);
  Gio().g_clear_error(&err);
  if (!bus) {
    // No session bus: no icon, and no error (as a tray that refuses the icon goes unnoticed).
    Gio().g_main_context_pop_thread_default(s_Context);
    return;
  }
  s_Bus = bus;
  s_NameOwned = s_WatcherUp = false;
  s_OwnName = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  GDBusNodeInfo* info = Gio().g_dbus_node_info_new_for_xml(kItemXml, nullptr);
  const guint object =
      Gio().g_dbus_connection_register_object(bus, kItemPath, info->interfaces[0], &kVtable, nullptr, nullptr, nullptr);
  const guint own = Gio().g_bus_own_name_on_connection(bus, s_OwnName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                                       OnNameAcquired, nullptr, nullptr, nullptr);
  const guint watch = Gio().g_bus_watch_name_on_connection(bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                           OnWatcherAppeared, OnWatcherVanished, nullptr, nullptr);
  Gio().g_main_loop_run(s_Loop);
  Gio().g_bus_unwatch_name(watch);
  Gio().g_bus_unown_name(own);
  Gio().g_dbus_connection_unregister_object(bus, object);
  Gio().g_dbus_connection_close_sync(bus, nullptr, nullptr);
  Gio().g_object_unref(bus);
  Gio().g_dbus_node_info_unref(info);
  s_Bus = nullptr;
  while (Gio().g_main_context_iteration(s_Context, FALSE)) {}
  {
    std::lock_guard<std::mutex> g(s_StateLock);
    s_BusName.clear();
  }
  Gio().g_main_context_pop_thread_default(s_Context);
}

}  // namespace

void PlatTraySetNotify(u32 code, i64 id) {
  s_NotifyId = id;
  s_NotifyCode = code;
}

void PlatTrayShow(const std::vector<u32>& argb, i32 width, i32 height, const std::string& tip_utf8,
                  const std::string& title_utf8) {
  {
    std::lock_guard<std::mutex> g(s_StateLock);
    const bool fits = width > 0 && height > 0 && argb.size() == static_cast<size_t>(width) * height;
    s_Argb = fits ? argb : std::vector<u32>{};
    s_Width = fits ? width : 0;
    s_Height = fits ? height : 0;
    s_Tip = tip_utf8;
    s_Title = title_utf8;
  }
  std::lock_guard<std::mutex> life(s_LifeLock);
  s_Shown = true;
  // Without GLib there is no bus to show the icon on: as without a session bus, no icon and no
  // error.
  if (!Gio().loaded) return;
  if (s_Thread) {
    Gio().g_main_context_invoke(s_Context, EmitChanged, nullptr);
    return;
  }
  s_Context = Gio().g_main_context_new();
  s_Loop = Gio().g_main_loop_new(s_Context, FALSE);
  s_Thread = new std::thread(TrayMain);
}

void PlatTrayRemove() {
  std::lock_guard<std::mutex> life(s_LifeLock);
  s_Shown = false;
  if (!s_Thread) return;
  // Through the loop itself: a quit asked for before the loop runs would be lost.
  Gio().g_main_context_invoke(s_Context, QuitLoop, nullptr);
  s_Thread->join();
  delete s_Thread;
  s_Thread = nullptr;
  Gio().g_main_loop_unref(s_Loop);
  Gio().g_main_context_unref(s_Context);
  s_Loop = nullptr;
  s_Context = nullptr;
  std::lock_guard<std::mutex> g(s_StateLock);
  s_HavePoint = false;
}

bool PlatTrayShown() { return s_Shown.load(); }

bool PlatTrayMenuPoint(i32* x, i32* y) {
  std::lock_guard<std::mutex> g(s_StateLock);
  if (!s_HavePoint) return false;
  *x = s_PointX;
  *y = s_PointY;
  return true;
}

std::string PlatTrayBusName() {
  std::lock_guard<std::mutex> g(s_StateLock);
  return s_BusName;
}
