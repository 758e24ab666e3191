// The resolver against a real dnsmasq (network sandbox): batches, CNAME steps, errors, stop and
// restart, and delegates that stop or drop the resolver from inside their reports.
#include <gtest/gtest.h>

#include "NetworkSandbox.h"
#include "autodiscover/SRVResolver.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::runLoopFor;
using test::waitFor;
using Events = std::vector<std::string>;
const char* const kSrv = "_autodiscover._tcp.srv.test";
const char* const kThree = "_autodiscover._tcp.three.test";

struct Recorder : SRVResolverDelegate {
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
  Events events;
  std::vector<SRVResult> results;
  std::vector<std::optional<SRVResolverError>> stops;
  std::function<void(SRVResolver&)> onResult;
};

class SRVResolverNet : public ::testing::Test {
 protected:
  void SetUp() override { WD_REQUIRE_NETWORK_SANDBOX(); }
  // A resolver for `name` reporting to a fresh recorder, started; `wait`: until it stopped.
  std::shared_ptr<SRVResolver> run(const std::string& name, int type = 33, bool wait = true) {
    recorder = std::make_shared<Recorder>();
    auto resolver = SRVResolver::create(name, type);
    resolver->setDelegate(recorder);
    resolver->start();
    EXPECT_TRUE(!wait || waitFor([&] { return !recorder->stops.empty(); }));
    return resolver;
  }
  static SRVResolverError error(int code) { return {"kSRVResolverErrorDomain", code}; }
  std::shared_ptr<Recorder> recorder;
};

// One answer: one result, then a successful end. A CNAME step gives no result of its own, only
// the records behind it; MX answers give the preference and the exchange. A batch of three
// gives three results in the order dnsmasq sends them (1002, 1003, 1001: sorted by no field).
// Failures carry the DNS service codes.
TEST_F(SRVResolverNet, AnswersGiveResultsInDeliveryOrderThenOneEndAndFailuresTheirCodes) {
  const struct {
    const char* name;
    int type;
    std::vector<SRVResult> results;
  } cases[] = {
      {kSrv, 33, {{0, 0, 8443, "h.srv.test"}}},
      {"_autodiscover._tcp.cname.test", 33, {{0, 0, 8443, "h.srv.test"}}},
      {"mx.test", 15, {{10, 0, 0, "m.mx.test"}}},
      {kThree,
       33,
       {{1, 2, 1002, "two.three.test"},
        {1, 2, 1003, "three.three.test"},
        {1, 2, 1001, "one.three.test"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto resolver = run(c.name, c.type);
    Events expected;
    for (const auto& r : c.results) expected.push_back("result:" + r.target);
    expected.push_back("stop");
    EXPECT_EQ(recorder->events, expected);
    EXPECT_EQ(recorder->results, c.results);
    EXPECT_EQ(recorder->stops, (std::vector<std::optional<SRVResolverError>>{std::nullopt}));
    EXPECT_TRUE(resolver->isFinished());
    EXPECT_FALSE(resolver->error());
    EXPECT_EQ(resolver->results(), recorder->results);
  }
  // No such name; a name that exists with an address only; bad names fail before start returns.
  auto nx = run("_autodiscover._tcp.nothing.test");
  EXPECT_EQ(recorder->stops, (std::vector<std::optional<SRVResolverError>>{error(-65538)}));
  EXPECT_EQ(nx->error(), error(-65538));
  EXPECT_TRUE(nx->isFinished());
  run("none.test");
  EXPECT_EQ(recorder->stops, (std::vector<std::optional<SRVResolverError>>{error(-65554)}));
  EXPECT_TRUE(recorder->results.empty());
  for (const std::string& name : {std::string(), std::string("bad\xFF.test"),
                                  std::string("nul\0.test", 9), std::string(64, 'a') + ".test"}) {
    auto resolver = run(name, 33, false);
    EXPECT_EQ(recorder->stops, (std::vector<std::optional<SRVResolverError>>{error(-65540)}));
    EXPECT_TRUE(resolver->isFinished());
  }
}

TEST_F(SRVResolverNet, StartStopRestartAndDelegatesThatStopOrDropTheResolver) {
  auto resolver = run(kSrv, 33, false);
  resolver->start();  // while running: no second query
  ASSERT_TRUE(waitFor([&] { return !recorder->stops.empty(); }));
  runLoopFor(0.3);
  EXPECT_EQ(recorder->stops.size(), 1u);
  EXPECT_EQ(resolver->results().size(), 1u);
  resolver->start();
  EXPECT_FALSE(resolver->isFinished());
  ASSERT_TRUE(waitFor([&] { return recorder->stops.size() == 2; }));
  ASSERT_EQ(resolver->results().size(), 2u);
  EXPECT_EQ(resolver->results()[0], resolver->results()[1]);

  // A stop during a query tells no one (and again is harmless); so does destroying a running
  // resolver.
  auto stopped = run(kSrv, 33, false);
  stopped->stop();
  EXPECT_TRUE(stopped->isFinished());
  stopped->stop();
  auto told = recorder;
  run(kSrv, 33, false).reset();
  runLoopFor(0.5);
  EXPECT_TRUE(told->events.empty());
  EXPECT_TRUE(recorder->events.empty());

  // The delegate stops or drops the resolver inside the first result.
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropped" : "stopped");
    std::shared_ptr<SRVResolver> dropping;
    auto next = std::make_shared<Recorder>();
    next->onResult = [&dropping, drop](SRVResolver& r) { drop ? dropping.reset() : r.stop(); };
    dropping = SRVResolver::create(kThree, 33);
    dropping->setDelegate(next);
    dropping->start();
    ASSERT_TRUE(waitFor([&] { return !next->results.empty(); }));
    runLoopFor(0.3);
    EXPECT_EQ(next->results.size(), 1u);
    EXPECT_TRUE(next->stops.empty());
    EXPECT_TRUE(drop ? !dropping : dropping->isFinished());
  }

  // A gone delegate is not called.
  auto orphan = run(kSrv, 33, false);
  recorder.reset();
  ASSERT_TRUE(waitFor([&] { return orphan->isFinished(); }));
  EXPECT_EQ(orphan->results().size(), 1u);
}

}  // namespace
}  // namespace wd
