#include "shell/system/LauncherBadge.h"

#include "core/Log.h"

namespace wd {

// Shared with the asynchronous bus lookup, which may finish after the badge is gone.
struct LauncherBadge::State {
  GDBusConnection* connection = nullptr;
  bool pending = false;  // a label was set before the bus was known
  std::optional<std::string> label;

  ~State() {
    if (connection) g_object_unref(connection);
  }
  void send() {
    if (!connection) {
      pending = true;
      return;
    }
    g_autoptr(GError) error = nullptr;
    if (!g_dbus_connection_emit_signal(connection, nullptr, kObjectPath, kInterface, "Update",
                                       g_variant_new("(s@a{sv})", kAppUri, properties(label)),
                                       &error))
      WD_LOG_INFO("Launcher badge not sent: {}", error->message);
  }
};

namespace {

void onBus(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::weak_ptr<LauncherBadge::State>> weak(
      static_cast<std::weak_ptr<LauncherBadge::State>*>(data));
  g_autoptr(GError) error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  auto state = weak->lock();
  if (!bus) {
    WD_LOG_INFO("No session bus for the launcher badge: {}", error ? error->message : "");
    return;
  }
  if (!state) {
    g_object_unref(bus);
    return;
  }
  state->connection = bus;
  if (state->pending) {
    state->pending = false;
    state->send();
  }
}

}  // namespace

LauncherBadge::LauncherBadge() : state_(std::make_shared<State>()) {
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, new std::weak_ptr<State>(state_));
}

LauncherBadge::~LauncherBadge() = default;

std::optional<std::int64_t> LauncherBadge::countOf(const std::string& label) {
  std::size_t i = (!label.empty() && (label[0] == '-' || label[0] == '+')) ? 1 : 0;
  if (i >= label.size() || label.size() - i > 18) return std::nullopt;
  std::int64_t value = 0;
  for (std::size_t k = i; k < label.size(); ++k) {
    if (label[k] < '0' || label[k] > '9') return std::nullopt;
    value = value * 10 + (label[k] - '0');
  }
  return label[0] == '-' ? -value : value;
}

GVariant* LauncherBadge::properties(const std::optional<std::string>& label) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  const auto count = label ? countOf(*label) : std::nullopt;
  g_variant_builder_add(&b, "{sv}", "count", g_variant_new_int64(count.value_or(0)));
  g_variant_builder_add(&b, "{sv}", "count-visible", g_variant_new_boolean(count.has_value()));
  return g_variant_builder_end(&b);
}

void LauncherBadge::setLabel(const std::string& label) {
  if (label.empty())
    label_.reset();
  else
    label_ = label;
  state_->label = label_;
  state_->send();
}

}  // namespace wd
