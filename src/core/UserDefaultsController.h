#pragma once
// The user-defaults controller: the layer between preference controls and the user-defaults
// store. Controls bind to key paths "values.KEY". The value visible for a key is, in order: a
// pending change made through the controller, the store's value (stored or registered), the
// controller's initial value.
//
// With appliesImmediately() (the default) a change goes to the store at once. Without it the
// change stays pending, invisible to the store, until save(); revert() drops pending changes.
// revertToInitialValues() brings every key that has an initial value back to it by removing the
// key's stored value (so the store itself holds no initial values; direct readers of the store
// see the key as absent), and drops every other pending change; without appliesImmediately()
// those removals are pending too.
//
// Observers of a key path are called whenever the value visible through the controller
// changes, whatever the cause: a change through the controller, a save or revert, new initial
// values, or a write made directly to the store. Main thread only.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"
#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"

namespace wd {

class UserDefaultsController {
 public:
  // Called with the observed key path and the new visible value (none when the key has none).
  using Handler = std::function<void(const std::string& keyPath, const std::optional<Json>& value)>;
  // Keep it alive to keep observing; destroying it removes the observer.
  using Token = std::shared_ptr<void>;

  // The process-wide controller over UserDefaults::standard().
  static UserDefaultsController& shared();

  explicit UserDefaultsController(UserDefaults& defaults);
  ~UserDefaultsController();
  UserDefaultsController(const UserDefaultsController&) = delete;
  UserDefaultsController& operator=(const UserDefaultsController&) = delete;

  UserDefaults& defaults() const { return defaults_; }

  // The initial values (a dictionary); anything else given is taken as no initial values.
  const Json& initialValues() const { return initial_; }
  void setInitialValues(const Json& dictionary);

  bool appliesImmediately() const { return appliesImmediately_; }
  // Switching it on does not apply changes already pending: save() or revert() does.
  void setAppliesImmediately(bool applies) { appliesImmediately_ = applies; }
  bool hasUnappliedChanges() const { return !pending_.empty(); }

  // The key of a key path "values.KEY" (everything after "values."), none for any other path.
  static std::optional<std::string> keyOfKeyPath(const std::string& keyPath);

  // Value for key path "values.KEY"; none for other paths or when the key has no value.
  std::optional<Json> valueForKeyPath(const std::string& keyPath) const;
  // Sets the value for key path "values.KEY"; a null value removes the stored value (the key
  // then shows its initial value). Other paths and values the store cannot hold are refused
  // (logged) and change nothing.
  void setValueForKeyPath(const std::string& keyPath, const Json& value);
  // The same by key.
  std::optional<Json> value(const std::string& key) const;
  void setValue(const std::string& key, const Json& value);

  // Writes the pending changes to the store (one save) and clears them.
  void save();
  // Drops the pending changes.
  void revert();
  // See the comment at the top.
  void revertToInitialValues();

  // Observes key path "values.KEY".
  [[nodiscard]] Token addObserver(const std::string& keyPath, Handler handler);

 private:
  struct Observer {
    std::string key;
    std::weak_ptr<Handler> handler;
  };

  // Recomputes the visible value of `key` and tells its observers when it changed.
  void check(const std::string& key);
  void checkAll();

  UserDefaults& defaults_;
  Json initial_ = Json::object();
  bool appliesImmediately_ = true;
  // Pending changes: a value, or null for a pending removal.
  std::map<std::string, Json> pending_;
  std::vector<Observer> observers_;
  // Last visible value told to the observers of each observed key.
  std::map<std::string, std::optional<Json>> seen_;
  NotificationCenter::Token storeToken_;
};

}  // namespace wd
