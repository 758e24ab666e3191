// The resolver against a real dnsmasq (network sandbox): batches, CNAME steps, errors, stop and
// restart, and delegates that stop or drop the resolver from inside their reports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NetworkSandbox.h"
#include "autodiscover/SRVResolver.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::runLoopFor;
using test::waitFor;

class Recorder : public SRVResolverDelegate {
 public:
  void srvResolverDidReceiveResult(SRVResolver& resolver, const SRVResult& result) override {
    events.push_back("result:" + result.target);
    results.push_back(result);
    if (onResult) onResult(resolver);
  }
  void srvResolverDidStopWithError(SRVResolver&,
                                   const std::optional<SRVResolverError>& error) override {
    events.push_back("stop");
    stops.push_back(error);
  }
  std::vector<std::string> events;
  std::vector<SRVResult> results;
  std::vector<std::optional<SRVResolverError>> stops;
  std::function<void(SRVResolver&)> onResult;
};

class SRVResolverNet : public ::testing::Test {
 protected:
  void SetUp() override { WD_REQUIRE_NETWORK_SANDBOX(); }
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  std::shared_ptr<SRVResolver> run(const std::string& name, int type) {
    auto resolver = SRVResolver::create(name, type);
    resolver->setDelegate(recorder);
    resolver->start();
    EXPECT_TRUE(waitFor([&] { return !recorder->stops.empty(); }));
    return resolver;
  }
};

// One answer: one result, then a successful end. A CNAME step gives no result of its own, only
// the records behind it; MX answers give the preference and the exchange. Failures carry the
// DNS service codes.
TEST_F(SRVResolverNet, AnAnswerGivesOneResultThenASuccessfulEndAndFailuresTheirCodes) {
  const struct {
    const char* name;
    int type;
    SRVResult result;
  } cases[] = {
      {"_autodiscover._tcp.srv.test", 33, {0, 0, 8443, "h.srv.test"}},
      {"_autodiscover._tcp.cname.test", 33, {0, 0, 8443, "h.srv.test"}},
      {"mx.test", 15, {10, 0, 0, "m.mx.test"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = std::make_shared<Recorder>();
    auto resolver = run(c.name, c.type);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"result:" + c.result.target, "stop"}));
    EXPECT_EQ(recorder->results, std::vector<SRVResult>{c.result});
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_FALSE(recorder->stops[0]);
    EXPECT_TRUE(resolver->isFinished());
    EXPECT_FALSE(resolver->error());
    EXPECT_EQ(resolver->results(), recorder->results);
  }

  // Failures carry the DNS service codes: no such name, no such record.
  recorder = std::make_shared<Recorder>();
  {
    auto nx = run("_autodiscover._tcp.nothing.test", 33);
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_EQ(recorder->stops[0], (SRVResolverError{"kSRVResolverErrorDomain", -65538}));
    EXPECT_EQ(nx->error(), recorder->stops[0]);
    EXPECT_TRUE(nx->isFinished());

    recorder->stops.clear();
    run("none.test", 33);  // the name exists, with an address only
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_EQ(recorder->stops[0], (SRVResolverError{"kSRVResolverErrorDomain", -65554}));
    EXPECT_TRUE(recorder->results.empty());
  }
  // Bad names fail before start returns.
  for (const std::string& name : {std::string(), std::string("bad\xFF.test"),
                                  std::string("nul\0.test", 9), std::string(64, 'a') + ".test"}) {
    auto resolver = SRVResolver::create(name, 33);
    auto rec = std::make_shared<Recorder>();
    resolver->setDelegate(rec);
    resolver->start();
    ASSERT_EQ(rec->stops.size(), 1u) << name;
    EXPECT_EQ(rec->stops[0], (SRVResolverError{"kSRVResolverErrorDomain", -65540}));
    EXPECT_TRUE(resolver->isFinished());
  }
}

// dnsmasq sends these three in the order 1002, 1003, 1001 (sorted by no field).
TEST_F(SRVResolverNet, ABatchOfThreeAnswersGivesThreeResultsInDeliveryOrderThenOneEnd) {
  auto resolver = run("_autodiscover._tcp.three.test", 33);
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"result:two.three.test", "result:three.three.test",
                                      "result:one.three.test", "stop"}));
  EXPECT_EQ(resolver->results(), recorder->results);
  std::vector<uint16_t> ports;
  for (const auto& r : recorder->results) ports.push_back(r.port);
  EXPECT_EQ(ports, (std::vector<uint16_t>{1002, 1003, 1001}));
}

TEST_F(SRVResolverNet, StartStopRestartAndDelegatesThatStopOrDropTheResolver) {
  auto resolver = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
  resolver->setDelegate(recorder);
  resolver->start();
  resolver->start();
  ASSERT_TRUE(waitFor([&] { return !recorder->stops.empty(); }));
  runLoopFor(0.3);
  EXPECT_EQ(recorder->stops.size(), 1u);
  EXPECT_EQ(resolver->results().size(), 1u);
  resolver->start();
  EXPECT_FALSE(resolver->isFinished());
  ASSERT_TRUE(waitFor([&] { return recorder->stops.size() == 2; }));
  ASSERT_EQ(resolver->results().size(), 2u);
  EXPECT_EQ(resolver->results()[0], resolver->results()[1]);

  // A stop during a query tells no one.
  recorder = std::make_shared<Recorder>();
  {
    auto stopped = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
    stopped->setDelegate(recorder);
    stopped->start();
    stopped->stop();
    EXPECT_TRUE(stopped->isFinished());
    runLoopFor(0.5);
    EXPECT_TRUE(recorder->events.empty());
    stopped->stop();  // again: harmless
  }

  // The delegate stops or drops the resolver inside the first result.
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropped" : "stopped");
    recorder = std::make_shared<Recorder>();
    auto dropping = SRVResolver::create("_autodiscover._tcp.three.test", 33);
    recorder->onResult = [&dropping, drop](SRVResolver& r) {
      if (drop)
        dropping.reset();
      else
        r.stop();
    };
    dropping->setDelegate(recorder);
    dropping->start();
    ASSERT_TRUE(waitFor([&] { return !recorder->results.empty(); }));
    runLoopFor(0.3);
    EXPECT_EQ(recorder->results.size(), 1u);
    EXPECT_TRUE(recorder->stops.empty());
    EXPECT_TRUE(drop ? !dropping : dropping->isFinished());
  }

  // Destroying a running resolver stops it, and a gone delegate is not called.
  recorder = std::make_shared<Recorder>();
  {
    auto running = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
    running->setDelegate(recorder);
    running->start();
  }
  auto orphan = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
  {
    auto gone = std::make_shared<Recorder>();
    orphan->setDelegate(gone);
  }
  orphan->start();
  ASSERT_TRUE(waitFor([&] { return orphan->isFinished(); }));
  EXPECT_EQ(orphan->results().size(), 1u);
  runLoopFor(0.3);
  EXPECT_TRUE(recorder->events.empty());
}

}  // namespace
}  // namespace wd
