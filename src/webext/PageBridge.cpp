// The page side's connection and messages (see PageBridge.h).
#include "webext/PageBridge.h"

namespace wd::webext {

using wire::CallOp;
using wire::Message;
using wire::MsgType;
using wire::Tag;
using wire::utf8ToUtf16;
using wire::WValue;

PageBridge::PageBridge(PageTransport& transport)
    : transport_(transport),
      ref_(std::make_shared<BridgeRef>()),
      classes_(ref_, *this),
      convert_(classes_, handles_, *this) {
  ref_->bridge = this;
}

PageBridge::~PageBridge() {
  for (auto& m : deferred_)
    for (auto& v : m.values) discardRefs(v);
  deferred_.clear();
  auto states = mainStates_;
  for (auto& [id, st] : states) retire(st);
  mainStates_.clear();
  ref_->bridge = nullptr;
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
  st->dateGetTime =
      capture(getProp(ctx, getProp(ctx, getProp(ctx, global, "Date"), "prototype"), "getTime"));
  st->windowOpen = capture(getProp(ctx, global, "open"));
  {
    // A plain object (prototype Object.prototype with nothing enumerable on it, or none) gives
    // its names and values through Object.keys and Object.values: the same names, in the same
    // order, as for-in, and linear in their number however many there are. Anything else is
    // walked with for-in, its values read by name.
    JSStr keysOf(
        "(function (keys, values, protoOf, plain) { return function (o) {"
        " var r = { __proto__: null }, p = protoOf(o), k, n = 0;"
        " if (p === plain || p === null) { for (k in plain) break;"
        "  if (k === undefined) { r[0] = keys(o); r[1] = values(o); return r; } }"
        " var names = { __proto__: null }; for (k in o) names[n++] = k; names.length = n;"
        " r[0] = names; return r; }; })(Object.keys, Object.values, Object.getPrototypeOf,"
        " Object.prototype)");
    JSValueRef exc = nullptr;
    st->keysOf = capture(JSEvaluateScript(ctx, keysOf.get(), nullptr, nullptr, 1, &exc));
  }
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
  JSValueRef root = convert_.toJS(*st, answer.items[0]);
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
    JSValueRef member = convert_.toJS(*st, pair.items[1]);
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
  JSObjectRef listener = classes_.loadListener(ctx, pageId, mainFrame);
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
  handles_.dropContext(*st);
  for (auto& [id, proto] : st->prototypes) JSValueUnprotect(ctx, proto);
  for (auto& [id, wr] : st->weakRefs) JSValueUnprotect(ctx, wr);
  st->prototypes.clear();
  st->weakRefs.clear();
  for (JSObjectRef o : {st->weakRefCtor, st->weakRefDeref, st->functionPrototype,
                        st->defineProperty, st->dateGetTime, st->keysOf, st->windowOpen})
    if (o) JSValueUnprotect(ctx, o);
  st->weakRefCtor = st->weakRefDeref = st->functionPrototype = st->defineProperty = nullptr;
  st->dateGetTime = st->keysOf = st->windowOpen = nullptr;
  st->ctx = nullptr;
  JSGlobalContextRelease(ctx);
}

// --- transport ----------------------------------------------------------------------------

bool PageBridge::sendMessage(const Message& message) {
  if (!connected_) return false;
  const std::string frame = encodeFrame(message);
  if (frame.size() - 4 > wire::kMaxFrame) return false;
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
  if (waitDepth_ == 0) {
    runDeferred();  // nothing to do unless the wait was outside every host script
    transport_.waitEnded();
  }
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
    case MsgType::ClassDef:
      classes_.define(std::move(m.cls));
      break;
    case MsgType::Reply:
    case MsgType::Pong:
      if (m.callId > 0 && m.callId <= nextCallId_)
        replies_[m.callId] = m.values.empty() ? WValue{} : std::move(m.values[0]);
      else
        for (auto& v : m.values) discardRefs(v);
      break;
    case MsgType::Evaluate:
    case MsgType::CallHandle:
    case MsgType::CallGlobal:
      hostRequest(m);
      break;
    case MsgType::ReleaseHandles:
      // After the deferred calls that may still use them.
      if (deferred_.empty())
        serveReleaseHandles(m);
      else
        deferred_.push_back(std::move(m));
      break;
    default:
      break;
  }
}

void PageBridge::hostRequest(Message& m) {
  // Host scripts and callbacks run one at a time, in arrival order. One that arrives while
  // another is running (blocked in a call) waits until that one returns: run nested, a page
  // whose listeners call native code would nest one event per call until its stack ran out.
  // With no host script running (the page idle, or blocked in a call its own script made) the
  // queue runs at once, so an event still reaches the page before the page's call returns.
  deferred_.push_back(std::move(m));
  runDeferred();
}

void PageBridge::runHostRequest(Message& m) {
  ++hostScriptDepth_;
  if (m.type == MsgType::Evaluate)
    serveEvaluate(m);
  else if (m.type == MsgType::CallHandle)
    serveCallHandle(m);
  else if (m.type == MsgType::CallGlobal)
    serveCallGlobal(m);
  --hostScriptDepth_;
}

void PageBridge::runDeferred() {
  if (runningDeferred_ || hostScriptDepth_ > 0) return;
  runningDeferred_ = true;
  while (!deferred_.empty()) {
    Message m = std::move(deferred_.front());
    deferred_.pop_front();
    if (m.type == MsgType::ReleaseHandles)
      serveReleaseHandles(m);
    else
      runHostRequest(m);
  }
  runningDeferred_ = false;
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
  const HandleTable::Entry* h = handles_.find(m.handleId);
  // A handle is called only for the page that made it.
  if (!h || !h->state->alive || h->state->pageId != m.pageId) {
    for (auto& v : m.values) discardRefs(v);
    return;
  }
  auto st = h->state;
  JSValueRef fnValue = h->value;
  JSObjectRef fn = asObject(st->ctx, fnValue);
  if (!fn || !JSObjectIsFunction(st->ctx, fn)) {
    for (auto& v : m.values) discardRefs(v);
    return;
  }
  JSValueProtect(st->ctx, fn);  // the call may release the handle
  JSGlobalContextRef ctx = JSGlobalContextRetain(st->ctx);
  std::vector<JSValueRef> args;
  args.reserve(m.values.size());
  for (auto& v : m.values) args.push_back(convert_.toJS(*st, v));
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
  for (auto& a : m.values) args.push_back(convert_.toJS(*st, a));
  exc = nullptr;
  JSObjectCallAsFunction(st->ctx, fn, nullptr, args.size(), args.data(), &exc);
}

void PageBridge::serveReleaseHandles(const Message& m) {
  for (auto id : m.ids) handles_.release(id);
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

// --- members --------------------------------------------------------------------------------

JSValueRef PageBridge::callMember(ContextState& st, std::uint32_t classId, std::uint32_t member,
                                  JSObjectRef thisObject, bool isStatic, std::size_t argc,
                                  const JSValueRef argv[]) {
  JSContextRef ctx = st.ctx;
  PageClass* cls = classes_.find(classId);
  if (!cls || member >= cls->desc.members.size() || !connected_) return nullptr;
  std::uint64_t objectId = 0;
  if (!isStatic) {
    std::uint32_t thisClass = 0;
    if (!classes_.proxyState(ctx, thisObject, objectId, thisClass) || thisClass != classId)
      return nullptr;
  }
  const auto& params = cls->desc.members[member].params;
  Message m = memberCall(st, objectId, classId, member, CallOp::Invoke);
  m.values.resize(params.size());
  // One budget for the whole argument list: the host refuses messages with more values.
  ValueConverter::Budget budget;
  budget.values = params.size();
  for (std::size_t i = 0; i < params.size(); ++i) {
    JSValueRef a = i < argc ? argv[i] : JSValueMakeUndefined(ctx);
    if (!convert_.toWire(st, a, params[i], budget, m.values[i])) return nullptr;
  }
  if (cls->desc.members[member].kind != kOpensWindow) return resultOf(st, m);
  // The window is opened here, by the page itself: the web process cannot make a page while
  // it waits in a call. The host then finds it as the window this page opened last.
  JSObjectRef opened = openWindow(st, argc > 0 ? argv[0] : nullptr);
  if (!opened) return nullptr;
  // Kept through the call, and the context with it (a navigation meanwhile retires it).
  JSGlobalContextRef keep = JSGlobalContextRetain(st.ctx);
  JSValueProtect(keep, opened);
  WValue r = roundTrip(m);
  discardRefs(r);
  JSValueUnprotect(keep, opened);
  JSGlobalContextRelease(keep);
  return st.alive ? opened : nullptr;
}

JSObjectRef PageBridge::openWindow(ContextState& st, JSValueRef options) {
  JSContextRef ctx = st.ctx;
  JSValueRef url = getProp(ctx, options, "url");
  if (!st.windowOpen || !url || JSValueIsUndefined(ctx, url) || JSValueIsNull(ctx, url))
    return nullptr;
  // Always a new browsing context: a name would reuse or navigate a window ("_self", "_top").
  JSStr blank("_blank");
  JSValueRef args[2] = {url, JSValueMakeString(ctx, blank.get())};
  JSValueRef exc = nullptr;
  JSValueRef w =
      JSObjectCallAsFunction(ctx, st.windowOpen, JSContextGetGlobalObject(ctx), 2, args, &exc);
  return exc ? nullptr : asObject(ctx, w);
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
  return convert_.toJS(st, r);
}

JSValueRef PageBridge::getProperty(ContextState& st, JSObjectRef object, JSStringRef name,
                                   bool& found) {
  int member = -1;
  std::uint64_t objectId = 0;
  PageClass* cls = classes_.proxyClass(object, name, member, objectId);
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
  PageClass* cls = classes_.proxyClass(object, name, member, objectId);
  if (!cls) return false;
  const auto& desc = cls->desc.members[static_cast<std::size_t>(member)];
  // Read-only properties, dead contexts and lost connections swallow the write without throwing.
  if (!st.alive || desc.readOnly || desc.params.empty() || !connected_) return true;
  Message m =
      memberCall(st, objectId, cls->desc.id, static_cast<std::uint32_t>(member), CallOp::Set);
  m.values.resize(1);
  ValueConverter::Budget budget;
  budget.values = 1;
  if (!convert_.toWire(st, value, desc.params[0], budget, m.values[0])) return true;
  WValue r = roundTrip(m);
  discardRefs(r);
  return true;
}

}  // namespace wd::webext
