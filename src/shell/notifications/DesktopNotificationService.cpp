#include "shell/notifications/DesktopNotificationService.h"

#include <algorithm>
#include <functional>

#include "core/Bundle.h"
#include "core/I18n.h"
#include "core/Log.h"

namespace wd {

namespace {
constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
}  // namespace

struct DesktopNotificationService::State
    : std::enable_shared_from_this<DesktopNotificationService::State> {
  struct Entry {
    UserNotification notification;
    guint32 serverId = 0;    // 0 until the server answered Notify
    bool withdrawn = false;  // withdrawn before the server answered
  };
  std::function<void(const UserNotification&)> activate;
  GDBusConnection* connection = nullptr;
  bool connecting = false;  // the session bus is being looked up
  bool closed = false;      // the service is gone
  guint closedSubscription = 0;
  guint actionSubscription = 0;
  bool serverReadsMarkup = false;
  std::uint64_t nextKey = 1;
  std::vector<Entry> entries;

  Entry* byKey(std::uint64_t key) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [key](const Entry& e) { return e.notification.key == key; });
    return it == entries.end() ? nullptr : &*it;
  }
  Entry* byServerId(guint32 id) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [id](const Entry& e) { return e.serverId == id && id != 0; });
    return it == entries.end() ? nullptr : &*it;
  }
  void erase(std::uint64_t key) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [key](const Entry& e) { return e.notification.key == key; }),
                  entries.end());
  }
  bool capabilitiesKnown = false;
  std::vector<std::uint64_t> queued;  // delivered before the capabilities were known

  void send(std::uint64_t key);
  void connected(GDBusConnection* bus);
  void sendQueued() {
    capabilitiesKnown = true;
    auto keys = std::move(queued);
    queued.clear();
    for (auto key : keys) send(key);
  }
  void closeOnServer(guint32 serverId) {
    if (!connection || serverId == 0) return;
    g_dbus_connection_call(connection, kBusName, kObjectPath, kInterface, "CloseNotification",
                           g_variant_new("(u)", serverId), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, nullptr, nullptr);
  }
};

namespace {

using State = DesktopNotificationService::State;

// Carries a weak reference to the service's state through an asynchronous call.
struct CallContext {
  std::weak_ptr<State> state;
  std::uint64_t key = 0;
};

void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
              GVariant* parameters, gpointer userData) {
  auto* weak = static_cast<std::weak_ptr<State>*>(userData);
  auto state = weak->lock();
  if (!state) return;
  if (g_strcmp0(signal, "NotificationClosed") == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
    guint32 id = 0, reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    if (auto* e = state->byServerId(id)) state->erase(e->notification.key);
  } else if (g_strcmp0(signal, "ActionInvoked") == 0 &&
             g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
    guint32 id = 0;
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    if (g_strcmp0(action, "default") != 0) return;
    if (auto* e = state->byServerId(id)) {
      UserNotification copy = e->notification;
      if (state->activate) state->activate(copy);
    }
  }
}

void freeWeak(gpointer data) {
  delete static_cast<std::weak_ptr<State>*>(data);
}

void onCapabilities(GObject* source, GAsyncResult* result, gpointer userData) {
  std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(userData));
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
  auto state = weak->lock();
  if (!reply) {
    if (state) state->sendQueued();
    return;
  }
  if (state && g_variant_is_of_type(reply, G_VARIANT_TYPE("(as)"))) {
    GVariantIter* iter = nullptr;
    const gchar* cap = nullptr;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_next(iter, "&s", &cap))
      if (g_strcmp0(cap, "body-markup") == 0) state->serverReadsMarkup = true;
    g_variant_iter_free(iter);
  }
  g_variant_unref(reply);
  if (state) state->sendQueued();
}

void onNotifyReply(GObject* source, GAsyncResult* result, gpointer userData) {
  std::unique_ptr<CallContext> ctx(static_cast<CallContext*>(userData));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  auto state = ctx->state.lock();
  if (!reply) {
    WD_LOG_INFO("Posting a notification failed: {}", error ? error->message : "unknown error");
    g_clear_error(&error);
    if (state) state->erase(ctx->key);
    return;
  }
  guint32 id = 0;
  if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(u)"))) g_variant_get(reply, "(u)", &id);
  g_variant_unref(reply);
  if (!state) return;
  auto* e = state->byKey(ctx->key);
  if (!e) return;
  if (e->withdrawn || id == 0) {
    state->closeOnServer(id);
    state->erase(ctx->key);
    return;
  }
  e->serverId = id;
}

}  // namespace

void DesktopNotificationService::State::send(std::uint64_t key) {
  Entry* e = byKey(key);
  if (!e || !connection) return;
  if (e->withdrawn) {
    erase(key);
    return;
  }
  const UserNotification& n = e->notification;
  // Text must be valid UTF-8 for D-Bus; anything else is replaced.
  auto valid = [](const std::string& text) {
    gchar* v = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string out = v;
    g_free(v);
    return out;
  };
  const std::string summary = valid(n.title);
  const std::string body = valid(bodyText(n, serverReadsMarkup));
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&actions, "s", "default");
  g_variant_builder_add(&actions, "s", _("Open"));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                        g_variant_new_string(Bundle::main().identifier().c_str()));
  if (n.sound)
    g_variant_builder_add(&hints, "{sv}", "sound-name",
                          g_variant_new_string("message-new-instant"));
  else
    g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
  const std::string appName = Bundle::main().name();
  const std::string icon = Bundle::main().identifier();
  g_dbus_connection_call(connection, kBusName, kObjectPath, kInterface, "Notify",
                         g_variant_new("(susssasa{sv}i)", appName.c_str(), 0u, icon.c_str(),
                                       summary.c_str(), body.c_str(), &actions, &hints, -1),
                         G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, onNotifyReply,
                         new CallContext{shared_from_this(), key});
}

void DesktopNotificationService::State::connected(GDBusConnection* bus) {
  connection = bus;  // owned
  for (const char* signal : {"NotificationClosed", "ActionInvoked"}) {
    guint id = g_dbus_connection_signal_subscribe(
        connection, nullptr, kInterface, signal, kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        onSignal, new std::weak_ptr<State>(weak_from_this()), freeWeak);
    (g_strcmp0(signal, "ActionInvoked") == 0 ? actionSubscription : closedSubscription) = id;
  }
  g_dbus_connection_call(connection, kBusName, kObjectPath, kInterface, "GetCapabilities", nullptr,
                         G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                         onCapabilities, new std::weak_ptr<State>(weak_from_this()));
}

namespace {

// The session bus, looked up without blocking: notifications delivered meanwhile wait in the
// queue; without a bus they are dropped.
void onSessionBus(GObject*, GAsyncResult* result, gpointer userData) {
  std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(userData));
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  auto state = weak->lock();
  if (!state || state->closed) {
    g_clear_object(&bus);
    g_clear_error(&error);
    return;
  }
  state->connecting = false;
  if (!bus) {
    WD_LOG_INFO("No session bus, notifications are not shown: {}",
                error ? error->message : "unknown error");
    g_clear_error(&error);
    state->entries.clear();
    state->queued.clear();
    return;
  }
  state->connected(bus);
}

}  // namespace

DesktopNotificationService::DesktopNotificationService(GDBusConnection* connection)
    : state_(std::make_shared<State>()) {
  state_->activate = [this](const UserNotification& n) { activated(n); };
  if (connection) {
    state_->connected(G_DBUS_CONNECTION(g_object_ref(connection)));
    return;
  }
  state_->connecting = true;
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, onSessionBus, new std::weak_ptr<State>(state_));
}

DesktopNotificationService::~DesktopNotificationService() {
  state_->closed = true;
  if (state_->connection) {
    if (state_->closedSubscription)
      g_dbus_connection_signal_unsubscribe(state_->connection, state_->closedSubscription);
    if (state_->actionSubscription)
      g_dbus_connection_signal_unsubscribe(state_->connection, state_->actionSubscription);
    g_object_unref(state_->connection);
    state_->connection = nullptr;
  }
  state_->activate = nullptr;
}

std::string DesktopNotificationService::bodyText(const UserNotification& n,
                                                 bool serverReadsMarkup) {
  std::string body = n.subtitle;
  if (!body.empty() && !n.informativeText.empty()) body += "\n";
  body += n.informativeText;
  if (!serverReadsMarkup) return body;
  gchar* escaped = g_markup_escape_text(body.c_str(), static_cast<gssize>(body.size()));
  std::string out = escaped;
  g_free(escaped);
  return out;
}

std::uint64_t DesktopNotificationService::deliver(UserNotification n) {
  n.key = state_->nextKey++;
  const std::uint64_t key = n.key;
  if (!state_->connection && !state_->connecting) return key;
  state_->entries.push_back({std::move(n), 0, false});
  // The body is escaped or not by what the server reads: wait for its capabilities first.
  if (state_->capabilitiesKnown)
    state_->send(key);
  else
    state_->queued.push_back(key);
  return key;
}

std::vector<UserNotification> DesktopNotificationService::deliveredNotifications() const {
  std::vector<UserNotification> out;
  for (const auto& e : state_->entries)
    if (!e.withdrawn) out.push_back(e.notification);
  return out;
}

void DesktopNotificationService::removeDeliveredNotification(std::uint64_t key) {
  auto* e = state_->byKey(key);
  if (!e) return;
  if (e->serverId == 0) {
    e->withdrawn = true;  // closed as soon as the server tells its id
    return;
  }
  state_->closeOnServer(e->serverId);
  state_->erase(key);
}

}  // namespace wd
