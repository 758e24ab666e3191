// The three-attempt search against real dnsmasq records and the libsoup HTTPS test servers
// (network sandbox). Time-out scenarios use short totals (1 to 3 seconds per attempt) so that
// they stay fast and still leave a loaded machine time for each TLS request.
#include <gtest/gtest.h>

#include "TestHttpsServer.h"
#include "autodiscover/Autodiscover.h"
#include "autodiscover/AutodiscoverWebController.h"
#include "core/NotificationCenter.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::autodiscoverDocument;
using test::Behaviour;
using test::NetworkSandbox;
using test::runLoopFor;
using test::waitFor;

struct SearchDelegate : AutodiscoverDelegate {
  std::optional<Credential> credentials() override { return Credential{"user@example.test", "s"}; }
  void autodiscoverFinished(Autodiscover& search, const EndPoint& endPoint) override {
    outcomes.push_back(endPoint);
    if (onFinished) onFinished(search);
  }
  std::vector<EndPoint> outcomes;
  std::function<void(Autodiscover&)> onFinished;
};

Behaviour doc(const std::string& server) {
  return Behaviour::document(autodiscoverDocument(server));
}
Json success(const std::string& host, const std::string& port) {
  return Json{{"result", "success"}, {"server", host}, {"port", port}};
}
const Json kFailed = {{"result", "autodiscoverFailed"}};

class AutodiscoverNet : public test::HttpsServersTest {
 protected:
  void SetUp() override {
    HttpsServersTest::SetUp();
    if (!serversReady()) return;
    token = NotificationCenter::defaultCenter().addObserver(
        kAccountWebDiscoveryNotification,
        [this](const Notification& note) { posted.push_back(note.object); });
  }

  // Runs a search through the web controller and answers the one posted dictionary.
  Json discover(const std::string& domain, int total = 30, const std::string& password = "s",
                const std::string& user = "user@example.test") {
    posted.clear();
    auto controller = AutodiscoverWebController::create(user, password, domain);
    controller->startWithTimeout(total);
    EXPECT_TRUE(waitFor([&] { return !posted.empty(); }, total + 30));
    return posted.empty() ? Json() : posted.back();
  }
  // Runs an Autodiscover directly and answers its outcome.
  EndPoint search(const std::string& domain, int total = 30) {
    auto s = Autodiscover::createWithSRV(domain);
    s->resolveWithTimeout(total, delegate);
    EXPECT_TRUE(waitFor([&] { return !delegate->outcomes.empty(); }, total + 30));
    EXPECT_FALSE(s->isRunning());
    return delegate->outcomes.empty() ? EndPoint(-1) : delegate->outcomes.back();
  }
  const test::RecordedRequest& last() { return server->requests().back(); }

  std::shared_ptr<SearchDelegate> delegate = std::make_shared<SearchDelegate>();
  NotificationCenter::Token token;
  std::vector<Json> posted;
};

// SRV records by their host and port (port 0 is asked on 443), MX records on 443 when there is no
// SRV record; the document names the server (and port) reported.
TEST_F(AutodiscoverNet, RecordsLeadToTheServerTheyName) {
  struct Case {
    const char *domain, *host;
    int port;
    const char *named, *server, *serverPort;
  } cases[] = {
      {"srv.test", "h.srv.test", 8443, "s.srv.test", "s.srv.test", "443"},
      {"srv0.test", "h.srv0.test", 443, "s.srv0.test:8443", "s.srv0.test", "8443"},
      {"mx.test", "m.mx.test", 443, "s.mx.test:9999", "s.mx.test", "9999"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.domain);
    server->route(c.host, c.port, doc(c.named));
    const std::size_t before = server->requests().size();
    EXPECT_EQ(discover(c.domain), success(c.server, c.serverPort));
    ASSERT_EQ(server->requests().size(), before + 1);
    EXPECT_EQ(last().host, c.host);
    EXPECT_EQ(last().port, c.port);
    EXPECT_EQ(posted.size(), 1u);
  }
  // An SRV answer ends the search: the MX record is never asked for.
  EXPECT_FALSE(NetworkSandbox::shared().dnsQueried("MX", "srv.test"));

  // dnsmasq delivers two SRV answers in varying order; whichever comes first is used, whatever
  // its priority, and the other one is never asked.
  server->route("a.two.test", 8443, doc("a-server.test"));
  server->route("b.two.test", 8443, doc("b-server.test"));
  const std::size_t before = server->requests().size();
  const Json outcome = discover("two.test");
  ASSERT_EQ(server->requests().size(), before + 1);
  EXPECT_EQ(outcome,
            success(last().host == "a.two.test" ? "a-server.test" : "b-server.test", "443"));

  // An untrusted certificate fails unless the host is excepted.
  untrusted->route("untrusted.test", 9443, doc("s.untrusted.test"));
  EXPECT_EQ(discover("untrusted.test", 3), kFailed);
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "untrusted.test");
  EXPECT_EQ(discover("untrusted.test"), success("s.untrusted.test", "443"));
}

// Neither record and nothing listening, or a domain that is not a plain host name (it never
// becomes a URL for another host, path or user): the search fails without a request.
TEST_F(AutodiscoverNet, NothingToAskFailsWithoutARequest) {
  server->route("h.status.test", 443, doc("s.status.test"));
  EXPECT_EQ(search("none.test"), EndPoint::endPointWithError(EndPointErrorNotFound));
  for (const char* domain : {"none.test", "h.status.test/#", "x:y@h.status.test", "h.status.test?"})
    EXPECT_EQ(discover(domain), kFailed) << domain;
  EXPECT_TRUE(server->requests().empty());
}

TEST_F(AutodiscoverNet, CredentialsAnswerAChallengeAndRefusedOnesEndTheSearchAtOnce) {
  server->route("h.auth.test", 8443, Behaviour::challenge("user@auth.test", "right", "x"));
  // Were the other attempts made, they would succeed.
  server->route("m.auth.test", 443, doc("mx.auth.test"));
  server->route("auth.test", 443, doc("direct.auth.test"));
  EXPECT_EQ(discover("auth.test", 30, "wrong", "user@auth.test"),
            (Json{{"result", "invalidCredentials"}}));
  EXPECT_EQ(server->requestCount("h.auth.test"), 2u);  // challenge, one answer
  EXPECT_EQ(server->requestCount("m.auth.test") + server->requestCount("auth.test"), 0u);
  runLoopFor(0.5);
  EXPECT_EQ(posted.size(), 1u);
  EXPECT_FALSE(NetworkSandbox::shared().dnsQueried("MX", "auth.test"));

  // Right credentials answer the challenge, and only the challenge.
  server->route("h.authok.test", 8443,
                Behaviour::challenge("user@authok.test", "pw", autodiscoverDocument("s.authok")));
  const std::size_t before = server->requests().size();
  EXPECT_EQ(discover("authok.test", 30, "pw", "user@authok.test"), success("s.authok", "443"));
  ASSERT_EQ(server->requests().size(), before + 2);
  EXPECT_EQ(server->requests()[before].authorization, "");
}

// A document that is no answer moves on at once, an error status once the attempt's time is up,
// a server that never answers once its time is up.
TEST_F(AutodiscoverNet, FailedAttemptsMoveOnToTheNext) {
  server->route("fall.test", 443, doc("s.fall.test"));
  server->route("h.fall.test", 8443, Behaviour::document("this is not XML"));
  server->route("m.fall.test", 443, Behaviour::document(""));
  EXPECT_EQ(discover("fall.test"), success("s.fall.test", "443"));
  EXPECT_EQ(server->requestCount("h.fall.test"), 1u);
  EXPECT_EQ(server->requestCount("m.fall.test"), 1u);
  server->route("h.fall.test", 8443, Behaviour::statusCode(500));
  server->route("m.fall.test", 443, Behaviour::statusCode(404));
  EXPECT_EQ(discover("fall.test", 9), success("s.fall.test", "443"));
  EXPECT_EQ(server->requestCount("m.fall.test"), 2u);

  // Servers that never answer time out, each attempt after its share of the total.
  const char* hosts[] = {"h.hang.test", "m.hang.test", "hang.test"};
  for (auto host : hosts) server->route(host, host == hosts[0] ? 8443 : 443, Behaviour::hang());
  const std::size_t before = server->requests().size();
  EXPECT_EQ(search("hang.test", 9), EndPoint::endPointWithError(EndPointErrorTimeout));
  ASSERT_EQ(server->requests().size(), before + 3);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(server->requests()[before + i].host, hosts[i]);
}

TEST_F(AutodiscoverNet, StopDuringAnAttemptReportsNothingAndFiresNoTimer) {
  server->route("h.hang.test", 8443, Behaviour::hang());
  server->route("m.hang.test", 443, Behaviour::hang());
  auto s = Autodiscover::createWithSRV("hang.test");
  s->resolveWithTimeout(9, delegate);
  EXPECT_EQ(s->timeout(), 3);
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 1; }));
  s->stop();
  EXPECT_FALSE(s->isRunning());
  runLoopFor(4);  // longer than the attempt's time
  EXPECT_TRUE(delegate->outcomes.empty());
  EXPECT_EQ(server->requests().size(), 1u);

  // The same through the web controller: nothing is posted.
  auto controller = AutodiscoverWebController::create("u", "p", "hang.test");
  controller->startWithTimeout(30);
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 2; }));
  controller.reset();
  runLoopFor(1);
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(server->requests().size(), 2u);

  // Each attempt's time is the total divided by three, rounded down.
  for (auto [total, each] : {std::pair{31, 10.0}, std::pair{30, 10.0}, std::pair{5, 1.0}}) {
    auto t = Autodiscover::createWithSRV("srv.test");
    t->resolveWithTimeout(total, delegate);
    EXPECT_EQ(t->timeout(), each) << total;
    EXPECT_EQ(t->attempts().size(), 2u);
    t->stop();
  }
}

// The delegate may stop and drop the search inside its report, an observer may drop the web
// controller inside the notification, and a search whose delegate is gone still ends.
TEST_F(AutodiscoverNet, ReportsMayDropTheSearchAndAGoneDelegateGetsNothing) {
  server->route("h.srv.test", 8443, doc("s.srv.test"));
  auto s = Autodiscover::createWithSRV("srv.test");
  delegate->onFinished = [&s](Autodiscover& search) {
    search.stop();
    s.reset();
  };
  s->resolveWithTimeout(30, delegate);
  ASSERT_TRUE(waitFor([&] { return !delegate->outcomes.empty(); }));
  EXPECT_FALSE(s);
  EXPECT_EQ(delegate->outcomes[0], EndPoint("s.srv.test", 443));

  auto controller = AutodiscoverWebController::create("u", "p", "srv.test");
  auto drop = NotificationCenter::defaultCenter().addObserver(
      kAccountWebDiscoveryNotification, [&controller](const Notification&) { controller.reset(); });
  controller->startWithTimeout(30);
  ASSERT_TRUE(waitFor([&] { return !posted.empty(); }));
  EXPECT_FALSE(controller);
  EXPECT_EQ(posted[0], success("s.srv.test", "443"));

  auto orphan = Autodiscover::createWithSRV("srv.test");
  orphan->resolveWithTimeout(30, std::make_shared<SearchDelegate>());
  ASSERT_TRUE(waitFor([&] { return !orphan->isRunning(); }));
  EXPECT_EQ(server->requests().size(), 3u);
  runLoopFor(0.3);
  EXPECT_EQ(delegate->outcomes.size(), 1u);
  EXPECT_EQ(posted.size(), 1u);
}

}  // namespace
}  // namespace wd
