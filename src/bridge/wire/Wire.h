#pragma once
// The bridge protocol between the web process (page side) and the UI process (host side):
// length-prefixed binary frames over one Unix stream socket per web process (or an in-process
// queue in the test harness). Every value and string carries its length; nothing is
// NUL-terminated. See docs/architecture.md for the message list.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wd::bridge::wire {

// Largest frame either side accepts; larger input is refused (the call answers undefined).
inline constexpr std::size_t kMaxFrame = 64u * 1024u * 1024u;
// Deepest value nesting the page side converts and the decoder accepts.
inline constexpr int kMaxDepth = 64;
// Most values one message may carry (all nesting levels together). The page side refuses to send
// more; the decoder refuses more, so a small frame cannot make the receiver build a huge tree.
inline constexpr std::size_t kMaxValues = 1u << 20;

enum class Tag : std::uint8_t {
  Undefined = 0,
  Null = 1,
  False = 2,
  True = 3,
  Number = 4,
  String = 5,
  Array = 6,
  Object = 7,
  Ref = 8,     // a native object: id + class id
  Handle = 9,  // a page value held in the web process for the host
  Date = 10,   // a point in time: milliseconds since 1970-01-01 UTC (number), finite, within
               // the page's date range (kMaxDateMs)
};

// The page's date range: at most this many milliseconds either side of 1970-01-01 UTC.
inline constexpr double kMaxDateMs = 8.64e15;

struct WEntry;

struct WValue {
  Tag tag = Tag::Undefined;
  double number = 0;            // Number, Date
  std::uint64_t id = 0;         // Ref, Handle
  std::uint32_t classId = 0;    // Ref
  std::string text;             // String (UTF-8 / WTF-8)
  std::vector<WValue> items;    // Array
  std::vector<WEntry> entries;  // Object

  static WValue undefined();
  static WValue null();
  static WValue boolean(bool b);
  static WValue num(double d);
  static WValue str(std::string s);
  static WValue ref(std::uint64_t id, std::uint32_t classId);
  static WValue handle(std::uint64_t id);
  static WValue date(double ms);
};

// One key and value of an Object.
struct WEntry {
  WEntry() = default;
  WEntry(std::string key, WValue value) : first(std::move(key)), second(std::move(value)) {}
  std::string first;
  WValue second;
};

inline WValue WValue::undefined() {
  return WValue();
}
inline WValue WValue::null() {
  WValue v;
  v.tag = Tag::Null;
  return v;
}
inline WValue WValue::boolean(bool b) {
  WValue v;
  v.tag = b ? Tag::True : Tag::False;
  return v;
}
inline WValue WValue::num(double d) {
  WValue v;
  v.tag = Tag::Number;
  v.number = d;
  return v;
}
inline WValue WValue::str(std::string s) {
  WValue v;
  v.tag = Tag::String;
  v.text = std::move(s);
  return v;
}
inline WValue WValue::ref(std::uint64_t id, std::uint32_t classId) {
  WValue v;
  v.tag = Tag::Ref;
  v.id = id;
  v.classId = classId;
  return v;
}
inline WValue WValue::handle(std::uint64_t id) {
  WValue v;
  v.tag = Tag::Handle;
  v.id = id;
  return v;
}

inline WValue WValue::date(double ms) {
  WValue v;
  v.tag = Tag::Date;
  v.number = ms;
  return v;
}

enum class MsgType : std::uint8_t {
  // page -> host
  Hello = 1,           // text: token
  ContextCreated = 2,  // callId, pageId, text: document URL; answered by Reply
  Call = 3,            // callId, pageId, objectId, classId, member, op, values: arguments
  ReleaseObjects = 4,  // releases: (objectId, reference count)
  FrameLoaded = 5,     // pageId, flag: main frame, text: URL
  Ping = 6,            // callId; answered by Pong at once
  // host -> page
  ClassDef = 20,        // cls
  Reply = 21,           // callId, values[0]: result
  Evaluate = 22,        // pageId, text: script
  CallHandle = 23,      // pageId, handleId, values: arguments
  CallGlobal = 24,      // pageId, text: function name, values: arguments
  ReleaseHandles = 25,  // ids
  Pong = 26,            // callId
};

enum class CallOp : std::uint8_t { Invoke = 0, Get = 1, Set = 2 };

struct MemberDesc {
  std::uint8_t kind = 0;  // 0 method, 1 property, 2 class-level method, 3 window-opening method
  std::string name;       // script name
  bool readOnly = true;
  std::vector<std::uint8_t> params;  // declared types (ParamType values)
};

struct ClassDesc {
  std::uint32_t id = 0;
  std::string name;
  std::vector<MemberDesc> members;
};

struct Message {
  MsgType type = MsgType::Ping;
  std::uint64_t callId = 0;
  std::uint64_t pageId = 0;
  std::uint64_t objectId = 0;
  std::uint64_t handleId = 0;
  std::uint32_t classId = 0;
  std::uint32_t member = 0;
  CallOp op = CallOp::Invoke;
  bool flag = false;
  std::string text;
  std::vector<WValue> values;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> releases;
  std::vector<std::uint64_t> ids;
  ClassDesc cls;
};

// The whole frame (4-byte little-endian length, then the payload).
std::string encodeFrame(const Message& message);
// Decodes one payload (without the length prefix). False on malformed or oversized input
// (including more than kMaxValues values or nesting deeper than kMaxDepth).
bool decodeMessage(std::string_view payload, Message& out);
// Calls `f(ref)` for every Ref in `v`, all nesting levels included.
template <class F>
void forEachRef(const WValue& v, F&& f) {
  if (v.tag == Tag::Ref) f(v);
  for (const auto& e : v.items) forEachRef(e, f);
  for (const auto& e : v.entries) forEachRef(e.second, f);
}

// Number of values in `values`, all nesting levels counted (as the decoder counts them).
std::size_t countValues(const std::vector<WValue>& values);
// Reads the length prefix of a frame.
std::uint32_t frameLength(const char* prefix4);

}  // namespace wd::bridge::wire
