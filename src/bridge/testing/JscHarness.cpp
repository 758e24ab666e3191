#include "bridge/testing/JscHarness.h"

#include <JavaScriptCore/JavaScript.h>

#include <deque>

#include "bridge/HostEndpoint.h"
#include "bridge/wire/Utf.h"
#include "webext/PageBridge.h"

extern "C" JS_EXPORT void JSSynchronousGarbageCollectForDebugging(JSContextRef ctx);

namespace wd::bridge::testing {

namespace {

constexpr std::uint64_t kPageId = 1;

// The part of the DOM the bridge's events rely on: event targets `window` and `document`
// (whose parent is `window`), document.createEvent('Events') with initEvent, and dispatch with
// bubbling. A listener's exception is kept in __harnessErrors and does not reach the dispatcher.
constexpr const char* kShim = R"JS(
(function (global) {
  global.window = global;
  global.self = global;
  global.__harnessErrors = [];
  function makeTarget(target, parent) {
    var listeners = {};
    target.addEventListener = function (type, fn) {
      if (!fn) return;
      var list = listeners[type] || (listeners[type] = []);
      if (list.indexOf(fn) < 0) list.push(fn);
    };
    target.removeEventListener = function (type, fn) {
      var list = listeners[type];
      if (!list) return;
      var i = list.indexOf(fn);
      if (i >= 0) list.splice(i, 1);
    };
    target.dispatchEvent = function (e) {
      e.target = target;
      var node = target;
      while (node) {
        e.currentTarget = node;
        var list = (node.__listeners()[e.type] || []).slice();
        for (var i = 0; i < list.length; i++) {
          try {
            if (typeof list[i] === 'function') list[i].call(node, e);
            else list[i].handleEvent(e);
          } catch (err) {
            global.__harnessErrors.push(String(err));
          }
          if (e.__stopImmediate) break;
        }
        if (!e.bubbles || e.__stop) break;
        node = node.__parent;
      }
      e.currentTarget = null;
      return !e.defaultPrevented;
    };
    Object.defineProperty(target, '__listeners', { value: function () { return listeners; } });
    Object.defineProperty(target, '__parent', { value: parent });
  }
  function Event() {
    this.type = '';
    this.bubbles = false;
    this.cancelable = false;
    this.defaultPrevented = false;
    this.target = null;
    this.currentTarget = null;
  }
  Event.prototype.initEvent = function (type, bubbles, cancelable) {
    this.type = String(type);
    this.bubbles = !!bubbles;
    this.cancelable = !!cancelable;
  };
  Event.prototype.stopPropagation = function () { this.__stop = true; };
  Event.prototype.stopImmediatePropagation = function () { this.__stop = this.__stopImmediate = true; };
  Event.prototype.preventDefault = function () { if (this.cancelable) this.defaultPrevented = true; };
  var document = {};
  makeTarget(global, null);
  makeTarget(document, global);
  document.createEvent = function (kind) {
    if (kind !== 'Events' && kind !== 'Event' && kind !== 'HTMLEvents')
      throw new Error('NotSupportedError');
    return new Event();
  };
  global.document = document;
})(this);
)JS";

std::string jsString(JSContextRef ctx, JSValueRef v) {
  JSStringRef s = JSValueToStringCopy(ctx, v, nullptr);
  if (!s) return {};
  std::string out = wire::utf16ToUtf8(
      reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(s)), JSStringGetLength(s));
  JSStringRelease(s);
  return out;
}

}  // namespace

struct JscHarness::Impl : webext::PageTransport, HostEndpoint::Delegate {
  JscHarness* owner = nullptr;
  Installer installer;
  std::string url;
  JSGlobalContextRef ctx = nullptr;
  std::deque<std::string> toPage;  // payloads from host to page
  bool delivering = false;
  bool connected = true;
  std::shared_ptr<HostEndpoint> endpoint;
  std::unique_ptr<webext::PageBridge> bridge;

  // PageTransport
  bool send(const std::string& frame) override {
    if (!connected || endpoint->closed()) return false;
    auto ep = endpoint;
    ep->receive(std::string_view(frame).substr(4));
    return !ep->closed();
  }
  bool receive(std::string& payload) override {
    if (toPage.empty() || !connected) return false;  // nothing can arrive later in-process
    payload = std::move(toPage.front());
    toPage.pop_front();
    return true;
  }
  void waitEnded() override {}

  // HostEndpoint::Delegate
  std::optional<InstallSet> contextCreated(HostEndpoint&, std::uint64_t,
                                           const std::string& documentUrl) override {
    if (!installer) return std::nullopt;
    return installer(documentUrl);
  }
  std::shared_ptr<ScriptPage> page(std::uint64_t) override { return owner->sharedPage(); }

  void hostSend(std::string frame) {
    if (!connected) return;
    toPage.push_back(frame.substr(4));
    deliver();
  }

  // Hands queued messages to the page unless it is inside a call (then its wait loop takes
  // them) or already delivering.
  void deliver() {
    if (delivering || !bridge || bridge->waiting()) return;
    delivering = true;
    while (!toPage.empty() && !bridge->waiting()) {
      std::string payload = std::move(toPage.front());
      toPage.pop_front();
      bridge->handleMessage(payload);
    }
    delivering = false;
    bridge->flushReleases();
  }

  void newContext() {
    JSGlobalContextRef fresh = JSGlobalContextCreate(nullptr);
    JSStringRef shim = JSStringCreateWithUTF8CString(kShim);
    JSEvaluateScript(fresh, shim, nullptr, nullptr, 1, nullptr);
    JSStringRelease(shim);
    JSGlobalContextRef old = ctx;
    ctx = fresh;
    bridge->mainContextCreated(kPageId, ctx, url);
    if (old) JSGlobalContextRelease(old);  // runs the finalizers of the old page's objects
    deliver();
  }
};

JscHarness::JscHarness() : JscHarness(Installer{}) {}

JscHarness::JscHarness(Installer installer, std::string url) : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  impl_->installer = std::move(installer);
  impl_->url = std::move(url);
  Impl* impl = impl_.get();
  impl_->endpoint =
      std::make_shared<HostEndpoint>([impl](std::string f) { impl->hostSend(std::move(f)); }, impl);
  impl_->bridge = std::make_unique<webext::PageBridge>(*impl_);
  impl_->newContext();
}

JscHarness::~JscHarness() {
  impl_->bridge->pageClosed(kPageId);
  if (impl_->ctx) JSGlobalContextRelease(impl_->ctx);
  impl_->ctx = nullptr;
  impl_->bridge->flushReleases();
  impl_->connected = false;
  impl_->bridge.reset();
  impl_->endpoint->close();
}

void JscHarness::install(InstallSet set) {
  setInstaller([set](const std::string&) { return std::optional<InstallSet>(set); });
  reload();
}

void JscHarness::setInstaller(Installer installer) {
  impl_->installer = std::move(installer);
}

void JscHarness::reload() {
  impl_->newContext();
}

namespace {
// Runs `script` in `ctx`: its result, or null with `exc` set when it threw.
JSValueRef runScript(JSGlobalContextRef ctx, const std::string& script, JSValueRef& exc) {
  auto utf16 = wire::utf8ToUtf16(script);
  JSStringRef s =
      JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(utf16.data()), utf16.size());
  exc = nullptr;
  JSValueRef result = JSEvaluateScript(ctx, s, nullptr, nullptr, 1, &exc);
  JSStringRelease(s);
  return result;
}
}  // namespace

std::optional<Json> JscHarness::evaluate(const std::string& script) {
  JSValueRef exc = nullptr;
  JSValueRef result = runScript(impl_->ctx, script, exc);
  lastException_.reset();
  std::optional<Json> out;
  if (exc) {
    lastException_ = jsString(impl_->ctx, exc);
  } else if (result) {
    JSValueRef jexc = nullptr;
    JSStringRef json = JSValueCreateJSONString(impl_->ctx, result, 0, &jexc);
    if (json) {
      std::string text =
          wire::utf16ToUtf8(reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(json)),
                            JSStringGetLength(json));
      JSStringRelease(json);
      Json parsed = Json::parse(text, nullptr, false);
      if (!parsed.is_discarded()) out = std::move(parsed);
    }
  }
  impl_->deliver();
  return out;
}

std::string JscHarness::evaluateToString(const std::string& script) {
  JSValueRef exc = nullptr;
  JSValueRef result = runScript(impl_->ctx, script, exc);
  lastException_.reset();
  std::string out;
  if (exc)
    lastException_ = jsString(impl_->ctx, exc);
  else if (result)
    out = jsString(impl_->ctx, result);
  impl_->deliver();
  return out;
}

void JscHarness::evaluateScript(const std::string& script) {
  impl_->endpoint->evaluate(kPageId, script);
}

void JscHarness::callFunction(const std::string& name, std::vector<Value> args) {
  impl_->endpoint->callGlobal(kPageId, name, std::move(args));
}

void JscHarness::collectGarbage() {
  for (int i = 0; i < 3; ++i) JSSynchronousGarbageCollectForDebugging(impl_->ctx);
  impl_->bridge->flushReleases();
  impl_->deliver();
}

void JscHarness::disconnect() {
  impl_->connected = false;
  impl_->toPage.clear();
  impl_->bridge->disconnect();
}

std::size_t JscHarness::heldObjectCount() const {
  return impl_->endpoint->objectCount();
}
std::size_t JscHarness::heldHandleCount() const {
  return impl_->bridge->handleCount();
}

std::shared_ptr<ScriptPage> JscHarness::sharedPage() {
  return std::shared_ptr<ScriptPage>(std::shared_ptr<void>(), this);
}

}  // namespace wd::bridge::testing
