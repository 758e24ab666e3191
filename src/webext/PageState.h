#pragma once
// What the page side's pieces share about one page: the state of a main-frame script context
// (its retained context, built-ins captured before the page's first script, per-class
// prototypes and the weak references that find a native object's proxy again), the classes the
// host defined, and small JavaScriptCore helpers. Internal to src/webext.
#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/wire/Utf.h"
#include "bridge/wire/Wire.h"

namespace wd::webext {

namespace wire = bridge::wire;

class PageBridge;

// The bridge as seen from JavaScriptCore objects, which may outlive it: cleared when it goes.
struct BridgeRef {
  PageBridge* bridge = nullptr;
};

struct ContextState : std::enable_shared_from_this<ContextState> {
  std::shared_ptr<BridgeRef> ref;
  std::uint64_t pageId = 0;
  JSGlobalContextRef ctx = nullptr;  // retained while alive
  bool alive = true;
  // Built-ins captured before the page's first script, so the page cannot replace them.
  JSObjectRef weakRefCtor = nullptr;
  JSObjectRef weakRefDeref = nullptr;
  JSObjectRef functionPrototype = nullptr;
  JSObjectRef defineProperty = nullptr;
  JSObjectRef dateGetTime = nullptr;  // Date.prototype.getTime
  JSObjectRef windowOpen = nullptr;   // window.open (none outside a browser window)
  // keysOf(o): the names a for-in loop over `o` visits, as an array-like object at [0], and
  // for a plain object its values in the same order at [1] (so neither collecting nor reading
  // them runs page code other than `o`'s own traps and getters).
  JSObjectRef keysOf = nullptr;
  std::unordered_map<std::uint32_t, JSObjectRef> prototypes;  // protected
  std::unordered_map<std::uint64_t, JSObjectRef> weakRefs;    // objectId -> WeakRef, protected
};

// A class the host defined (ClassDef), with its JavaScriptCore class once made.
struct PageClass {
  wire::ClassDesc desc;
  JSClassRef jsClass = nullptr;
  std::vector<std::u16string> propNames;  // parallel to propMembers
  std::vector<std::uint32_t> propMembers;

  // The member index of property `name`, or -1.
  int findProperty(JSStringRef name) const;
};

// An owned JavaScriptCore string.
class JSStr {
 public:
  explicit JSStr(const char* s) : s_(JSStringCreateWithUTF8CString(s)) {}
  explicit JSStr(const std::u16string& s)
      : s_(JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(s.data()), s.size())) {}
  // UTF-8 text (NULs included). ASCII text becomes the engine's compact 8-bit string, which
  // its names and comparisons handle fastest.
  static JSStr fromUtf8(const std::string& s);
  ~JSStr() { JSStringRelease(s_); }
  JSStr(const JSStr&) = delete;
  JSStr& operator=(const JSStr&) = delete;
  JSStringRef get() const { return s_; }

 private:
  explicit JSStr(JSStringRef s) : s_(s) {}
  JSStringRef s_;
};

// Property `name` of `obj`, or null when `obj` is no object or reading it threw (the exception
// is dropped).
JSValueRef getProp(JSContextRef ctx, JSValueRef obj, const char* name);
JSObjectRef asObject(JSContextRef ctx, JSValueRef v);
std::string toUtf8(JSStringRef s);
// The string conversion of `v` (String(v)); false when page code threw meanwhile.
bool stringOf(JSContextRef ctx, JSValueRef v, std::string& out);

// Receives the references to native objects that the page side gives back (collected proxies,
// refs it could not use).
class ReleaseSink {
 public:
  virtual ~ReleaseSink() = default;
  virtual void queueRelease(std::uint64_t objectId, std::uint32_t count) = 0;
  // Every Ref in `v`, one reference each.
  void discardRefs(const wire::WValue& v) {
    wire::forEachRef(v, [this](const wire::WValue& r) { queueRelease(r.id, 1); });
  }
};

}  // namespace wd::webext
