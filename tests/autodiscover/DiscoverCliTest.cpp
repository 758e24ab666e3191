// `wendrel-desktop --discover`: the command function in-process (network sandbox).
#include "CliFixture.h"

namespace wd {
namespace {

TEST_F(DiscoverCli, SuccessPrintsServerAndPortAndExitsZero) {
  // The password is the first line only (spaces kept, CR LF line end dropped).
  const auto r = runInProcess({"user@cli.test", 30, {}}, "pass word\r\nsecond line\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(parseLine(r.out),
            (Json{{"result", "success"}, {"server", "s.cli.test"}, {"port", "8443"}}));
}

TEST_F(DiscoverCli, RefusedCredentialsExitTwo) {
  const auto r = runInProcess({"user@cli.test", 30, {}}, "wrong");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(parseLine(r.out), (Json{{"result", "invalidCredentials"}}));
}

TEST_F(DiscoverCli, NothingFoundExitsThree) {
  const auto r = runInProcess({"user@none.test", 3, {}}, "");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(parseLine(r.out), (Json{{"result", "autodiscoverFailed"}}));
}

TEST_F(DiscoverCli, TrustHostAddsACertificateException) {
  const auto refused = runInProcess({"user@untrusted.test", 3, {}}, "pw\n");
  EXPECT_EQ(refused.status, 3);
  const auto trusted = runInProcess({"user@untrusted.test", 30, {"untrusted.test"}}, "pw\n");
  EXPECT_EQ(trusted.status, 0);
  EXPECT_EQ(parseLine(trusted.out),
            (Json{{"result", "success"}, {"server", "s.untrusted.test"}, {"port", "443"}}));
}

TEST_F(DiscoverCli, AddressWithoutDomainIsAUsageError) {
  for (const char* address : {"user@", "no-at-sign"}) {
    const auto r = runInProcess({address, 30, {}}, "pw\n");
    EXPECT_EQ(r.status, 64) << address;
    EXPECT_EQ(r.out, "") << address;
  }
}

}  // namespace
}  // namespace wd
