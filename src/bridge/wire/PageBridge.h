#pragma once
// The page side of the bridge: installs MacGap into a JavaScriptCore context as proxies of
// native objects, converts arguments by the declared types, performs the synchronous round trip
// to the host and turns results back into script values. While it waits for a reply it serves
// the host's requests (evaluate a script, call a function handle, release handles), nested
// calls included. Used by the web process extension, the test harness and the benchmark.
//
// Nothing here throws into the page: bad arguments, lost connections and unknown objects give
// undefined.
#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bridge/wire/Wire.h"

namespace wd::bridge::wire {

class PageTransport {
 public:
  virtual ~PageTransport() = default;
  // Sends one whole frame; false when the connection is lost.
  virtual bool send(const std::string& frame) = 0;
  // Blocks until the next message payload arrives; false when the connection is lost.
  virtual bool receive(std::string& payload) = 0;
  // The outermost wait ended: messages that arrived during it may be buffered.
  virtual void waitEnded() {}
  // Releases are queued (from the garbage collector); flush them soon with flushReleases().
  virtual void releasesPending() {}
};

struct ContextState;
struct BridgeRef;
struct PageClass;

class PageBridge {
 public:
  explicit PageBridge(PageTransport& transport);
  ~PageBridge();
  PageBridge(const PageBridge&) = delete;
  PageBridge& operator=(const PageBridge&) = delete;

  // A new main-frame context of page `pageId` (its document at `url`): the previous one of the
  // page is dropped (its handles die), the host is asked what to install, and MacGap is set up.
  void mainContextCreated(std::uint64_t pageId, JSGlobalContextRef ctx, const std::string& url);
  // Reports the frame's window `load` event to the host (FrameLoaded).
  void watchFrameLoad(std::uint64_t pageId, JSGlobalContextRef ctx, bool mainFrame);
  // The page is gone: its context state and handles are dropped.
  void pageClosed(std::uint64_t pageId);
  // The context of a page's main frame, or null.
  JSGlobalContextRef mainContext(std::uint64_t pageId) const;

  // Handles one message from the host (when not waiting: from the idle watch).
  void handleMessage(std::string_view payload);
  // Sends the queued proxy releases.
  void flushReleases();
  // Marks the connection lost: every later call answers undefined at once.
  void disconnect();
  bool connected() const { return connected_; }
  // Inside a round trip (possibly nested).
  bool waiting() const { return waitDepth_ > 0; }

  // Sends Hello with this token.
  bool hello(const std::string& token);
  // One Ping/Pong round trip (benchmark baseline); false when the connection is lost.
  bool ping();

  std::size_t handleCount() const { return handles_.size(); }

  // Called by JavaScriptCore callbacks.
  JSValueRef callMember(ContextState& st, std::uint32_t classId, std::uint32_t member,
                        JSObjectRef thisObject, bool isStatic, std::size_t argc,
                        const JSValueRef argv[]);
  JSValueRef getProperty(ContextState& st, JSObjectRef object, JSStringRef name, bool& found);
  bool setProperty(ContextState& st, JSObjectRef object, JSStringRef name, JSValueRef value);
  bool hasProperty(JSObjectRef object, JSStringRef name);
  void propertyNames(JSObjectRef object, JSPropertyNameAccumulatorRef names);
  void queueRelease(std::uint64_t objectId, std::uint32_t count);
  void frameLoaded(std::uint64_t pageId, bool mainFrame, JSContextRef ctx);

 private:
  struct Budget {
    std::size_t values = 0;
    std::size_t bytes = 0;
  };
  struct Handle {
    std::shared_ptr<ContextState> state;
    JSValueRef value = nullptr;
  };

  WValue roundTrip(Message& message);
  std::optional<WValue> waitForReply(std::uint64_t id);
  bool sendMessage(const Message& message);
  void retire(const std::shared_ptr<ContextState>& st);
  PageClass* pageClass(std::uint32_t id);
  JSClassRef instanceClass(PageClass& cls);
  JSObjectRef prototypeFor(ContextState& st, PageClass& cls);
  JSValueRef proxyFor(ContextState& st, std::uint64_t objectId, std::uint32_t classId);
  JSValueRef toJS(ContextState& st, WValue& v);
  void discardRefs(const WValue& v);
  bool convertArg(ContextState& st, JSValueRef v, std::uint8_t type, Budget& budget, WValue& out);
  // A Call message of `member` for the page of `st` (arguments still to add).
  static Message memberCall(const ContextState& st, std::uint64_t objectId, std::uint32_t classId,
                            std::uint32_t member, CallOp op);
  // Performs the round trip of `m` and converts its result for the context (null when the
  // context died meanwhile).
  JSValueRef resultOf(ContextState& st, Message& m);
  // The class of a proxy that has a property `name` (its member index and object id), or null.
  PageClass* proxyClass(JSObjectRef object, JSStringRef name, int& member, std::uint64_t& objectId);
  bool convertAny(ContextState& st, JSValueRef v, int depth, Budget& budget, WValue& out);
  bool stringOf(JSContextRef ctx, JSValueRef v, std::string& out);
  std::uint64_t makeHandle(ContextState& st, JSValueRef v);
  const ContextState* proxyState(JSContextRef ctx, JSValueRef v, std::uint64_t& objectId,
                                 std::uint32_t& classId) const;
  void serveEvaluate(Message& m);
  void serveCallHandle(Message& m);
  void serveCallGlobal(Message& m);
  void serveReleaseHandles(const Message& m);

  PageTransport& transport_;
  std::shared_ptr<BridgeRef> ref_;
  bool connected_ = true;
  int waitDepth_ = 0;
  std::uint64_t nextCallId_ = 0;
  std::uint64_t nextHandle_ = 0;
  std::map<std::uint64_t, WValue> replies_;
  std::unordered_map<std::uint32_t, std::unique_ptr<PageClass>> classes_;
  std::unordered_map<std::uint64_t, std::shared_ptr<ContextState>> mainStates_;
  std::unordered_map<std::uint64_t, Handle> handles_;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pendingReleases_;
  JSClassRef baseClass_ = nullptr;
  JSClassRef methodClass_ = nullptr;
  JSClassRef loadClass_ = nullptr;
};

}  // namespace wd::bridge::wire
