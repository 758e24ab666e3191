// The real libsecret store without a Secret Service (the session bus address, set before main,
// names no bus): values are kept in memory for the session, never written to a file.
#include <gtest/gtest.h>

#include "keychain/KeychainTestSupport.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/PDKeychainBindings.h"

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
  // No file below HOME holds it (grep's status 1: nothing found).
  const auto found =
      runProcess(std::string("grep -rlF -D skip only-in-memory- ") + g_get_home_dir());
  EXPECT_EQ(found.status, 1) << found.out << found.err;
  store.keychainBindings().removeObjectForKey("MacGap_password");
  EXPECT_EQ(store.keychainBindings().objectForKey("MacGap_password"), std::nullopt);
}

}  // namespace
}  // namespace wd::test
