#include "bridge/ScriptObjectRegistry.h"

#include "core/Log.h"

namespace wd::bridge {

ScriptObjectRegistry& ScriptObjectRegistry::shared() {
  static ScriptObjectRegistry registry;
  return registry;
}

void ScriptObjectRegistry::registerClass(const std::string& className, Factory factory) {
  factories_[className] = std::move(factory);
}

void ScriptObjectRegistry::unregisterClass(const std::string& className) {
  factories_.erase(className);
}

bool ScriptObjectRegistry::contains(const std::string& className) const {
  return factories_.count(className) > 0;
}

std::shared_ptr<ScriptObject> ScriptObjectRegistry::create(
    const std::string& className, std::shared_ptr<WindowHandle> window) const {
  auto it = factories_.find(className);
  if (it == factories_.end()) return nullptr;
  try {
    return it->second(std::move(window));
  } catch (const std::exception& e) {
    WD_LOG_DEBUG("script class {} could not be made: {}", className, e.what());
    return nullptr;
  }
}

}  // namespace wd::bridge
