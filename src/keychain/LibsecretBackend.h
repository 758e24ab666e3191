#pragma once
// The keychain store's items in the Secret Service (libsecret), every call asynchronous on the
// main loop: a keyring unlock prompt or a hung service leaves the application responsive while
// the request waits.
//
// Items carry exactly the attributes "service" and "account" (no schema: libsecret adds no
// "xdg:schema"), so an item made by another tool with the same two attributes (secret-tool) is the
// same item: found, replaced and deleted as the program's own. The label is the service name.
// Values are stored as "text/plain" and read back only when they are UTF-8 text without NUL
// characters.
#include <memory>

#include "keychain/SecretBackend.h"

typedef struct _GCancellable GCancellable;

namespace wd::keychain {

class LibsecretBackend : public SecretBackend {
 public:
  LibsecretBackend();
  // Cancels the outstanding requests; their handlers are not called.
  ~LibsecretBackend() override;
  LibsecretBackend(const LibsecretBackend&) = delete;
  LibsecretBackend& operator=(const LibsecretBackend&) = delete;

  void search(const std::string& service, const std::optional<std::string>& account, bool unlock,
              SearchDone done) override;
  void store(const std::string& service, const std::string& account, const std::string& value,
             WriteDone done) override;
  void clear(const std::string& service, const std::string& account, WriteDone done) override;

 private:
  struct CancellableDeleter {
    void operator()(GCancellable* c) const;
  };
  std::unique_ptr<GCancellable, CancellableDeleter> cancellable_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace wd::keychain
