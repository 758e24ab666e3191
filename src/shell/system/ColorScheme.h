#pragma once
// The application's windows and pages follow the desktop's light or dark style. The desktop
// tells it through the settings portal (org.freedesktop.portal.Settings on the session bus,
// namespace "org.freedesktop.appearance", key "color-scheme": 0 no preference, 1 dark, 2 light),
// read when the portal appears and followed through its SettingChanged signal. The choice is set
// as GTK's gtk-application-prefer-dark-theme, which GTK's theme and the web engine's
// prefers-color-scheme both follow. Without a portal (or with no preference) the theme's own
// setting stays: a dark theme variant (gtk-theme-name "...-dark", GTK_THEME "...:dark") or the
// desktop's gtk-application-prefer-dark-theme (settings.ini, XSETTINGS).
#include <optional>

typedef struct _GtkSettings GtkSettings;
typedef struct _GObject GObject;
typedef struct _GAsyncResult GAsyncResult;
typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace wd {

class DesktopColorScheme {
 public:
  enum Scheme : unsigned { NoPreference = 0, Dark = 1, Light = 2 };

  // Follows the portal on the session bus (looked up asynchronously) for `settings`.
  explicit DesktopColorScheme(GtkSettings* settings);
  ~DesktopColorScheme();
  DesktopColorScheme(const DesktopColorScheme&) = delete;
  DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

  // What the desktop asks for; none before the portal has answered (or without one).
  std::optional<Scheme> scheme() const { return scheme_; }

  // Reads a "color-scheme" value as the portal sends it (a number, possibly inside variants);
  // anything else is none.
  static std::optional<Scheme> parse(GVariant* value);

 private:
  static void onBus(GObject*, GAsyncResult*, void*);
  static void onReadOne(GObject*, GAsyncResult*, void*);
  static void onRead(GObject*, GAsyncResult*, void*);
  static void answered(GObject* source, GAsyncResult* result, void* data, bool readOne);
  static void onAppeared(GDBusConnection*, const char*, const char*, void*);
  static void onVanished(GDBusConnection*, const char*, void*);
  static void onChanged(GDBusConnection*, const char*, const char*, const char*, const char*,
                        GVariant*, void*);
  void read(bool readOne);
  void apply(std::optional<Scheme> scheme);

  GtkSettings* settings_;
  bool themeDefault_ = false;  // the theme's own gtk-application-prefer-dark-theme
  std::optional<Scheme> scheme_;
  GCancellable* cancellable_;
  GDBusConnection* bus_ = nullptr;
  unsigned watch_ = 0;
  unsigned subscription_ = 0;
};

}  // namespace wd
