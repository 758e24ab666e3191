#pragma once
// A native value crossing the script bridge: what a member receives from the page and what it
// returns. Mirrors the page's values: undefined (none), null, booleans, numbers, strings, arrays,
// plain objects (ordered string keys), native script objects, script values (page functions
// and other page values held by handle) and dates (a page Date; an invalid Date arrives as null,
// and one outside what the system clock can hold, about the years 1678 to 2262, too).
//
// Strings are UTF-8; a lone UTF-16 surrogate of the page is kept as its 3-byte generalised UTF-8
// form (WTF-8), so page strings survive a round trip unchanged, NUL characters included.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/ScriptValue.h"
#include "core/Json.h"

namespace wd::bridge {

class ScriptObject;
class Value;

using ValueArray = std::vector<Value>;

// A plain object: string keys in the page's enumeration order.
class Dictionary {
 public:
  Dictionary() = default;
  Dictionary(std::initializer_list<std::pair<std::string, Value>> entries);

  // The value under `key`, or nullptr.
  const Value* find(const std::string& key) const;
  // The value under `key`, or undefined.
  const Value& get(const std::string& key) const;
  bool contains(const std::string& key) const { return find(key) != nullptr; }
  bool operator==(const Dictionary& other) const;
  // Sets (replaces in place, or appends).
  void set(const std::string& key, Value value);
  bool empty() const;
  std::size_t size() const;
  const std::vector<std::pair<std::string, Value>>& entries() const { return entries_; }
  std::vector<std::pair<std::string, Value>>& entries() { return entries_; }

 private:
  std::vector<std::pair<std::string, Value>> entries_;
};

struct Undefined {
  bool operator==(const Undefined&) const = default;
};
struct Null {
  bool operator==(const Null&) const = default;
};

class Value {
 public:
  using Date = std::chrono::system_clock::time_point;
  enum class Kind {
    Undefined,
    Null,
    Bool,
    Number,
    String,
    Array,
    Dictionary,
    Object,
    Script,
    Date
  };

  Value() = default;                     // undefined
  Value(Undefined) {}                    // undefined
  Value(Null) : v_(Null{}) {}            // null
  Value(std::nullptr_t) : v_(Null{}) {}  // null
  Value(bool b) : v_(b) {}
  Value(double d) : v_(d) {}
  Value(int i) : v_(static_cast<double>(i)) {}
  Value(unsigned i) : v_(static_cast<double>(i)) {}
  Value(long i) : v_(static_cast<double>(i)) {}
  Value(unsigned long i) : v_(static_cast<double>(i)) {}
  Value(long long i) : v_(static_cast<double>(i)) {}
  Value(unsigned long long i) : v_(static_cast<double>(i)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(ValueArray a) : v_(std::move(a)) {}
  Value(Dictionary d) : v_(std::move(d)) {}
  Value(std::shared_ptr<ScriptObject> o);  // null pointer gives undefined
  template <class T, class = std::enable_if_t<std::is_base_of_v<ScriptObject, T>>>
  Value(std::shared_ptr<T> o) : Value(std::static_pointer_cast<ScriptObject>(std::move(o))) {}
  Value(ScriptValue s);  // an empty script value gives undefined
  Value(Date d) : v_(d) {}
  template <class T>
  Value(const std::optional<T>& o) : Value(o ? Value(*o) : Value()) {}

  // JSON trees: null, booleans, numbers, strings, arrays, objects.
  static Value fromJson(const Json& json);

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isUndefined() const { return kind() == Kind::Undefined; }
  bool isNull() const { return kind() == Kind::Null; }
  bool isNone() const { return isUndefined() || isNull(); }
  bool isBool() const { return kind() == Kind::Bool; }
  bool isNumber() const { return kind() == Kind::Number; }
  bool isString() const { return kind() == Kind::String; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isDictionary() const { return kind() == Kind::Dictionary; }
  bool isObject() const { return kind() == Kind::Object; }
  bool isScript() const { return kind() == Kind::Script; }
  bool isDate() const { return kind() == Kind::Date; }

  // Typed reads: none when the value is of another kind.
  std::optional<bool> asBool() const;
  std::optional<double> asNumber() const;
  const std::string* asString() const;
  const ValueArray* asArray() const;
  const Dictionary* asDictionary() const;
  std::shared_ptr<ScriptObject> asObject() const;
  template <class T>
  std::shared_ptr<T> asObject() const {
    return std::dynamic_pointer_cast<T>(asObject());
  }
  std::optional<Date> asDate() const;
  // A script value for Script values; an empty one otherwise.
  ScriptValue asScript() const;

  // Dictionary member or undefined (for non-dictionaries too).
  const Value& operator[](const std::string& key) const;

  // The value as JSON: undefined gives none at the top level, is left out of objects and
  // becomes null inside arrays (as JSON.stringify does); native objects and script values
  // become null; dates become their ISO 8601 text in UTC ("2026-12-07T09:30:00.000Z", as a
  // page Date's toJSON gives); non-finite numbers stay numbers (JSONString then refuses them).
  std::optional<Json> toJson() const;

  bool operator==(const Value& other) const;

 private:
  std::variant<Undefined, Null, bool, double, std::string, ValueArray, Dictionary,
               std::shared_ptr<ScriptObject>, ScriptValue, Date>
      v_;
};

const Value& undefinedValue();

inline bool Dictionary::empty() const {
  return entries_.empty();
}
inline std::size_t Dictionary::size() const {
  return entries_.size();
}

}  // namespace wd::bridge
