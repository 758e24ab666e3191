#include "shell/window/DeveloperExtras.h"

#include <webkit2/webkit2.h>

#include "core/Settings.h"
#include "core/UserDefaults.h"

namespace wd {

bool developerExtrasEnabled(const UserDefaults& defaults) {
  return defaults.boolForKey(Settings::kDeveloper) ||
         defaults.boolForKey(Settings::kEnableDeveloperMode);
}

NotificationCenter::Token followDeveloperExtras(NotificationCenter& center,
                                                const UserDefaults& defaults, WebKitWebView* view) {
  return center.addObserver(
      UserDefaults::kDidChangeNotification, [&defaults, view](const Notification& note) {
        if (note.object.is_string()) {
          const auto& key = note.object.get_ref<const std::string&>();
          if (key != Settings::kDeveloper && key != Settings::kEnableDeveloperMode) return;
        }
        WebKitSettings* settings = webkit_web_view_get_settings(view);
        const gboolean on = developerExtrasEnabled(defaults);
        if (settings && webkit_settings_get_enable_developer_extras(settings) != on)
          webkit_settings_set_enable_developer_extras(settings, on);
      });
}

}  // namespace wd
