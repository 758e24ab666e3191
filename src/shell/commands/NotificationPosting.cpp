#include "shell/commands/NotificationPosting.h"

#include <glib.h>
#include <gtk/gtk.h>

#include <cmath>

#include "core/Bundle.h"
#include "shell/notifications/NotificationService.h"

namespace wd::notifications {

namespace {

// A number as the page writes it: whole numbers without a fraction ("7", not "7.0").
std::string numberText(const bridge::Value& v, double n) {
  if (n == std::trunc(n) && std::fabs(n) < 1e15) return std::to_string(static_cast<long long>(n));
  auto json = v.toJson();
  return json ? json->dump() : std::to_string(n);
}

std::optional<std::string> stringOption(const bridge::Dictionary& options, const char* key) {
  const bridge::Value& v = options.get(key);
  if (const std::string* s = v.asString()) return *s;
  if (auto n = v.asNumber()) return numberText(v, *n);
  if (auto b = v.asBool()) return *b ? "true" : "false";
  return std::nullopt;
}

// The page's text as valid UTF-8 for the toolkit (a lone surrogate or a stray byte is replaced).
std::string validText(const std::string& text) {
  g_autofree gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  return valid;
}

void showSheet(GtkWindow* parent, const std::optional<std::string>& title,
               const std::optional<std::string>& content) {
  if (!parent) return;
  GtkWidget* alert =
      gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_INFO,
                             GTK_BUTTONS_OK, "%s", validText(title.value_or("")).c_str());
  if (content && !content->empty())
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(alert), "%s",
                                             validText(*content).c_str());
  gtk_window_set_title(GTK_WINDOW(alert), Bundle::main().name().c_str());
  gtk_window_set_modal(GTK_WINDOW(alert), TRUE);
  g_signal_connect(alert, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(alert);
}

}  // namespace

bool truthValue(const bridge::Value& v) {
  if (auto b = v.asBool()) return *b;
  if (auto n = v.asNumber()) return *n != 0 && *n == *n;
  if (const std::string* s = v.asString()) {
    std::size_t i = 0;
    while (i < s->size() && ((*s)[i] == ' ' || (*s)[i] == '\t' || (*s)[i] == '\n')) ++i;
    if (i < s->size() && ((*s)[i] == '+' || (*s)[i] == '-')) ++i;
    while (i < s->size() && (*s)[i] == '0') ++i;
    if (i >= s->size()) return false;
    char c = (*s)[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return !v.isNone();
}

std::string makeUUID() {
  g_autofree gchar* uuid = g_uuid_string_random();
  std::string out = uuid;
  for (char& c : out) c = static_cast<char>(g_ascii_toupper(c));
  return out;
}

std::optional<Posted> post(const std::optional<bridge::Dictionary>& given,
                           NotificationService& service, GtkWindow* sheetParent) {
  const bridge::Dictionary options = given.value_or(bridge::Dictionary());
  const auto type = stringOption(options, "type");
  const auto title = stringOption(options, "title");
  const auto content = stringOption(options, "content");
  if (type && *type == "sheet") {
    showSheet(sheetParent, title, content);
    return std::nullopt;
  }
  // The id: the page's (a string, or a number's text), else a fresh UUID.
  bridge::Value id = options.get("id");
  std::string idText;
  if (const std::string* s = id.asString()) {
    idText = *s;
  } else if (auto text = stringOption(options, "id"); text && id.isNumber()) {
    idText = *text;
    id = bridge::Value(idText);
  } else {
    idText = makeUUID();
    id = bridge::Value(idText);
  }
  UserNotification n;
  n.title = title.value_or("");
  n.informativeText = content.value_or("");
  n.subtitle = stringOption(options, "subtitle").value_or("");
  const bridge::Value& sound = options.get("sound");
  n.sound = sound.isNone() || truthValue(sound);
  n.userInfo = Json{{"id", idText}};
  service.deliver(std::move(n));
  return Posted{std::move(id), title};
}

std::size_t withdraw(NotificationService& service, const std::string& id) {
  std::size_t withdrawn = 0;
  for (const auto& n : service.deliveredNotifications()) {
    bool match = id == "*";
    if (!match && n.userInfo.is_object()) {
      auto it = n.userInfo.find("id");
      match = it != n.userInfo.end() && it->is_string() && it->get<std::string>() == id;
    }
    if (!match) continue;
    service.removeDeliveredNotification(n.key);
    ++withdrawn;
  }
  return withdrawn;
}

}  // namespace wd::notifications
