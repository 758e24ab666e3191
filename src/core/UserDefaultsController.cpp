#include "core/UserDefaultsController.h"

#include <algorithm>
#include <set>

#include "core/Log.h"

namespace wd {

namespace {
constexpr std::string_view kValuesPrefix = "values.";
}

UserDefaultsController& UserDefaultsController::shared() {
  static UserDefaultsController controller(UserDefaults::standard());
  return controller;
}

UserDefaultsController::UserDefaultsController(UserDefaults& defaults) : defaults_(defaults) {
  // Writes made directly to the store change what the controller shows. The notification does
  // not say which store changed; check() compares values, so another store's keys cost nothing.
  storeToken_ = NotificationCenter::defaultCenter().addObserver(
      UserDefaults::kDidChangeNotification, [this](const Notification& note) {
        if (note.object.is_string())
          check(note.object.get<std::string>());
        else
          checkAll();
      });
}

UserDefaultsController::~UserDefaultsController() = default;

std::optional<std::string> UserDefaultsController::keyOfKeyPath(const std::string& keyPath) {
  if (keyPath.size() <= kValuesPrefix.size() ||
      keyPath.compare(0, kValuesPrefix.size(), kValuesPrefix) != 0)
    return std::nullopt;
  return keyPath.substr(kValuesPrefix.size());
}

std::optional<Json> UserDefaultsController::value(const std::string& key) const {
  if (auto it = pending_.find(key); it != pending_.end()) {
    if (!it->second.is_null()) return it->second;
  } else if (auto stored = defaults_.objectForKey(key)) {
    return stored;
  }
  if (auto it = initial_.find(key); it != initial_.end()) return *it;
  return std::nullopt;
}

std::optional<Json> UserDefaultsController::valueForKeyPath(const std::string& keyPath) const {
  auto key = keyOfKeyPath(keyPath);
  if (!key) return std::nullopt;
  return value(*key);
}

void UserDefaultsController::setValueForKeyPath(const std::string& keyPath, const Json& value) {
  auto key = keyOfKeyPath(keyPath);
  if (!key) {
    WD_LOG_INFO("Settings key path refused: {}", keyPath);
    return;
  }
  setValue(*key, value);
}

void UserDefaultsController::setValue(const std::string& key, const Json& value) {
  if (!value.is_null() && !UserDefaults::isPropertyList(value)) {
    WD_LOG_INFO("Settings value for {} refused: it cannot be stored", key);
    return;
  }
  if (appliesImmediately_) {
    // A pending change of the key is superseded by this one.
    pending_.erase(key);
    defaults_.setObject(key, value);  // its notification runs check(key)
  } else {
    pending_[key] = value;
    check(key);
  }
}

void UserDefaultsController::setInitialValues(const Json& dictionary) {
  if (dictionary.is_object()) {
    initial_ = dictionary;
  } else {
    if (!dictionary.is_null()) WD_LOG_INFO("Initial settings ignored: not a dictionary");
    initial_ = Json::object();
  }
  checkAll();
}

void UserDefaultsController::save() {
  if (pending_.empty()) return;
  Json changes = Json::object();
  for (auto& [key, value] : pending_) changes[key] = value;
  pending_.clear();
  // Values were checked when they became pending, so the store takes them all.
  if (!defaults_.setValuesForKeys(changes)) checkAll();
}

void UserDefaultsController::revert() {
  if (pending_.empty()) return;
  std::vector<std::string> keys;
  for (const auto& [key, value] : pending_) keys.push_back(key);
  pending_.clear();
  for (const auto& key : keys) check(key);
}

void UserDefaultsController::revertToInitialValues() {
  std::set<std::string> keys;
  for (const auto& [key, value] : pending_) keys.insert(key);
  pending_.clear();
  Json removals = Json::object();
  for (const auto& [key, value] : initial_.items()) {
    keys.insert(key);
    if (appliesImmediately_)
      removals[key] = nullptr;
    else
      pending_[key] = nullptr;
  }
  if (!removals.empty()) defaults_.setValuesForKeys(removals);
  for (const auto& key : keys) check(key);
}

UserDefaultsController::Token UserDefaultsController::addObserver(const std::string& keyPath,
                                                                  Handler handler) {
  auto shared = std::make_shared<Handler>(std::move(handler));
  auto key = keyOfKeyPath(keyPath);
  if (!key) {
    WD_LOG_INFO("Settings key path cannot be observed: {}", keyPath);
    return shared;  // a token that never fires
  }
  std::erase_if(observers_, [](const Observer& o) { return o.handler.expired(); });
  if (!seen_.contains(*key)) seen_[*key] = value(*key);
  observers_.push_back({*key, shared});
  return shared;
}

void UserDefaultsController::check(const std::string& key) {
  auto seen = seen_.find(key);
  if (seen == seen_.end()) return;  // nobody observes it
  auto now = value(key);
  if (now == seen->second) return;
  seen->second = now;
  // Snapshot: observers may add or drop observations, or change settings, while called.
  std::vector<std::weak_ptr<Handler>> targets;
  for (const auto& o : observers_)
    if (o.key == key) targets.push_back(o.handler);
  const std::string keyPath = std::string(kValuesPrefix) + key;
  for (const auto& weak : targets) {
    if (auto handler = weak.lock()) (*handler)(keyPath, now);
  }
}

void UserDefaultsController::checkAll() {
  std::vector<std::string> keys;
  for (const auto& [key, value] : seen_) keys.push_back(key);
  for (const auto& key : keys) check(key);
}

}  // namespace wd
