#pragma once
// The distribution's xdg-desktop-portal with its GTK back end on the test's session bus, reading
// GNOME settings from a key file of its own, where a test changes the colour scheme.
#include <gio/gio.h>

#include <string>
#include <vector>

#include "core/GLibPtr.h"
#include "shell/BusPeer.h"
#include "support/Files.h"

namespace wd::test {

class DesktopPortal {
 public:
  static constexpr const char* kFrontend = "/usr/libexec/xdg-desktop-portal";
  static constexpr const char* kGtkBackend = "/usr/libexec/xdg-desktop-portal-gtk";

  static bool installed() {
    return g_file_test(kFrontend, G_FILE_TEST_IS_EXECUTABLE) &&
           g_file_test(kGtkBackend, G_FILE_TEST_IS_EXECUTABLE);
  }

  // Starts both with the GNOME colour scheme `scheme` ("default", "prefer-dark",
  // "prefer-light"); ready() once the portal answers on the bus.
  explicit DesktopPortal(const char* scheme) {
    env_ = g_environ_setenv(env_, "XDG_CONFIG_HOME", (testDirectory() / "portal").c_str(), TRUE);
    env_ = g_environ_setenv(env_, "GSETTINGS_BACKEND", "keyfile", TRUE);
    env_ = g_environ_setenv(env_, "XDG_CURRENT_DESKTOP", "GNOME", TRUE);
    setColorScheme(scheme);
    ready_ = start(kGtkBackend, "org.freedesktop.impl.portal.desktop.gtk") &&
             start(kFrontend, "org.freedesktop.portal.Desktop");
  }
  ~DesktopPortal() {
    for (auto& p : processes_) {
      g_subprocess_force_exit(p.get());
      g_subprocess_wait(p.get(), nullptr, nullptr);
    }
    g_strfreev(env_);
  }
  DesktopPortal(const DesktopPortal&) = delete;
  DesktopPortal& operator=(const DesktopPortal&) = delete;

  bool ready() const { return ready_; }

  // The desktop's setting changes, as its settings panel changes it.
  void setColorScheme(const char* scheme) {
    const gchar* argv[] = {"gsettings",    "set",  "org.gnome.desktop.interface",
                           "color-scheme", scheme, nullptr};
    g_spawn_sync(nullptr, const_cast<gchar**>(argv), env_, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr);
  }

 private:
  // Starts `program`; true once it owns `name` on the bus.
  bool start(const char* program, const char* name) {
    g_autoptr(GSubprocessLauncher) launcher =
        g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_SILENCE |
                                                                G_SUBPROCESS_FLAGS_STDERR_SILENCE));
    g_subprocess_launcher_set_environ(launcher, env_);
    if (GSubprocess* p = g_subprocess_launcher_spawn(launcher, nullptr, program, "-r", nullptr))
      processes_.emplace_back(p);
    return waitFor([&] { return bus_.hasOwner(name); });
  }
  gchar** env_ = g_get_environ();
  BusPeer bus_;
  std::vector<GObjectRef<GSubprocess>> processes_;
  bool ready_ = false;
};

}  // namespace wd::test
