#pragma once
// The JavaScriptCore side of native objects in the page: the classes the host defined, one
// JSClass per class (named after the script class) whose property callbacks serve the declared
// properties, a per-context prototype holding the methods (class-level ones on its
// `constructor`), one proxy per native object and context (found again through a WeakRef), and
// the `load` listener of every frame. The callbacks hand member accesses to the PageBridge;
// none of them sets an exception: members never throw into the page.
#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "webext/PageState.h"

namespace wd::webext {

class PageClasses {
 public:
  PageClasses(std::shared_ptr<BridgeRef> ref, ReleaseSink& releases);
  ~PageClasses();
  PageClasses(const PageClasses&) = delete;
  PageClasses& operator=(const PageClasses&) = delete;

  // A ClassDef from the host; the first definition of a class id stays.
  void define(wire::ClassDesc desc);
  PageClass* find(std::uint32_t classId);

  // The proxy of native object `objectId` in the context, counting the reference it came with.
  // Undefined (and the reference given back) for an unknown class or a dead context.
  JSValueRef proxyFor(ContextState& st, std::uint64_t objectId, std::uint32_t classId);
  // When `v` is a proxy: its context state, object and class ids; else null.
  const ContextState* proxyState(JSContextRef ctx, JSValueRef v, std::uint64_t& objectId,
                                 std::uint32_t& classId) const;
  // The class of proxy `object` when it declares property `name` (its member index and the
  // object id), or null.
  PageClass* proxyClass(JSObjectRef object, JSStringRef name, int& member, std::uint64_t& objectId);
  bool hasProperty(JSObjectRef object, JSStringRef name);
  void propertyNames(JSObjectRef object, JSPropertyNameAccumulatorRef names);

  // A function reporting the frame's `load` event to the bridge.
  JSObjectRef loadListener(JSContextRef ctx, std::uint64_t pageId, bool mainFrame);

 private:
  JSClassRef instanceClass(PageClass& cls);
  JSObjectRef prototypeFor(ContextState& st, PageClass& cls);

  std::shared_ptr<BridgeRef> ref_;
  ReleaseSink& releases_;
  std::unordered_map<std::uint32_t, std::unique_ptr<PageClass>> classes_;
  JSClassRef baseClass_ = nullptr;
  JSClassRef methodClass_ = nullptr;
  JSClassRef loadClass_ = nullptr;
};

}  // namespace wd::webext
