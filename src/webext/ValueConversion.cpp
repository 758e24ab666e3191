// Page values to wire values by declared type and back (see ValueConversion.h).
#include "webext/ValueConversion.h"

#include <cmath>

namespace wd::webext {

using wire::Tag;
using wire::WValue;

// Declared parameter types, as the host's ParamType numbers them.
namespace type {
constexpr std::uint8_t String = 0, Number = 1, Int32 = 2, Bool = 3, Any = 4, Dictionary = 5,
                       Array = 6, Script = 7, Object = 8;
}

std::uint64_t HandleTable::add(ContextState& st, JSValueRef v) {
  if (!st.alive) return 0;
  const std::uint64_t id = ++next_;
  JSValueProtect(st.ctx, v);
  entries_[id] = Entry{st.shared_from_this(), v};
  return id;
}

const HandleTable::Entry* HandleTable::find(std::uint64_t id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

void HandleTable::release(std::uint64_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  if (it->second.state->alive) JSValueUnprotect(it->second.state->ctx, it->second.value);
  entries_.erase(it);
}

void HandleTable::dropContext(const ContextState& st) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.state.get() == &st) {
      JSValueUnprotect(st.ctx, it->second.value);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

WValue ValueConverter::dateOf(ContextState& st, JSValueRef date) {
  // The captured getTime reads the time value itself: a page that replaced valueOf or
  // Symbol.toPrimitive does not change it. An invalid Date (NaN) is null.
  if (!st.dateGetTime) return WValue::null();
  JSValueRef exc = nullptr;
  JSValueRef t = JSObjectCallAsFunction(st.ctx, st.dateGetTime, const_cast<JSObjectRef>(date), 0,
                                        nullptr, &exc);
  const double ms =
      !exc && t && JSValueIsNumber(st.ctx, t) ? JSValueToNumber(st.ctx, t, &exc) : NAN;
  if (exc || !(std::fabs(ms) <= wire::kMaxDateMs)) return WValue::null();
  return WValue::date(ms);
}

bool ValueConverter::toWire(ContextState& st, JSValueRef v, std::uint8_t t, Budget& budget,
                            WValue& out) {
  JSContextRef ctx = st.ctx;
  const bool none = JSValueIsUndefined(ctx, v) || JSValueIsNull(ctx, v);
  switch (t) {
    case type::String:
      if (none) return out = WValue{}, true;
      out.tag = Tag::String;
      if (JSValueIsSymbol(ctx, v)) return out = WValue{}, true;
      return stringOf(ctx, v, out.text) && out.text.size() <= wire::kMaxFrame;
    case type::Number:
    case type::Int32: {
      if (JSValueIsUndefined(ctx, v)) return out = WValue{}, true;
      if (JSValueIsSymbol(ctx, v)) return out = WValue::num(NAN), true;
      JSValueRef exc = nullptr;
      const double d = JSValueToNumber(ctx, v, &exc);
      if (exc) return false;
      out = WValue::num(d);
      return true;
    }
    case type::Bool:
      out = WValue::boolean(JSValueToBoolean(ctx, v));
      return true;
    case type::Any:
      return convertAny(st, v, 0, budget, out);
    case type::Dictionary: {
      JSObjectRef o = asObject(ctx, v);
      std::uint64_t id;
      std::uint32_t cid;
      if (!o || JSValueIsArray(ctx, v) || JSObjectIsFunction(ctx, o) || JSValueIsDate(ctx, v) ||
          classes_.proxyState(ctx, v, id, cid))
        return out = WValue{}, true;
      return convertAny(st, v, 0, budget, out);
    }
    case type::Array:
      if (!JSValueIsArray(ctx, v)) return out = WValue{}, true;
      return convertAny(st, v, 0, budget, out);
    case type::Script:
      if (JSValueIsUndefined(ctx, v)) return out = WValue{}, true;
      out = WValue::handle(handles_.add(st, v));
      if (out.id == 0) out = WValue{};
      return true;
    case type::Object: {
      std::uint64_t id = 0;
      std::uint32_t cid = 0;
      if (classes_.proxyState(ctx, v, id, cid))
        out = WValue::ref(id, cid);
      else
        out = WValue{};
      return true;
    }
    default:
      out = WValue{};
      return true;
  }
}

bool ValueConverter::convertAny(ContextState& st, JSValueRef v, int depth, Budget& budget,
                                WValue& out) {
  JSContextRef ctx = st.ctx;
  if (++budget.values > wire::kMaxValues || depth > wire::kMaxDepth) return false;
  switch (JSValueGetType(ctx, v)) {
    case kJSTypeUndefined:
      out = WValue{};
      return true;
    case kJSTypeNull:
      out = WValue::null();
      return true;
    case kJSTypeBoolean:
      out = WValue::boolean(JSValueToBoolean(ctx, v));
      return true;
    case kJSTypeNumber:
      out = WValue::num(JSValueToNumber(ctx, v, nullptr));
      return true;
    case kJSTypeString:
      out.tag = Tag::String;
      if (!stringOf(ctx, v, out.text)) return false;
      budget.bytes += out.text.size();
      return budget.bytes <= wire::kMaxFrame;
    case kJSTypeObject:
      break;
    default:  // symbols, BigInt
      out = WValue{};
      return true;
  }
  JSObjectRef obj = const_cast<JSObjectRef>(v);
  std::uint64_t id = 0;
  std::uint32_t cid = 0;
  if (classes_.proxyState(ctx, v, id, cid)) {
    out = WValue::ref(id, cid);
    return true;
  }
  if (JSValueIsDate(ctx, v)) {
    out = dateOf(st, v);
    return true;
  }
  if (JSObjectIsFunction(ctx, obj)) {
    out = WValue::handle(handles_.add(st, v));
    if (out.id == 0) out = WValue{};
    return true;
  }
  if (JSValueIsArray(ctx, v)) {
    JSValueRef exc = nullptr;
    JSValueRef lenValue = getProp(ctx, obj, "length");
    const double len = lenValue ? JSValueToNumber(ctx, lenValue, &exc) : 0;
    if (exc || !(len >= 0) || len > static_cast<double>(wire::kMaxValues - budget.values))
      return false;
    out.tag = Tag::Array;
    const auto n = static_cast<unsigned>(len);
    out.items.resize(n);
    for (unsigned i = 0; i < n; ++i) {
      exc = nullptr;
      JSValueRef e = JSObjectGetPropertyAtIndex(ctx, obj, i, &exc);
      if (exc) return false;
      if (!convertAny(st, e, depth + 1, budget, out.items[i])) return false;
      if (out.items[i].tag == Tag::Undefined) out.items[i] = WValue::null();
    }
    return true;
  }
  // Property names through the captured for-in helper: an exception of the page's code (a
  // Proxy's ownKeys, getOwnPropertyDescriptor or getPrototypeOf trap, a revoked Proxy) comes
  // back here and refuses the value, where JSObjectCopyPropertyNames would leave it pending and
  // throw it into the page when the member returns.
  if (!st.keysOf) return false;
  JSValueRef exc = nullptr;
  JSValueRef namesValue = JSObjectCallAsFunction(ctx, st.keysOf, nullptr, 1, &v, &exc);
  JSObjectRef names = exc ? nullptr : asObject(ctx, namesValue);
  JSObjectRef keys =
      names ? asObject(ctx, JSObjectGetPropertyAtIndex(ctx, names, 0, &exc)) : nullptr;
  JSValueRef countValue = getProp(ctx, keys, "length");
  const double n = countValue ? JSValueToNumber(ctx, countValue, &exc) : -1;
  if (!keys || exc || !(n >= 0) || n > static_cast<double>(wire::kMaxValues - budget.values))
    return false;
  const auto count = static_cast<unsigned>(n);
  // The values read with the names, unless a getter changed the object meanwhile.
  JSObjectRef values = asObject(ctx, JSObjectGetPropertyAtIndex(ctx, names, 1, &exc));
  JSValueRef valuesLength = values ? getProp(ctx, values, "length") : nullptr;
  if (exc || !valuesLength || JSValueToNumber(ctx, valuesLength, &exc) != n || exc)
    values = nullptr;
  exc = nullptr;
  out.tag = Tag::Object;
  out.entries.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    JSValueRef nameValue = JSObjectGetPropertyAtIndex(ctx, keys, i, &exc);
    if (exc || !nameValue || !JSValueIsString(ctx, nameValue)) return false;
    JSStringRef name = JSValueToStringCopy(ctx, nameValue, &exc);
    if (!name) return false;
    JSValueRef e = values ? JSObjectGetPropertyAtIndex(ctx, values, i, &exc)
                          : JSObjectGetProperty(ctx, obj, name, &exc);
    std::string key = toUtf8(name);
    JSStringRelease(name);
    if (exc) return false;
    WValue w;
    if (!convertAny(st, e, depth + 1, budget, w)) return false;
    if (w.tag == Tag::Undefined) continue;  // as JSON.stringify leaves them out
    budget.bytes += key.size();
    out.entries.emplace_back(std::move(key), std::move(w));
  }
  return budget.bytes <= wire::kMaxFrame;
}

JSValueRef ValueConverter::toJS(ContextState& st, WValue& v) {
  JSContextRef ctx = st.ctx;
  if (!st.alive) {
    releases_.discardRefs(v);
    return nullptr;
  }
  switch (v.tag) {
    case Tag::Undefined:
      return JSValueMakeUndefined(ctx);
    case Tag::Null:
      return JSValueMakeNull(ctx);
    case Tag::False:
      return JSValueMakeBoolean(ctx, false);
    case Tag::True:
      return JSValueMakeBoolean(ctx, true);
    case Tag::Number:
      return JSValueMakeNumber(ctx, v.number);
    case Tag::String: {
      JSStr s = JSStr::fromUtf8(v.text);
      return JSValueMakeString(ctx, s.get());
    }
    case Tag::Array: {
      std::vector<JSValueRef> items;
      items.reserve(v.items.size());
      for (auto& e : v.items) {
        JSValueRef j = toJS(st, e);
        items.push_back(j ? j : JSValueMakeUndefined(ctx));
      }
      return JSObjectMakeArray(ctx, items.size(), items.data(), nullptr);
    }
    case Tag::Object: {
      JSObjectRef obj = JSObjectMake(ctx, nullptr, nullptr);
      for (auto& [key, e] : v.entries) {
        JSValueRef j = toJS(st, e);
        if (!j) j = JSValueMakeUndefined(ctx);
        JSStr name = JSStr::fromUtf8(key);
        if (key == "__proto__" && st.defineProperty) {
          // An own data property, not the prototype setter.
          JSObjectRef desc = JSObjectMake(ctx, nullptr, nullptr);
          for (const char* flag : {"enumerable", "writable", "configurable"}) {
            JSStr f(flag);
            JSObjectSetProperty(ctx, desc, f.get(), JSValueMakeBoolean(ctx, true), 0, nullptr);
          }
          JSStr valueName("value");
          JSObjectSetProperty(ctx, desc, valueName.get(), j, 0, nullptr);
          JSValueRef args[3] = {obj, JSValueMakeString(ctx, name.get()), desc};
          JSObjectCallAsFunction(ctx, st.defineProperty, nullptr, 3, args, nullptr);
        } else {
          JSObjectSetProperty(ctx, obj, name.get(), j, kJSPropertyAttributeNone, nullptr);
        }
      }
      return obj;
    }
    case Tag::Date: {
      JSValueRef time = JSValueMakeNumber(ctx, v.number);
      JSValueRef exc = nullptr;
      JSObjectRef date = JSObjectMakeDate(ctx, 1, &time, &exc);
      return date && !exc ? date : JSValueMakeNull(ctx);
    }
    case Tag::Ref:
      return classes_.proxyFor(st, v.id, v.classId);
    case Tag::Handle: {
      const HandleTable::Entry* h = handles_.find(v.id);
      if (!h || h->state.get() != &st) return JSValueMakeUndefined(ctx);
      return h->value;
    }
  }
  return JSValueMakeUndefined(ctx);
}

}  // namespace wd::webext
