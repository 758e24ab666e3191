#pragma once
// Desktop events the page hears about, posted as named notifications on the application's
// notification centre:
//   kWillSleep / kDidWake          — logind's PrepareForSleep(true/false) on the system bus;
//   kDidActivateApplication        — an application was activated: under X11 the window
//                                    manager's active window changed to a window of another
//                                    process or of this one (the root window's
//                                    _NET_ACTIVE_WINDOW and the window's _NET_WM_PID). Not
//                                    reported elsewhere. The object is a dictionary
//                                    {"localizedName", "bundleURL"}.
#include <memory>

#include "core/Json.h"

namespace wd {

class NotificationCenter;

class SystemEvents {
 public:
  static constexpr const char* kWillSleep = "wd.workspace.willSleep";
  static constexpr const char* kDidWake = "wd.workspace.didWake";
  static constexpr const char* kDidActivateApplication = "wd.workspace.didActivateApplication";

  // Starts watching (asynchronously; without a system bus or X11 the sources are skipped).
  explicit SystemEvents(NotificationCenter& center);
  ~SystemEvents();
  SystemEvents(const SystemEvents&) = delete;
  SystemEvents& operator=(const SystemEvents&) = delete;

  // The activation data of an application from its process id: the desktop entry's name and
  // the file URL of the entry (else the executable's name and file URL). Null when unknown.
  static Json applicationInfoForProcess(long pid);
  // This application's activation data.
  static Json ownApplicationInfo();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wd
