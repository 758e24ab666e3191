// Autodiscovery values that need no network: end points, the attempt list, the outcome
// dictionary, the request URL.
#include <gtest/gtest.h>

#include "autodiscover/Autodiscover.h"
#include "autodiscover/AutodiscoverWebController.h"

namespace wd {
namespace {

// Codes 1 to 3 fail; 4 (refused credentials) is a partial success, reported as such.
TEST(Autodiscover, EndPointsOutcomesAttemptsAndTheRequestUrl) {
  const auto outcome = &AutodiscoverWebController::resultDictionary;
  const EndPoint found("s.example.com", 8443);
  EXPECT_TRUE(found.isSuccess() && found.isPartialSuccess());
  EXPECT_EQ(found.error(), 0);
  EXPECT_EQ(outcome(found),
            (Json{{"result", "success"}, {"server", "s.example.com"}, {"port", "8443"}}));
  EXPECT_EQ(outcome(EndPoint("", 443)),
            (Json{{"result", "success"}, {"server", ""}, {"port", "443"}}));
  for (int code : {1, 2, 3}) {
    const EndPoint e = EndPoint::endPointWithError(code);
    EXPECT_FALSE(e.isSuccess() || e.isPartialSuccess());
    EXPECT_FALSE(e.host());
    EXPECT_EQ(e.port(), 0);
    EXPECT_EQ(outcome(e), (Json{{"result", "autodiscoverFailed"}}));
  }
  const EndPoint refused = EndPoint::endPointWithError(EndPointErrorInvalidCredentials);
  EXPECT_FALSE(refused.isSuccess());
  EXPECT_TRUE(refused.isPartialSuccess());
  EXPECT_EQ(outcome(refused), (Json{{"result", "invalidCredentials"}}));

  // Three attempts for the domain used unchanged.
  auto search = Autodiscover::createWithSRV("Example.COM");
  ASSERT_EQ(search->attempts().size(), 3u);
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[0]),
            DNSRecord(33, "_autodiscover._tcp.Example.COM"));
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[1]), DNSRecord(15, "Example.COM"));
  EXPECT_EQ(std::get<EndPoint>(search->attempts()[2]), EndPoint("Example.COM", 443));
  EXPECT_FALSE(search->isRunning());
  search->stop();  // harmless before any start
  EXPECT_EQ(autodiscoverURL("mail.example.com", 8443),
            "https://mail.example.com:8443/autodiscover/autodiscover.xml");
}

}  // namespace
}  // namespace wd
