#pragma once
// The launcher badge on Linux desktops: the Unity launcher-entry protocol, a
// com.canonical.Unity.LauncherEntry "Update" signal on the session bus naming the application's
// desktop entry (application://com.tovik.WendrelDesktop.desktop) with the properties "count"
// and "count-visible". Docks that follow it (Dash to Dock, Ubuntu Dock, KDE's task manager,
// Plank) show the number. The protocol carries numbers only: a label that is a whole number is
// shown as its count; any other label is kept (read back as set) and sent with count-visible
// false, so no stale number stays on the icon. An empty label removes the badge.
//
// The bus is looked up asynchronously; a label set before it is known is sent once it is. Without
// a session bus the label is only kept.
#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shell/system/Badge.h"

namespace wd {

class LauncherBadge : public Badge {
 public:
  static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";
  static constexpr const char* kObjectPath = "/com/tovik/WendrelDesktop/LauncherEntry";
  static constexpr const char* kAppUri = "application://com.tovik.WendrelDesktop.desktop";

  LauncherBadge();
  ~LauncherBadge() override;
  LauncherBadge(const LauncherBadge&) = delete;
  LauncherBadge& operator=(const LauncherBadge&) = delete;

  void setLabel(const std::string& label) override;
  std::optional<std::string> label() const override { return label_; }

  // The count a label stands for: a whole number of at most 18 digits, optionally signed,
  // without spaces; none otherwise.
  static std::optional<std::int64_t> countOf(const std::string& label);
  // The Update signal's properties (a{sv}) for a label (none: the badge is removed).
  static GVariant* properties(const std::optional<std::string>& label);

  struct State;  // shared with the asynchronous bus lookup

 private:
  std::shared_ptr<State> state_;
  std::optional<std::string> label_;
};

}  // namespace wd
