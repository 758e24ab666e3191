#include "bridge/Value.h"

#include "bridge/ScriptObject.h"

#include <cstdio>

namespace wd::bridge {

Dictionary::Dictionary(std::initializer_list<std::pair<std::string, Value>> entries)
    : entries_(entries) {}

const Value* Dictionary::find(const std::string& key) const {
  for (const auto& [k, v] : entries_)
    if (k == key) return &v;
  return nullptr;
}

const Value& Dictionary::get(const std::string& key) const {
  const Value* v = find(key);
  return v ? *v : undefinedValue();
}

void Dictionary::set(const std::string& key, Value value) {
  for (auto& [k, v] : entries_) {
    if (k == key) {
      v = std::move(value);
      return;
    }
  }
  entries_.emplace_back(key, std::move(value));
}

bool Dictionary::operator==(const Dictionary& other) const {
  return entries_ == other.entries_;
}

const Value& undefinedValue() {
  static const Value v;
  return v;
}

Value::Value(std::shared_ptr<ScriptObject> o) {
  if (o) v_ = std::move(o);
}

Value::Value(ScriptValue s) {
  if (s.isSet()) v_ = std::move(s);
}

Value Value::fromJson(const Json& json) {
  switch (json.type()) {
    case Json::value_t::null:
      return Value(nullptr);
    case Json::value_t::boolean:
      return Value(json.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return Value(json.get<double>());
    case Json::value_t::string:
      return Value(json.get<std::string>());
    case Json::value_t::array: {
      ValueArray a;
      a.reserve(json.size());
      for (const auto& e : json) a.push_back(fromJson(e));
      return Value(std::move(a));
    }
    case Json::value_t::object: {
      // JSON object keys are unique: entries are added without a search.
      Dictionary d;
      d.entries().reserve(json.size());
      for (auto it = json.begin(); it != json.end(); ++it)
        d.entries().emplace_back(it.key(), fromJson(it.value()));
      return Value(std::move(d));
    }
    default:
      return Value();
  }
}

std::optional<bool> Value::asBool() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  return std::nullopt;
}

std::optional<double> Value::asNumber() const {
  if (auto* d = std::get_if<double>(&v_)) return *d;
  return std::nullopt;
}

const std::string* Value::asString() const {
  return std::get_if<std::string>(&v_);
}
const ValueArray* Value::asArray() const {
  return std::get_if<ValueArray>(&v_);
}
const Dictionary* Value::asDictionary() const {
  return std::get_if<Dictionary>(&v_);
}

std::shared_ptr<ScriptObject> Value::asObject() const {
  if (auto* o = std::get_if<std::shared_ptr<ScriptObject>>(&v_)) return *o;
  return nullptr;
}

std::optional<Value::Date> Value::asDate() const {
  if (auto* d = std::get_if<Date>(&v_)) return *d;
  return std::nullopt;
}

ScriptValue Value::asScript() const {
  if (auto* s = std::get_if<ScriptValue>(&v_)) return *s;
  return {};
}

const Value& Value::operator[](const std::string& key) const {
  if (auto* d = asDictionary()) return d->get(key);
  return undefinedValue();
}

namespace {
std::string isoText(Value::Date d) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(d.time_since_epoch()).count();
  const auto days = floor<std::chrono::days>(milliseconds(ms));
  const year_month_day ymd{sys_days(days)};
  const auto rest = ms - duration_cast<milliseconds>(days).count();
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<long long>(rest / 3600000),
                static_cast<long long>(rest / 60000 % 60), static_cast<long long>(rest / 1000 % 60),
                static_cast<long long>(rest % 1000));
  return text;
}

std::optional<Json> toJsonAt(const Value& v, int depth) {
  if (depth > 512) return Json();
  switch (v.kind()) {
    case Value::Kind::Undefined:
      return std::nullopt;
    case Value::Kind::Null:
    case Value::Kind::Object:
    case Value::Kind::Script:
      return Json();
    case Value::Kind::Bool:
      return Json(*v.asBool());
    case Value::Kind::Number:
      return Json(*v.asNumber());
    case Value::Kind::String:
      return Json(*v.asString());
    case Value::Kind::Date:
      return Json(isoText(*v.asDate()));
    case Value::Kind::Array: {
      Json a = Json::array();
      for (const auto& e : *v.asArray()) a.push_back(toJsonAt(e, depth + 1).value_or(Json()));
      return a;
    }
    case Value::Kind::Dictionary: {
      Json o = Json::object();
      for (const auto& [k, e] : v.asDictionary()->entries())
        if (auto j = toJsonAt(e, depth + 1)) o[k] = std::move(*j);
      return o;
    }
  }
  return std::nullopt;
}
}  // namespace

std::optional<Json> Value::toJson() const {
  return toJsonAt(*this, 0);
}

bool Value::operator==(const Value& other) const {
  return v_ == other.v_;
}

}  // namespace wd::bridge
