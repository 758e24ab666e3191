#pragma once
// The page side of the bridge, its connection and messages: installs MacGap into a main-frame
// JavaScriptCore context from the host's answer, performs the synchronous round trip of every
// member access, and serves the host's requests (evaluate a script, call a function handle or a
// global function, release handles, define classes), also while the page waits for a reply,
// nested calls included. Scripts and callbacks of the host run one at a time in arrival order:
// one that arrives while another is running (blocked in a call) waits until that one returns.
// Value conversion is ValueConverter's, the JavaScriptCore classes
// PageClasses'. Used by the web process extension, the test harness and the benchmark.
//
// Nothing here throws into the page: bad arguments, lost connections and unknown objects give
// undefined.
#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bridge/wire/Wire.h"
#include "webext/PageClasses.h"
#include "webext/PageState.h"
#include "webext/ValueConversion.h"

namespace wd::webext {

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

class PageBridge : private ReleaseSink {
 public:
  explicit PageBridge(PageTransport& transport);
  ~PageBridge() override;
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

  // Called by the JavaScriptCore callbacks (PageClasses).
  JSValueRef callMember(ContextState& st, std::uint32_t classId, std::uint32_t member,
                        JSObjectRef thisObject, bool isStatic, std::size_t argc,
                        const JSValueRef argv[]);
  JSValueRef getProperty(ContextState& st, JSObjectRef object, JSStringRef name, bool& found);
  bool setProperty(ContextState& st, JSObjectRef object, JSStringRef name, JSValueRef value);
  void queueRelease(std::uint64_t objectId, std::uint32_t count) override;
  void frameLoaded(std::uint64_t pageId, bool mainFrame, JSContextRef ctx);
  PageClasses& classes() { return classes_; }

 private:
  wire::WValue roundTrip(wire::Message& message);
  std::optional<wire::WValue> waitForReply(std::uint64_t id);
  bool sendMessage(const wire::Message& message);
  void retire(const std::shared_ptr<ContextState>& st);
  // A Call message of `member` for the page of `st` (arguments still to add).
  static wire::Message memberCall(const ContextState& st, std::uint64_t objectId,
                                  std::uint32_t classId, std::uint32_t member, wire::CallOp op);
  // Performs the round trip of `m` and converts its result for the context (null when the
  // context died meanwhile).
  JSValueRef resultOf(ContextState& st, wire::Message& m);
  // A window-opening member's window: the page's own window.open (captured before its first
  // script) of the options' "url" in a new browsing context; null when there is no url or
  // nothing opened (a bad URL, no window.open here).
  JSObjectRef openWindow(ContextState& st, JSValueRef options);
  static constexpr std::uint8_t kOpensWindow = 3;
  // Evaluate, CallHandle or CallGlobal: runs it now, or after the host script that is running
  // and those that arrived before it.
  void hostRequest(wire::Message& m);
  // Runs one host script or callback (the page is then inside a host script).
  void runHostRequest(wire::Message& m);
  // Runs the queued requests in order until none is left, unless a host script is running
  // (its end runs them).
  void runDeferred();
  void serveEvaluate(wire::Message& m);
  void serveCallHandle(wire::Message& m);
  void serveCallGlobal(wire::Message& m);
  void serveReleaseHandles(const wire::Message& m);

  PageTransport& transport_;
  std::shared_ptr<BridgeRef> ref_;
  PageClasses classes_;
  HandleTable handles_;
  ValueConverter convert_;
  bool connected_ = true;
  int waitDepth_ = 0;
  int hostScriptDepth_ = 0;  // inside a script or callback the host asked for
  bool runningDeferred_ = false;
  // Host requests (and the handle releases after them) that arrived inside a host script.
  std::deque<wire::Message> deferred_;
  std::uint64_t nextCallId_ = 0;
  std::map<std::uint64_t, wire::WValue> replies_;
  std::unordered_map<std::uint64_t, std::shared_ptr<ContextState>> mainStates_;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pendingReleases_;
};

}  // namespace wd::webext
