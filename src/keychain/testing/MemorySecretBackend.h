#pragma once
// Tests only: secret storage in memory, behind the same interface as the Secret Service. Items
// by (service, account); counts of the writes it received; a switchable status (no service, a
// locked keyring) that every request then answers with. With `deferred` set, answers wait
// until complete() is called, as a slow keyring or an open unlock prompt would make them wait.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "keychain/SecretBackend.h"

namespace wd::keychain::testing {

class MemorySecretBackend : public SecretBackend {
 public:
  void search(const std::string& service, const std::optional<std::string>& account, bool,
              SearchDone done) override {
    ++searches;
    answer([this, service, account, done = std::move(done)] {
      SecretSearchResult result;
      result.status = status;
      if (status == SecretStatus::Ok)
        for (const auto& [name, value] : items)
          if (name.first == service && (!account || name.second == *account))
            result.values[name.second] = value;
      done(std::move(result));
    });
  }
  void store(const std::string& service, const std::string& account, const std::string& value,
             WriteDone done) override {
    ++stores;
    answer([this, service, account, value, done = std::move(done)] {
      if (status == SecretStatus::Ok) items[{service, account}] = value;
      done(status, status == SecretStatus::Ok ? "" : "refused");
    });
  }
  void clear(const std::string& service, const std::string& account, WriteDone done) override {
    ++clears;
    answer([this, service, account, done = std::move(done)] {
      if (status == SecretStatus::Ok) items.erase({service, account});
      done(status, status == SecretStatus::Ok ? "" : "refused");
    });
  }

  // Answers the requests held so far (deferred mode), oldest first.
  void complete() {
    while (!held.empty()) {
      auto next = std::move(held.front());
      held.pop_front();
      next();
    }
  }

  std::map<std::pair<std::string, std::string>, std::string> items;
  SecretStatus status = SecretStatus::Ok;
  bool deferred = false;
  int searches = 0, stores = 0, clears = 0;
  std::deque<std::function<void()>> held;

 private:
  void answer(std::function<void()> reply) {
    if (deferred)
      held.push_back(std::move(reply));
    else
      reply();
  }
};

}  // namespace wd::keychain::testing
