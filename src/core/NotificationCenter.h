#pragma once
// Process-wide named notifications (main thread). Observers are held weakly: an observation
// lasts as long as the token returned by addObserver is alive.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {

struct Notification {
  std::string name;
  Json object;  // null when the poster gave none
};

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;
  // Keep it alive to keep observing; destroying it removes the observer.
  using Token = std::shared_ptr<void>;

  static NotificationCenter& defaultCenter();

  // Observes `name`; an empty name observes every notification.
  [[nodiscard]] Token addObserver(std::string name, Handler handler);
  // Calls the observers of `name` that are alive, in the order they were added. Observers may
  // add or drop observations (their own included) while being called.
  void post(const std::string& name, const Json& object = nullptr);

 private:
  struct Entry {
    std::string name;
    std::weak_ptr<Handler> handler;
  };
  std::vector<Entry> entries_;
};

}  // namespace wd
