#include <gtest/gtest.h>

#include "core/NotificationCenter.h"

TEST(NotificationCenterTest, DeliversByNameWithObject) {
  wd::NotificationCenter center;
  std::vector<wd::Json> seen;
  auto token = center.addObserver("accountWebDiscovery",
                                  [&](const wd::Notification& n) { seen.push_back(n.object); });
  center.post("other");
  center.post("accountWebDiscovery", {{"result", "success"}});
  center.post("accountWebDiscovery");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0]["result"], "success");
  EXPECT_TRUE(seen[1].is_null());
}

TEST(NotificationCenterTest, ObserverGoneWhenTokenDestroyed) {
  wd::NotificationCenter center;
  int calls = 0;
  auto token = center.addObserver("x", [&](const wd::Notification&) { ++calls; });
  center.post("x");
  token.reset();
  center.post("x");
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserversMayRemoveThemselvesAndOthersWhilePosted) {
  wd::NotificationCenter center;
  wd::NotificationCenter::Token first, second, late;
  int firstCalls = 0, secondCalls = 0;
  first = center.addObserver("x", [&](const wd::Notification&) {
    ++firstCalls;
    first.reset();
    second.reset();  // the second observer must not run after being dropped
    late = center.addObserver("x", [](const wd::Notification&) {});
  });
  second = center.addObserver("x", [&](const wd::Notification&) { ++secondCalls; });
  center.post("x");
  center.post("x");
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenterTest, EmptyNameObservesEverything) {
  wd::NotificationCenter center;
  std::vector<std::string> names;
  auto token = center.addObserver("", [&](const wd::Notification& n) { names.push_back(n.name); });
  center.post("a");
  center.post("b");
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
}
