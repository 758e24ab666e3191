#pragma once
// The keychain store's access to the system's secret storage, asynchronous by contract: a
// keyring unlock prompt or a service that never answers must not hold up the main loop.
// `LibsecretBackend` talks to the Secret Service; tests give an in-memory double
// (testing/MemorySecretBackend.h).
//
// An item is named by (service, account) and holds a UTF-8 text value. Completion handlers are
// called on the main loop, at most once each; a double may call them before the request
// returns. A backend destroyed with requests outstanding calls none of their handlers.
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace wd::keychain {

enum class SecretStatus {
  Ok,
  NoService,  // no Secret Service on the session (or no session bus)
  Locked,     // the keyring stayed locked (the user declined to unlock it)
  Failed,     // any other failure
};

struct SecretSearchResult {
  SecretStatus status = SecretStatus::Ok;
  // account -> value, for the items whose value is UTF-8 text (others are left out).
  std::map<std::string, std::string> values;
  std::string message;  // what went wrong, for the log
};

class SecretBackend {
 public:
  using SearchDone = std::function<void(SecretSearchResult)>;
  using WriteDone = std::function<void(SecretStatus status, const std::string& message)>;

  virtual ~SecretBackend() = default;

  // The items of `service`: all of them, or only the one of `account` when given. `unlock`
  // allows asking the user to unlock a locked keyring.
  virtual void search(const std::string& service, const std::optional<std::string>& account,
                      bool unlock, SearchDone done) = 0;
  // Creates the item of (service, account) or replaces its value: never a second item.
  virtual void store(const std::string& service, const std::string& account,
                     const std::string& value, WriteDone done) = 0;
  // Deletes the item of (service, account); Ok when there was none.
  virtual void clear(const std::string& service, const std::string& account, WriteDone done) = 0;
};

}  // namespace wd::keychain
