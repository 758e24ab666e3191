// The keychain store's buffer, key-path rules and background traffic with the keyring: what is
// known of the keyring's items, one write per key at a time, re-reads after reads, and the fall
// back to a session-only store when there is no usable keyring.
#include "keychain/PDKeychainBindingsController.h"

#include <glib.h>

#include <string_view>
#include <utility>

#include "core/I18n.h"
#include "core/Log.h"
#include "keychain/PDKeychainBindings.h"

namespace wd {

using keychain::SecretSearchResult;
using keychain::SecretStatus;

namespace {
constexpr std::string_view kValuesPrefix = "values.";
}

PDKeychainBindingsController::PDKeychainBindingsController(
    std::string serviceName, std::shared_ptr<keychain::SecretBackend> backend)
    : serviceName_(std::move(serviceName)), backend_(std::move(backend)) {
  if (!backend_) storage_ = Storage::SessionOnly;
}

PDKeychainBindingsController::~PDKeychainBindingsController() {
  alive_.reset();
}

std::optional<std::string> PDKeychainBindingsController::keyOfKeyPath(const std::string& keyPath) {
  if (keyPath.compare(0, kValuesPrefix.size(), kValuesPrefix) != 0) return std::nullopt;
  return keyPath.substr(kValuesPrefix.size());
}

bool PDKeychainBindingsController::isStorableText(const std::string& value) {
  return g_utf8_validate_len(value.data(), value.size(), nullptr);
}

void PDKeychainBindingsController::prefetch() {
  if (!backend_ || prefetching_) return;
  prefetching_ = true;
  ++pending_;
  const auto sequence = writeSequence_;
  std::weak_ptr<bool> alive = alive_;
  backend_->search(
      serviceName_, std::nullopt, true, [this, alive, sequence](SecretSearchResult result) {
        if (alive.expired()) return;
        --pending_;
        prefetching_ = false;
        prefetched_ = true;
        applyFound(result.values, result.status == SecretStatus::Ok, std::nullopt, sequence);
        if (result.status == SecretStatus::Ok) {
          if (storage_ == Storage::Pending) setStorage(Storage::Keyring);
        } else {
          becomeSessionOnly(result.status, result.message);
        }
      });
}

std::optional<std::string> PDKeychainBindingsController::stringForKey(const std::string& key) {
  revalidate(key);
  auto it = known_.find(key);
  if (it == known_.end()) return std::nullopt;
  return it->second;
}

void PDKeychainBindingsController::revalidate(const std::string& key) {
  if (storage_ != Storage::Keyring) return;
  KeyState& state = keys_[key];
  if (state.searching || state.writing || state.queued) return;
  state.searching = true;
  ++pending_;
  const auto sequence = writeSequence_;
  std::weak_ptr<bool> alive = alive_;
  // No unlock prompt for a re-read: a keyring locked meanwhile keeps what is known.
  backend_->search(serviceName_, key, false,
                   [this, alive, key, sequence](SecretSearchResult result) {
                     if (alive.expired()) return;
                     --pending_;
                     keys_[key].searching = false;
                     if (result.status == SecretStatus::Ok)
                       applyFound(result.values, false, key, sequence);
                     else
                       WD_LOG_INFO("Keychain: {} was not read again: {}", key, result.message);
                   });
}

void PDKeychainBindingsController::applyFound(const std::map<std::string, std::string>& found,
                                              bool all, const std::optional<std::string>& onlyKey,
                                              unsigned long long sequence) {
  std::vector<std::string> scope;
  if (onlyKey) {
    scope.push_back(*onlyKey);
  } else {
    for (const auto& [key, value] : found) scope.push_back(key);
    // A full answer also tells which known items are gone.
    if (all)
      for (const auto& [key, value] : known_)
        if (!found.count(key)) scope.push_back(key);
  }
  for (const auto& key : scope) {
    const KeyState& state = keys_[key];
    // A value written since the request began is newer than the answer.
    if (state.lastWrite > sequence || state.writing || state.queued) continue;
    auto it = found.find(key);
    if (it == found.end()) {
      known_.erase(key);  // the buffer keeps its value
      continue;
    }
    known_[key] = it->second;
    auto buffered = buffer_.find(key);
    if (buffered == buffer_.end() || buffered->second != it->second) {
      buffer_[key] = it->second;
      notify(key, it->second);
    }
  }
}

bool PDKeychainBindingsController::storeString(const std::optional<std::string>& value,
                                               const std::string& key, KeychainAccessibility) {
  if (value && !isStorableText(*value)) return false;
  KeyState& state = keys_[key];
  state.lastWrite = ++writeSequence_;
  if (storage_ == Storage::SessionOnly) {
    // What the keyring held is superseded by this run's value.
    known_.erase(key);
    return false;
  }
  if (value)
    known_[key] = *value;
  else
    known_.erase(key);
  if (state.writing)
    state.queued = value;
  else
    startWrite(key, value);
  return true;
}

void PDKeychainBindingsController::startWrite(const std::string& key,
                                              std::optional<std::string> value) {
  keys_[key].writing = true;
  ++pending_;
  std::weak_ptr<bool> alive = alive_;
  auto done = [this, alive, key](SecretStatus status, const std::string& message) {
    if (!alive.expired()) writeDone(key, status, message);
  };
  if (value)
    backend_->store(serviceName_, key, *value, std::move(done));
  else
    backend_->clear(serviceName_, key, std::move(done));
}

void PDKeychainBindingsController::writeDone(const std::string& key, SecretStatus status,
                                             const std::string& message) {
  --pending_;
  KeyState& state = keys_[key];
  state.writing = false;
  if (status == SecretStatus::Ok) {
    if (storage_ == Storage::Pending) setStorage(Storage::Keyring);
  } else {
    known_.erase(key);  // unknown again: reads answer the buffer
    if (status == SecretStatus::Failed)
      WD_LOG_INFO("Keychain: {} was not written: {}", key, message);
    else
      becomeSessionOnly(status, message);
  }
  if (!state.queued) return;
  auto next = std::move(*state.queued);
  state.queued.reset();
  if (storage_ == Storage::SessionOnly) {
    known_.erase(key);
    return;
  }
  startWrite(key, std::move(next));
}

void PDKeychainBindingsController::becomeSessionOnly(SecretStatus status,
                                                     const std::string& message) {
  if (storage_ == Storage::SessionOnly) return;
  // Info, not a warning: a desktop without a keyring is an ordinary set-up, said at every start;
  // the Account pane tells the user (sessionOnlyMessage), the system log is left alone.
  WD_LOG_INFO("Keychain: no usable keyring ({}); secure values are kept for this session only",
              message);
  sessionReason_ = status;
  setStorage(Storage::SessionOnly);
}

void PDKeychainBindingsController::setStorage(Storage storage) {
  if (storage_ == storage) return;
  storage_ = storage;
  std::vector<std::shared_ptr<std::function<void()>>> handlers;
  std::erase_if(storageObservers_, [](const auto& w) { return w.expired(); });
  for (const auto& w : storageObservers_)
    if (auto h = w.lock()) handlers.push_back(std::move(h));
  for (const auto& h : handlers) (*h)();
}

std::optional<std::string> PDKeychainBindingsController::sessionOnlyMessage() const {
  if (storage_ != Storage::SessionOnly) return std::nullopt;
  switch (sessionReason_) {
    case SecretStatus::Locked:
      return _("The password is kept for this session only: the keyring is locked.");
    case SecretStatus::Failed:
      return _("The password is kept for this session only: the keyring cannot be used.");
    default:
      return _("The password is kept for this session only: no keyring is available.");
  }
}

std::optional<std::string> PDKeychainBindingsController::valueForKeyPath(
    const std::string& keyPath) {
  auto key = keyOfKeyPath(keyPath);
  if (!key) return std::nullopt;
  if (auto stored = stringForKey(*key)) {
    auto it = buffer_.find(*key);
    if (it == buffer_.end() || it->second != *stored) buffer_[*key] = *stored;
  }
  auto it = buffer_.find(*key);
  if (it == buffer_.end()) return std::nullopt;
  return it->second;
}

void PDKeychainBindingsController::setValueForKeyPath(const std::optional<std::string>& value,
                                                      const std::string& keyPath,
                                                      KeychainAccessibility accessibility) {
  auto key = keyOfKeyPath(keyPath);
  if (!key) return;
  if (value && !isStorableText(*value)) {
    WD_LOG_INFO("Keychain: the value for {} is not text the keyring can hold; not stored", *key);
    return;
  }
  auto current = known_.find(*key);
  // The keyring is written only when its value changes (a removal always goes out: an item
  // made outside the program may exist unknown to this run).
  if (current == known_.end() || !value || *value != current->second)
    storeString(value, *key, accessibility);
  bufferSet(*key, value);
  notify(*key, value);
}

void PDKeychainBindingsController::bufferSet(const std::string& key,
                                             const std::optional<std::string>& value) {
  if (value)
    buffer_[key] = *value;
  else
    buffer_.erase(key);
}

PDKeychainBindingsController::Token PDKeychainBindingsController::addObserver(
    const std::string& keyPath, Handler handler) {
  auto shared = std::make_shared<Handler>(std::move(handler));
  if (auto key = keyOfKeyPath(keyPath)) observers_.push_back({*key, shared});
  return shared;
}

PDKeychainBindingsController::Token PDKeychainBindingsController::addStorageObserver(
    std::function<void()> handler) {
  auto shared = std::make_shared<std::function<void()>>(std::move(handler));
  storageObservers_.push_back(shared);
  return shared;
}

void PDKeychainBindingsController::notify(const std::string& key,
                                          const std::optional<std::string>& value) {
  std::erase_if(observers_, [](const Observer& o) { return o.handler.expired(); });
  std::vector<std::shared_ptr<Handler>> handlers;
  for (const auto& o : observers_)
    if (o.key == key)
      if (auto h = o.handler.lock()) handlers.push_back(std::move(h));
  const std::string keyPath = std::string(kValuesPrefix) + key;
  for (const auto& h : handlers) (*h)(keyPath, value);
}

int PDKeychainBindingsController::pendingWrites() const {
  int count = 0;
  for (const auto& [key, state] : keys_)
    if (state.writing) ++count;
  return count;
}

void PDKeychainBindingsController::finishWrites(std::chrono::milliseconds limit) {
  const gint64 end = g_get_monotonic_time() + static_cast<gint64>(limit.count()) * 1000;
  while (pendingWrites() > 0 && g_get_monotonic_time() < end) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  if (pendingWrites() > 0)
    WD_LOG_INFO("Keychain: {} values did not reach the keyring before the end", pendingWrites());
}

PDKeychainBindings& PDKeychainBindingsController::keychainBindings() {
  if (!bindings_) bindings_ = std::make_unique<PDKeychainBindings>(*this);
  return *bindings_;
}

}  // namespace wd
