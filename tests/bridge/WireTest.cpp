// Native values, the class registry, UTF-16 conversion and the wire codec.
#include <glib.h>
#include <gtest/gtest.h>

#include "TestObjects.h"
#include "bridge/ScriptObjectRegistry.h"
#include "bridge/wire/Utf.h"

namespace wd::bridge {
namespace {

using wire::Message;
using wire::MsgType;
using wire::WValue;

TEST(Values, JsonConversionsAndTheRegistry) {
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
  const Value::Date when{std::chrono::milliseconds(1796635800123)};
  EXPECT_EQ(Value(Dictionary{{"at", when}}).toJson(),
            Json::parse(R"({"at":"2026-12-07T09:30:00.123Z"})"));
  EXPECT_EQ(Value(Value::Date{std::chrono::milliseconds(-1)}).toJson(), "1969-12-31T23:59:59.999Z");
  EXPECT_EQ(Value(when).asDate(), when);
  EXPECT_FALSE(Value(1.0).asDate());

  // The registry makes configured classes by name; a failing factory makes nothing.
  auto& registry = ScriptObjectRegistry::shared();
  registry.registerClass<test::Probe>("Probe");
  auto obj = registry.create("Probe", nullptr);
  ASSERT_TRUE(obj);
  EXPECT_EQ(std::dynamic_pointer_cast<Command>(obj)->exportName(), "Probe");
  EXPECT_EQ(registry.create("NoSuchClass", nullptr), nullptr);
  registry.registerClass(
      "Broken", [](auto) -> std::shared_ptr<ScriptObject> { throw std::runtime_error("cannot"); });
  EXPECT_EQ(registry.create("Broken", nullptr), nullptr);
  registry.unregisterClass("Broken");
  registry.unregisterClass("Probe");
}

// UTF-16 round trips keep every unit; what native code receives is valid UTF-8 that GLib accepts
// (invalid input becomes replacement characters, never a crash or a lost tail); valid text is
// left alone (NULs included) and a cut never splits a character.
TEST(Utf, ConversionRepairAndCut) {
  const std::u16string units = {u'a', 0, 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0xFFFF};
  const std::string utf8 = wire::utf16ToUtf8(units.data(), units.size());
  EXPECT_EQ(utf8.size(), 1u + 1 + 3 + 1 + 3 + 4 + 3);
  EXPECT_EQ(wire::utf8ToUtf16(utf8), units);
  EXPECT_EQ(wire::utf8ToUtf16("a\xffz\xe2\x82"),
            (std::u16string{u'a', 0xFFFD, u'z', 0xFFFD, 0xFFFD}));
  EXPECT_EQ(wire::utf8ToUtf16("\xc0\xaf"), (std::u16string{0xFFFD, 0xFFFD}));
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::pair<std::string, std::string> repairs[] = {
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
      {"a\xED\xA0\x80z", "a" + r + "z"},    // lone high surrogate
      {"\xED\xB0\x80\xED\xA0\x80", r + r},  // low then high
      {"\xFF\x80\x80x", r + "x"},
      {"\xC0\xAF", r},          // overlong
      {"\xF4\x90\x80\x80", r},  // past U+10FFFF
      {"\xE2\x82", r}};         // cut short
  for (auto [text, expected] : repairs) {
    wire::repairUtf8(text);
    EXPECT_EQ(text, expected);
    EXPECT_TRUE(g_utf8_validate_len(text.data(), text.size(), nullptr) ||
                text.find('\0') != std::string::npos);
  }
  EXPECT_EQ(wire::utf8Prefix("ab\xE2\x82\xAC", 4), "ab");
  EXPECT_EQ(wire::utf8Prefix("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(wire::utf8Prefix("\xF0\x9F\x98\x80", 3), "");
}

// Decodes `m`'s frame: none if refused.
std::optional<Message> roundTrip(const Message& m) {
  const std::string frame = wire::encodeFrame(m);
  EXPECT_EQ(wire::frameLength(frame.data()), frame.size() - 4);
  Message out;
  if (!wire::decodeMessage(std::string_view(frame).substr(4), out)) return std::nullopt;
  return out;
}

// Every value kind crosses the codec both ways in the harness and endpoint cases; here what
// those never send (a page id beyond 32 bits, NULs in keys) and what the decoder refuses.
TEST(WireCodec, RoundTripsLargeIdsAndNulsInKeysAndRefusesMalformedInput) {
  WValue obj{wire::Tag::Object};
  obj.entries.emplace_back(std::string("k\0ey", 4), WValue::str(std::string("v\0", 2)));
  Message m{.type = MsgType::Call, .callId = 7, .pageId = 1ull << 40, .values = {obj}};
  const auto back = roundTrip(m);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pageId, 1ull << 40);
  ASSERT_EQ(back->values.at(0).entries.size(), 1u);
  EXPECT_EQ(back->values[0].entries[0].first, std::string("k\0ey", 4));
  EXPECT_EQ(back->values[0].entries[0].second.text, std::string("v\0", 2));
  const std::string frame = wire::encodeFrame(m);
  const std::string_view payload = std::string_view(frame).substr(4);
  Message out;
  for (std::size_t n = 0; n < payload.size(); ++n)
    EXPECT_FALSE(wire::decodeMessage(payload.substr(0, n), out)) << n;
  EXPECT_FALSE(wire::decodeMessage(std::string(payload) + "x", out));  // trailing bytes
  // A forged element count larger than the input is refused before allocating.
  EXPECT_FALSE(wire::decodeMessage(std::string("\x15\x01\0\0\0\0\0\0\0\xff\xff\xff\xff", 13), out));
  // Nesting beyond the limit is refused.
  std::string deep("\x15\x01\0\0\0\0\0\0\0\x01\0\0\0", 13);
  for (int i = 0; i < 200; ++i) deep += std::string("\x06\x01\0\0\0", 5);
  EXPECT_FALSE(wire::decodeMessage(deep + '\0', out));
  EXPECT_FALSE(wire::decodeMessage(std::string("\x63", 1), out));  // unknown type
  // Dates outside the page's range, or not a number, are refused.
  for (double bad : {double(NAN), double(INFINITY), wire::kMaxDateMs * 2, -wire::kMaxDateMs - 1}) {
    m.values = {WValue::date(bad)};
    EXPECT_FALSE(roundTrip(m)) << bad;
  }
  m.values = {WValue::date(wire::kMaxDateMs)};
  EXPECT_TRUE(roundTrip(m));
  EXPECT_FALSE(wire::decodeMessage({}, out));
  // Small frames whose counts promise more values than allowed: refused before allocating.
  m.values = {WValue{wire::Tag::Array}};
  m.values[0].items.resize(wire::kMaxValues);  // + the array itself: one too many
  EXPECT_FALSE(roundTrip(m));
  m.values[0].items.pop_back();
  const auto fits = roundTrip(m);
  ASSERT_TRUE(fits);
  EXPECT_EQ(wire::countValues(fits->values), wire::kMaxValues);
}

}  // namespace
}  // namespace wd::bridge
