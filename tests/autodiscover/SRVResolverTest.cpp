// The resolver against a real dnsmasq (network sandbox): batches, CNAME steps, errors, stop and
// restart, and delegates that stop or drop the resolver from inside their reports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/Loop.h"
#include "NetworkSandbox.h"
#include "autodiscover/SRVResolver.h"

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

TEST_F(SRVResolverNet, SrvAnswerGivesOneResultThenASuccessfulEnd) {
  auto resolver = run("_autodiscover._tcp.srv.test", 33);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"result:h.srv.test", "stop"}));
  EXPECT_EQ(recorder->results[0], (SRVResult{0, 0, 8443, "h.srv.test"}));
  EXPECT_FALSE(recorder->stops[0]);
  EXPECT_TRUE(resolver->isFinished());
  EXPECT_FALSE(resolver->error());
  EXPECT_EQ(resolver->results(), recorder->results);
}

TEST_F(SRVResolverNet, ABatchOfThreeAnswersGivesThreeResultsInDeliveryOrderThenOneEnd) {
  auto resolver = run("_autodiscover._tcp.three.test", 33);
  ASSERT_EQ(recorder->events.size(), 4u);
  EXPECT_EQ(recorder->events.back(), "stop");
  EXPECT_EQ(resolver->results(), recorder->results);
  std::vector<uint16_t> ports;
  for (const auto& r : recorder->results) ports.push_back(r.port);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<uint16_t>{1001, 1002, 1003}));
}

TEST_F(SRVResolverNet, MxAnswerGivesPreferenceAndExchange) {
  run("mx.test", 15);
  ASSERT_EQ(recorder->results.size(), 1u);
  EXPECT_EQ(recorder->results[0], (SRVResult{10, 0, 0, "m.mx.test"}));
  EXPECT_FALSE(recorder->stops[0]);
}

TEST_F(SRVResolverNet, CnameStepGivesNoResultOnlyTheRecordsBehindIt) {
  run("_autodiscover._tcp.cname.test", 33);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"result:h.srv.test", "stop"}));
}

TEST_F(SRVResolverNet, FailuresCarryDnsServiceCodes) {
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

TEST_F(SRVResolverNet, BadNamesFailBeforeStartReturns) {
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

TEST_F(SRVResolverNet, StartWhileRunningDoesNothingAndRestartAppends) {
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
}

TEST_F(SRVResolverNet, StopDuringAQueryTellsNoOne) {
  auto resolver = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
  resolver->setDelegate(recorder);
  resolver->start();
  resolver->stop();
  EXPECT_TRUE(resolver->isFinished());
  runLoopFor(0.5);
  EXPECT_TRUE(recorder->events.empty());
  resolver->stop();  // again: harmless
}

TEST_F(SRVResolverNet, DelegateStopsTheResolverInsideTheFirstResult) {
  recorder->onResult = [](SRVResolver& r) { r.stop(); };
  auto resolver = SRVResolver::create("_autodiscover._tcp.three.test", 33);
  resolver->setDelegate(recorder);
  resolver->start();
  ASSERT_TRUE(waitFor([&] { return !recorder->results.empty(); }));
  runLoopFor(0.3);
  EXPECT_EQ(recorder->results.size(), 1u);
  EXPECT_TRUE(recorder->stops.empty());
  EXPECT_TRUE(resolver->isFinished());
}

TEST_F(SRVResolverNet, DelegateDropsTheResolverInsideTheFirstResult) {
  auto resolver = SRVResolver::create("_autodiscover._tcp.three.test", 33);
  recorder->onResult = [&resolver](SRVResolver&) { resolver.reset(); };
  resolver->setDelegate(recorder);
  resolver->start();
  ASSERT_TRUE(waitFor([&] { return !recorder->results.empty(); }));
  runLoopFor(0.3);
  EXPECT_FALSE(resolver);
  EXPECT_EQ(recorder->results.size(), 1u);
  EXPECT_TRUE(recorder->stops.empty());
}

TEST_F(SRVResolverNet, DestroyingARunningResolverStopsItAndAGoneDelegateIsNotCalled) {
  {
    auto resolver = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
    resolver->setDelegate(recorder);
    resolver->start();
  }
  auto resolver = SRVResolver::create("_autodiscover._tcp.srv.test", 33);
  {
    auto gone = std::make_shared<Recorder>();
    resolver->setDelegate(gone);
  }
  resolver->start();
  ASSERT_TRUE(waitFor([&] { return resolver->isFinished(); }));
  EXPECT_EQ(resolver->results().size(), 1u);
  runLoopFor(0.3);
  EXPECT_TRUE(recorder->events.empty());
}

}  // namespace
}  // namespace wd
