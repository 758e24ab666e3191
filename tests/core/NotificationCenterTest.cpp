// The in-process notification center, and the JSON text helpers.
#include <gtest/gtest.h>

#include <limits>

#include "core/Json.h"
#include "core/NotificationCenter.h"

using wd::Json;

// Delivery by name (the empty name observes everything) until the observer's token goes.
TEST(NotificationCenterTest, DeliversByNameUntilTheTokenGoesAndObserversMayChangeWhilePosted) {
  wd::NotificationCenter center;
  std::vector<Json> seen;
  std::vector<std::string> names;
  auto token = center.addObserver("accountWebDiscovery",
                                  [&](const wd::Notification& n) { seen.push_back(n.object); });
  auto all = center.addObserver("", [&](const wd::Notification& n) { names.push_back(n.name); });
  center.post("other");
  center.post("accountWebDiscovery", {{"result", "success"}});
  center.post("accountWebDiscovery");
  token.reset();
  center.post("accountWebDiscovery");
  EXPECT_EQ(seen, (std::vector<Json>{{{"result", "success"}}, nullptr}));
  EXPECT_EQ(names, (std::vector<std::string>{"other", "accountWebDiscovery", "accountWebDiscovery",
                                             "accountWebDiscovery"}));
  // Observers may remove themselves and others, and add new ones, while a notification is posted.
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

// Text is pretty and parses back; values without a JSON form give none; parsing wants a container.
TEST(JsonText, StringAndObject) {
  const Json v = {{"url", "a@b.c"}, {"n", 3}, {"list", {1, 2}}};
  auto text = wd::JSONString(v);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find('\n'), std::string::npos);
  EXPECT_EQ(wd::JSONObject(*text), v);
  for (const Json& bad :
       {Json(std::numeric_limits<double>::quiet_NaN()), Json{{"bad", std::string("\xff\xfe")}},
        Json::array({std::numeric_limits<double>::infinity()})})
    EXPECT_FALSE(wd::JSONString(bad)) << bad.dump(-1, ' ', false, Json::error_handler_t::replace);
  EXPECT_TRUE(wd::JSONObject("[1,2]"));
  EXPECT_TRUE(wd::JSONObject("{}"));
  using namespace std::string_literals;
  for (const std::string& bad : {"\"text\""s, "12"s, "null"s, "{"s, ""s, std::string(100000, '[')})
    EXPECT_FALSE(wd::JSONObject(bad)) << bad.substr(0, 10);
}
