// The keychain store against the real gnome-keyring of the test session, checked from outside
// with secret-tool.
#include <gtest/gtest.h>

#include <memory>

#include "keychain/KeychainTestSupport.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/PDKeychainBindings.h"

namespace wd::test {
namespace {

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
    for (const char* a : {"service", kService, "account"}) command.push_back(a);
    command.push_back(key);
    return secretTool(command, input);
  }
  // The key's items; each has exactly the two attributes, none of libsecret's own.
  int items() {
    const std::string out = secret({"search", "--all"}).value_or("");
    EXPECT_EQ(out.find("xdg:schema"), std::string::npos);
    int count = 0;
    for (std::size_t at = 0; (at = out.find("[/", at)) != std::string::npos; ++at)
      count += at == 0 || out[at - 1] == '\n';
    return count;
  }
  PDKeychainBindings& front() { return store->keychainBindings(); }
  std::string key = "MacGap_password";
  std::unique_ptr<PDKeychainBindingsController> store;
};

TEST_F(KeyringStore, StoresReplacesAndRemovesExactlyOneItem) {
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
  // The password stored just before the end is the keyring item.
  front().setString("s3cret \xE2\x82\xAC", key);
  store->finishWrites(std::chrono::seconds(20));  // as the application does at shutdown
  store.reset();
  EXPECT_EQ(lookupOutside(key), "s3cret \xE2\x82\xAC");
}

TEST_F(KeyringStore, ItemsMadeOrChangedOutsideAreFoundAndDeletedOnesStayBuffered) {
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
}

}  // namespace
}  // namespace wd::test
