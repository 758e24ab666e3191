// The keychain store's rules over an in-memory secret storage that answers when the test says, and
// against the real gnome-keyring of the test session, checked from outside with secret-tool.
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>

#include "keychain/KeychainTestSupport.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/PDKeychainBindings.h"
#include "keychain/testing/MemorySecretBackend.h"

namespace wd::test {
namespace {

using keychain::SecretStatus;
using Storage = PDKeychainBindingsController::Storage;

class MemoryStore : public ::testing::Test {
 protected:
  std::optional<std::string> item(const std::string& key) {
    auto it = backend->items.find({kService, key});
    return it == backend->items.end() ? std::nullopt : std::optional(it->second);
  }
  std::shared_ptr<keychain::testing::MemorySecretBackend> backend =
      std::make_shared<keychain::testing::MemorySecretBackend>();
  PDKeychainBindingsController store{kService, backend};
  PDKeychainBindings& front = store.keychainBindings();
};

TEST_F(MemoryStore, ReadsBeforeThePrefetchAnswerAndWritesMadeMeanwhileWin) {
  backend->items = {{{kService, "MacGap_a"}, "kept"},
                    {{kService, "MacGap_b"}, "old"},
                    {{"other.service", "MacGap_c"}, "not ours"}};
  backend->deferred = true;
  store.prefetch();
  EXPECT_EQ(store.storage(), Storage::Pending);
  EXPECT_EQ(front.objectForKey("MacGap_a"), std::nullopt);  // not known yet
  front.setString("new", "MacGap_b");
  EXPECT_EQ(front.objectForKey("MacGap_b"), "new");
  backend->complete();  // the prefetch answers "old" for b: the write is newer
  backend->complete();
  EXPECT_EQ(store.storage(), Storage::Keyring);
  EXPECT_EQ(front.objectForKey("MacGap_a"), "kept");
  EXPECT_EQ(front.objectForKey("MacGap_b"), "new");
  EXPECT_EQ(item("MacGap_b"), "new");
  EXPECT_EQ(front.objectForKey("MacGap_c"), std::nullopt);
  backend->complete();
  EXPECT_EQ(store.pendingRequests(), 0);
}

TEST_F(MemoryStore, OneWritePerKeyNewestLastNoWriteOfTheSameValueAndNoTextItCannotHold) {
  store.prefetch();
  backend->deferred = true;
  for (const char* value : {"1", "2", "3"}) front.setString(value, "k");
  front.setString("x", "other");
  EXPECT_EQ(backend->stores, 2);  // "1" for k, "x" for other; "3" waits, "2" is dropped
  backend->complete();
  EXPECT_EQ(backend->stores, 3);
  backend->complete();
  EXPECT_EQ(item("k"), "3");
  EXPECT_EQ(front.objectForKey("k"), "3");
  backend->deferred = false;
  backend->complete();
  const int stores = backend->stores;
  front.setString("3", "k");  // what the keyring holds already
  EXPECT_EQ(backend->stores, stores);
  // Text the keyring cannot hold is refused and changes nothing.
  for (const std::string& bad :
       {std::string("a\0b", 3), std::string("\xED\xA0\x80"), std::string("\xFF")}) {
    front.setString(bad, "k");
    EXPECT_FALSE(store.storeString(bad, "k"));
    EXPECT_EQ(front.objectForKey("k"), "3");
    EXPECT_EQ(item("k"), "3");
  }
  front.removeObjectForKey("k");
  EXPECT_EQ(item("k"), std::nullopt);
  EXPECT_EQ(front.objectForKey("k"), std::nullopt);
}

TEST_F(MemoryStore, ObserversAreToldOfWritesAndOfValuesArrivingFromTheKeyring) {
  using Told = std::vector<std::pair<std::string, std::optional<std::string>>>;
  Told told;
  auto token = store.addObserver("values.MacGap_password", [&](const auto& path, const auto& v) {
    told.emplace_back(path, v);
  });
  backend->items[{kService, "MacGap_password"}] = "from keyring";
  store.prefetch();
  front.setString("typed", "MacGap_password");
  front.removeObjectForKey("MacGap_password");
  front.setString("other key", "MacGap_user");
  EXPECT_EQ(told, (Told{{"values.MacGap_password", "from keyring"},
                        {"values.MacGap_password", "typed"},
                        {"values.MacGap_password", std::nullopt}}));
  token.reset();
  front.setString("after", "MacGap_password");
  EXPECT_EQ(told.size(), 3u);
  EXPECT_EQ(store.valueForKeyPath("other.path"), std::nullopt);
}

// Without a usable keyring values are kept for the session only, with no prompt after prompt
// and nothing for the system log (a desktop without a keyring is ordinary).
TEST(SessionOnlyStore, WithoutAKeyringValuesAreKeptForTheSessionOnly) {
  const std::string kept = "The password is kept for this session only: ";
  // Backend, its status, whether it refuses only writes (the prefetch succeeds), the line.
  const std::tuple<bool, SecretStatus, bool, std::string> cases[] = {
      {false, SecretStatus::NoService, false, kept + "no keyring is available."},
      {true, SecretStatus::NoService, false, kept + "no keyring is available."},
      {true, SecretStatus::Locked, false, kept + "the keyring is locked."},
      {true, SecretStatus::Locked, true, kept + "the keyring is locked."}};
  std::ostringstream systemLog;
  auto systemSink = std::make_shared<spdlog::sinks::ostream_sink_mt>(systemLog);
  systemSink->set_level(spdlog::level::warn);
  const auto savedLogger = spdlog::default_logger();
  spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", systemSink));
  for (const auto& [hasBackend, status, refuseOnlyWrites, line] : cases) {
    SCOPED_TRACE(testing::Message() << hasBackend << refuseOnlyWrites << line);
    auto memory = std::make_shared<keychain::testing::MemorySecretBackend>();
    memory->items[{kService, "MacGap_password"}] = "old";
    if (!refuseOnlyWrites) memory->status = status;
    PDKeychainBindingsController s(kService, hasBackend ? memory : nullptr);
    int storageChanges = 0;
    auto token = s.addStorageObserver([&] { ++storageChanges; });
    s.prefetch();
    if (refuseOnlyWrites) {
      EXPECT_EQ(s.stringForKey("MacGap_password"), "old");
      memory->status = status;
    }
    EXPECT_EQ(s.sessionOnlyMessage().has_value(), !refuseOnlyWrites);
    s.keychainBindings().setString("typed", "MacGap_password");
    EXPECT_EQ(s.storage(), Storage::SessionOnly);
    EXPECT_EQ(s.sessionOnlyMessage(), line);
    EXPECT_EQ(s.keychainBindings().objectForKey("MacGap_password"), "typed");
    EXPECT_EQ((memory->items[{kService, "MacGap_password"}]), "old");
    const int requests = memory->stores + memory->clears + memory->searches;
    s.keychainBindings().setString("again", "MacGap_password");
    EXPECT_EQ(memory->stores + memory->clears + memory->searches, requests);
    EXPECT_EQ(s.keychainBindings().objectForKey("MacGap_password"), "again");
    EXPECT_EQ(storageChanges, hasBackend ? (refuseOnlyWrites ? 2 : 1) : 0);
  }
  spdlog::set_default_logger(savedLogger);
  EXPECT_EQ(systemLog.str(), "");
}

class KeyringStore : public ::testing::Test {
 protected:
  void SetUp() override {
    secret({"clear"});
    store = newRun();
    ASSERT_EQ(store->storage(), PDKeychainBindingsController::Storage::Keyring);
  }
  void TearDown() override { secret({"clear"}); }
  static std::unique_ptr<PDKeychainBindingsController> newRun() {
    auto s = std::make_unique<PDKeychainBindingsController>(
        kService, std::make_shared<keychain::LibsecretBackend>());
    s->prefetch();
    EXPECT_TRUE(settle(*s));
    return s;
  }
  std::optional<std::string> secret(std::vector<std::string> command,
                                    const std::string& input = {}) {
    command.insert(command.end(), {"service", kService, "account", key});
    return secretTool(command, input);
  }
  // The key's items; each has exactly the two attributes, none of libsecret's own.
  int items() {
    const std::string out = "\n" + secret({"search", "--all"}).value_or("");
    EXPECT_EQ(out.find("xdg:schema"), std::string::npos);
    int count = 0;
    for (std::size_t at = 0; (at = out.find("\n[/", at)) != std::string::npos; ++at) ++count;
    return count;
  }
  PDKeychainBindings& front() { return store->keychainBindings(); }
  std::string key = "MacGap_password";
  std::unique_ptr<PDKeychainBindingsController> store;
};

TEST_F(KeyringStore, OneItemStoredReplacedAndRemovedAndOutsideChangesFoundOrBuffered) {
  for (const std::string value :
       {"p", "second value", "p\xC3\xA4sswo\xCC\x88rd \xE2\x9C\x93 \xF0\x9F\x98\x80", ""}) {
    SCOPED_TRACE(value);
    front().setString(value, key);
    ASSERT_TRUE(settle(*store));
    EXPECT_EQ(lookupOutside(key), value);
    EXPECT_EQ(items(), 1);
    EXPECT_EQ(front().objectForKey(key), value);
    EXPECT_EQ(newRun()->stringForKey(key), value);
  }
  front().removeObjectForKey(key);
  ASSERT_TRUE(settle(*store));
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(front().objectForKey(key), std::nullopt);
  EXPECT_EQ(newRun()->stringForKey(key), std::nullopt);
  // An item made outside before the run is found.
  ASSERT_TRUE(secret({"store", "--label=x"}, "outside"));
  store = newRun();
  EXPECT_EQ(front().objectForKey(key), "outside");
  // Changed, then deleted outside during the run: the front buffers the program's own value.
  ASSERT_TRUE(secret({"store", "--label=x"}, "changed"));
  EXPECT_TRUE(waitFor([&] { return front().objectForKey(key) == "changed"; }));
  EXPECT_EQ(items(), 1);
  ASSERT_TRUE(settle(*store));
  front().setString("from the program", key);
  ASSERT_TRUE(settle(*store));
  EXPECT_EQ(items(), 1);
  EXPECT_EQ(lookupOutside(key), "from the program");
  ASSERT_TRUE(secret({"clear"}));
  EXPECT_TRUE(waitFor([&] { return store->stringForKey(key) == std::nullopt; }));
  ASSERT_TRUE(settle(*store));
  EXPECT_EQ(front().objectForKey(key), "from the program");
  EXPECT_EQ(store->stringForKey(key), std::nullopt);
  // The password stored just before the end is the keyring item.
  front().setString("s3cret \xE2\x82\xAC", key);
  store->finishWrites(std::chrono::seconds(20));  // as the application does at shutdown
  store.reset();
  EXPECT_EQ(lookupOutside(key), "s3cret \xE2\x82\xAC");
}

}  // namespace
}  // namespace wd::test
