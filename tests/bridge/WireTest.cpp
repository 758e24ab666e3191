// Naming rule, native values, UTF-16 conversion and the wire codec.
#include <glib.h>
#include <gtest/gtest.h>

#include <cmath>

#include "TestObjects.h"
#include "bridge/Exports.h"
#include "bridge/ScriptObjectRegistry.h"
#include "bridge/wire/Utf.h"
#include "bridge/wire/Wire.h"

namespace wd::bridge {
namespace {

TEST(NamingRule, ExamplesFromTheExportsProtocols) {
  EXPECT_EQ(scriptNameForSelector("addBadge:"), "addBadge");
  EXPECT_EQ(scriptNameForSelector("showNotification:id:callback:"), "showNotificationIdCallback");
  EXPECT_EQ(scriptNameForSelector("autodiscovery:password:server:"), "autodiscoveryPasswordServer");
  EXPECT_EQ(scriptNameForSelector("get:ofType:__JS_EXPORT_AS__get:"), "get");
  EXPECT_EQ(scriptNameForSelector("setCustomUserAgent:__JS_EXPORT_AS__setUserAgent:"),
            "setUserAgent");
  EXPECT_EQ(scriptNameForSelector("defaultLineHeightForFont:ofSize:__JS_EXPORT_AS__getLineHeight:"),
            "getLineHeight");
  EXPECT_EQ(scriptNameForSelector("createTask:withCallback:__JS_EXPORT_AS__create:"), "create");
  EXPECT_EQ(scriptNameForSelector("launch"), "launch");
  EXPECT_EQ(nativeSelector("get:ofType:__JS_EXPORT_AS__get:"), "get:ofType:");
  EXPECT_EQ(selectorArity("get:ofType:__JS_EXPORT_AS__get:"), 2u);
  EXPECT_EQ(selectorArity("launch"), 0u);
}

TEST(Values, JsonConversions) {
  Value v = Value::fromJson(Json::parse(R"({"a":[1,null,"x"],"b":{"c":true}})"));
  EXPECT_EQ(v["a"].asArray()->size(), 3u);
  EXPECT_TRUE(v["b"]["c"].asBool().value());
  EXPECT_TRUE(v["missing"].isUndefined());
  Dictionary d{{"keep", 1}, {"gone", Value()}, {"obj", std::make_shared<test::Root>()}};
  d.set("list", ValueArray{Value(), Value("s")});
  EXPECT_EQ(Value(d).toJson(), Json::parse(R"({"keep":1,"obj":null,"list":[null,"s"]})"));
  EXPECT_FALSE(Value().toJson());
  EXPECT_EQ(Value(nullptr).toJson(), Json());
  EXPECT_TRUE(Value(std::shared_ptr<test::Root>()).isUndefined());
  EXPECT_TRUE(Value(ScriptValue()).isUndefined());
  // Dates as a page Date's toJSON gives them, in UTC with milliseconds.
  using std::chrono::milliseconds;
  const Value::Date when{milliseconds(1796635800123)};
  EXPECT_EQ(Value(Dictionary{{"at", when}}).toJson(),
            Json::parse(R"({"at":"2026-12-07T09:30:00.123Z"})"));
  EXPECT_EQ(Value(Value::Date{milliseconds(-1)}).toJson(), Json("1969-12-31T23:59:59.999Z"));
  EXPECT_EQ(Value(when).asDate(), when);
  EXPECT_FALSE(Value(1.0).asDate());
}

TEST(Registry, MakesConfiguredClassesByName) {
  auto& registry = ScriptObjectRegistry::shared();
  registry.registerClass<test::DesktopCommand>("DesktopCommand");
  auto obj = registry.create("DesktopCommand", nullptr);
  ASSERT_TRUE(obj);
  EXPECT_EQ(std::dynamic_pointer_cast<Command>(obj)->exportName(), "DesktopCommand");
  EXPECT_EQ(registry.create("NoSuchClass", nullptr), nullptr);
  registry.registerClass("Broken",
                         [](std::shared_ptr<WindowHandle>) -> std::shared_ptr<ScriptObject> {
                           throw std::runtime_error("cannot");
                         });
  EXPECT_EQ(registry.create("Broken", nullptr), nullptr);
  registry.unregisterClass("Broken");
  registry.unregisterClass("DesktopCommand");
}

TEST(Utf, LengthSafeRoundTrip) {
  const std::u16string text = {u'a', 0, 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0xFFFF};
  const std::string utf8 = wire::utf16ToUtf8(text.data(), text.size());
  EXPECT_EQ(utf8.size(), 1u + 1 + 3 + 1 + 3 + 4 + 3);
  EXPECT_EQ(wire::utf8ToUtf16(utf8), text);
  // Invalid UTF-8 becomes replacement characters, never a crash or a lost tail.
  EXPECT_EQ(wire::utf8ToUtf16("a\xff"
                              "b\xe2\x82"),
            (std::u16string{u'a', 0xFFFD, u'b', 0xFFFD, 0xFFFD}));
  EXPECT_EQ(wire::utf8ToUtf16("\xc0\xaf"), (std::u16string{0xFFFD, 0xFFFD}));
}

// What native code receives is valid UTF-8 that GLib accepts; valid text is left alone (NULs
// included) and a cut never splits a character.
TEST(Utf, RepairAndCutGiveValidText) {
  const std::pair<std::string, std::string> repairs[] = {
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
      {"a\xED\xA0\x80"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                     // lone high surrogate
      {"\xED\xB0\x80\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // low then high
      {"\xFF\x80\x80x", "\xEF\xBF\xBDx"},
      {"\xC0\xAF", "\xEF\xBF\xBD"},          // overlong
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD"},  // past U+10FFFF
      {"\xE2\x82", "\xEF\xBF\xBD"},          // cut short
  };
  for (auto [text, expected] : repairs) {
    wire::repairUtf8(text);
    EXPECT_EQ(text, expected);
    EXPECT_TRUE(g_utf8_validate_len(text.data(), text.size(), nullptr) ||
                text.find('\0') != std::string::npos);
  }
  EXPECT_EQ(wire::utf8Prefix("abc", 3), "abc");
  EXPECT_EQ(wire::utf8Prefix("ab\xE2\x82\xAC", 4), "ab");
  EXPECT_EQ(wire::utf8Prefix("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(wire::utf8Prefix("\xF0\x9F\x98\x80", 3), "");
}

wire::Message roundTrip(const wire::Message& m) {
  const std::string frame = wire::encodeFrame(m);
  EXPECT_EQ(wire::frameLength(frame.data()), frame.size() - 4);
  wire::Message out;
  EXPECT_TRUE(wire::decodeMessage(std::string_view(frame).substr(4), out));
  return out;
}

TEST(WireCodec, RoundTripsEveryValueKind) {
  wire::Message m;
  m.type = wire::MsgType::Call;
  m.callId = 7;
  m.pageId = 1ull << 40;
  m.objectId = 3;
  m.classId = 9;
  m.member = 2;
  m.op = wire::CallOp::Set;
  wire::WValue obj{wire::Tag::Object};
  obj.entries.emplace_back(std::string("k\0ey", 4), wire::WValue::str(std::string("v\0", 2)));
  obj.entries.emplace_back("r", wire::WValue::ref(5, 6));
  wire::WValue arr{wire::Tag::Array};
  arr.items = {wire::WValue::null(),
               wire::WValue::boolean(true),
               wire::WValue::num(-0.5),
               wire::WValue::handle(11),
               obj,
               wire::WValue::date(-1234.0)};
  m.values = {wire::WValue{}, arr};
  wire::Message out = roundTrip(m);
  EXPECT_EQ(out.callId, 7u);
  EXPECT_EQ(out.pageId, 1ull << 40);
  EXPECT_EQ(out.op, wire::CallOp::Set);
  ASSERT_EQ(out.values.size(), 2u);
  const auto& a = out.values[1].items;
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a[2].number, -0.5);
  EXPECT_EQ(a[3].id, 11u);
  EXPECT_EQ(a[4].entries[0].first, std::string("k\0ey", 4));
  EXPECT_EQ(a[4].entries[0].second.text, std::string("v\0", 2));
  EXPECT_EQ(a[4].entries[1].second.classId, 6u);
  EXPECT_EQ(a[5].tag, wire::Tag::Date);
  EXPECT_EQ(a[5].number, -1234.0);

  wire::Message cls;
  cls.type = wire::MsgType::ClassDef;
  cls.cls.id = 4;
  cls.cls.name = "Menu";
  cls.cls.members.push_back({2, "getKeyFromString", true, {0}});
  wire::Message c2 = roundTrip(cls);
  EXPECT_EQ(c2.cls.members[0].name, "getKeyFromString");
  EXPECT_EQ(c2.cls.members[0].kind, 2);
}

TEST(WireCodec, RefusesMalformedInput) {
  wire::Message m;
  m.type = wire::MsgType::Reply;
  m.callId = 1;
  m.values = {wire::WValue::str("hello")};
  const std::string frame = wire::encodeFrame(m);
  const std::string_view payload = std::string_view(frame).substr(4);
  wire::Message out;
  for (std::size_t n = 0; n < payload.size(); ++n)
    EXPECT_FALSE(wire::decodeMessage(payload.substr(0, n), out)) << n;
  EXPECT_FALSE(wire::decodeMessage(std::string(payload) + "x", out));  // trailing bytes
  // A forged element count larger than the input is refused before allocating.
  std::string forged("\x15\x01\0\0\0\0\0\0\0\xff\xff\xff\xff", 13);
  EXPECT_FALSE(wire::decodeMessage(forged, out));
  // Nesting beyond the limit is refused.
  std::string deep("\x15\x01\0\0\0\0\0\0\0\x01\0\0\0", 13);
  for (int i = 0; i < 200; ++i) deep += std::string("\x06\x01\0\0\0", 5);
  deep += '\0';
  EXPECT_FALSE(wire::decodeMessage(deep, out));
  EXPECT_FALSE(wire::decodeMessage(std::string("\x63", 1), out));  // unknown type
  // Dates outside the page's range, or not a number, are refused.
  for (double bad : {double(NAN), double(INFINITY), wire::kMaxDateMs * 2, -wire::kMaxDateMs - 1}) {
    m.values = {wire::WValue::date(bad)};
    const std::string f = wire::encodeFrame(m);
    EXPECT_FALSE(wire::decodeMessage(std::string_view(f).substr(4), out)) << bad;
  }
  m.values = {wire::WValue::date(wire::kMaxDateMs)};
  const std::string edge = wire::encodeFrame(m);
  EXPECT_TRUE(wire::decodeMessage(std::string_view(edge).substr(4), out));
  EXPECT_FALSE(wire::decodeMessage({}, out));
}

TEST(WireLimits, DecoderRefusesMoreValuesThanTheBudget) {
  // Small frames whose counts promise more values than allowed: refused before allocating.
  wire::Message m;
  m.type = wire::MsgType::Reply;
  m.callId = 1;
  wire::WValue arr{wire::Tag::Array};
  arr.items.resize(wire::kMaxValues);  // + the array itself: one too many
  m.values.push_back(std::move(arr));
  std::string payload = wire::encodeFrame(m).substr(4);
  wire::Message out;
  EXPECT_FALSE(wire::decodeMessage(payload, out));
  m.values[0].items.pop_back();
  payload = wire::encodeFrame(m).substr(4);
  EXPECT_TRUE(wire::decodeMessage(payload, out));
  EXPECT_EQ(wire::countValues(out.values), wire::kMaxValues);
}

}  // namespace
}  // namespace wd::bridge
