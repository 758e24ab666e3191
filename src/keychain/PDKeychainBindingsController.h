#pragma once
// The application's keychain store: secret text values by key (the account password
// "MacGap_password", the page's secure settings), kept as items of the system's secret storage
// (service = the bundle identifier, account = the key) and mirrored in a buffer reached through
// key paths "values.KEY", the shape the preference panes bind to.
//
// Nothing here waits on the secret storage. The store keeps what it knows of the keyring's
// items: prefetch() loads all of this service's items once at start-up; every write updates that
// knowledge at once and goes to the keyring in the background (one request per key at a time,
// the newest value last); a read answers from it and asks the keyring again in the background,
// so an item changed or deleted outside the program is noticed by the next reads. Before the
// prefetch has answered, stringForKey() answers none for keys not written in this run.
//
// Reads and writes through key paths follow the buffer rules: a read takes the keyring's value
// into the buffer when it has one and answers the buffer (an item deleted outside the program is
// still answered with its buffered value); a write changes the buffer whatever the keyring does.
//
// Without a keyring (no Secret Service on the session, or a locked keyring the user declined to
// unlock) values live in the buffer for this run only, never on disk; storage() and
// sessionOnlyMessage() say so. Main thread only.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "keychain/SecretBackend.h"

namespace wd {

class PDKeychainBindings;

// Kept for callers that name one; secret-storage items are protected by their keyring's lock,
// so the attribute changes nothing.
enum class KeychainAccessibility { WhenUnlocked, AfterFirstUnlock, Always };

class PDKeychainBindingsController {
 public:
  enum class Storage {
    Pending,      // the keyring has not answered yet
    Keyring,      // values are kept in the keyring
    SessionOnly,  // values are kept in memory for this run only
  };
  // Called with the key path ("values.KEY") and its new value.
  using Handler =
      std::function<void(const std::string& keyPath, const std::optional<std::string>& value)>;
  using Token = std::shared_ptr<void>;

  // `backend` null: there is no secret storage; the store is session-only from the start.
  PDKeychainBindingsController(std::string serviceName,
                               std::shared_ptr<keychain::SecretBackend> backend);
  ~PDKeychainBindingsController();
  PDKeychainBindingsController(const PDKeychainBindingsController&) = delete;
  PDKeychainBindingsController& operator=(const PDKeychainBindingsController&) = delete;

  const std::string& serviceName() const { return serviceName_; }

  // Loads this service's items from the keyring (may ask the user to unlock it). Values already
  // written in this run are kept. Later calls do nothing while one is running.
  void prefetch();
  bool hasPrefetched() const { return prefetched_; }

  // The keyring's value of `key` as last known (see the top); none when it has none or its
  // value is not UTF-8 text.
  std::optional<std::string> stringForKey(const std::string& key);
  // Writes (a value) or deletes (none) the keyring item of `key` in the background. False when
  // nothing can reach the keyring: the store is session-only, or the value is not UTF-8 text
  // without NUL characters.
  bool storeString(const std::optional<std::string>& value, const std::string& key,
                   KeychainAccessibility accessibility = KeychainAccessibility::WhenUnlocked);

  // The buffer: values last read or written, by key.
  const std::map<std::string, std::string>& values() const { return buffer_; }
  // Key paths "values.KEY"; any other path has no value and cannot be set.
  std::optional<std::string> valueForKeyPath(const std::string& keyPath);
  void setValueForKeyPath(
      const std::optional<std::string>& value, const std::string& keyPath,
      KeychainAccessibility accessibility = KeychainAccessibility::WhenUnlocked);
  // Observes a key path "values.KEY": called after every write through key paths and when a
  // value arriving from the keyring changes what the key path answers.
  [[nodiscard]] Token addObserver(const std::string& keyPath, Handler handler);

  // The dictionary-like front the rest of the program uses.
  PDKeychainBindings& keychainBindings();

  Storage storage() const { return storage_; }
  // One line for the user when values are kept for this session only; none otherwise.
  std::optional<std::string> sessionOnlyMessage() const;
  // Called whenever storage() changes.
  [[nodiscard]] Token addStorageObserver(std::function<void()> handler);

  // Requests to the keyring not yet answered (tests wait for zero).
  int pendingRequests() const { return pending_; }
  // Keys whose write to the keyring has not been answered yet.
  int pendingWrites() const;
  // At shutdown: turns the main loop until every write has been answered or `limit` has
  // passed, so values set just before quitting reach the keyring and a hung keyring cannot hold
  // up the exit. Never used while the application is running.
  void finishWrites(std::chrono::milliseconds limit);

  // A value the keyring can hold as text: UTF-8 without NUL characters.
  static bool isStorableText(const std::string& value);

 private:
  struct KeyState {
    bool writing = false;
    std::optional<std::optional<std::string>> queued;  // the next write, once this one ends
    bool searching = false;
    unsigned long long lastWrite = 0;  // write sequence number of the latest local change
  };

  static std::optional<std::string> keyOfKeyPath(const std::string& keyPath);
  void startWrite(const std::string& key, std::optional<std::string> value);
  void writeDone(const std::string& key, keychain::SecretStatus status, const std::string& message);
  void revalidate(const std::string& key);
  // Takes values the keyring answered into what is known, skipping keys written since
  // `sequence`. `all`: the answer covers every key (a prefetch).
  void applyFound(const std::map<std::string, std::string>& found, bool all,
                  const std::optional<std::string>& onlyKey, unsigned long long sequence);
  void becomeSessionOnly(keychain::SecretStatus status, const std::string& message);
  void setStorage(Storage storage);
  void notify(const std::string& key, const std::optional<std::string>& value);
  void bufferSet(const std::string& key, const std::optional<std::string>& value);

  std::string serviceName_;
  std::shared_ptr<keychain::SecretBackend> backend_;
  std::map<std::string, std::string> buffer_;
  std::map<std::string, std::string> known_;  // the keyring's items as last known
  std::map<std::string, KeyState> keys_;
  unsigned long long writeSequence_ = 0;
  bool prefetching_ = false;
  bool prefetched_ = false;
  int pending_ = 0;
  Storage storage_ = Storage::Pending;
  keychain::SecretStatus sessionReason_ = keychain::SecretStatus::NoService;
  struct Observer {
    std::string key;
    std::weak_ptr<Handler> handler;
  };
  std::vector<Observer> observers_;
  std::vector<std::weak_ptr<std::function<void()>>> storageObservers_;
  std::unique_ptr<PDKeychainBindings> bindings_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace wd
