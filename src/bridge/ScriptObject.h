#pragma once
// Base of every native object visible to the page, and the description of its class: the
// exported members (methods by native selector, properties, class-level members) with the names
// the page sees and the declared types that drive argument conversion in the web process.
//
// Objects are held by std::shared_ptr. While the page holds a wrapper of an object the bridge
// keeps the object alive too; a native object returned to the same page context several times
// reaches it as the same wrapper.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/Value.h"

namespace wd::bridge {

class ClassInfo;

// Declared type of a parameter (or of a writable property), as the page-side conversion applies
// it. See Exports.h for the C++ types that map to each.
enum class ParamType : std::uint8_t {
  String = 0,      // string; undefined and null give none, other values their string form
  Number = 1,      // number (ToNumber); undefined gives none
  Int32 = 2,       // number, truncated to a 32-bit integer natively
  Bool = 3,        // one-byte boolean (ToBoolean)
  Any = 4,         // any value: null stays null, functions become script values
  Dictionary = 5,  // a plain object, else none
  Array = 6,       // an array, else none
  Script = 7,      // script value passed through untouched (undefined gives none)
  Object = 8,      // a wrapper of a native script object, else none
};

// What the page's reference and type declarations say about a member, written next to its
// declaration in the exports table; the bridge itself never reads it. Types are TypeScript.
struct MemberDoc {
  std::string summary;  // one line
  // One per parameter: its name, or "name: type" where the declared type says too little (the
  // keys of a dictionary, what an array holds, a function's signature); "name?" when it may be
  // left out.
  std::vector<std::string> params;
  std::string result;   // the result's (or property's) type, where the C++ type says too little
  std::string refused;  // what a missing or refused argument gives
};

// An event a native object raises in its page: the name, the type of the event's `data`
// ("null" when it carries none) and the global it is raised on ("document" or "window").
struct EventDoc {
  std::string name;
  std::string data;
  std::string summary;
  std::string target = "document";
};

// Events a window raises in its page by itself rather than through a script object, under a
// heading of the reference.
struct EventSource {
  std::string title;
  std::string summary;  // when these events come
  std::vector<EventDoc> events;
};

// A class's own line in the reference and the events its objects raise.
struct ClassDoc {
  std::string summary;
  std::vector<EventDoc> events;
};

struct MemberInfo {
  // OpensWindow: a method the page side runs after opening a new window itself (the page's own
  // window.open() on the first argument's "url"); the native member then sees the new window
  // as its window's opened window, and the page gets that window's `window` object back, not
  // the member's result. Nothing is sent when no window opened.
  enum class Kind : std::uint8_t { Method = 0, Property = 1, ClassMethod = 2, OpensWindow = 3 };
  Kind kind = Kind::Method;
  std::string selector;           // native selector ("get:ofType:") or property name
  std::string scriptName;         // what the page sees
  std::vector<ParamType> params;  // methods: parameter types; properties: the setter's type
  bool readOnly = true;           // properties only
  // Methods and getters; `self` is null for class-level members. Arguments are padded with
  // undefined to the declared count; extra ones are dropped before the call.
  std::function<Value(ScriptObject* self, std::vector<Value>& args)> invoke;
  std::function<void(ScriptObject& self, Value& value)> set;  // writable properties
  std::string resultType;  // the result's (getter's) TypeScript type as its C++ type gives it
  MemberDoc doc;
};

class ClassInfo {
 public:
  ClassInfo(std::string name, std::vector<MemberInfo> members, ClassDoc doc = {});
  ClassInfo(const ClassInfo&) = delete;
  ClassInfo& operator=(const ClassInfo&) = delete;

  const std::string& name() const { return name_; }
  std::uint32_t id() const { return id_; }
  const std::vector<MemberInfo>& members() const { return members_; }
  const ClassDoc& doc() const { return doc_; }
  // The member the page reaches under `scriptName` on instances (methods, properties) or on the
  // constructor (class-level members); nullptr when none.
  const MemberInfo* instanceMember(const std::string& scriptName) const;
  const MemberInfo* classMember(const std::string& scriptName) const;

  // Every class ever built, by id (nullptr for unknown ids).
  static const ClassInfo* byId(std::uint32_t id);

 private:
  std::string name_;
  std::uint32_t id_;
  std::vector<MemberInfo> members_;
  ClassDoc doc_;
};

class ScriptObject : public std::enable_shared_from_this<ScriptObject> {
 public:
  virtual ~ScriptObject();
  // The exports of the object's class (usually a function-local static built with
  // ClassBuilder, see Exports.h).
  virtual const ClassInfo& scriptClass() const = 0;
};

}  // namespace wd::bridge
