// JavaScriptCore classes, prototypes and proxies of native objects in the page (see
// PageClasses.h).
#include "webext/PageClasses.h"

#include <cstring>

#include "webext/PageBridge.h"

namespace wd::webext {

using wire::utf8ToUtf16;

int PageClass::findProperty(JSStringRef name) const {
  const std::size_t len = JSStringGetLength(name);
  const JSChar* chars = JSStringGetCharactersPtr(name);
  for (std::size_t i = 0; i < propNames.size(); ++i) {
    const auto& p = propNames[i];
    if (p.size() == len && std::memcmp(p.data(), chars, len * sizeof(char16_t)) == 0)
      return static_cast<int>(propMembers[i]);
  }
  return -1;
}

JSValueRef getProp(JSContextRef ctx, JSValueRef obj, const char* name) {
  if (!obj || !JSValueIsObject(ctx, obj)) return nullptr;
  JSValueRef exc = nullptr;
  JSStr n(name);
  JSValueRef v = JSObjectGetProperty(ctx, const_cast<JSObjectRef>(obj), n.get(), &exc);
  return exc ? nullptr : v;
}

JSStr JSStr::fromUtf8(const std::string& s) {
  for (unsigned char c : s)
    if (c == 0 || c >= 0x80) return JSStr(wire::utf8ToUtf16(s));
  return JSStr(s.c_str());
}

JSObjectRef asObject(JSContextRef ctx, JSValueRef v) {
  return v && JSValueIsObject(ctx, v) ? const_cast<JSObjectRef>(v) : nullptr;
}

std::string toUtf8(JSStringRef s) {
  return wire::utf16ToUtf8(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(s)),
                           JSStringGetLength(s));
}

bool stringOf(JSContextRef ctx, JSValueRef v, std::string& out) {
  JSValueRef exc = nullptr;
  JSStringRef s = JSValueToStringCopy(ctx, v, &exc);
  if (exc || !s) {
    if (s) JSStringRelease(s);
    return false;
  }
  out = toUtf8(s);
  JSStringRelease(s);
  return true;
}

namespace {

struct ProxyData {
  std::shared_ptr<ContextState> state;
  std::uint64_t objectId;
  std::uint32_t classId;
  std::uint32_t refs;
};

struct MethodData {
  std::shared_ptr<ContextState> state;
  std::uint32_t classId;
  std::uint32_t member;
  bool isStatic;
};

struct LoadData {
  std::shared_ptr<BridgeRef> ref;
  std::uint64_t pageId;
  bool mainFrame;
};

// JavaScriptCore callbacks. None of them sets `exception`: members never throw into the page.

void proxyFinalize(JSObjectRef object) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d) return;
  if (PageBridge* b = d->state->ref->bridge) b->queueRelease(d->objectId, d->refs);
  delete d;
}

JSValueRef proxyGet(JSContextRef ctx, JSObjectRef object, JSStringRef name, JSValueRef*) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d) return nullptr;
  PageBridge* b = d->state->ref->bridge;
  if (!b) return nullptr;
  bool found = false;
  JSValueRef v = b->getProperty(*d->state, object, name, found);
  if (!found) return nullptr;
  return v ? v : JSValueMakeUndefined(ctx);
}

bool proxySet(JSContextRef, JSObjectRef object, JSStringRef name, JSValueRef value, JSValueRef*) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d) return false;
  PageBridge* b = d->state->ref->bridge;
  if (!b) return false;
  return b->setProperty(*d->state, object, name, value);
}

bool proxyHas(JSContextRef, JSObjectRef object, JSStringRef name) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d || !d->state->ref->bridge) return false;
  return d->state->ref->bridge->classes().hasProperty(object, name);
}

void proxyNames(JSContextRef, JSObjectRef object, JSPropertyNameAccumulatorRef names) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d || !d->state->ref->bridge) return;
  d->state->ref->bridge->classes().propertyNames(object, names);
}

void methodFinalize(JSObjectRef object) {
  delete static_cast<MethodData*>(JSObjectGetPrivate(object));
}

JSValueRef methodCall(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject, size_t argc,
                      const JSValueRef argv[], JSValueRef*) {
  auto* m = static_cast<MethodData*>(JSObjectGetPrivate(function));
  if (!m || !m->state->alive || !m->state->ref->bridge) return JSValueMakeUndefined(ctx);
  auto state = m->state;  // the call may drop the function
  JSValueRef r = state->ref->bridge->callMember(*state, m->classId, m->member, thisObject,
                                                m->isStatic, argc, argv);
  return r ? r : JSValueMakeUndefined(ctx);
}

void loadFinalize(JSObjectRef object) {
  delete static_cast<LoadData*>(JSObjectGetPrivate(object));
}

JSValueRef loadCall(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t, const JSValueRef[],
                    JSValueRef*) {
  auto* d = static_cast<LoadData*>(JSObjectGetPrivate(function));
  if (d && d->ref->bridge) d->ref->bridge->frameLoaded(d->pageId, d->mainFrame, ctx);
  return JSValueMakeUndefined(ctx);
}

}  // namespace

PageClasses::PageClasses(std::shared_ptr<BridgeRef> ref, ReleaseSink& releases)
    : ref_(std::move(ref)), releases_(releases) {
  JSClassDefinition base = kJSClassDefinitionEmpty;
  base.className = "NativeObject";
  base.finalize = proxyFinalize;
  baseClass_ = JSClassCreate(&base);
  JSClassDefinition method = kJSClassDefinitionEmpty;
  method.className = "Function";
  method.callAsFunction = methodCall;
  method.finalize = methodFinalize;
  methodClass_ = JSClassCreate(&method);
  JSClassDefinition load = kJSClassDefinitionEmpty;
  load.className = "Function";
  load.callAsFunction = loadCall;
  load.finalize = loadFinalize;
  loadClass_ = JSClassCreate(&load);
}

PageClasses::~PageClasses() {
  for (auto& [id, cls] : classes_)
    if (cls->jsClass) JSClassRelease(cls->jsClass);
  JSClassRelease(baseClass_);
  JSClassRelease(methodClass_);
  JSClassRelease(loadClass_);
}

void PageClasses::define(wire::ClassDesc desc) {
  if (classes_.count(desc.id)) return;
  auto cls = std::make_unique<PageClass>();
  cls->desc = std::move(desc);
  for (std::uint32_t i = 0; i < cls->desc.members.size(); ++i) {
    if (cls->desc.members[i].kind == 1) {
      cls->propNames.push_back(utf8ToUtf16(cls->desc.members[i].name));
      cls->propMembers.push_back(i);
    }
  }
  const std::uint32_t id = cls->desc.id;
  classes_[id] = std::move(cls);
}

PageClass* PageClasses::find(std::uint32_t id) {
  auto it = classes_.find(id);
  return it == classes_.end() ? nullptr : it->second.get();
}

JSClassRef PageClasses::instanceClass(PageClass& cls) {
  if (!cls.jsClass) {
    JSClassDefinition def = kJSClassDefinitionEmpty;
    def.className = cls.desc.name.c_str();
    def.parentClass = baseClass_;
    def.getProperty = proxyGet;
    def.setProperty = proxySet;
    def.hasProperty = proxyHas;
    def.getPropertyNames = proxyNames;
    cls.jsClass = JSClassCreate(&def);
  }
  return cls.jsClass;
}

JSObjectRef PageClasses::prototypeFor(ContextState& st, PageClass& cls) {
  if (auto it = st.prototypes.find(cls.desc.id); it != st.prototypes.end()) return it->second;
  JSContextRef ctx = st.ctx;
  JSObjectRef proto = JSObjectMake(ctx, nullptr, nullptr);
  JSObjectRef ctor = JSObjectMake(ctx, nullptr, nullptr);
  const auto fixed = kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontDelete;
  for (std::uint32_t i = 0; i < cls.desc.members.size(); ++i) {
    const auto& mem = cls.desc.members[i];
    if (mem.kind == 1) continue;
    const bool isStatic = mem.kind == 2;
    JSObjectRef fn = JSObjectMake(ctx, methodClass_,
                                  new MethodData{st.shared_from_this(), cls.desc.id, i, isStatic});
    if (st.functionPrototype) JSObjectSetPrototype(ctx, fn, st.functionPrototype);
    JSStr name(utf8ToUtf16(mem.name));
    JSObjectSetProperty(ctx, isStatic ? ctor : proto, name.get(), fn, fixed, nullptr);
  }
  JSStr protoName("prototype");
  JSStr ctorName("constructor");
  JSObjectSetProperty(ctx, ctor, protoName.get(), proto, fixed | kJSPropertyAttributeDontEnum,
                      nullptr);
  JSObjectSetProperty(ctx, proto, ctorName.get(), ctor, fixed | kJSPropertyAttributeDontEnum,
                      nullptr);
  JSValueProtect(ctx, proto);
  st.prototypes[cls.desc.id] = proto;
  return proto;
}

JSValueRef PageClasses::proxyFor(ContextState& st, std::uint64_t objectId, std::uint32_t classId) {
  JSContextRef ctx = st.ctx;
  if (auto it = st.weakRefs.find(objectId); it != st.weakRefs.end()) {
    JSValueRef exc = nullptr;
    JSValueRef target =
        st.weakRefDeref ? JSObjectCallAsFunction(ctx, st.weakRefDeref, it->second, 0, nullptr, &exc)
                        : nullptr;
    JSObjectRef obj = exc ? nullptr : asObject(ctx, target);
    if (obj && JSValueIsObjectOfClass(ctx, obj, baseClass_)) {
      auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(obj));
      if (d) {
        ++d->refs;
        return obj;
      }
    }
    JSValueUnprotect(ctx, it->second);
    st.weakRefs.erase(it);
  }
  PageClass* cls = find(classId);
  if (!cls || !st.alive) {
    releases_.queueRelease(objectId, 1);
    return JSValueMakeUndefined(ctx);
  }
  auto* d = new ProxyData{st.shared_from_this(), objectId, classId, 1};
  JSObjectRef obj = JSObjectMake(ctx, instanceClass(*cls), d);
  JSObjectSetPrototype(ctx, obj, prototypeFor(st, *cls));
  if (st.weakRefCtor) {
    JSValueRef exc = nullptr;
    JSValueRef arg = obj;
    JSObjectRef wr = JSObjectCallAsConstructor(ctx, st.weakRefCtor, 1, &arg, &exc);
    if (wr && !exc) {
      JSValueProtect(ctx, wr);
      st.weakRefs[objectId] = wr;
    }
  }
  return obj;
}

const ContextState* PageClasses::proxyState(JSContextRef ctx, JSValueRef v, std::uint64_t& objectId,
                                            std::uint32_t& classId) const {
  if (!v || !JSValueIsObjectOfClass(ctx, v, baseClass_)) return nullptr;
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(const_cast<JSObjectRef>(v)));
  if (!d) return nullptr;
  objectId = d->objectId;
  classId = d->classId;
  return d->state.get();
}

PageClass* PageClasses::proxyClass(JSObjectRef object, JSStringRef name, int& member,
                                   std::uint64_t& objectId) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? find(d->classId) : nullptr;
  member = cls ? cls->findProperty(name) : -1;
  if (member < 0) return nullptr;
  objectId = d->objectId;
  return cls;
}

bool PageClasses::hasProperty(JSObjectRef object, JSStringRef name) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? find(d->classId) : nullptr;
  return cls && cls->findProperty(name) >= 0;
}

void PageClasses::propertyNames(JSObjectRef object, JSPropertyNameAccumulatorRef names) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? find(d->classId) : nullptr;
  if (!cls) return;
  for (const auto& n : cls->propNames) {
    JSStr s(n);
    JSPropertyNameAccumulatorAddName(names, s.get());
  }
}

JSObjectRef PageClasses::loadListener(JSContextRef ctx, std::uint64_t pageId, bool mainFrame) {
  return JSObjectMake(ctx, loadClass_, new LoadData{ref_, pageId, mainFrame});
}

}  // namespace wd::webext
