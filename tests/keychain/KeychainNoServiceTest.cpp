// The real libsecret store without a Secret Service (the session bus address, set before main,
// names no bus): values are kept in memory for the session, never written to a file.
#include <gtest/gtest.h>

#include <filesystem>

#include "keychain/KeychainTestSupport.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/PDKeychainBindings.h"
#include "support/Files.h"

namespace wd::test {
namespace {

const bool kNoBus = g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/wd/bus", TRUE);

TEST(NoSecretService, ValuesAreKeptInMemoryForTheSessionAndTheStoreSaysSo) {
  ASSERT_TRUE(kNoBus);
  PDKeychainBindingsController store(kService, std::make_shared<keychain::LibsecretBackend>());
  store.prefetch();
  ASSERT_TRUE(settle(store));
  EXPECT_EQ(store.storage(), PDKeychainBindingsController::Storage::SessionOnly);
  EXPECT_EQ(store.sessionOnlyMessage(),
            "The password is kept for this session only: no keyring is available.");
  const std::string secret = "only-in-memory-\xE2\x9C\x93-4711";
  store.keychainBindings().setString(secret, "MacGap_password");
  ASSERT_TRUE(settle(store));
  EXPECT_EQ(store.keychainBindings().objectForKey("MacGap_password"), secret);
  EXPECT_EQ(store.stringForKey("MacGap_password"), std::nullopt);
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(g_get_home_dir(), ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec || !it->is_regular_file(ec)) continue;
    EXPECT_EQ(readFile(it->path()).value_or("").find(secret), std::string::npos) << it->path();
  }
  store.keychainBindings().removeObjectForKey("MacGap_password");
  EXPECT_EQ(store.keychainBindings().objectForKey("MacGap_password"), std::nullopt);
}

}  // namespace
}  // namespace wd::test
