#include "shell/tray/StatusNotifierItem.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "core/Bundle.h"
#include "core/GLibPtr.h"
#include "core/Log.h"
#include "shell/tray/DBusMenuExporter.h"

namespace wd {

namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <method name="ProvideXdgActivationToken"><arg name="token" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="NewMenu"/>
  </interface>
</node>)xml";

GDBusInterfaceInfo* interfaceInfo() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node->interfaces[0];
}

std::atomic<unsigned> nextItemNumber{1};

// The application's icon as pixels, for items without an image: hosts that cannot find the icon
// by name (a build tree, an unpacked tree outside the icon theme's folders) still draw it.
const std::optional<StatusNotifierItem::Pixmap>& applicationIcon() {
  static const std::optional<StatusNotifierItem::Pixmap> icon = [] {
    auto path = pathForResource("desktop/" + Bundle::main().identifier() + ".svg");
    return path ? StatusNotifierItem::loadPixmap(*path, StatusNotifierItem::kApplicationIconSize)
                : std::nullopt;
  }();
  return icon;
}
std::atomic<bool> loggedNoWatcher{false};

GVariant* pixmaps(const std::optional<StatusNotifierItem::Pixmap>& icon) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(iiay)"));
  if (icon)
    g_variant_builder_add(
        &b, "(ii@ay)", icon->width, icon->height,
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, icon->argb.data(), icon->argb.size(), 1));
  return g_variant_builder_end(&b);
}

}  // namespace

struct StatusNotifierItem::State : std::enable_shared_from_this<StatusNotifierItem::State> {
  GObjectRef<GDBusConnection> connection;
  std::string busName;
  guint registration = 0;
  guint ownerId = 0;
  guint watcherWatch = 0;
  bool nameOwned = false;
  bool watcherPresent = false;
  bool registered = false;
  std::unique_ptr<DBusMenuExporter> menu;
  GObjectRef<GMenuModel> menuModel;
  GObjectRef<GActionGroup> menuActions;
  std::string title;
  std::optional<Pixmap> icon, attentionIcon;
  std::function<void()> onActivate;

  ~State() {
    if (watcherWatch) g_bus_unwatch_name(watcherWatch);
    if (ownerId) g_bus_unown_name(ownerId);
    menu.reset();
    if (registration) g_dbus_connection_unregister_object(connection.get(), registration);
  }

  void emit(const char* signal, GVariant* params = nullptr) {
    if (!registration) {
      if (params) g_variant_unref(g_variant_ref_sink(params));
      return;
    }
    g_dbus_connection_emit_signal(connection.get(), nullptr, kObjectPath, kInterface, signal,
                                  params, nullptr);
  }

  GVariant* property(const gchar* name) const {
    const std::string n = name;
    if (n == "Category") return g_variant_new_string("ApplicationStatus");
    if (n == "Id") return g_variant_new_string(Bundle::main().identifier().c_str());
    if (n == "Title") return g_variant_new_string(title.c_str());
    if (n == "Status") return g_variant_new_string("Active");
    if (n == "WindowId") return g_variant_new_int32(0);
    if (n == "IconName")
      return g_variant_new_string(icon ? "" : Bundle::main().identifier().c_str());
    if (n == "IconThemePath" || n == "OverlayIconName" || n == "AttentionIconName" ||
        n == "AttentionMovieName")
      return g_variant_new_string("");
    if (n == "IconPixmap") return pixmaps(icon ? icon : applicationIcon());
    if (n == "OverlayIconPixmap") return pixmaps(std::nullopt);
    if (n == "AttentionIconPixmap") return pixmaps(attentionIcon);
    if (n == "ToolTip")
      return g_variant_new("(s@a(iiay)ss)", "", pixmaps(std::nullopt), title.c_str(), "");
    if (n == "ItemIsMenu") return g_variant_new_boolean(menuModel != nullptr);
    if (n == "Menu") return g_variant_new_object_path(kMenuPath);
    return nullptr;
  }

  // Tells hosts that ItemIsMenu (and the menu behind Menu) changed. No signal of the protocol
  // names the menu, and hosts differ in what makes them read it again: NewMenu for those that
  // know it, PropertiesChanged for those that watch properties, NewIcon for those that re-read
  // everything only on the New* signals of the icon, title and tooltip (xfce4-panel).
  void announceMenu() {
    if (!registration) return;
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    for (const char* name : {"ItemIsMenu", "Menu"})
      g_variant_builder_add(&changed, "{sv}", name, property(name));
    g_dbus_connection_emit_signal(
        connection.get(), nullptr, kObjectPath, "org.freedesktop.DBus.Properties",
        "PropertiesChanged", g_variant_new("(sa{sv}as)", kInterface, &changed, nullptr), nullptr);
    emit("NewMenu");
    emit("NewIcon");
  }

  void registerWithWatcher() {
    if (!nameOwned || !watcherPresent || !connection) return;
    g_dbus_connection_call(
        connection.get(), kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
        g_variant_new("(s)", busName.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
          g_autoptr(GError) error = nullptr;
          g_autoptr(GVariant) reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
          auto self = weak->lock();
          if (!reply) {
            WD_LOG_INFO("The tray did not take the status item: {}", error->message);
            return;
          }
          if (self) self->registered = true;
        },
        new std::weak_ptr<State>(weak_from_this()));
  }

  void connected(GDBusConnection* bus);
};

namespace {

using WeakState = std::weak_ptr<StatusNotifierItem::State>;

void deleteWeak(gpointer data) {
  delete static_cast<WeakState*>(data);
}

void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
              GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
  auto self = static_cast<WeakState*>(data)->lock();
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (!self || g_strcmp0(method, "Activate") != 0) return;
  // A host that opens the menu itself does not call Activate; one that calls it anyway (its
  // user chose so, or it cannot show menus) gets the click.
  if (self->onActivate) {
    auto handler = self->onActivate;  // the handler may replace itself
    handler();
  }
}

GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                        const gchar* name, GError** error, gpointer data) {
  auto self = static_cast<WeakState*>(data)->lock();
  GVariant* value = self ? self->property(name) : nullptr;
  if (!value) g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No %s", name);
  return value;
}

const GDBusInterfaceVTable kVTable = {onMethod, onGetProperty, nullptr, {}};

}  // namespace

void StatusNotifierItem::State::connected(GDBusConnection* bus) {
  connection.reset(bus);
  g_autoptr(GError) error = nullptr;
  registration =
      g_dbus_connection_register_object(bus, kObjectPath, interfaceInfo(), &kVTable,
                                        new WeakState(weak_from_this()), deleteWeak, &error);
  if (!registration) {
    WD_LOG_INFO("Status item not exported: {}", error->message);
    return;
  }
  menu = std::make_unique<DBusMenuExporter>(bus, kMenuPath);
  menu->setMenu(menuModel.get(), menuActions.get());

  busName = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" +
            std::to_string(nextItemNumber++);
  ownerId = g_bus_own_name_on_connection(
      bus, busName.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
      [](GDBusConnection*, const gchar*, gpointer data) {
        if (auto self = static_cast<WeakState*>(data)->lock()) {
          self->nameOwned = true;
          self->registerWithWatcher();
        }
      },
      [](GDBusConnection*, const gchar* name, gpointer data) {
        if (auto self = static_cast<WeakState*>(data)->lock()) {
          if (self->nameOwned || self->ownerId) WD_LOG_INFO("Status item lost its name {}", name);
          self->nameOwned = false;
          self->registered = false;
        }
      },
      new WeakState(weak_from_this()), deleteWeak);
  watcherWatch = g_bus_watch_name_on_connection(
      bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
        if (auto self = static_cast<WeakState*>(data)->lock()) {
          self->watcherPresent = true;
          self->registerWithWatcher();
        }
      },
      [](GDBusConnection*, const gchar*, gpointer data) {
        auto self = static_cast<WeakState*>(data)->lock();
        if (!self) return;
        self->watcherPresent = false;
        self->registered = false;
        if (!loggedNoWatcher.exchange(true))
          WD_LOG_INFO(
              "No tray on the desktop (no StatusNotifierWatcher on the session bus); the status "
              "item is kept and shown when one appears");
      },
      new WeakState(weak_from_this()), deleteWeak);
}

std::optional<StatusNotifierItem::Pixmap> StatusNotifierItem::loadPixmap(const std::string& path,
                                                                         int maxSize) {
  // Tray icons are small: a larger image is scaled down while it is read (never decoded at full
  // size), so a huge file cannot exhaust memory or exceed a D-Bus message.
  int width = 0, height = 0;
  if (!gdk_pixbuf_get_file_info(path.c_str(), &width, &height)) {
    WD_LOG_INFO("Status item image not loaded (unknown format): {}", path);
    return std::nullopt;
  }
  g_autoptr(GError) error = nullptr;
  maxSize = std::clamp(maxSize, 1, kMaxIconSize);
  GObjectRef<GdkPixbuf> loaded{
      width > maxSize || height > maxSize || width <= 0 || height <= 0
          ? gdk_pixbuf_new_from_file_at_scale(path.c_str(), maxSize, maxSize, TRUE, &error)
          : gdk_pixbuf_new_from_file(path.c_str(), &error)};
  if (!loaded) {
    WD_LOG_INFO("Status item image not loaded: {}", error ? error->message : path);
    return std::nullopt;
  }
  GObjectRef<GdkPixbuf> rgba{gdk_pixbuf_add_alpha(loaded.get(), FALSE, 0, 0, 0)};
  if (!rgba || gdk_pixbuf_get_bits_per_sample(rgba.get()) != 8) return std::nullopt;
  Pixmap out;
  out.width = gdk_pixbuf_get_width(rgba.get());
  out.height = gdk_pixbuf_get_height(rgba.get());
  const int stride = gdk_pixbuf_get_rowstride(rgba.get());
  const guchar* pixels = gdk_pixbuf_read_pixels(rgba.get());
  out.argb.reserve(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
  for (int y = 0; y < out.height; ++y) {
    const guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < out.width; ++x) {
      const guchar* p = row + x * 4;  // R, G, B, A
      out.argb.insert(out.argb.end(), {p[3], p[0], p[1], p[2]});
    }
  }
  return out;
}

StatusNotifierItem::StatusNotifierItem() : state_(std::make_shared<State>()) {
  g_bus_get(
      G_BUS_TYPE_SESSION, nullptr,
      [](GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<WeakState> weak(static_cast<WeakState*>(data));
        g_autoptr(GError) error = nullptr;
        GObjectRef<GDBusConnection> bus{g_bus_get_finish(result, &error)};
        if (!bus) {
          WD_LOG_INFO("No session bus for the status item: {}", error ? error->message : "");
          return;
        }
        if (auto self = weak->lock()) self->connected(bus.release());
      },
      new WeakState(state_));
}

StatusNotifierItem::~StatusNotifierItem() = default;

void StatusNotifierItem::setTitle(const std::string& title) {
  // D-Bus strings are UTF-8 without NUL: the page's text is cut at a NUL and made valid.
  const std::string text = title.substr(0, title.find('\0'));
  g_autofree gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  state_->title = valid;
  state_->emit("NewTitle");
  state_->emit("NewToolTip");
}

void StatusNotifierItem::setIcon(std::optional<Pixmap> icon) {
  state_->icon = std::move(icon);
  state_->emit("NewIcon");
}

void StatusNotifierItem::setAttentionIcon(std::optional<Pixmap> icon) {
  state_->attentionIcon = std::move(icon);
  state_->emit("NewAttentionIcon");
}

void StatusNotifierItem::setMenu(GMenuModel* model, GActionGroup* actions) {
  state_->menuModel = refObject(model);
  state_->menuActions = refObject(actions);
  if (state_->menu) state_->menu->setMenu(model, actions);
  state_->announceMenu();
}

void StatusNotifierItem::setActivateHandler(std::function<void()> handler) {
  state_->onActivate = std::move(handler);
}

std::string StatusNotifierItem::busName() const {
  return state_->busName;
}

bool StatusNotifierItem::isRegistered() const {
  return state_->registered;
}

}  // namespace wd
