#pragma once
// The application's launcher badge as the script objects see it: set a label, clear it, read it
// back. The desktop implementation is LauncherBadge (the Unity launcher-entry signal); tests may
// give a double.
#include <optional>
#include <string>

namespace wd {

class Badge {
 public:
  virtual ~Badge() = default;
  // Shows `label` on the application's launcher icon; an empty label removes the badge.
  virtual void setLabel(const std::string& label) = 0;
  // The label last set, or none when there is no badge.
  virtual std::optional<std::string> label() const = 0;
};

}  // namespace wd
