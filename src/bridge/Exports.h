#pragma once
// Declaring a script class's exports, one table per class:
//
//   const ClassInfo& Dock::scriptClass() const {
//     static const ClassInfo& info = ClassBuilder<Dock>("Dock")
//         .method("addBadge:", &Dock::addBadge)                   // page: addBadge
//         .method("showNotification:id:callback:", &Dock::show)   // page:
//         showNotificationIdCallback .method("get:ofType:__JS_EXPORT_AS__get:", &Dock::get)  //
//         page: get (rename) .property("badge", &Dock::badge)                        // read-only
//         .property("title", &Dock::title, &Dock::setTitle)       // read-write
//         .classMethod("getKeyFromString:", &Dock::keyFromString) // on MacGap.Dock.constructor
//         .build();
//     return info;
//   }
//
// Each table also describes itself for the page's authors (the generated macgap.d.ts and
// page-api.md): `.summary("...")` for the class, `.event({name, data type, summary})` for each
// event its objects raise, and after each member `.doc({.summary, .params, .result, .refused})`
// (MemberDoc). wendrel-page-api refuses a table whose members lack them.
//
// The script name of every member follows the naming rule (scriptNameForSelector). The selector's
// argument count must match the C++ function's (checked by build(), which aborts on a mismatch).
//
// C++ parameter types and the declared type they stand for:
//   std::string (none gives ""), std::optional<std::string>      -> String
//   double, float, std::optional<double>                          -> Number
//   int, long, long long, unsigned ... (none and NaN give 0)      -> Int32
//   bool                                                          -> Bool (one-byte boolean)
//   Value, Json, std::optional<Json>                              -> Any
//   std::optional<Dictionary>, Dictionary                         -> Dictionary
//   std::optional<ValueArray>, ValueArray                         -> Array
//   ScriptValue                                                   -> Script
//   std::shared_ptr<T> (T derived from ScriptObject)              -> Object
// Results: void, any of the above, std::vector<std::shared_ptr<T>> (an array of wrappers).
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "bridge/ScriptObject.h"

namespace wd::bridge {

// The name the page sees for a native selector: pieces joined without colons, each piece after
// the first upper-cased on its first letter ("showNotification:id:callback:" gives
// "showNotificationIdCallback"); a selector of the form "<selector>__JS_EXPORT_AS__<name>:"
// gives <name>. A selector without arguments is used unchanged.
std::string scriptNameForSelector(const std::string& selector);
// The native selector part of a (possibly renamed) selector.
std::string nativeSelector(const std::string& selector);
// Number of arguments of a selector (its colons).
std::size_t selectorArity(const std::string& selector);

namespace detail {

template <class T>
struct IsSharedScriptObject : std::false_type {};
template <class T>
struct IsSharedScriptObject<std::shared_ptr<T>> : std::is_base_of<ScriptObject, T> {};

template <class T, class = void>
struct Arg;

template <>
struct Arg<std::string> {
  static constexpr ParamType type = ParamType::String;
  static std::string from(Value& v) {
    auto* s = v.asString();
    return s ? std::move(*const_cast<std::string*>(s)) : std::string();
  }
};
template <>
struct Arg<std::optional<std::string>> {
  static constexpr ParamType type = ParamType::String;
  static std::optional<std::string> from(Value& v) {
    auto* s = v.asString();
    if (!s) return std::nullopt;
    return std::move(*const_cast<std::string*>(s));
  }
};
template <class T>
struct Arg<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static constexpr ParamType type = ParamType::Number;
  static T from(Value& v) {
    auto d = v.asNumber();
    return d ? static_cast<T>(*d) : std::numeric_limits<T>::quiet_NaN();
  }
};
template <>
struct Arg<std::optional<double>> {
  static constexpr ParamType type = ParamType::Number;
  static std::optional<double> from(Value& v) { return v.asNumber(); }
};
template <class T>
struct Arg<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static constexpr ParamType type = ParamType::Int32;
  static T from(Value& v) {
    auto d = v.asNumber();
    if (!d || std::isnan(*d)) return T{};
    const double lo = static_cast<double>(std::numeric_limits<T>::lowest());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    if (*d <= lo) return std::numeric_limits<T>::lowest();
    if (*d >= hi) return std::numeric_limits<T>::max();
    return static_cast<T>(std::trunc(*d));
  }
};
template <>
struct Arg<bool> {
  static constexpr ParamType type = ParamType::Bool;
  static bool from(Value& v) { return v.asBool().value_or(false); }
};
template <>
struct Arg<Value> {
  static constexpr ParamType type = ParamType::Any;
  static Value from(Value& v) { return std::move(v); }
};
template <>
struct Arg<Json> {
  static constexpr ParamType type = ParamType::Any;
  static Json from(Value& v) { return v.toJson().value_or(Json()); }
};
template <>
struct Arg<std::optional<Json>> {
  static constexpr ParamType type = ParamType::Any;
  static std::optional<Json> from(Value& v) { return v.toJson(); }
};
template <>
struct Arg<Dictionary> {
  static constexpr ParamType type = ParamType::Dictionary;
  static Dictionary from(Value& v) {
    auto* d = v.asDictionary();
    return d ? std::move(*const_cast<Dictionary*>(d)) : Dictionary();
  }
};
template <>
struct Arg<std::optional<Dictionary>> {
  static constexpr ParamType type = ParamType::Dictionary;
  static std::optional<Dictionary> from(Value& v) {
    auto* d = v.asDictionary();
    if (!d) return std::nullopt;
    return std::move(*const_cast<Dictionary*>(d));
  }
};
template <>
struct Arg<ValueArray> {
  static constexpr ParamType type = ParamType::Array;
  static ValueArray from(Value& v) {
    auto* a = v.asArray();
    return a ? std::move(*const_cast<ValueArray*>(a)) : ValueArray();
  }
};
template <>
struct Arg<std::optional<ValueArray>> {
  static constexpr ParamType type = ParamType::Array;
  static std::optional<ValueArray> from(Value& v) {
    auto* a = v.asArray();
    if (!a) return std::nullopt;
    return std::move(*const_cast<ValueArray*>(a));
  }
};
template <>
struct Arg<ScriptValue> {
  static constexpr ParamType type = ParamType::Script;
  static ScriptValue from(Value& v) { return v.asScript(); }
};
template <class T>
struct Arg<std::shared_ptr<T>, std::enable_if_t<std::is_base_of_v<ScriptObject, T>>> {
  static constexpr ParamType type = ParamType::Object;
  static std::shared_ptr<T> from(Value& v) { return v.asObject<T>(); }
};

template <class T>
struct IsObjectVector : std::false_type {};
template <class T>
struct IsObjectVector<std::vector<std::shared_ptr<T>>> : std::is_base_of<ScriptObject, T> {};

template <class T>
Value toValue(T&& v) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, Json>) {
    return Value::fromJson(v);
  } else if constexpr (std::is_same_v<D, std::optional<Json>>) {
    return v ? Value::fromJson(*v) : Value();
  } else if constexpr (IsObjectVector<D>::value) {
    ValueArray out;
    out.reserve(v.size());
    for (auto& e : v) out.push_back(toValue(e));
    return Value(std::move(out));
  } else {
    return Value(std::forward<T>(v));
  }
}

template <class Tuple, class F, std::size_t... I>
Value callWith(const F& f, std::vector<Value>& args, std::index_sequence<I...>) {
  using R = std::invoke_result_t<F, std::decay_t<std::tuple_element_t<I, Tuple>>...>;
  if constexpr (std::is_void_v<R>) {
    f(Arg<std::decay_t<std::tuple_element_t<I, Tuple>>>::from(args[I])...);
    return Value();
  } else {
    return toValue(f(Arg<std::decay_t<std::tuple_element_t<I, Tuple>>>::from(args[I])...));
  }
}

// The TypeScript type of a result as its C++ type gives it (the exports table's MemberDoc says
// more where this is vague: "unknown", "object").
template <class R>
std::string resultType() {
  using D = std::decay_t<R>;
  if constexpr (std::is_void_v<D>)
    return "void";
  else if constexpr (std::is_same_v<D, bool>)
    return "boolean";
  else if constexpr (std::is_arithmetic_v<D>)
    return "number";
  else if constexpr (std::is_same_v<D, std::string>)
    return "string";
  else if constexpr (std::is_same_v<D, std::optional<std::string>>)
    return "string | undefined";
  else if constexpr (std::is_same_v<D, std::optional<double>>)
    return "number | undefined";
  else if constexpr (std::is_same_v<D, Dictionary>)
    return "Record<string, unknown>";
  else if constexpr (std::is_same_v<D, ValueArray>)
    return "unknown[]";
  else if constexpr (IsSharedScriptObject<D>::value)
    return "object | undefined";
  else if constexpr (IsObjectVector<D>::value)
    return "object[]";
  else
    return "unknown";
}

template <class... A>
std::vector<ParamType> paramTypes() {
  return {Arg<std::decay_t<A>>::type...};
}

[[noreturn]] void exportsError(const std::string& className, const std::string& selector);

}  // namespace detail

template <class T>
class ClassBuilder {
 public:
  explicit ClassBuilder(std::string className) : name_(std::move(className)) {}

  template <class R, class... A>
  ClassBuilder& method(const std::string& selector, R (T::*fn)(A...)) {
    return addMethod<R, A...>(selector, [fn](ScriptObject* self, std::vector<Value>& args) {
      auto* obj = static_cast<T*>(self);
      auto bound = [obj, fn](auto&&... a) { return (obj->*fn)(std::forward<decltype(a)>(a)...); };
      return detail::callWith<std::tuple<A...>>(bound, args, std::index_sequence_for<A...>{});
    });
  }
  template <class R, class... A>
  ClassBuilder& method(const std::string& selector, R (T::*fn)(A...) const) {
    return addMethod<R, A...>(selector, [fn](ScriptObject* self, std::vector<Value>& args) {
      const auto* obj = static_cast<const T*>(self);
      auto bound = [obj, fn](auto&&... a) { return (obj->*fn)(std::forward<decltype(a)>(a)...); };
      return detail::callWith<std::tuple<A...>>(bound, args, std::index_sequence_for<A...>{});
    });
  }
  // A method that opens a window in the page first (MemberInfo::Kind::OpensWindow).
  template <class R, class... A>
  ClassBuilder& windowOpeningMethod(const std::string& selector, R (T::*fn)(A...)) {
    method(selector, fn);
    members_.back().kind = MemberInfo::Kind::OpensWindow;
    return *this;
  }
  // Class-level member, reached on the constructor of the class's wrappers.
  template <class R, class... A>
  ClassBuilder& classMethod(const std::string& selector, R (*fn)(A...)) {
    if (selectorArity(selector) != sizeof...(A)) detail::exportsError(name_, selector);
    MemberInfo m;
    m.kind = MemberInfo::Kind::ClassMethod;
    m.selector = nativeSelector(selector);
    m.scriptName = scriptNameForSelector(selector);
    m.params = detail::paramTypes<A...>();
    m.resultType = detail::resultType<R>();
    m.invoke = [fn](ScriptObject*, std::vector<Value>& args) {
      return detail::callWith<std::tuple<A...>>(fn, args, std::index_sequence_for<A...>{});
    };
    members_.push_back(std::move(m));
    return *this;
  }
  // Describes the member declared last (for the page's reference and type declarations).
  ClassBuilder& doc(MemberDoc d) {
    members_.back().doc = std::move(d);
    return *this;
  }
  // The class's one-line description, and an event its objects raise.
  ClassBuilder& summary(std::string text) {
    doc_.summary = std::move(text);
    return *this;
  }
  ClassBuilder& event(EventDoc e) {
    doc_.events.push_back(std::move(e));
    return *this;
  }

  // Read-only property.
  template <class R>
  ClassBuilder& property(const std::string& name, R (T::*getter)() const) {
    members_.push_back(makeProperty(name, getter));
    return *this;
  }
  // Read-write property; the setter's parameter type is the declared type.
  template <class R, class V, class SR>
  ClassBuilder& property(const std::string& name, R (T::*getter)() const, SR (T::*setter)(V)) {
    MemberInfo m = makeProperty(name, getter);
    m.readOnly = false;
    m.params = {detail::Arg<std::decay_t<V>>::type};
    m.set = [setter](ScriptObject& self, Value& v) {
      (static_cast<T&>(self).*setter)(detail::Arg<std::decay_t<V>>::from(v));
    };
    members_.push_back(std::move(m));
    return *this;
  }

  // The finished table; lives for the process.
  const ClassInfo& build() { return *new ClassInfo(name_, std::move(members_), std::move(doc_)); }

 private:
  template <class R, class... A, class Invoke>
  ClassBuilder& addMethod(const std::string& selector, Invoke invoke) {
    if (selectorArity(selector) != sizeof...(A)) detail::exportsError(name_, selector);
    MemberInfo m;
    m.kind = MemberInfo::Kind::Method;
    m.selector = nativeSelector(selector);
    m.scriptName = scriptNameForSelector(selector);
    m.params = detail::paramTypes<A...>();
    m.resultType = detail::resultType<R>();
    m.invoke = std::move(invoke);
    members_.push_back(std::move(m));
    return *this;
  }

  template <class R>
  MemberInfo makeProperty(const std::string& name, R (T::*getter)() const) {
    MemberInfo m;
    m.kind = MemberInfo::Kind::Property;
    m.selector = name;
    m.scriptName = name;
    m.readOnly = true;
    m.resultType = detail::resultType<R>();
    m.invoke = [getter](ScriptObject* self, std::vector<Value>&) {
      return detail::toValue((static_cast<const T*>(self)->*getter)());
    };
    return m;
  }

  std::string name_;
  std::vector<MemberInfo> members_;
  ClassDoc doc_;
};

}  // namespace wd::bridge
