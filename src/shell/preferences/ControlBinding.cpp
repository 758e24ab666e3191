#include "shell/preferences/ControlBinding.h"

#include <charconv>

#include "core/GLibPtr.h"

namespace wd {

namespace {

std::string textOf(const std::optional<Json>& value) {
  if (!value) return {};
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number_integer()) return std::to_string(value->get<long long>());
  if (value->is_number()) return std::to_string(static_cast<long long>(value->get<double>()));
  return {};
}

bool boolOf(const std::optional<Json>& value) {
  if (!value) return false;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0;
  if (value->is_string())
    return value->get<std::string>() == "1" || value->get<std::string>() == "YES";
  return false;
}

}  // namespace

ControlBinding::ControlBinding(GtkWidget* control, Kind kind, UserDefaultsController& controller,
                               std::string keyPath, std::function<void()> changed)
    : kind_(kind),
      controller_(controller),
      keyPath_(std::move(keyPath)),
      changed_(std::move(changed)) {
  g_weak_ref_init(&control_, control);
  if (control) {
    const char* signal = kind_ == Kind::Bool ? "toggled" : "changed";
    handler_ = g_signal_connect_swapped(
        control, signal,
        G_CALLBACK(+[](gpointer self) { static_cast<ControlBinding*>(self)->edited(); }), this);
  }
  observation_ = controller_.addObserver(
      keyPath_, [this](const std::string&, const std::optional<Json>& value) {
        show(value);
        if (changed_) changed_();
      });
  refresh();
}

ControlBinding::~ControlBinding() {
  observation_.reset();
  if (auto control = GObjectRef<GObject>(static_cast<GObject*>(g_weak_ref_get(&control_))))
    if (handler_) g_signal_handler_disconnect(control.get(), handler_);
  g_weak_ref_clear(&control_);
}

GtkWidget* ControlBinding::control() const {
  // The control lives as long as its pane's view; the reference only guards against its end.
  auto control =
      GObjectRef<GObject>(static_cast<GObject*>(g_weak_ref_get(const_cast<GWeakRef*>(&control_))));
  return control ? GTK_WIDGET(control.get()) : nullptr;
}

void ControlBinding::refresh() {
  show(controller_.valueForKeyPath(keyPath_));
}

void ControlBinding::show(const std::optional<Json>& value) {
  if (updating_) return;  // the control's own edit coming back
  GtkWidget* control = this->control();
  if (!control) return;
  updating_ = true;
  if (kind_ == Kind::Bool) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(control), boolOf(value));
  } else {
    const std::string text = textOf(value);
    if (text != gtk_entry_get_text(GTK_ENTRY(control)))
      gtk_entry_set_text(GTK_ENTRY(control), text.c_str());
  }
  updating_ = false;
}

void ControlBinding::edited() {
  if (updating_) return;
  GtkWidget* control = this->control();
  if (!control) return;
  Json value;
  if (kind_ == Kind::Bool) {
    value = static_cast<bool>(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(control)));
  } else if (kind_ == Kind::Text) {
    value = std::string(gtk_entry_get_text(GTK_ENTRY(control)));
  } else {
    const std::string text = gtk_entry_get_text(GTK_ENTRY(control));
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty()) {
      value = nullptr;  // back to the initial value once saved
    } else if (error != std::errc() || end != text.data() + text.size() || number < 0 ||
               number > 65535) {
      return;  // not a port: the text stays for the user to correct, the value is unchanged
    } else {
      value = number;
    }
  }
  updating_ = true;
  controller_.setValueForKeyPath(keyPath_, value);
  updating_ = false;
}

}  // namespace wd
