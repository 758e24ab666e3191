// libsecret calls behind the keychain store: items matched by exactly the attributes "service"
// and "account" (no schema, so no attribute of libsecret's own is added), searches that load the
// secrets, stores that replace, and errors mapped to what the store reports (no service, locked,
// failed).
#include "keychain/LibsecretBackend.h"

#include <libsecret/secret.h>

#include <utility>

namespace wd::keychain {

namespace {

struct HashTableDeleter {
  void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct ErrorDeleter {
  void operator()(GError* e) const { g_error_free(e); }
};
struct ValueDeleter {
  void operator()(SecretValue* v) const { secret_value_unref(v); }
};
struct ItemListDeleter {
  void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};
using HashTablePtr = std::unique_ptr<GHashTable, HashTableDeleter>;
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

// What the caller gives and the callback needs; the attribute table borrows the strings.
struct Request {
  std::weak_ptr<bool> alive;
  std::string service;
  std::optional<std::string> account;
  HashTablePtr attributes;
  SecretBackend::SearchDone searchDone;
  SecretBackend::WriteDone writeDone;

  // A request for the item(s) of `service` (and `account`, when given) with its attribute table.
  static std::unique_ptr<Request> make(std::weak_ptr<bool> alive, const std::string& service,
                                       std::optional<std::string> account) {
    auto request = std::make_unique<Request>();
    request->alive = std::move(alive);
    request->service = service;
    request->account = std::move(account);
    request->attributes.reset(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(request->attributes.get(), const_cast<char*>("service"),
                        request->service.data());
    if (request->account)
      g_hash_table_insert(request->attributes.get(), const_cast<char*>("account"),
                          request->account->data());
    return request;
  }
};

SecretStatus statusOf(const GError* error) {
  if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
      g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    return SecretStatus::Locked;
  if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR) return SecretStatus::NoService;
  return SecretStatus::Failed;
}

// The item's value when it is UTF-8 text without NUL characters.
std::optional<std::string> textOf(SecretItem* item) {
  std::unique_ptr<SecretValue, ValueDeleter> value(secret_item_get_secret(item));
  if (!value) return std::nullopt;
  gsize length = 0;
  const gchar* data = secret_value_get(value.get(), &length);
  if (!data || !g_utf8_validate_len(data, length, nullptr)) return std::nullopt;
  return std::string(data, length);
}

void onSearched(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Request> request(static_cast<Request*>(data));
  GError* rawError = nullptr;
  std::unique_ptr<GList, ItemListDeleter> items(
      secret_service_search_finish(nullptr, result, &rawError));
  ErrorPtr error(rawError);
  if (request->alive.expired()) return;
  SecretSearchResult out;
  if (error) {
    out.status = statusOf(error.get());
    out.message = error->message;
    request->searchDone(std::move(out));
    return;
  }
  std::map<std::string, guint64> modified;
  for (GList* l = items.get(); l; l = l->next) {
    auto* item = SECRET_ITEM(l->data);
    if (secret_item_get_locked(item)) {
      out.status = SecretStatus::Locked;
      out.message = "the keyring is locked";
      continue;
    }
    HashTablePtr attributes(secret_item_get_attributes(item));
    const auto* account =
        static_cast<const char*>(g_hash_table_lookup(attributes.get(), "account"));
    if (!account) continue;
    auto text = textOf(item);
    if (!text) continue;
    // Several items of one account (made outside the program): the newest one counts.
    const guint64 when = secret_item_get_modified(item);
    auto [it, fresh] = modified.emplace(account, when);
    if (!fresh && it->second > when) continue;
    it->second = when;
    out.values[account] = std::move(*text);
  }
  request->searchDone(std::move(out));
}

void onWritten(GAsyncResult* result, Request* raw,
               gboolean (*finish)(SecretService*, GAsyncResult*, GError**)) {
  std::unique_ptr<Request> request(raw);
  GError* rawError = nullptr;
  finish(nullptr, result, &rawError);
  ErrorPtr error(rawError);
  if (request->alive.expired()) return;
  if (error)
    request->writeDone(statusOf(error.get()), error->message);
  else
    request->writeDone(SecretStatus::Ok, {});
}

}  // namespace

void LibsecretBackend::CancellableDeleter::operator()(GCancellable* c) const {
  g_cancellable_cancel(c);
  g_object_unref(c);
}

LibsecretBackend::LibsecretBackend() : cancellable_(g_cancellable_new()) {}

LibsecretBackend::~LibsecretBackend() {
  alive_.reset();
}

void LibsecretBackend::search(const std::string& service, const std::optional<std::string>& account,
                              bool unlock, SearchDone done) {
  auto request = Request::make(alive_, service, account);
  request->searchDone = std::move(done);
  const auto flags =
      static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS |
                                     (unlock ? static_cast<int>(SECRET_SEARCH_UNLOCK) : 0));
  GHashTable* attributes = request->attributes.get();
  secret_service_search(nullptr, nullptr, attributes, flags, cancellable_.get(), onSearched,
                        request.release());
}

void LibsecretBackend::store(const std::string& service, const std::string& account,
                             const std::string& value, WriteDone done) {
  auto request = Request::make(alive_, service, account);
  request->writeDone = std::move(done);
  std::unique_ptr<SecretValue, ValueDeleter> secret(
      secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
  GHashTable* attributes = request->attributes.get();
  const char* label = request->service.c_str();
  secret_service_store(
      nullptr, nullptr, attributes, SECRET_COLLECTION_DEFAULT, label, secret.get(),
      cancellable_.get(),
      [](GObject*, GAsyncResult* result, gpointer data) {
        onWritten(result, static_cast<Request*>(data), secret_service_store_finish);
      },
      request.release());
}

void LibsecretBackend::clear(const std::string& service, const std::string& account,
                             WriteDone done) {
  auto request = Request::make(alive_, service, account);
  request->writeDone = std::move(done);
  GHashTable* attributes = request->attributes.get();
  secret_service_clear(
      nullptr, nullptr, attributes, cancellable_.get(),
      [](GObject*, GAsyncResult* result, gpointer data) {
        // False without an error: there was no item, which is what was asked.
        onWritten(result, static_cast<Request*>(data), secret_service_clear_finish);
      },
      request.release());
}

}  // namespace wd::keychain
