#include "bridge/wire/PageBridge.h"

#include <cmath>
#include <cstring>

#include "bridge/wire/Utf.h"

namespace wd::bridge::wire {

// Declared parameter types, as the host's ParamType numbers them.
namespace type {
constexpr std::uint8_t String = 0, Number = 1, Int32 = 2, Bool = 3, Any = 4, Dictionary = 5,
                       Array = 6, Script = 7, Object = 8;
}

struct BridgeRef {
  PageBridge* bridge = nullptr;
};

struct PageClass {
  ClassDesc desc;
  JSClassRef jsClass = nullptr;
  std::vector<std::u16string> propNames;  // parallel to propMembers
  std::vector<std::uint32_t> propMembers;

  int findProperty(JSStringRef name) const {
    const std::size_t len = JSStringGetLength(name);
    const JSChar* chars = JSStringGetCharactersPtr(name);
    for (std::size_t i = 0; i < propNames.size(); ++i) {
      const auto& p = propNames[i];
      if (p.size() == len && std::memcmp(p.data(), chars, len * sizeof(char16_t)) == 0)
        return static_cast<int>(propMembers[i]);
    }
    return -1;
  }
};

struct ContextState {
  std::shared_ptr<BridgeRef> ref;
  std::uint64_t pageId = 0;
  JSGlobalContextRef ctx = nullptr;  // retained while alive
  bool alive = true;
  // Built-ins captured before the page's first script, so the page cannot replace them.
  JSObjectRef weakRefCtor = nullptr;
  JSObjectRef weakRefDeref = nullptr;
  JSObjectRef functionPrototype = nullptr;
  JSObjectRef defineProperty = nullptr;
  std::unordered_map<std::uint32_t, JSObjectRef> prototypes;  // protected
  std::unordered_map<std::uint64_t, JSObjectRef> weakRefs;    // objectId -> WeakRef, protected
};

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

class JSStr {
 public:
  explicit JSStr(const char* s) : s_(JSStringCreateWithUTF8CString(s)) {}
  explicit JSStr(const std::u16string& s)
      : s_(JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(s.data()), s.size())) {}
  ~JSStr() { JSStringRelease(s_); }
  JSStr(const JSStr&) = delete;
  JSStr& operator=(const JSStr&) = delete;
  JSStringRef get() const { return s_; }

 private:
  JSStringRef s_;
};

JSValueRef getProp(JSContextRef ctx, JSValueRef obj, const char* name) {
  if (!obj || !JSValueIsObject(ctx, obj)) return nullptr;
  JSValueRef exc = nullptr;
  JSStr n(name);
  JSValueRef v = JSObjectGetProperty(ctx, const_cast<JSObjectRef>(obj), n.get(), &exc);
  return exc ? nullptr : v;
}

JSObjectRef asObject(JSContextRef ctx, JSValueRef v) {
  return v && JSValueIsObject(ctx, v) ? const_cast<JSObjectRef>(v) : nullptr;
}

std::string toUtf8(JSStringRef s) {
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(s)),
                     JSStringGetLength(s));
}

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
  return d->state->ref->bridge->hasProperty(object, name);
}

void proxyNames(JSContextRef, JSObjectRef object, JSPropertyNameAccumulatorRef names) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  if (!d || !d->state->ref->bridge) return;
  d->state->ref->bridge->propertyNames(object, names);
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

PageBridge::PageBridge(PageTransport& transport)
    : transport_(transport), ref_(std::make_shared<BridgeRef>()) {
  ref_->bridge = this;
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

PageBridge::~PageBridge() {
  auto states = mainStates_;
  for (auto& [id, st] : states) retire(st);
  mainStates_.clear();
  ref_->bridge = nullptr;
  for (auto& [id, cls] : classes_)
    if (cls->jsClass) JSClassRelease(cls->jsClass);
  JSClassRelease(baseClass_);
  JSClassRelease(methodClass_);
  JSClassRelease(loadClass_);
}

// --- context lifecycle -------------------------------------------------------------------

void PageBridge::mainContextCreated(std::uint64_t pageId, JSGlobalContextRef ctx,
                                    const std::string& url) {
  if (auto it = mainStates_.find(pageId); it != mainStates_.end()) {
    auto old = it->second;
    mainStates_.erase(it);
    retire(old);
  }
  auto st = std::make_shared<ContextState>();
  st->ref = ref_;
  st->pageId = pageId;
  st->ctx = JSGlobalContextRetain(ctx);
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  auto capture = [&](JSValueRef v) {
    JSObjectRef o = asObject(ctx, v);
    if (o) JSValueProtect(ctx, o);
    return o;
  };
  st->weakRefCtor = capture(getProp(ctx, global, "WeakRef"));
  st->weakRefDeref = capture(getProp(ctx, getProp(ctx, st->weakRefCtor, "prototype"), "deref"));
  st->functionPrototype = capture(getProp(ctx, getProp(ctx, global, "Function"), "prototype"));
  st->defineProperty = capture(getProp(ctx, getProp(ctx, global, "Object"), "defineProperty"));
  mainStates_[pageId] = st;

  Message m;
  m.type = MsgType::ContextCreated;
  m.pageId = pageId;
  m.text = url;
  WValue answer = roundTrip(m);
  if (!st->alive || answer.tag != Tag::Array || answer.items.empty() ||
      answer.items[0].tag != Tag::Ref) {
    discardRefs(answer);
    return;
  }
  JSValueRef root = toJS(*st, answer.items[0]);
  JSObjectRef rootObj = asObject(ctx, root);
  if (!rootObj) {
    for (std::size_t i = 1; i < answer.items.size(); ++i) discardRefs(answer.items[i]);
    return;
  }
  for (std::size_t i = 1; i < answer.items.size(); ++i) {
    WValue& pair = answer.items[i];
    if (pair.tag != Tag::Array || pair.items.size() != 2 || pair.items[0].tag != Tag::String) {
      discardRefs(pair);
      continue;
    }
    JSValueRef member = toJS(*st, pair.items[1]);
    JSStr name(utf8ToUtf16(pair.items[0].text));
    JSObjectSetProperty(ctx, rootObj, name.get(), member, kJSPropertyAttributeNone, nullptr);
  }
  JSStr macgap("MacGap");
  JSObjectSetProperty(ctx, global, macgap.get(), rootObj, kJSPropertyAttributeNone, nullptr);
}

void PageBridge::watchFrameLoad(std::uint64_t pageId, JSGlobalContextRef ctx, bool mainFrame) {
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  JSObjectRef add = asObject(ctx, getProp(ctx, global, "addEventListener"));
  if (!add || !JSObjectIsFunction(ctx, add)) return;
  JSObjectRef listener = JSObjectMake(ctx, loadClass_, new LoadData{ref_, pageId, mainFrame});
  JSStr load("load");
  JSValueRef args[2] = {JSValueMakeString(ctx, load.get()), listener};
  JSObjectCallAsFunction(ctx, add, global, 2, args, nullptr);
}

void PageBridge::pageClosed(std::uint64_t pageId) {
  if (auto it = mainStates_.find(pageId); it != mainStates_.end()) {
    auto st = it->second;
    mainStates_.erase(it);
    retire(st);
  }
}

JSGlobalContextRef PageBridge::mainContext(std::uint64_t pageId) const {
  auto it = mainStates_.find(pageId);
  return it == mainStates_.end() ? nullptr : it->second->ctx;
}

void PageBridge::retire(const std::shared_ptr<ContextState>& st) {
  if (!st->alive) return;
  st->alive = false;
  JSGlobalContextRef ctx = st->ctx;
  for (auto it = handles_.begin(); it != handles_.end();) {
    if (it->second.state == st) {
      JSValueUnprotect(ctx, it->second.value);
      it = handles_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [id, proto] : st->prototypes) JSValueUnprotect(ctx, proto);
  for (auto& [id, wr] : st->weakRefs) JSValueUnprotect(ctx, wr);
  st->prototypes.clear();
  st->weakRefs.clear();
  for (JSObjectRef o :
       {st->weakRefCtor, st->weakRefDeref, st->functionPrototype, st->defineProperty})
    if (o) JSValueUnprotect(ctx, o);
  st->weakRefCtor = st->weakRefDeref = st->functionPrototype = st->defineProperty = nullptr;
  st->ctx = nullptr;
  JSGlobalContextRelease(ctx);
}

// --- transport ----------------------------------------------------------------------------

bool PageBridge::sendMessage(const Message& message) {
  if (!connected_) return false;
  const std::string frame = encodeFrame(message);
  if (frame.size() - 4 > kMaxFrame) return false;
  if (!transport_.send(frame)) {
    disconnect();
    return false;
  }
  return true;
}

WValue PageBridge::roundTrip(Message& message) {
  if (!connected_) return {};
  flushReleases();
  message.callId = ++nextCallId_;
  if (!sendMessage(message)) return {};
  return waitForReply(message.callId).value_or(WValue{});
}

std::optional<WValue> PageBridge::waitForReply(std::uint64_t id) {
  // Serves the UI process's requests (nested calls included) until the reply arrives or the
  // connection is lost.
  std::optional<WValue> result;
  ++waitDepth_;
  while (connected_) {
    if (auto it = replies_.find(id); it != replies_.end()) {
      result = std::move(it->second);
      replies_.erase(it);
      break;
    }
    std::string payload;
    if (!transport_.receive(payload)) {
      disconnect();
      break;
    }
    handleMessage(payload);
  }
  --waitDepth_;
  if (waitDepth_ == 0) transport_.waitEnded();
  return result;
}

void PageBridge::disconnect() {
  connected_ = false;
  for (auto& [id, v] : replies_) discardRefs(v);
  replies_.clear();
}

bool PageBridge::hello(const std::string& token) {
  Message m;
  m.type = MsgType::Hello;
  m.text = token;
  return sendMessage(m);
}

bool PageBridge::ping() {
  if (!connected_) return false;
  Message m;
  m.type = MsgType::Ping;
  m.callId = ++nextCallId_;
  if (!sendMessage(m)) return false;
  return waitForReply(m.callId).has_value();
}

void PageBridge::queueRelease(std::uint64_t objectId, std::uint32_t count) {
  if (count == 0) return;
  const bool first = pendingReleases_.empty();
  pendingReleases_.emplace_back(objectId, count);
  if (first) transport_.releasesPending();
}

void PageBridge::flushReleases() {
  if (pendingReleases_.empty() || !connected_) return;
  Message m;
  m.type = MsgType::ReleaseObjects;
  m.releases.swap(pendingReleases_);
  sendMessage(m);
}

void PageBridge::handleMessage(std::string_view payload) {
  Message m;
  if (!decodeMessage(payload, m)) {
    // A host that sends garbage is not trusted any further.
    disconnect();
    return;
  }
  switch (m.type) {
    case MsgType::ClassDef: {
      auto cls = std::make_unique<PageClass>();
      cls->desc = std::move(m.cls);
      for (std::uint32_t i = 0; i < cls->desc.members.size(); ++i) {
        if (cls->desc.members[i].kind == 1) {
          cls->propNames.push_back(utf8ToUtf16(cls->desc.members[i].name));
          cls->propMembers.push_back(i);
        }
      }
      const std::uint32_t id = cls->desc.id;
      if (!classes_.count(id)) classes_[id] = std::move(cls);
      break;
    }
    case MsgType::Reply:
    case MsgType::Pong:
      if (m.callId > 0 && m.callId <= nextCallId_)
        replies_[m.callId] = m.values.empty() ? WValue{} : std::move(m.values[0]);
      else
        for (auto& v : m.values) discardRefs(v);
      break;
    case MsgType::Evaluate:
      serveEvaluate(m);
      break;
    case MsgType::CallHandle:
      serveCallHandle(m);
      break;
    case MsgType::CallGlobal:
      serveCallGlobal(m);
      break;
    case MsgType::ReleaseHandles:
      serveReleaseHandles(m);
      break;
    default:
      break;
  }
}

void PageBridge::serveEvaluate(Message& m) {
  auto it = mainStates_.find(m.pageId);
  if (it == mainStates_.end() || !it->second->alive) return;
  auto st = it->second;
  JSStr script(utf8ToUtf16(m.text));
  JSValueRef exc = nullptr;
  JSEvaluateScript(st->ctx, script.get(), nullptr, nullptr, 1, &exc);
}

void PageBridge::serveCallHandle(Message& m) {
  auto it = handles_.find(m.handleId);
  // A handle is called only for the page that made it.
  if (it == handles_.end() || !it->second.state->alive || it->second.state->pageId != m.pageId) {
    for (auto& v : m.values) discardRefs(v);
    return;
  }
  auto st = it->second.state;
  JSValueRef fnValue = it->second.value;
  JSObjectRef fn = asObject(st->ctx, fnValue);
  if (!fn || !JSObjectIsFunction(st->ctx, fn)) {
    for (auto& v : m.values) discardRefs(v);
    return;
  }
  JSValueProtect(st->ctx, fn);  // the call may release the handle
  JSGlobalContextRef ctx = JSGlobalContextRetain(st->ctx);
  std::vector<JSValueRef> args;
  args.reserve(m.values.size());
  for (auto& v : m.values) args.push_back(toJS(*st, v));
  JSValueRef exc = nullptr;
  JSObjectCallAsFunction(ctx, fn, nullptr, args.size(), args.data(), &exc);
  JSValueUnprotect(ctx, fn);
  JSGlobalContextRelease(ctx);
}

void PageBridge::serveCallGlobal(Message& m) {
  auto it = mainStates_.find(m.pageId);
  if (it == mainStates_.end() || !it->second->alive) {
    for (auto& v : m.values) discardRefs(v);
    return;
  }
  auto st = it->second;
  JSStr name(utf8ToUtf16(m.text));
  JSValueRef exc = nullptr;
  JSValueRef v = JSObjectGetProperty(st->ctx, JSContextGetGlobalObject(st->ctx), name.get(), &exc);
  JSObjectRef fn = exc ? nullptr : asObject(st->ctx, v);
  if (!fn || !JSObjectIsFunction(st->ctx, fn)) {
    for (auto& a : m.values) discardRefs(a);
    return;
  }
  std::vector<JSValueRef> args;
  for (auto& a : m.values) args.push_back(toJS(*st, a));
  exc = nullptr;
  JSObjectCallAsFunction(st->ctx, fn, nullptr, args.size(), args.data(), &exc);
}

void PageBridge::serveReleaseHandles(const Message& m) {
  for (auto id : m.ids) {
    auto it = handles_.find(id);
    if (it == handles_.end()) continue;
    if (it->second.state->alive) JSValueUnprotect(it->second.state->ctx, it->second.value);
    handles_.erase(it);
  }
}

void PageBridge::frameLoaded(std::uint64_t pageId, bool mainFrame, JSContextRef ctx) {
  Message m;
  m.type = MsgType::FrameLoaded;
  m.pageId = pageId;
  m.flag = mainFrame;
  JSValueRef href = getProp(ctx, getProp(ctx, JSContextGetGlobalObject(ctx), "location"), "href");
  if (href && JSValueIsString(ctx, href)) stringOf(ctx, href, m.text);
  flushReleases();
  sendMessage(m);
}

// --- classes and proxies --------------------------------------------------------------------

PageClass* PageBridge::pageClass(std::uint32_t id) {
  auto it = classes_.find(id);
  return it == classes_.end() ? nullptr : it->second.get();
}

JSClassRef PageBridge::instanceClass(PageClass& cls) {
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

JSObjectRef PageBridge::prototypeFor(ContextState& st, PageClass& cls) {
  if (auto it = st.prototypes.find(cls.desc.id); it != st.prototypes.end()) return it->second;
  JSContextRef ctx = st.ctx;
  auto self = mainStates_.count(st.pageId) ? mainStates_[st.pageId] : nullptr;
  std::shared_ptr<ContextState> shared = (self && self.get() == &st) ? self : nullptr;
  JSObjectRef proto = JSObjectMake(ctx, nullptr, nullptr);
  JSObjectRef ctor = JSObjectMake(ctx, nullptr, nullptr);
  const auto fixed = kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontDelete;
  for (std::uint32_t i = 0; i < cls.desc.members.size(); ++i) {
    const auto& mem = cls.desc.members[i];
    if (mem.kind == 1 || !shared) continue;
    const bool isStatic = mem.kind == 2;
    JSObjectRef fn =
        JSObjectMake(ctx, methodClass_, new MethodData{shared, cls.desc.id, i, isStatic});
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

JSValueRef PageBridge::proxyFor(ContextState& st, std::uint64_t objectId, std::uint32_t classId) {
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
  PageClass* cls = pageClass(classId);
  auto shared = mainStates_.count(st.pageId) ? mainStates_[st.pageId] : nullptr;
  if (!cls || !shared || shared.get() != &st) {
    queueRelease(objectId, 1);
    return JSValueMakeUndefined(ctx);
  }
  auto* d = new ProxyData{shared, objectId, classId, 1};
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

const ContextState* PageBridge::proxyState(JSContextRef ctx, JSValueRef v, std::uint64_t& objectId,
                                           std::uint32_t& classId) const {
  if (!v || !JSValueIsObjectOfClass(ctx, v, baseClass_)) return nullptr;
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(const_cast<JSObjectRef>(v)));
  if (!d) return nullptr;
  objectId = d->objectId;
  classId = d->classId;
  return d->state.get();
}

// --- members --------------------------------------------------------------------------------

JSValueRef PageBridge::callMember(ContextState& st, std::uint32_t classId, std::uint32_t member,
                                  JSObjectRef thisObject, bool isStatic, std::size_t argc,
                                  const JSValueRef argv[]) {
  JSContextRef ctx = st.ctx;
  PageClass* cls = pageClass(classId);
  if (!cls || member >= cls->desc.members.size() || !connected_) return nullptr;
  std::uint64_t objectId = 0;
  if (!isStatic) {
    std::uint32_t thisClass = 0;
    if (!proxyState(ctx, thisObject, objectId, thisClass) || thisClass != classId) return nullptr;
  }
  const auto& params = cls->desc.members[member].params;
  Message m = memberCall(st, objectId, classId, member, CallOp::Invoke);
  m.values.resize(params.size());
  // One budget for the whole argument list: the host refuses messages with more values.
  Budget budget;
  budget.values = params.size();
  for (std::size_t i = 0; i < params.size(); ++i) {
    JSValueRef a = i < argc ? argv[i] : JSValueMakeUndefined(ctx);
    if (!convertArg(st, a, params[i], budget, m.values[i])) return nullptr;
  }
  return resultOf(st, m);
}

Message PageBridge::memberCall(const ContextState& st, std::uint64_t objectId,
                               std::uint32_t classId, std::uint32_t member, CallOp op) {
  Message m;
  m.type = MsgType::Call;
  m.pageId = st.pageId;
  m.objectId = objectId;
  m.classId = classId;
  m.member = member;
  m.op = op;
  return m;
}

JSValueRef PageBridge::resultOf(ContextState& st, Message& m) {
  WValue r = roundTrip(m);
  if (!st.alive) {
    discardRefs(r);
    return nullptr;
  }
  return toJS(st, r);
}

PageClass* PageBridge::proxyClass(JSObjectRef object, JSStringRef name, int& member,
                                  std::uint64_t& objectId) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? pageClass(d->classId) : nullptr;
  member = cls ? cls->findProperty(name) : -1;
  if (member < 0) return nullptr;
  objectId = d->objectId;
  return cls;
}

JSValueRef PageBridge::getProperty(ContextState& st, JSObjectRef object, JSStringRef name,
                                   bool& found) {
  int member = -1;
  std::uint64_t objectId = 0;
  PageClass* cls = proxyClass(object, name, member, objectId);
  found = cls != nullptr;
  if (!cls || !st.alive || !connected_) return nullptr;
  Message m =
      memberCall(st, objectId, cls->desc.id, static_cast<std::uint32_t>(member), CallOp::Get);
  return resultOf(st, m);
}

bool PageBridge::setProperty(ContextState& st, JSObjectRef object, JSStringRef name,
                             JSValueRef value) {
  int member = -1;
  std::uint64_t objectId = 0;
  PageClass* cls = proxyClass(object, name, member, objectId);
  if (!cls) return false;
  const auto& desc = cls->desc.members[static_cast<std::size_t>(member)];
  // Read-only properties, dead contexts and lost connections swallow the write without throwing.
  if (!st.alive || desc.readOnly || desc.params.empty() || !connected_) return true;
  Message m =
      memberCall(st, objectId, cls->desc.id, static_cast<std::uint32_t>(member), CallOp::Set);
  m.values.resize(1);
  Budget budget;
  budget.values = 1;
  if (!convertArg(st, value, desc.params[0], budget, m.values[0])) return true;
  WValue r = roundTrip(m);
  discardRefs(r);
  return true;
}

bool PageBridge::hasProperty(JSObjectRef object, JSStringRef name) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? pageClass(d->classId) : nullptr;
  return cls && cls->findProperty(name) >= 0;
}

void PageBridge::propertyNames(JSObjectRef object, JSPropertyNameAccumulatorRef names) {
  auto* d = static_cast<ProxyData*>(JSObjectGetPrivate(object));
  PageClass* cls = d ? pageClass(d->classId) : nullptr;
  if (!cls) return;
  for (const auto& n : cls->propNames) {
    JSStr s(n);
    JSPropertyNameAccumulatorAddName(names, s.get());
  }
}

// --- conversions ----------------------------------------------------------------------------

bool PageBridge::stringOf(JSContextRef ctx, JSValueRef v, std::string& out) {
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

std::uint64_t PageBridge::makeHandle(ContextState& st, JSValueRef v) {
  const std::uint64_t id = ++nextHandle_;
  auto shared = mainStates_.count(st.pageId) ? mainStates_[st.pageId] : nullptr;
  if (!shared || shared.get() != &st) return 0;
  JSValueProtect(st.ctx, v);
  handles_[id] = Handle{shared, v};
  return id;
}

bool PageBridge::convertArg(ContextState& st, JSValueRef v, std::uint8_t t, Budget& budget,
                            WValue& out) {
  JSContextRef ctx = st.ctx;
  const bool none = JSValueIsUndefined(ctx, v) || JSValueIsNull(ctx, v);
  switch (t) {
    case type::String:
      if (none) return out = WValue{}, true;
      out.tag = Tag::String;
      if (JSValueIsSymbol(ctx, v)) return out = WValue{}, true;
      return stringOf(ctx, v, out.text) && out.text.size() <= kMaxFrame;
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
      if (!o || JSValueIsArray(ctx, v) || JSObjectIsFunction(ctx, o) || proxyState(ctx, v, id, cid))
        return out = WValue{}, true;
      return convertAny(st, v, 0, budget, out);
    }
    case type::Array:
      if (!JSValueIsArray(ctx, v)) return out = WValue{}, true;
      return convertAny(st, v, 0, budget, out);
    case type::Script:
      if (JSValueIsUndefined(ctx, v)) return out = WValue{}, true;
      out = WValue::handle(makeHandle(st, v));
      if (out.id == 0) out = WValue{};
      return true;
    case type::Object: {
      std::uint64_t id = 0;
      std::uint32_t cid = 0;
      if (proxyState(ctx, v, id, cid))
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

bool PageBridge::convertAny(ContextState& st, JSValueRef v, int depth, Budget& budget,
                            WValue& out) {
  JSContextRef ctx = st.ctx;
  if (++budget.values > kMaxValues || depth > kMaxDepth) return false;
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
      return budget.bytes <= kMaxFrame;
    case kJSTypeObject:
      break;
    default:  // symbols, BigInt
      out = WValue{};
      return true;
  }
  JSObjectRef obj = const_cast<JSObjectRef>(v);
  std::uint64_t id = 0;
  std::uint32_t cid = 0;
  if (proxyState(ctx, v, id, cid)) {
    out = WValue::ref(id, cid);
    return true;
  }
  if (JSObjectIsFunction(ctx, obj)) {
    out = WValue::handle(makeHandle(st, v));
    if (out.id == 0) out = WValue{};
    return true;
  }
  if (JSValueIsArray(ctx, v)) {
    JSValueRef exc = nullptr;
    JSValueRef lenValue = getProp(ctx, obj, "length");
    const double len = lenValue ? JSValueToNumber(ctx, lenValue, &exc) : 0;
    if (exc || !(len >= 0) || len > static_cast<double>(kMaxValues - budget.values)) return false;
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
  out.tag = Tag::Object;
  JSPropertyNameArrayRef names = JSObjectCopyPropertyNames(ctx, obj);
  const std::size_t n = JSPropertyNameArrayGetCount(names);
  bool ok = n <= kMaxValues - budget.values;
  for (std::size_t i = 0; i < n && ok; ++i) {
    JSStringRef name = JSPropertyNameArrayGetNameAtIndex(names, i);
    JSValueRef exc = nullptr;
    JSValueRef e = JSObjectGetProperty(ctx, obj, name, &exc);
    if (exc) {
      ok = false;
      break;
    }
    WValue w;
    if (!convertAny(st, e, depth + 1, budget, w)) {
      ok = false;
      break;
    }
    if (w.tag == Tag::Undefined) continue;  // as JSON.stringify leaves them out
    std::string key = toUtf8(name);
    budget.bytes += key.size();
    out.entries.emplace_back(std::move(key), std::move(w));
  }
  JSPropertyNameArrayRelease(names);
  return ok && budget.bytes <= kMaxFrame;
}

JSValueRef PageBridge::toJS(ContextState& st, WValue& v) {
  JSContextRef ctx = st.ctx;
  if (!st.alive) {
    discardRefs(v);
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
      JSStr s(utf8ToUtf16(v.text));
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
        JSStr name(utf8ToUtf16(key));
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
    case Tag::Ref:
      return proxyFor(st, v.id, v.classId);
    case Tag::Handle: {
      auto it = handles_.find(v.id);
      if (it == handles_.end() || it->second.state.get() != &st) return JSValueMakeUndefined(ctx);
      return it->second.value;
    }
  }
  return JSValueMakeUndefined(ctx);
}

void PageBridge::discardRefs(const WValue& v) {
  forEachRef(v, [this](const WValue& ref) { queueRelease(ref.id, 1); });
}

}  // namespace wd::bridge::wire
