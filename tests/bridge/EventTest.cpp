// DOM event dispatch into a page through Event, checked in a real JavaScriptCore context.
#include <gtest/gtest.h>

#include <cmath>

#include "bridge/Event.h"
#include "bridge/testing/JscHarness.h"

namespace wd::bridge {
namespace {

class EventDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    page.evaluate(
        "window.seen = [];"
        "[document, window].forEach(function (target) {"
        "  ['a', 'resize', 'n'].forEach(function (type) {"
        "    target.addEventListener(type, function (e) { window.seen.push({"
        "      on: target === document ? 'document' : 'window', type: e.type, data: e.data,"
        "      bubbles: e.bubbles, cancelable: e.cancelable}); });"
        "  });"
        "});");
  }
  Json seen() { return page.evaluate("window.seen").value_or(Json()); }
  testing::JscHarness page;
};

// On the document an event bubbles to the window, on the window it reaches only the window; it
// cannot be cancelled, and data the page cannot take (or none) arrives as null.
TEST_F(EventDispatch, ReachesItsTargetWithItsData) {
  Event::triggerEvent("a", Json{{"url", "mailto:x@y.z"}}, &page);
  Event::triggerEvent("resize", Json{{"width", 10}, {"height", 20}, {"fullscreen", false}},
                      "window", &page);
  Event::triggerEvent("a", &page);  // an empty object
  Event::triggerEvent("n", std::nullopt, &page);
  Event::triggerEvent("n", Json::array({std::nan("")}), &page);
  Event::triggerEvent("n", Json::array({std::string("\xff")}), &page);  // invalid UTF-8
  const Json s = seen();
  ASSERT_EQ(s.size(), 11u) << s.dump();
  EXPECT_EQ(s[0], Json({{"on", "document"},
                        {"type", "a"},
                        {"data", {{"url", "mailto:x@y.z"}}},
                        {"bubbles", true},
                        {"cancelable", false}}));
  EXPECT_EQ(s[1]["on"], "window");
  EXPECT_EQ(s[1]["data"], s[0]["data"]);
  EXPECT_EQ(s[2]["on"], "window");
  EXPECT_EQ(s[2]["data"]["height"], 20);
  EXPECT_EQ(s[3]["type"], "a");
  EXPECT_EQ(s[3]["data"], Json::object());
  for (int i : {5, 7, 9}) EXPECT_TRUE(s[i]["data"].is_null()) << s.dump();
}

TEST_F(EventDispatch, NamesAndTargetsCannotInjectScript) {
  page.evaluate(
      "document.addEventListener(\"a'b\\\\c\\n\", function (e) {"
      "  window.seen.push({type: e.type}); });");
  Event::triggerEvent("a'b\\c\n", &page);
  Event::triggerEvent("x', true, false); window.pwned = 1; ('", &page);
  Event::triggerEvent("a", Json::object(), "document.dispatchEvent(e); window.pwned = 2; window",
                      &page);
  Event::triggerEvent("a", Json::object(), "", &page);
  Event::triggerEvent("a", Json::object(), "window.top", &page);
  auto s = seen();
  ASSERT_EQ(s.size(), 1u) << s.dump();
  EXPECT_EQ(s[0]["type"], "a'b\\c\n");
  EXPECT_EQ(page.evaluate("typeof window.pwned"), Json("undefined"));
  EXPECT_FALSE(page.lastException());
}

TEST_F(EventDispatch, ListenerExceptionStaysInThePage) {
  page.evaluate("document.addEventListener('a', function () { throw new Error('x'); });");
  Event::triggerEvent("a", &page);
  EXPECT_EQ(seen().size(), 2u);
  EXPECT_EQ(page.evaluate("window.__harnessErrors.length"), Json(1));
  Event::triggerEvent("a", Json::object(), nullptr);  // no page: nothing
}

}  // namespace
}  // namespace wd::bridge
