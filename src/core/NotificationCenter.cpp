#include "core/NotificationCenter.h"

#include <algorithm>

namespace wd {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Handler handler) {
  auto shared = std::make_shared<Handler>(std::move(handler));
  std::erase_if(entries_, [](const Entry& e) { return e.handler.expired(); });
  entries_.push_back({std::move(name), shared});
  return shared;
}

void NotificationCenter::post(const std::string& name, const Json& object) {
  const Notification note{name, object};
  // Snapshot: handlers may change the list while they run.
  std::vector<std::weak_ptr<Handler>> targets;
  for (const auto& e : entries_)
    if (e.name.empty() || e.name == name) targets.push_back(e.handler);
  for (const auto& weak : targets) {
    if (auto handler = weak.lock()) (*handler)(note);
  }
}

}  // namespace wd
