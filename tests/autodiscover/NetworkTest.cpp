// In the network sandbox: the resolver against a real dnsmasq, the autodiscover request against
// the libsoup HTTPS test servers, and the three-attempt search over both.
#include <gtest/gtest.h>

#include "TestHttpsServer.h"
#include "autodiscover/Autodiscover.h"
#include "autodiscover/AutodiscoverWebController.h"
#include "autodiscover/SRVResolver.h"
#include "core/NotificationCenter.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

const char* const kSrv = "_autodiscover._tcp.srv.test";
const char* const kThree = "_autodiscover._tcp.three.test";

struct Recorder : SRVResolverDelegate {
  void srvResolverDidReceiveResult(SRVResolver& resolver, const SRVResult& result) override {
    EXPECT_TRUE(stops.empty()) << "a result after the end";
    results.push_back(result);
    if (onResult) onResult(resolver);
  }
  void srvResolverDidStopWithError(SRVResolver&,
                                   const std::optional<SRVResolverError>& error) override {
    stops.push_back(error);
  }
  std::vector<SRVResult> results;
  std::vector<std::optional<SRVResolverError>> stops;
  std::function<void(SRVResolver&)> onResult;
};

class SRVResolverNet : public HttpsServersTest {
 protected:
  // A resolver of `name` started, reporting to a fresh recorder.
  std::shared_ptr<SRVResolver> run(const std::string& name, int type = 33) {
    recorder = std::make_shared<Recorder>();
    auto resolver = SRVResolver::create(name, type);
    resolver->setDelegate(recorder);
    resolver->start();
    return resolver;
  }
  std::shared_ptr<Recorder> recorder;
};

// A CNAME step gives no result of its own; a batch gives its results in the order dnsmasq sends
// them (1002, 1003, 1001: sorted by no field). Failures carry the DNS service codes: no such
// name, a name with an address only, and bad names (those fail before start returns). Stops and
// drops, also by the delegate inside a report, tell no one.
TEST_F(SRVResolverNet, ResultsInDeliveryOrderThenOneEndFailuresWithTheirCodesStopsTellNoOne) {
  const std::vector<SRVResult> three = {{1, 2, 1002, "two.three.test"},
                                        {1, 2, 1003, "three.three.test"},
                                        {1, 2, 1001, "one.three.test"}};
  const std::tuple<std::string, int, std::vector<SRVResult>, int> cases[] = {
      {kSrv, 33, {{0, 0, 8443, "h.srv.test"}}, 0},
      {"_autodiscover._tcp.cname.test", 33, {{0, 0, 8443, "h.srv.test"}}, 0},
      {"mx.test", 15, {{10, 0, 0, "m.mx.test"}}, 0},
      {kThree, 33, three, 0},
      {"_autodiscover._tcp.nothing.test", 33, {}, -65538},
      {"none.test", 33, {}, -65554},
      {"", 33, {}, -65540},
      {"bad\xFF.test", 33, {}, -65540},
      {std::string("nul\0.test", 9), 33, {}, -65540},
      {std::string(64, 'a') + ".test", 33, {}, -65540}};
  for (const auto& [name, type, results, code] : cases) {
    SCOPED_TRACE(name);
    auto resolver = run(name, type);
    EXPECT_EQ(recorder->stops.size(), code == -65540 ? 1u : 0u);
    ASSERT_TRUE(waitFor([&] { return !recorder->stops.empty(); }));
    EXPECT_EQ(recorder->results, results);
    std::optional<SRVResolverError> error;
    if (code) error = SRVResolverError{"kSRVResolverErrorDomain", code};
    EXPECT_EQ(recorder->stops, std::vector{error});
    EXPECT_EQ(resolver->error(), error);
    EXPECT_TRUE(resolver->isFinished());
    EXPECT_EQ(resolver->results(), results);
  }
  // A stop during a query, or destroying a running resolver, tells no one.
  auto stopped = run(kSrv);
  stopped->stop();
  EXPECT_TRUE(stopped->isFinished());
  stopped->stop();
  auto told = recorder;
  run(kSrv).reset();
  runLoopFor(0.5);
  EXPECT_TRUE(told->results.empty() && told->stops.empty());
  EXPECT_TRUE(recorder->results.empty() && recorder->stops.empty());
  // The delegate stops or drops the resolver inside the first result.
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropped" : "stopped");
    auto dropping = run(kThree);
    recorder->onResult = [&dropping, drop](SRVResolver& r) { drop ? dropping.reset() : r.stop(); };
    ASSERT_TRUE(waitFor([&] { return !recorder->results.empty(); }));
    runLoopFor(0.3);
    EXPECT_EQ(recorder->results.size(), 1u);
    EXPECT_TRUE(recorder->stops.empty());
    EXPECT_TRUE(drop ? !dropping : dropping->isFinished());
  }
  // A gone delegate is not called.
  auto orphan = run(kSrv);
  recorder.reset();
  ASSERT_TRUE(waitFor([&] { return orphan->isFinished(); }));
  EXPECT_EQ(orphan->results().size(), 1u);
}

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
  return {200, autodiscoverDocument(server)};
}
const Behaviour kHang{0};
Json success(const std::string& host, const std::string& port) {
  return Json{{"result", "success"}, {"server", host}, {"port", port}};
}

class AutodiscoverNet : public HttpsServersTest {
 protected:
  Json discover(const std::string& domain, int total = 30, const std::string& password = "s") {
    posted.clear();
    auto controller = AutodiscoverWebController::create("user@example.test", password, domain);
    controller->startWithTimeout(total);
    EXPECT_TRUE(waitFor([&] { return !posted.empty(); }, total + 30));
    return posted.empty() ? Json() : posted.back();
  }
  EndPoint search(const std::string& domain, int total = 30) {
    auto s = Autodiscover::createWithSRV(domain);
    s->resolveWithTimeout(total, delegate);
    EXPECT_TRUE(waitFor([&] { return !delegate->outcomes.empty(); }, total + 30));
    EXPECT_FALSE(s->isRunning());
    return delegate->outcomes.empty() ? EndPoint(-1) : delegate->outcomes.back();
  }
  const RecordedRequest& last() { return server.requests().back(); }
  std::shared_ptr<SearchDelegate> delegate = std::make_shared<SearchDelegate>();
  std::vector<Json> posted;
  NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
      kAccountWebDiscoveryNotification,
      [this](const Notification& note) { posted.push_back(note.object); });
};

// SRV records by their host and port (port 0 is asked on 443), MX records on 443.
TEST_F(AutodiscoverNet, RecordsLeadToTheServerTheyNameAndNoRecordToNoRequest) {
  // Nothing found, or a domain that is not a plain host name: the search fails without a request.
  server.route("h.status.test", 443, doc("s.status.test"));
  EXPECT_EQ(search("none.test"), EndPoint::endPointWithError(EndPointErrorNotFound));
  for (const char* domain : {"none.test", "x:y@h.status.test"})
    EXPECT_EQ(discover(domain), (Json{{"result", "autodiscoverFailed"}})) << domain;
  EXPECT_TRUE(server.requests().empty());
  const std::tuple<const char*, const char*, int, const char*, Json> cases[] = {
      {"srv.test", "h.srv.test", 8443, "s.srv.test", success("s.srv.test", "443")},
      {"srv0.test", "h.srv0.test", 443, "s.srv0.test:8443", success("s.srv0.test", "8443")},
      {"mx.test", "m.mx.test", 443, "s.mx.test:9999", success("s.mx.test", "9999")},
  };
  for (const auto& [domain, host, port, named, outcome] : cases) {
    server.route(host, port, doc(named));
    const std::size_t before = server.requests().size();
    EXPECT_EQ(discover(domain), outcome) << domain;
    ASSERT_EQ(server.requests().size(), before + 1);
    EXPECT_EQ(std::pair(last().host, last().port), std::pair(std::string(host), port));
    EXPECT_EQ(posted.size(), 1u);
  }
  // An SRV answer ends the search: the MX record is never asked for.
  EXPECT_FALSE(sandbox.dnsQueried("MX", "srv.test"));
  // Of two SRV answers (in varying order) the first is used, whatever its priority.
  server.route("a.two.test", 8443, doc("a-server.test"));
  server.route("b.two.test", 8443, doc("b-server.test"));
  const std::size_t before = server.requests().size();
  const Json outcome = discover("two.test");
  ASSERT_EQ(server.requests().size(), before + 1);
  EXPECT_EQ(outcome,
            success(last().host == "a.two.test" ? "a-server.test" : "b-server.test", "443"));
}

// Refused credentials end the search, failed attempts move on to the next.
TEST_F(AutodiscoverNet, RefusedCredentialsEndTheSearchFailuresMoveOnExceptionsAcceptTheirHost) {
  server.route("h.auth.test", 8443, {200, "x", "user@example.test", "right"});
  // Were the other attempts made, they would succeed.
  server.route("m.auth.test", 443, doc("mx.auth.test"));
  server.route("auth.test", 443, doc("direct.auth.test"));
  EXPECT_EQ(discover("auth.test", 30, "wrong"), (Json{{"result", "invalidCredentials"}}));
  ASSERT_EQ(server.requestCount("h.auth.test"), 2u);  // challenge, one answer
  // Credentials only answer the challenge: nothing is sent unasked.
  EXPECT_EQ(server.requests()[0].authorization, "");
  EXPECT_NE(server.requests()[1].authorization, "");
  EXPECT_EQ(server.requestCount("m.auth.test") + server.requestCount("auth.test"), 0u);
  runLoopFor(0.5);
  EXPECT_EQ(posted.size(), 1u);
  EXPECT_FALSE(sandbox.dnsQueried("MX", "auth.test"));
  // A certificate exception accepts its own host only (in any case): without one the untrusted
  // server is never asked and the search moves on.
  untrusted.route("untrusted.test", 9443, doc("s.untrusted.test"));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "h.status.test");
  EXPECT_EQ(discover("untrusted.test", 9), (Json{{"result", "autodiscoverFailed"}}));
  EXPECT_EQ(untrusted.requests().size(), 0u);
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "UNTRUSTED.test");
  EXPECT_EQ(discover("untrusted.test"), success("s.untrusted.test", "443"));
  EXPECT_EQ(untrusted.requests().size(), 1u);
  // A document that is no answer moves on at once, an error status or silence after the
  // attempt's time.
  server.route("fall.test", 443, doc("s.fall.test"));
  server.route("h.fall.test", 8443, {200, "this is not XML"});
  server.route("m.fall.test", 443, {200, ""});
  EXPECT_EQ(discover("fall.test"), success("s.fall.test", "443"));
  EXPECT_EQ(server.requestCount("h.fall.test"), 1u);
  EXPECT_EQ(server.requestCount("m.fall.test"), 1u);
  server.route("h.fall.test", 8443, {500, "error"});
  server.route("m.fall.test", 443, {404, "error"});
  EXPECT_EQ(discover("fall.test", 9), success("s.fall.test", "443"));
  EXPECT_EQ(server.requestCount("m.fall.test"), 2u);
  const char* hosts[] = {"h.hang.test", "m.hang.test", "hang.test"};
  for (auto host : hosts) server.route(host, host == hosts[0] ? 8443 : 443, kHang);
  const std::size_t before = server.requests().size();
  EXPECT_EQ(search("hang.test", 9), EndPoint::endPointWithError(EndPointErrorTimeout));
  ASSERT_EQ(server.requests().size(), before + 3);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(server.requests()[before + i].host, hosts[i]);
}

TEST_F(AutodiscoverNet, StopsAndDropsDuringAnAttemptOrInsideAReportTellNoOneMore) {
  server.route("h.hang.test", 8443, kHang);
  server.route("m.hang.test", 443, kHang);
  auto s = Autodiscover::createWithSRV("hang.test");
  s->resolveWithTimeout(9, delegate);
  EXPECT_EQ(s->timeout(), 3);
  ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
  s->stop();
  EXPECT_FALSE(s->isRunning());
  runLoopFor(4);  // longer than the attempt's time
  EXPECT_TRUE(delegate->outcomes.empty());
  EXPECT_EQ(server.requests().size(), 1u);
  auto controller = AutodiscoverWebController::create("u", "p", "hang.test");
  controller->startWithTimeout(30);
  ASSERT_TRUE(waitFor([&] { return server.requests().size() == 2; }));
  controller.reset();
  runLoopFor(1);
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(server.requests().size(), 2u);
  // Each attempt's time is the total divided by three, rounded down.
  for (auto [total, each] : {std::pair{31, 10.0}, std::pair{5, 1.0}}) {
    auto t = Autodiscover::createWithSRV("srv.test");
    t->resolveWithTimeout(total, delegate);
    EXPECT_EQ(t->timeout(), each) << total;
    EXPECT_EQ(t->attempts().size(), 2u);
    t->stop();
  }
  // Reports may stop and drop the search or the web controller; a search without delegate ends.
  server.route("h.srv.test", 8443, doc("s.srv.test"));
  s = Autodiscover::createWithSRV("srv.test");
  delegate->onFinished = [&s](Autodiscover& search) {
    search.stop();
    s.reset();
  };
  s->resolveWithTimeout(30, delegate);
  ASSERT_TRUE(waitFor([&] { return !delegate->outcomes.empty(); }));
  EXPECT_FALSE(s);
  EXPECT_EQ(delegate->outcomes[0], EndPoint("s.srv.test", 443));
  controller = AutodiscoverWebController::create("u", "p", "srv.test");
  auto drop = NotificationCenter::defaultCenter().addObserver(
      kAccountWebDiscoveryNotification, [&controller](const Notification&) { controller.reset(); });
  controller->startWithTimeout(30);
  ASSERT_TRUE(waitFor([&] { return !posted.empty(); }));
  EXPECT_FALSE(controller);
  EXPECT_EQ(posted[0], success("s.srv.test", "443"));
  auto orphan = Autodiscover::createWithSRV("srv.test");
  orphan->resolveWithTimeout(30, std::make_shared<SearchDelegate>());
  ASSERT_TRUE(waitFor([&] { return !orphan->isRunning(); }));
  EXPECT_EQ(server.requests().size(), 5u);
  runLoopFor(0.3);
  EXPECT_EQ(delegate->outcomes.size(), 1u);
  EXPECT_EQ(posted.size(), 1u);
}

}  // namespace
}  // namespace wd::test
