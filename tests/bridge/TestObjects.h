#pragma once
// Test-only script classes exercising the bridge machinery.
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/Event.h"
#include "bridge/Exports.h"
#include "bridge/wire/Wire.h"

namespace wd::bridge::test {

// A description of a native value, to check conversions from the page.
inline std::string describe(const Value& v) {
  std::ostringstream out;
  switch (v.kind()) {
    case Value::Kind::Undefined:
      return "none";
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Bool:
      return *v.asBool() ? "true" : "false";
    case Value::Kind::Number:
      if (std::isnan(*v.asNumber())) return "NaN";
      out << *v.asNumber();
      return out.str();
    case Value::Kind::String:
      return "'" + *v.asString() + "'";
    case Value::Kind::Array:
      for (const auto& e : *v.asArray()) out << (out.tellp() ? "," : "") << describe(e);
      return "[" + out.str() + "]";
    case Value::Kind::Dictionary:
      for (const auto& [k, e] : v.asDictionary()->entries())
        out << (out.tellp() ? "," : "") << k << ":" << describe(e);
      return "{" + out.str() + "}";
    case Value::Kind::Object:
      return "object:" + v.asObject()->scriptClass().name();
    case Value::Kind::Script:
      return "script";
    case Value::Kind::Date:
      return "date:" +
             std::to_string(v.asDate()->time_since_epoch() / std::chrono::milliseconds(1));
  }
  return "?";
}

class Probe : public Command {
 public:
  using Command::Command;
  std::string describeAny(Value v) { return describe(v); }
  std::string describeTwo(Value a, Value b) { return describe(a) + " " + describe(b); }
  std::string takeString(std::optional<std::string> s) { return s ? "string:" + *s : "none"; }
  double stringLength(std::string s) { return static_cast<double>(s.size()); }
  std::string takeNumber(std::optional<double> d) {
    return d ? "number:" + std::to_string(*d) : "none";
  }
  int takeInt(int i) { return i; }
  bool takeBool(bool b) { return b; }
  std::string takeDictionary(std::optional<Dictionary> d) {
    return d ? describe(Value(*d)) : "none";
  }
  std::string takeArray(std::optional<ValueArray> a) { return a ? describe(Value(*a)) : "none"; }
  std::string takeObject(std::shared_ptr<Probe> p) { return p ? "probe:" + p->name : "none"; }
  Value echo(Value v) { return v; }
  void record(std::string entry) { log.push_back(std::move(entry)); }
  std::shared_ptr<Probe> child() const {
    if (!child_) child_ = std::make_shared<Probe>(), child_->name = name + ".child";
    return child_;
  }
  std::shared_ptr<Probe> makeChild(std::optional<std::string> childName) {
    made.push_back(std::make_shared<Probe>());
    made.back()->name = childName.value_or("");
    return made.back();
  }
  std::vector<std::shared_ptr<Probe>> children() const { return {child(), child()}; }
  std::optional<std::string> title() const { return title_; }
  void setTitle(std::optional<std::string> t) { title_ = std::move(t); }
  double count() const { return counter; }
  void setCallback(ScriptValue cb) { callback = std::move(cb); }
  void fire(Value arg) { callback.call({std::move(arg)}); }
  ScriptValue storedCallback() const { return callback; }
  void trigger(std::optional<std::string> event) {
    Event::triggerEvent(event.value_or("ping"), Json{{"n", ++counter}}, callingPage());
  }
  std::string get(std::string key, std::string type) { return key + "/" + type; }
  Value fail() { throw std::runtime_error("native failure"); }
  // Runs `hook` (which may throw or detach the page), then reaches the calling page.
  void runHook() {
    if (hook) hook();
    Event::triggerEvent("hooked", callingPage());
  }
  // More values than the page side can take, holding an object.
  Value tooMany() const {
    ValueArray a(wire::kMaxValues + 1);
    a[0] = Value(child());
    return Value(std::move(a));
  }
  static std::string keyFromString(std::optional<std::string> keys) {
    return keys && !keys->empty() ? keys->substr(keys->size() - 1) : "";
  }

  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info =
        ClassBuilder<Probe>("Probe")
            .method("describeAny:", &Probe::describeAny)
            .method("describeTwo:and:", &Probe::describeTwo)
            .method("takeString:", &Probe::takeString)
            .method("stringLength:", &Probe::stringLength)
            .method("takeNumber:", &Probe::takeNumber)
            .method("takeInt:", &Probe::takeInt)
            .method("takeBool:", &Probe::takeBool)
            .method("takeDictionary:", &Probe::takeDictionary)
            .method("takeArray:", &Probe::takeArray)
            .method("takeObject:", &Probe::takeObject)
            .method("echo:", &Probe::echo)
            .method("record:", &Probe::record)
            .method("makeChild:", &Probe::makeChild)
            .method("children", &Probe::children)
            .method("setCallback:", &Probe::setCallback)
            .method("fire:", &Probe::fire)
            .method("trigger:", &Probe::trigger)
            .method("get:ofType:__JS_EXPORT_AS__get:", &Probe::get)
            .method("fail", &Probe::fail)
            .method("runHook", &Probe::runHook)
            .method("tooMany", &Probe::tooMany)
            .property("child", &Probe::child)
            .property("title", &Probe::title, &Probe::setTitle)
            .property("count", &Probe::count)
            .property("callback", &Probe::storedCallback, &Probe::setCallback)
            .classMethod("getKeyFromString:", &Probe::keyFromString)
            .build();
    return info;
  }

  std::string name;
  double counter = 0;
  ScriptValue callback;
  std::function<void()> hook;
  std::vector<std::shared_ptr<Probe>> made;
  std::vector<std::string> log;  // what the page recorded

 private:
  mutable std::shared_ptr<Probe> child_;
  std::optional<std::string> title_;
};

// Stands for App (MacGap itself): a plain script object, not a Command.
class Root : public ScriptObject {
 public:
  std::string version() const { return "1.0"; }
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info =
        ClassBuilder<Root>("App").property("version", &Root::version).build();
    return info;
  }
};

}  // namespace wd::bridge::test
