#pragma once
// Script classes that the local configuration's "plugins" list can name, made by class name for
// a window. The shell (or each object's own code) registers them at start-up.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/Command.h"

namespace wd::bridge {

class ScriptObjectRegistry {
 public:
  using Factory = std::function<std::shared_ptr<ScriptObject>(std::shared_ptr<WindowHandle>)>;

  static ScriptObjectRegistry& shared();

  // Registers (or replaces) the factory for `className`.
  void registerClass(const std::string& className, Factory factory);
  // Registers T, constructed as T(std::weak_ptr<WindowHandle>) (initWithWindowController:).
  template <class T>
  void registerClass(const std::string& className) {
    registerClass(className, [](std::shared_ptr<WindowHandle> w) -> std::shared_ptr<ScriptObject> {
      return std::make_shared<T>(std::weak_ptr<WindowHandle>(w));
    });
  }
  void unregisterClass(const std::string& className);
  bool contains(const std::string& className) const;

  // A new object of the named class for this window; nullptr for unknown names (or a factory
  // that fails).
  std::shared_ptr<ScriptObject> create(const std::string& className,
                                       std::shared_ptr<WindowHandle> window) const;

 private:
  std::map<std::string, Factory> factories_;
};

}  // namespace wd::bridge
