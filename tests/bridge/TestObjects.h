#pragma once
// Test-only script classes exercising the bridge machinery.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/Event.h"
#include "bridge/Exports.h"

namespace wd::bridge::test {

// A description of a native value, to check conversions from the page.
std::string describe(const Value& v);

class Probe : public Command {
 public:
  using Command::Command;
  static inline int liveCount = 0;
  Probe() { ++liveCount; }
  explicit Probe(std::weak_ptr<WindowHandle> w) : Command(std::move(w)) { ++liveCount; }
  ~Probe() override { --liveCount; }

  std::string describeAny(Value v) { return describe(v); }
  std::string describeTwo(Value a, Value b) { return describe(a) + " " + describe(b); }
  std::string takeString(std::optional<std::string> s) { return s ? "string:" + *s : "none"; }
  double stringLength(std::string s) { return static_cast<double>(s.size()); }
  std::string takeNumber(std::optional<double> d) {
    if (!d) return "none";
    std::string text = std::to_string(*d);
    return "number:" + text;
  }
  int takeInt(int i) { return i; }
  bool takeBool(bool b) { return b; }
  std::string takeDictionary(std::optional<Dictionary> d) {
    return d ? describe(Value(*d)) : "none";
  }
  std::string takeArray(std::optional<ValueArray> a) { return a ? describe(Value(*a)) : "none"; }
  std::string takeObject(std::shared_ptr<Probe> p) { return p ? "probe:" + p->name : "none"; }
  Value echo(Value v) { return v; }
  std::shared_ptr<Probe> child() const {
    if (!child_) {
      child_ = std::make_shared<Probe>();
      child_->name = name + ".child";
    }
    return child_;
  }
  std::shared_ptr<Probe> makeChild(std::optional<std::string> childName) {
    auto p = std::make_shared<Probe>();
    p->name = childName.value_or("");
    made.push_back(p);
    return p;
  }
  std::vector<std::shared_ptr<Probe>> children() const { return {child(), child()}; }
  std::optional<std::string> title() const { return title_; }
  void setTitle(std::optional<std::string> t) {
    title_ = std::move(t);
    ++titleWrites;
  }
  double count() const { return counter; }
  void setCallback(ScriptValue cb) { callback = std::move(cb); }
  void fire(Value arg) { callback.call({std::move(arg)}); }
  ScriptValue storedCallback() const { return callback; }
  void setStoredCallback(ScriptValue cb) { callback = std::move(cb); }
  void trigger(std::optional<std::string> event) {
    ++counter;
    Event::triggerEvent(event.value_or("ping"), Json{{"n", counter}}, callingPage());
  }
  void notify(std::string, std::string, ScriptValue) { ++counter; }
  std::string get(std::string key, std::string type) { return key + "/" + type; }
  Value fail() { throw std::runtime_error("native failure"); }
  static std::string keyFromString(std::optional<std::string> keys) {
    if (!keys || keys->empty()) return "";
    return keys->substr(keys->size() - 1);
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
            .method("makeChild:", &Probe::makeChild)
            .method("children", &Probe::children)
            .method("setCallback:", &Probe::setCallback)
            .method("fire:", &Probe::fire)
            .method("trigger:", &Probe::trigger)
            .method("showNotification:id:callback:", &Probe::notify)
            .method("get:ofType:__JS_EXPORT_AS__get:", &Probe::get)
            .method("fail", &Probe::fail)
            .property("child", &Probe::child)
            .property("title", &Probe::title, &Probe::setTitle)
            .property("count", &Probe::count)
            .property("callback", &Probe::storedCallback, &Probe::setStoredCallback)
            .classMethod("getKeyFromString:", &Probe::keyFromString)
            .build();
    return info;
  }

  std::string name;
  double counter = 0;
  int titleWrites = 0;
  ScriptValue callback;
  std::vector<std::shared_ptr<Probe>> made;

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

class DesktopCommand : public Command {
 public:
  using Command::Command;
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info = ClassBuilder<DesktopCommand>("DesktopCommand").build();
    return info;
  }
};

}  // namespace wd::bridge::test
