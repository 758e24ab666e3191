#pragma once
// The host (UI process) end of one bridge connection, independent of the transport: the real
// socket of a web process (BridgeHost) or the in-process queue of the test harness. It keeps the
// native objects the page holds wrappers of (alive while the page holds them), answers calls
// from the page at once, and sends scripts, handle calls and handle releases without waiting.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bridge/Install.h"
#include "bridge/ScriptObject.h"
#include "bridge/ScriptPage.h"
#include "bridge/wire/Wire.h"

namespace wd::bridge {

class HostEndpoint;

namespace detail {
// One page value held in the web process for native code.
struct HandleRef {
  std::weak_ptr<HostEndpoint> endpoint;
  std::uint64_t pageId = 0;
  std::uint64_t handleId = 0;
  ~HandleRef();
};
}  // namespace detail

class HostEndpoint : public std::enable_shared_from_this<HostEndpoint> {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // A new main-frame context of `pageId` showing `url`: what to install (none: nothing).
    virtual std::optional<InstallSet> contextCreated(HostEndpoint& endpoint, std::uint64_t pageId,
                                                     const std::string& url) = 0;
    virtual void frameLoaded(HostEndpoint&, std::uint64_t /*pageId*/, bool /*mainFrame*/,
                             const std::string& /*url*/) {}
    // The page `pageId` as native code sees it (callingPage() during its calls). The endpoint
    // keeps it alive for the whole call, so native code may detach or close the view meanwhile.
    virtual std::shared_ptr<ScriptPage> page(std::uint64_t pageId) = 0;
  };
  // Writes one whole frame; never blocks.
  using Sender = std::function<void(std::string frame)>;

  // With a token, the connection must open with a Hello carrying it, else it is closed.
  HostEndpoint(Sender sender, Delegate* delegate, std::optional<std::string> token = {});
  ~HostEndpoint();
  HostEndpoint(const HostEndpoint&) = delete;
  HostEndpoint& operator=(const HostEndpoint&) = delete;

  // Handles one message payload from the page side.
  void receive(std::string_view payload);
  // The connection is gone: objects are dropped, later sends are ignored.
  void close();
  bool closed() const { return closed_; }
  void setDelegate(Delegate* delegate) { delegate_ = delegate; }
  // Called once when the connection is closed by a protocol fault (for the transport).
  void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

  void evaluate(std::uint64_t pageId, const std::string& script);
  void callHandle(std::uint64_t pageId, std::uint64_t handleId, std::vector<Value> args);
  void callGlobal(std::uint64_t pageId, const std::string& name, std::vector<Value> args);
  void releaseHandle(std::uint64_t handleId);

  // Native objects the page holds wrappers of (each page of the connection has its own ids: a
  // page reaches only objects handed to it); page values held for native code.
  std::size_t objectCount() const { return objects_.size(); }
  std::size_t handleCount() const { return liveHandles_; }

 private:
  struct Entry {
    std::shared_ptr<ScriptObject> object;
    std::uint64_t pageId = 0;
    std::uint64_t count = 0;
  };

  // Sends unless the message exceeds what the page side accepts (a reply then answers
  // undefined; anything else is dropped). False when nothing was sent.
  bool send(const wire::Message& message);
  // Undoes the references toWire counted for values that were not sent.
  void unsent(const wire::WValue& value);
  static wire::Message pageMessage(wire::MsgType type, std::uint64_t pageId);
  void sendWithArgs(wire::Message& message, std::vector<Value>& args);
  // The object of `objectId` when it was handed to page `pageId`.
  ScriptObject* objectFor(std::uint64_t objectId, std::uint64_t pageId);
  void ensureClass(const ClassInfo& cls);
  wire::WValue toWire(const Value& value, std::uint64_t pageId, int depth = 0);
  Value fromWire(wire::WValue& value, std::uint64_t pageId);
  void handleCall(wire::Message& m);
  void handleContextCreated(wire::Message& m);
  void release(std::uint64_t objectId, std::uint32_t count);
  void reply(std::uint64_t callId, wire::WValue value);

  Sender sender_;
  Delegate* delegate_;
  std::optional<std::string> token_;
  bool greeted_ = false;
  bool closed_ = false;
  std::function<void()> onClose_;
  std::uint64_t nextObjectId_ = 0;
  std::unordered_map<std::uint64_t, Entry> objects_;
  std::map<std::pair<std::uint64_t, const ScriptObject*>, std::uint64_t> ids_;  // (page, object)
  std::unordered_set<std::uint32_t> sentClasses_;
  std::size_t liveHandles_ = 0;
};

}  // namespace wd::bridge
