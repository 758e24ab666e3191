// Autodiscovery values that need no network: end points, the attempt list, the outcome
// dictionary, the request URL.
#include <gtest/gtest.h>

#include "autodiscover/Autodiscover.h"
#include "autodiscover/AutodiscoverWebController.h"

namespace wd {
namespace {

TEST(EndPoint, CodesAndSuccessFlags) {
  const EndPoint found("mail.example.com", 443);
  EXPECT_TRUE(found.isSuccess());
  EXPECT_TRUE(found.isPartialSuccess());
  EXPECT_EQ(found.error(), 0);
  for (int code : {1, 2, 3}) {
    const EndPoint e = EndPoint::endPointWithError(code);
    EXPECT_FALSE(e.isSuccess());
    EXPECT_FALSE(e.isPartialSuccess());
    EXPECT_FALSE(e.host());
    EXPECT_EQ(e.port(), 0);
  }
  const EndPoint refused = EndPoint::endPointWithError(EndPointErrorInvalidCredentials);
  EXPECT_FALSE(refused.isSuccess());
  EXPECT_TRUE(refused.isPartialSuccess());
}

TEST(Autodiscover, ThreeAttemptsForTheDomainUsedUnchanged) {
  auto search = Autodiscover::createWithSRV("Example.COM");
  ASSERT_EQ(search->attempts().size(), 3u);
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[0]),
            DNSRecord(33, "_autodiscover._tcp.Example.COM"));
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[1]), DNSRecord(15, "Example.COM"));
  EXPECT_EQ(std::get<EndPoint>(search->attempts()[2]), EndPoint("Example.COM", 443));
  EXPECT_FALSE(search->isRunning());
  search->stop();  // harmless before any start
}

TEST(Autodiscover, RequestUrl) {
  EXPECT_EQ(autodiscoverURL("mail.example.com", 8443),
            "https://mail.example.com:8443/autodiscover/autodiscover.xml");
  EXPECT_EQ(autodiscoverURL("h", 443), "https://h:443/autodiscover/autodiscover.xml");
}

TEST(AutodiscoverWebController, OutcomeDictionary) {
  EXPECT_EQ(AutodiscoverWebController::resultDictionary(EndPoint("s.example.com", 8443)),
            (Json{{"result", "success"}, {"server", "s.example.com"}, {"port", "8443"}}));
  EXPECT_EQ(AutodiscoverWebController::resultDictionary(EndPoint("", 443)),
            (Json{{"result", "success"}, {"server", ""}, {"port", "443"}}));
  EXPECT_EQ(AutodiscoverWebController::resultDictionary(EndPoint::endPointWithError(4)),
            (Json{{"result", "invalidCredentials"}}));
  for (int code : {1, 2, 3})
    EXPECT_EQ(AutodiscoverWebController::resultDictionary(EndPoint::endPointWithError(code)),
              (Json{{"result", "autodiscoverFailed"}}));
}

}  // namespace
}  // namespace wd
