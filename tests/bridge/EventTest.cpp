// DOM event dispatch into a page through Event, checked in a real JavaScriptCore context.
#include <gtest/gtest.h>

#include <cmath>

#include "bridge/Event.h"
#include "bridge/testing/JscHarness.h"

namespace wd::bridge {
namespace {

TEST(EventScript, BuildsTheExactTemplate) {
  EXPECT_EQ(Event::script("sleep", Json::object(), "document"),
            "var e = document.createEvent('Events'); e.initEvent('sleep', true, false);  "
            "e.data={}; document.dispatchEvent(e);");
  EXPECT_EQ(Event::script("minimized", std::nullopt, "window"),
            "var e = document.createEvent('Events'); e.initEvent('minimized', true, false);  "
            "e.data=(null); window.dispatchEvent(e);");
  // Unrepresentable data gives (null).
  EXPECT_EQ(Event::script("x", Json::array({std::nan("")}), "document"),
            "var e = document.createEvent('Events'); e.initEvent('x', true, false);  "
            "e.data=(null); document.dispatchEvent(e);");
  // The payload is the pretty-printed JSON text.
  const std::string s = Event::script("n", Json{{"url", "mailto:a@b"}}, "document");
  EXPECT_NE(s.find("e.data={\n"), std::string::npos) << s;
}

class EventDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    page.evaluate(
        "window.seen = [];"
        "['document', 'window'].forEach(function (name) {"
        "  var target = name === 'document' ? document : window;"
        "  ['a', 'resize', 'n'].forEach(function (type) {"
        "    target.addEventListener(type, function (e) {"
        "      window.seen.push({on: name, type: e.type, data: e.data}); });"
        "  });"
        "});");
  }
  Json seen() { return page.evaluate("window.seen").value_or(Json()); }
  testing::JscHarness page;
};

TEST_F(EventDispatch, OnDocumentReachesDocumentAndBubblesToWindow) {
  Event::triggerEvent("a", Json{{"url", "mailto:x@y.z"}}, &page);
  auto s = seen();
  ASSERT_EQ(s.size(), 2u) << s.dump();
  EXPECT_EQ(s[0]["on"], "document");
  EXPECT_EQ(s[1]["on"], "window");
  EXPECT_EQ(s[0]["data"]["url"], "mailto:x@y.z");
}

TEST_F(EventDispatch, OnWindowReachesOnlyWindow) {
  Event::triggerEvent("resize", Json{{"width", 10}, {"height", 20}, {"fullscreen", false}},
                      "window", &page);
  auto s = seen();
  ASSERT_EQ(s.size(), 1u) << s.dump();
  EXPECT_EQ(s[0]["on"], "window");
  EXPECT_EQ(s[0]["data"]["height"], 20);
}

TEST_F(EventDispatch, DataDefaultsAndUnserialisableData) {
  Event::triggerEvent("a", &page);  // empty object
  Event::triggerEvent("n", std::nullopt, &page);
  Event::triggerEvent("n", Json::array({std::nan("")}), &page);
  Event::triggerEvent("n", Json::array({std::string("\xff")}), &page);  // invalid UTF-8
  auto s = seen();
  ASSERT_EQ(s.size(), 8u) << s.dump();
  EXPECT_EQ(s[0]["data"], Json::object());
  for (int i : {2, 4, 6}) EXPECT_TRUE(s[i]["data"].is_null()) << s.dump();
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
  auto s = seen();
  ASSERT_EQ(s.size(), 1u) << s.dump();
  EXPECT_EQ(s[0]["type"], "a'b\\c\n");
  EXPECT_EQ(page.evaluate("typeof window.pwned"), Json("undefined"));
  EXPECT_FALSE(page.lastException());
  EXPECT_EQ(Event::script("x", Json::object(), "window.top"), "");
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
